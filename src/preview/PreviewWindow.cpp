#include "Form2.h"

#include "ui_Form2.h"

#include "AppError.h"
#include "Dialogs.h"
#include "DragMath.h"
#include "ErrorReport.h"
#include "GuardedProcedure.h"
#include "Paths.h"
#include "SafeFile.h"
#include "SharpPage.h"
#include "Theme.h"
#include "WindowUtilities.h"
#include "ZoomMath.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QWheelEvent>

namespace {
const QString SaveTitle = QStringLiteral("Save File");
const QString SaveFilter = QStringLiteral("Word Files (*.doc)");

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

Form2::Form2(Dialogs& dialogs, std::stop_token ending, std::function<void()> showDataEntryWindow, QWidget* parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::Form2>()),
      mDialogs(dialogs),
      mEnding(std::move(ending)),
      mShowDataEntryWindow(std::move(showDataEntryWindow)),
      mExitAction([] { QCoreApplication::exit(0); })
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // The page lives in the viewport's inner area, so that the viewport's border stays visible.
    ui->Picture1->setParent(&ui->Picture2->ClientArea());
    ui->Picture1->show();
    mSharpPage = new SharpPage(ui->Picture1);
    mSharpPage->setObjectName(QStringLiteral("SharpPage"));
    ConnectHandlers();
    Load();
}

Form2::~Form2() = default;

void Form2::Load()
{
    mFirstActivate = true;
    ApplyTheme(*this);
    CenterForm(*this);
    mHandCursor = LoadHandCursor();
}

void Form2::ConnectHandlers()
{
    connect(ui->PushButton1, &QPushButton::clicked, this, &Form2::PushButton1_Click);
    connect(ui->PushButton2, &QPushButton::clicked, this, &Form2::PushButton2_Click);
    connect(ui->PushButton6, &QPushButton::clicked, this, &Form2::PushButton6_Click);
    connect(ui->PushButton8, &QPushButton::clicked, this, &Form2::PushButton8_Click);
    for (PushButton* button : {ui->PushButton1, ui->PushButton2, ui->PushButton6, ui->PushButton8})
        connect(button, &PushButton::MouseMove, this, &Form2::PushButton_MouseMove);
    connect(ui->HScroll1, &QScrollBar::valueChanged, this, &Form2::HScroll1_Change);
    connect(ui->VScroll1, &QScrollBar::valueChanged, this, &Form2::VScroll1_Change);
    connect(ui->Picture1, &PictureBox::MouseDown, this, &Form2::Picture1_MouseDown);
    connect(ui->Picture1, &PictureBox::MouseMove, this, &Form2::Picture1_MouseMove);
    connect(ui->Picture1, &PictureBox::MouseUp, this, &Form2::Picture1_MouseUp);
}

void Form2::SetPicture(const QImage& picture, const QByteArray& pages)
{
    ui->Picture1->SetPicture(picture);
    mSharpPage->SetPages(pages, picture.size());
    // Every new picture gets a set-up of its own, so that zoom and scroll ranges never
    // come from an earlier page.
    mFirstActivate = true;
    if (isVisible())
        Form_Activate();
}

void Form2::Form_Activate()
{
    if (!mFirstActivate)
        return;
    PictureBox& page = *ui->Picture1;
    page.SetAutoSize(true);
    page.SetBackColor(Qt::white);

    PictureBox& source = *ui->Zoom_Ori;
    source.hide();
    source.resize(page.size());
    source.SetPicture(page.Picture());

    mZoom = 1.0f;
    ResetToUnscaled();
    ApplyZoom();
    SetupScrollbars();
    mFirstActivate = false;
}

void Form2::SetMousePointer(PointerShape pointer)
{
    mMousePointer = pointer;
    ApplyMousePointer(*this, pointer, mHandCursor);
}

void Form2::SetExitAction(std::function<void()> exitAction)
{
    mExitAction = std::move(exitAction);
}

bool Form2::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        Form_Activate();
    return QWidget::event(event);
}

// A window manager may show a window without activating it; a new picture is set up
// all the same before the user sees it.
void Form2::showEvent(QShowEvent* event)
{
    Form_Activate();
    QWidget::showEvent(event);
}

void Form2::closeEvent(QCloseEvent* event)
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
void Form2::mouseMoveEvent(QMouseEvent* event)
{
    QWidget* under = childAt(event->position().toPoint());
    if ((under == nullptr || under == ui->Frame1) && mMousePointer != PointerShape::Hourglass)
        SetMousePointer(PointerShape::Default);
    QWidget::mouseMoveEvent(event);
}

void Form2::PushButton_MouseMove()
{
    if (mMousePointer != PointerShape::Hourglass)
        SetMousePointer(PointerShape::Custom);
}

// The wheel over the viewport scrolls the page through the scroll bars: vertically,
// or horizontally with Shift (or a sideways wheel).
void Form2::wheelEvent(QWheelEvent* event)
{
    if (!ui->Picture2->geometry().contains(event->position().toPoint())) {
        QWidget::wheelEvent(event);
        return;
    }
    event->accept();
    const QPoint delta = event->angleDelta();
    const bool horizontal = event->modifiers().testFlag(Qt::ShiftModifier) || delta.y() == 0;
    QScrollBar& bar = horizontal ? *ui->HScroll1 : *ui->VScroll1;
    const int units = ZoomMath::WheelUnits(mWheelDelta, delta.y() != 0 ? delta.y() : delta.x(),
                                           QApplication::wheelScrollLines());
    if (bar.isEnabled() && units != 0)
        bar.setValue(bar.value() - units);
}

void Form2::PushButton8_Click()
{
    GuardedProcedure procedure(QLatin1String(BackLocation), mDialogs, mEnding);
    if (procedure.Condition(100, [&] { return FileExists(mWordFile); }))
        procedure.Step(102, [&] { DeleteFile(mWordFile); });
    procedure.Step(104, [&] { mShowDataEntryWindow(); });
    procedure.Step(106, [&] { hide(); });
    ReleasePage();
}

// The hidden window keeps no page: the picture of a long letter takes much memory, and the
// next hand-over brings its own picture and sets the preview up again.
void Form2::ReleasePage()
{
    for (PictureBox* box : {ui->Picture1, ui->Zoom_Ori}) {
        box->ClearPicture();
        box->resize(0, 0);
    }
    mFirstActivate = true;
}

// Copies the working document to a path the user picks. An existing file is replaced
// only after the user agrees, and atomically: until the copy is complete the old file
// stays. "Done." follows only a save (or a cancel) in which nothing failed.
void Form2::PushButton6_Click()
{
    GuardedProcedure procedure(QLatin1String(SaveLocation), mDialogs, mEnding);
    QString target;
    procedure.Step(112, [&] { target = mDialogs.GetSaveFileName(SaveTitle, SaveFilter, QString()); });
    bool copy = false;
    if (!target.isEmpty()) {
        bool exists = false;
        const bool usable = procedure.Step(118, [&] {
            CheckSaveTarget(target, mWordFile);
            exists = FileExists(target);
        });
        if (usable && exists) {
            procedure.Step(120, [&] {
                copy = mDialogs.AskYesNo(QStringLiteral("Are you sure you wish to overwrite ") + target
                                             + QStringLiteral(" ?"),
                                         QLatin1String(ApplicationTitle));
            });
        } else if (usable) {
            copy = true;
        }
    }
    if (copy)
        procedure.Step(130, [&] { ReplaceFileWithCopy(mWordFile, target); });
    if (procedure.FailureCount() == 0)
        procedure.Step(132, [&] { mDialogs.ShowMessage(QStringLiteral("Done."), QLatin1String(ApplicationTitle)); });
}

void Form2::PushButton1_Click()
{
    GuardedProcedure procedure(QLatin1String(ZoomInLocation), mDialogs, mEnding);
    procedure.Step(100, [&] { StepZoom(ZoomMath::ZoomDirection::In); });
}

void Form2::PushButton2_Click()
{
    GuardedProcedure procedure(QLatin1String(ZoomOutLocation), mDialogs, mEnding);
    procedure.Step(100, [&] { StepZoom(ZoomMath::ZoomDirection::Out); });
}

void Form2::StepZoom(ZoomMath::ZoomDirection direction)
{
    SetZoom(ZoomMath::NextZoom(mZoom, direction));
}

// An accepted zoom also derives the scroll ranges and steps again from the zoomed page,
// so that every part of it can be reached with the bars and by dragging.
void Form2::SetZoom(float z)
{
    if (!ZoomMath::ZoomAllowed(z))
        return;
    mZoom = z;
    if (ApplyZoom())
        SetupScrollbars();
}

// Repaints the page at mZoom from the unscaled snapshot. A page that would reach the
// size limits is not painted: the page keeps its look and the zoom falls back to 1.0.
bool Form2::ApplyZoom()
{
    const ZoomMath::PageSize size = ZoomMath::ZoomedSize(mZoom, mOrigWidth, mOrigHeight);
    mCurWidth = size.width;
    mCurHeight = size.height;
    if (!ZoomMath::WithinPageLimits(size)) {
        mZoom = 1.0f;
        ResetToUnscaled();
        return false;
    }
    PictureBox& page = *ui->Picture1;
    page.ClearPicture();
    page.resize(mCurWidth, mCurHeight);
    page.PaintPicture(ui->Zoom_Ori->Picture(), QRect(0, 0, mCurWidth, mCurHeight),
                      QRect(0, 0, mOrigWidth, mOrigHeight));
    mSharpPage->setGeometry(page.contentsRect());
    mSharpPage->ShowAt(QSize(mCurWidth, mCurHeight));
    SetMousePointer(PointerShape::Default);
    ui->HScroll1->setValue(0);
    ui->VScroll1->setValue(0);
    ui->HScroll1->setEnabled(ui->Picture2->InnerWidth() < mCurWidth);
    ui->VScroll1->setEnabled(ui->Picture2->InnerHeight() < mCurHeight);
    return true;
}

void Form2::ResetToUnscaled()
{
    const ZoomMath::PageSize size = ZoomMath::UnscaledSize(ui->Zoom_Ori->InnerWidth(), ui->Zoom_Ori->InnerHeight());
    mOrigWidth = size.width;
    mOrigHeight = size.height;
    mCurWidth = mOrigWidth;
    mCurHeight = mOrigHeight;
}

// Puts the page at the top left of the viewport and derives each bar's range and step
// from how far the page's outer size exceeds the viewport's.
void Form2::SetupScrollbars()
{
    PictureBox& page = *ui->Picture1;
    page.move(0, 0);
    const auto setUp = [](QScrollBar& bar, qint16& step, const ZoomMath::ScrollRange& range) {
        bar.setEnabled(range.enabled);
        if (range.maximum)
            bar.setMaximum(*range.maximum);
        step = range.step;
        if (range.enabled)
            bar.setValue(0);
    };
    setUp(*ui->HScroll1, mHStep, ZoomMath::ScrollRangeFor(page.width(), ui->Picture2->width()));
    setUp(*ui->VScroll1, mVStep, ZoomMath::ScrollRangeFor(page.height(), ui->Picture2->height()));
}

void Form2::HScroll1_Change()
{
    ui->Picture1->move(ZoomMath::ScrollOffset(mHStep, ui->HScroll1->value()), ui->Picture1->y());
}

void Form2::VScroll1_Change()
{
    ui->Picture1->move(ui->Picture1->x(), ZoomMath::ScrollOffset(mVStep, ui->VScroll1->value()));
}

void Form2::SetHScrollbarByPercent(QScrollBar& HScrollbar, qint16 percent)
{
    SetByPercent(HScrollbar, percent);
}

void Form2::SetVScrollbarByPercent(QScrollBar& VScrollbar, qint16 percent)
{
    SetByPercent(VScrollbar, percent);
}

void Form2::Picture1_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, float x, float y)
{
    mDownX = x;
    mDownY = y;
}

void Form2::Picture1_MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers, float x, float y)
{
    if (buttons == Qt::NoButton)
        return;
    PictureBox& page = *ui->Picture1;
    const PictureBox& viewport = *ui->Picture2;
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
void Form2::Picture1_MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, float, float)
{
    const PictureBox& page = *ui->Picture1;
    const PictureBox& viewport = *ui->Picture2;
    const std::optional<qint16> hPercent = DragMath::DropPercent(page.x(), page.width(), viewport.width());
    const std::optional<qint16> vPercent = DragMath::DropPercent(page.y(), page.height(), viewport.height());
    if (hPercent)
        SetHScrollbarByPercent(*ui->HScroll1, *hPercent);
    if (vPercent)
        SetVScrollbarByPercent(*ui->VScroll1, *vPercent);
}
