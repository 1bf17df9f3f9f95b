#include "PreviewWindow.h"

#include "ui_PreviewWindow.h"

#include "DragMath.h"
#include "SharpPage.h"
#include "ZoomMath.h"
#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/GuardedProcedure.h"
#include "files/Paths.h"
#include "files/SafeFile.h"
#include "generation/WorkingFiles.h"
#include "ui/Theme.h"
#include "ui/WindowUtilities.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QWheelEvent>

namespace {
const QString SaveTitle = QStringLiteral("Save File");
const QString SaveFilter = QStringLiteral("Word Files (*.doc)");

// The steps of the window's procedures, numbered as their error reports name them.
namespace BackStep {
enum : int { WorkingLetterStands = 100, DeleteWorkingLetter = 102, ShowDataEntryWindow = 104, HidePreview = 106 };
}
namespace SaveStep {
enum : int { AskFileName = 112, CheckTarget = 118, ConfirmOverwrite = 120, CopyLetter = 130, SayDone = 132 };
}
constexpr int ZoomStep = 100;

bool SameFile(const QString& a, const QString& b)
{
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

// Whether path names a file in the folder that holds the working document.
bool BesideWorkingDocument(const QString& path, const QString& workingDocument)
{
    const QString folder = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
    return !workingDocument.isEmpty() && !folder.isEmpty()
        && folder == QFileInfo(QFileInfo(workingDocument).absolutePath()).canonicalFilePath();
}

// Refuses a target that cannot take the copy, the working document itself (it is removed
// when the preview closes, so "saving" onto it would lose the letter) and every other
// working file beside it, which a later run writes over or deletes.
void CheckSaveTarget(const QString& target, const QString& workingDocument)
{
    const QFileInfo info(target);
    if (info.isDir())
        throw AppError(QStringLiteral("\"%1\" is a folder. Please choose a file name.").arg(QDir::toNativeSeparators(target)));
    if (!QFileInfo(info.absolutePath()).isDir())
        throw AppError(QStringLiteral("The folder \"%1\" does not exist.").arg(QDir::toNativeSeparators(info.absolutePath())));
    if (SameFile(target, workingDocument))
        throw AppError(QStringLiteral("\"%1\" is the preview's working copy of the letter, which is deleted when "
                                      "the preview closes. Please choose another name.")
                           .arg(QDir::toNativeSeparators(target)));
    if (IsWorkingFileName(info.fileName()) && BesideWorkingDocument(target, workingDocument))
        throw AppError(QStringLiteral("\"%1\" is a working file of Inkhaven (the template copy, the page picture or "
                                      "a working letter), which Inkhaven writes over or deletes. Please "
                                      "choose another name or folder.")
                           .arg(QDir::toNativeSeparators(target)));
}

void SetByPercent(QScrollBar& bar, qint16 percent)
{
    if (const std::optional<qint16> value = ZoomMath::ValueForPercent(percent, bar.maximum()))
        bar.setValue(*value);
}
}

PreviewWindow::PreviewWindow(Dialogs& dialogs, std::stop_token ending, std::function<void()> showDataEntryWindow, QWidget* parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::PreviewWindow>()),
      mDialogs(dialogs),
      mEnding(std::move(ending)),
      mShowDataEntryWindow(std::move(showDataEntryWindow)),
      mExitAction([] { QCoreApplication::exit(0); })
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // The page lives in the viewport's inner area, so that the viewport's border stays visible.
    ui->page->setParent(&ui->viewport->ClientArea());
    ui->page->show();
    mSharpPage = new SharpPage(ui->page);
    mSharpPage->setObjectName(QStringLiteral("SharpPage"));
    ConnectHandlers();
    Load();
}

PreviewWindow::~PreviewWindow() = default;

void PreviewWindow::Load()
{
    mFirstActivate = true;
    ApplyTheme(*this);
    CentreWindow(*this);
    mHandCursor = LoadHandCursor();
}

void PreviewWindow::ConnectHandlers()
{
    connect(ui->zoomInButton, &QPushButton::clicked, this, &PreviewWindow::ZoomIn);
    connect(ui->zoomOutButton, &QPushButton::clicked, this, &PreviewWindow::ZoomOut);
    connect(ui->saveButton, &QPushButton::clicked, this, &PreviewWindow::SaveLetter);
    connect(ui->backButton, &QPushButton::clicked, this, &PreviewWindow::GoBack);
    for (PushButton* button : {ui->zoomInButton, ui->zoomOutButton, ui->saveButton, ui->backButton})
        connect(button, &PushButton::MouseMove, this, &PreviewWindow::PointerOverButton);
    connect(ui->horizontalScrollBar, &QScrollBar::valueChanged, this, &PreviewWindow::HorizontalScrolled);
    connect(ui->verticalScrollBar, &QScrollBar::valueChanged, this, &PreviewWindow::VerticalScrolled);
    connect(ui->page, &PictureBox::MouseDown, this, &PreviewWindow::PagePressed);
    connect(ui->page, &PictureBox::MouseMove, this, &PreviewWindow::PageDragged);
    connect(ui->page, &PictureBox::MouseUp, this, &PreviewWindow::PageReleased);
}

void PreviewWindow::SetPicture(const QImage& picture, const QByteArray& pages)
{
    ui->page->SetPicture(picture);
    mSharpPage->SetPages(pages, picture.size());
    // Every new picture gets a set-up of its own, so that zoom and scroll ranges never
    // come from an earlier page.
    mFirstActivate = true;
    if (isVisible())
        Activated();
}

void PreviewWindow::Activated()
{
    if (!mFirstActivate)
        return;
    PictureBox& page = *ui->page;
    page.SetAutoSize(true);
    page.SetBackColour(Qt::white);

    PictureBox& source = *ui->unscaledPage;
    source.hide();
    source.resize(page.size());
    source.SetPicture(page.Picture());

    mZoom = 1.0f;
    ResetToUnscaled();
    ApplyZoom();
    SetupScrollbars();
    mFirstActivate = false;
}

void PreviewWindow::SetMousePointer(PointerShape pointer)
{
    mMousePointer = pointer;
    ApplyMousePointer(*this, pointer, mHandCursor);
}

void PreviewWindow::SetExitAction(std::function<void()> exitAction)
{
    mExitAction = std::move(exitAction);
}

bool PreviewWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        Activated();
    return QWidget::event(event);
}

// A window manager may show a window without activating it; a new picture is set up
// all the same before the user sees it.
void PreviewWindow::showEvent(QShowEvent* event)
{
    Activated();
    QWidget::showEvent(event);
}

void PreviewWindow::closeEvent(QCloseEvent* event)
{
    if (FileExists(mWordFile)) {
        try {
            DeleteFile(mWordFile);
        } catch (const AppError&) {
            // The application ends all the same; the document stays in the temporary folder.
        }
    }
    event->accept();
    mExitAction();
}

// The window and the "Zoom:" frame track the mouse. Moves over the frame and the push
// buttons are passed on to the window as well, so the widget under the pointer decides:
// only the background and the frame reset the pointer.
void PreviewWindow::mouseMoveEvent(QMouseEvent* event)
{
    QWidget* under = childAt(event->position().toPoint());
    if ((under == nullptr || under == ui->buttonGroup) && mMousePointer != PointerShape::Hourglass)
        SetMousePointer(PointerShape::Default);
    QWidget::mouseMoveEvent(event);
}

void PreviewWindow::PointerOverButton()
{
    if (mMousePointer != PointerShape::Hourglass)
        SetMousePointer(PointerShape::Custom);
}

// The wheel over the viewport scrolls the page through the scroll bars: vertically,
// or horizontally with Shift (or a sideways wheel).
void PreviewWindow::wheelEvent(QWheelEvent* event)
{
    if (!ui->viewport->geometry().contains(event->position().toPoint())) {
        QWidget::wheelEvent(event);
        return;
    }
    event->accept();
    const QPoint delta = event->angleDelta();
    const bool horizontal = event->modifiers().testFlag(Qt::ShiftModifier) || delta.y() == 0;
    QScrollBar& bar = horizontal ? *ui->horizontalScrollBar : *ui->verticalScrollBar;
    const int units = ZoomMath::WheelUnits(mWheelDelta, delta.y() != 0 ? delta.y() : delta.x(),
                                           QApplication::wheelScrollLines());
    if (bar.isEnabled() && units != 0)
        bar.setValue(bar.value() - units);
}

void PreviewWindow::GoBack()
{
    GuardedProcedure procedure(QLatin1String(BackLocation), mDialogs, mEnding);
    if (procedure.Condition(BackStep::WorkingLetterStands, [&] { return FileExists(mWordFile); }))
        procedure.Step(BackStep::DeleteWorkingLetter, [&] { DeleteFile(mWordFile); });
    procedure.Step(BackStep::ShowDataEntryWindow, [&] { mShowDataEntryWindow(); });
    procedure.Step(BackStep::HidePreview, [&] { hide(); });
    ReleasePage();
}

// The hidden window keeps no page: the picture of a long letter takes much memory, and the
// next hand-over brings its own picture and sets the preview up again.
void PreviewWindow::ReleasePage()
{
    for (PictureBox* box : {ui->page, ui->unscaledPage}) {
        box->ClearPicture();
        box->resize(0, 0);
    }
    mFirstActivate = true;
}

// Copies the working document to a path the user picks. An existing file is replaced
// only after the user agrees, and atomically: until the copy is complete the old file
// stays. "Done." follows only a save (or a cancel) in which nothing failed.
void PreviewWindow::SaveLetter()
{
    GuardedProcedure procedure(QLatin1String(SaveLocation), mDialogs, mEnding);
    QString target;
    procedure.Step(SaveStep::AskFileName, [&] { target = mDialogs.GetSaveFileName(SaveTitle, SaveFilter, QString()); });
    bool copy = false;
    if (!target.isEmpty()) {
        bool exists = false;
        const bool usable = procedure.Step(SaveStep::CheckTarget, [&] {
            CheckSaveTarget(target, mWordFile);
            exists = FileExists(target);
        });
        if (usable && exists) {
            procedure.Step(SaveStep::ConfirmOverwrite, [&] {
                copy = mDialogs.AskYesNo(QStringLiteral("Are you sure you wish to overwrite ") + target
                                             + QStringLiteral(" ?"),
                                         QLatin1String(ApplicationTitle));
            });
        } else if (usable) {
            copy = true;
        }
    }
    if (copy)
        procedure.Step(SaveStep::CopyLetter, [&] { ReplaceFileWithCopy(mWordFile, target); });
    if (procedure.FailureCount() == 0)
        procedure.Step(SaveStep::SayDone, [&] { mDialogs.ShowMessage(QStringLiteral("Done."), QLatin1String(ApplicationTitle)); });
}

void PreviewWindow::ZoomIn()
{
    GuardedProcedure procedure(QLatin1String(ZoomInLocation), mDialogs, mEnding);
    procedure.Step(ZoomStep, [&] { StepZoom(ZoomMath::ZoomDirection::In); });
}

void PreviewWindow::ZoomOut()
{
    GuardedProcedure procedure(QLatin1String(ZoomOutLocation), mDialogs, mEnding);
    procedure.Step(ZoomStep, [&] { StepZoom(ZoomMath::ZoomDirection::Out); });
}

void PreviewWindow::StepZoom(ZoomMath::ZoomDirection direction)
{
    SetZoom(ZoomMath::NextZoom(mZoom, direction));
}

// An accepted zoom also derives the scroll ranges and steps again from the zoomed page,
// so that every part of it can be reached with the bars and by dragging.
void PreviewWindow::SetZoom(float z)
{
    if (!ZoomMath::ZoomAllowed(z))
        return;
    mZoom = z;
    if (ApplyZoom())
        SetupScrollbars();
}

// Repaints the page at mZoom from the unscaled snapshot. A page that would reach the
// size limits is not painted: the page keeps its look and the zoom falls back to 1.0.
bool PreviewWindow::ApplyZoom()
{
    const ZoomMath::PageSize size = ZoomMath::ZoomedSize(mZoom, mOrigWidth, mOrigHeight);
    mCurWidth = size.width;
    mCurHeight = size.height;
    if (!ZoomMath::WithinPageLimits(size)) {
        mZoom = 1.0f;
        ResetToUnscaled();
        return false;
    }
    PictureBox& page = *ui->page;
    page.ClearPicture();
    page.resize(mCurWidth, mCurHeight);
    page.PaintPicture(ui->unscaledPage->Picture(), QRect(0, 0, mCurWidth, mCurHeight),
                      QRect(0, 0, mOrigWidth, mOrigHeight));
    mSharpPage->setGeometry(page.contentsRect());
    mSharpPage->ShowAt(QSize(mCurWidth, mCurHeight));
    SetMousePointer(PointerShape::Default);
    ui->horizontalScrollBar->setValue(0);
    ui->verticalScrollBar->setValue(0);
    ui->horizontalScrollBar->setEnabled(ui->viewport->InnerWidth() < mCurWidth);
    ui->verticalScrollBar->setEnabled(ui->viewport->InnerHeight() < mCurHeight);
    return true;
}

void PreviewWindow::ResetToUnscaled()
{
    const ZoomMath::PageSize size = ZoomMath::UnscaledSize(ui->unscaledPage->InnerWidth(), ui->unscaledPage->InnerHeight());
    mOrigWidth = size.width;
    mOrigHeight = size.height;
    mCurWidth = mOrigWidth;
    mCurHeight = mOrigHeight;
}

// Puts the page at the top left of the viewport and derives each bar's range and step
// from how far the page's outer size exceeds the viewport's.
void PreviewWindow::SetupScrollbars()
{
    PictureBox& page = *ui->page;
    page.move(0, 0);
    const auto setUp = [](QScrollBar& bar, qint16& step, const ZoomMath::ScrollRange& range) {
        bar.setEnabled(range.enabled);
        if (range.maximum)
            bar.setMaximum(*range.maximum);
        step = range.step;
        if (range.enabled)
            bar.setValue(0);
    };
    setUp(*ui->horizontalScrollBar, mHStep, ZoomMath::ScrollRangeFor(page.width(), ui->viewport->width()));
    setUp(*ui->verticalScrollBar, mVStep, ZoomMath::ScrollRangeFor(page.height(), ui->viewport->height()));
}

void PreviewWindow::HorizontalScrolled()
{
    ui->page->move(ZoomMath::ScrollOffset(mHStep, ui->horizontalScrollBar->value()), ui->page->y());
}

void PreviewWindow::VerticalScrolled()
{
    ui->page->move(ui->page->x(), ZoomMath::ScrollOffset(mVStep, ui->verticalScrollBar->value()));
}

void PreviewWindow::SetHScrollbarByPercent(QScrollBar& bar, qint16 percent)
{
    SetByPercent(bar, percent);
}

void PreviewWindow::SetVScrollbarByPercent(QScrollBar& bar, qint16 percent)
{
    SetByPercent(bar, percent);
}

void PreviewWindow::PagePressed(Qt::MouseButton, Qt::KeyboardModifiers, float x, float y)
{
    mDownX = x;
    mDownY = y;
}

void PreviewWindow::PageDragged(Qt::MouseButtons buttons, Qt::KeyboardModifiers, float x, float y)
{
    if (buttons == Qt::NoButton)
        return;
    PictureBox& page = *ui->page;
    const PictureBox& viewport = *ui->viewport;
    const float left = DragMath::DraggedOffset(static_cast<float>(page.x()), mDownX, x,
                                               static_cast<float>(viewport.InnerWidth()),
                                               static_cast<float>(page.width()));
    const float top = DragMath::DraggedOffset(static_cast<float>(page.y()), mDownY, y,
                                              static_cast<float>(viewport.InnerHeight()),
                                              static_cast<float>(page.height()));
    page.move(ZoomMath::RoundHalfEven(left), ZoomMath::RoundHalfEven(top));
}

// Brings the scroll bars in line with where the page was dropped; a bar whose range
// cannot be measured (page and viewport equally large) is left alone.
void PreviewWindow::PageReleased(Qt::MouseButton, Qt::KeyboardModifiers, float, float)
{
    const PictureBox& page = *ui->page;
    const PictureBox& viewport = *ui->viewport;
    const std::optional<qint16> hPercent = DragMath::DropPercent(page.x(), page.width(), viewport.width());
    const std::optional<qint16> vPercent = DragMath::DropPercent(page.y(), page.height(), viewport.height());
    if (hPercent)
        SetHScrollbarByPercent(*ui->horizontalScrollBar, *hPercent);
    if (vPercent)
        SetVScrollbarByPercent(*ui->verticalScrollBar, *vPercent);
}
