#pragma once

#include "BusyInput.h"
#include "Version.h"
#include "generation/GenerationRun.h"

#include <QCursor>
#include <QString>
#include <QWidget>

#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <stop_token>
#include <optional>

class Clock;
class Dialogs;
class PreviewWindow;
class QLineEdit;
class RandomSource;
class SettingsStore;
class SplashWindow;
class UrlOpener;
namespace Ui {
class DataEntryWindow;
}
namespace Word {
class ApplicationFactory;
}

// Where the error reports of "Clear/Reset Data" and "Load Sample/Example Data" say a
// failure was.
inline constexpr char ClearDataLocation[] = "Quillfold7/25/2013.Form1.PushButton3_Click";
inline constexpr char SampleDataLocation[] = "Quillfold7/25/2013.Form1.PushButton4_Click";

// The maker's home page, opened on about one start in a hundred.
inline constexpr char HomePageAddress[] = INKHAVEN_HOMEPAGE;

// The platform services the data-entry window works with; main passes the real ones.
struct DataEntryServices {
    SettingsStore& settings;
    Dialogs& dialogs;
    Word::ApplicationFactory& word;
    const Clock& clock;
    RandomSource& random;
    UrlOpener& urls;
    // Stop is requested on it when the application begins to end: from then on nothing
    // new is started, shown or asked.
    std::stop_token ending;
    // How long a run waits for the run of another instance to end (see RunLock).
    std::chrono::milliseconds runLockWait = RunLockWait;
};

// The data-entry window: thirteen input fields and the hidden date field, every change
// stored at once; "Start Creating Template" runs the generation and hands over to the
// preview. Its load handler is the application's start-up sequence.
class DataEntryWindow : public QWidget, private GenerationHost {
    Q_OBJECT

public:
    explicit DataEntryWindow(const DataEntryServices& services, QWidget* parent = nullptr);
    ~DataEntryWindow() override;

    // The start-up sequence; main calls it once before showing the window.
    void StartUp();

    QString ReadField(int index) const override;
    void WriteField(int index, const QString& text) override;
    void RestoreFields();
    void StoreField(int index);

    void ClearData();
    void LoadSampleData();
    void StartCreating();

    void PromoteHomePage();

    PointerShape MousePointer() const { return mMousePointer; }
    void SetMousePointer(PointerShape pointer) override;

    QLineEdit* Field(int index) const;
    PreviewWindow* Preview() const { return mPreview.get(); }
    SplashWindow* Splash() const { return mSplash.get(); }

    // What closing the window does; ends the application at once by default.
    std::function<void()> endApplication;

protected:
    void closeEvent(QCloseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QByteArray TemplateBytes() override;
    void SetPreviewPicture(const QImage& picture, const QByteArray& pages) override;
    void SetPreviewWordFile(const QString& path) override;
    void ShowPreview() override;
    void HideDataEntryWindow() override;

    PreviewWindow& LoadedPreview();
    void PointerOverButton();
    void FieldChanged(int index);

    std::unique_ptr<Ui::DataEntryWindow> ui;
    DataEntryServices mServices;
    // The fields by index, in the order of FieldTags.
    std::array<QLineEdit*, FieldCount> mFields{};
    PointerShape mMousePointer = PointerShape::Default;
    std::optional<QCursor> mHandCursor;
    std::unique_ptr<PreviewWindow> mPreview;
    std::unique_ptr<SplashWindow> mSplash;
    bool mWritingField = false;
    // The field a click just gave the focus, until the button is released.
    QLineEdit* mSelectOnRelease = nullptr;
    std::exception_ptr mPendingStoreError;
    bool mStoreFailureShown = false;
    BusyInput mBusyInput{*this};
};
