#pragma once

#include "ZoomMath.h"
#include "core/PointerShape.h"

#include <QByteArray>
#include <QCursor>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class Dialogs;
class QImage;
class QScrollBar;
class SharpPage;

namespace Ui {
class PreviewWindow;
}

// Where the error reports of the preview's procedures say a failure was: "< Back", the save,
// and the two zoom buttons.
inline constexpr char BackLocation[] = "Quillfold7/25/2013.Form2.PushButton8_Click";
inline constexpr char SaveLocation[] = "Tallowmere.Form2.PushButton6_Click";
inline constexpr char ZoomInLocation[] = "Quillfold7/25/2013.Form2.PushButton1_Click";
inline constexpr char ZoomOutLocation[] = "Quillfold7/25/2013.Form2.PushButton2_Click";

// The preview window: shows the page picture of the filled letter, zooms it, scrolls
// and drags it inside the viewport, saves the filled document under a name the user
// picks, and goes back to the data-entry window. Closing it ends the application.
class PreviewWindow : public QWidget {
    Q_OBJECT

public:
    // Once stop is requested on ending (the application is ending), its procedures run no
    // further step.
    PreviewWindow(Dialogs& dialogs, std::stop_token ending, std::function<void()> showDataEntryWindow, QWidget* parent = nullptr);
    ~PreviewWindow() override;

    // Full path of the filled Word document on show; deleted by "< Back" and on close.
    QString mWordFile;

    // Makes picture the page picture. The next showing or activation of the window (or
    // this call, when the window is shown already) sets the preview up for it. pages, the
    // same pages as a PDF document, let a zoomed page be drawn sharp; without them it is
    // the picture stretched.
    void SetPicture(const QImage& picture, const QByteArray& pages = QByteArray());

    // Runs whenever the window becomes active or is shown: after a new picture it sets the
    // preview up (zoom 1.0, page at the top left, scroll ranges); otherwise it changes nothing.
    void Activated();

    PointerShape MousePointer() const { return mMousePointer; }
    void SetMousePointer(PointerShape pointer);

    // What closing the window does last; by default it ends the application.
    void SetExitAction(std::function<void()> exitAction);

    // Set the bar's value to percent of its maximum; percent outside 0 to 100 does nothing.
    void SetHScrollbarByPercent(QScrollBar& bar, qint16 percent);
    void SetVScrollbarByPercent(QScrollBar& bar, qint16 percent);

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void Load();
    void ConnectHandlers();

    void ZoomIn();
    void ZoomOut();
    void SaveLetter();
    void GoBack();
    void ReleasePage();
    void PointerOverButton();

    void StepZoom(ZoomMath::ZoomDirection direction);
    void SetZoom(float z);
    bool ApplyZoom();
    void ResetToUnscaled();
    void SetupScrollbars();
    void HorizontalScrolled();
    void VerticalScrolled();

    void PagePressed(Qt::MouseButton button, Qt::KeyboardModifiers shift, float x, float y);
    void PageDragged(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, float x, float y);
    void PageReleased(Qt::MouseButton button, Qt::KeyboardModifiers shift, float x, float y);

    std::unique_ptr<Ui::PreviewWindow> ui;
    SharpPage* mSharpPage = nullptr;
    Dialogs& mDialogs;
    std::stop_token mEnding;
    std::function<void()> mShowDataEntryWindow;
    std::function<void()> mExitAction;
    std::optional<QCursor> mHandCursor;
    PointerShape mMousePointer = PointerShape::Default;

    bool mFirstActivate = true;
    float mZoom = 1.0f;
    int mOrigWidth = 0;
    int mOrigHeight = 0;
    int mCurWidth = 0;
    int mCurHeight = 0;
    qint16 mHStep = 0;
    qint16 mVStep = 0;
    float mDownX = 0.0f;
    float mDownY = 0.0f;
    int mWheelDelta = 0;
};
