#include "DataEntryWindow.h"

#include "ui_DataEntryWindow.h"

#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/GuardedProcedure.h"
#include "core/Platform.h"
#include "files/SettingsStore.h"
#include "generation/Fields.h"
#include "generation/WordCheck.h"
#include "preview/PreviewWindow.h"
#include "resources/Resources.h"
#include "resources/WindowIdentity.h"
#include "splash/SplashWindow.h"
#include "ui/Theme.h"
#include "ui/WindowUtilities.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QValidator>

#include <cmath>
#include <limits>

namespace {
// The steps of the window's procedures, numbered as their error reports name them: clearing
// writes every field at one step; the sample data writes each field at a step of its own.
constexpr int ClearFieldStep = 102;

struct SampleValue {
    int step;
    int index;
    const char* text;
};

constexpr SampleValue SampleData[] = {
    {100, 0, "Tillowmark"},
    {102, 12, "Kestrelworks"},
    {104, 6, "1234 East Main Street"},
    {106, 1, "Boise"},
    {108, 8, "ID"},
    {110, 9, "91002"},
    {112, 7, "John Smith"},
    {114, 10, "Contractor"},
    {116, 11, "Vavuraz Izerirez Inc."},
    {118, 4, "123 Garage St"},
    {120, 5, "Hawthorne"},
    {122, 3, "CA"},
    {124, 2, "90250"},
};

// Least room between a caption and its field.
constexpr int CaptionGap = 4;

// A caption whose text is wider than its box (fonts differ between platforms) grows to the
// right, into the free space before its field, instead of being cut off. Where that space
// is too small, it moves left so that it still ends CaptionGap pixels before the field.
void FitCaption(QLabel& caption)
{
    const int width = qMax(caption.width(), caption.sizeHint().width());
    const int room = caption.buddy() ? caption.buddy()->x() - CaptionGap : caption.x() + width;
    caption.setGeometry(qMax(0, qMin(caption.x(), room - width)), caption.y(), width, caption.height());
}

// Each line break (CR LF, CR, LF, VT, FF, NEL, LS, PS) as one space.
QString JoinLines(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    for (const char16_t lineBreak : {u'\r', u'\n', u'\v', u'\f', u'\u0085', u'\u2028', u'\u2029'})
        text.replace(QChar(lineBreak), QLatin1Char(' '));
    return text;
}

// A field holds one line: a line break that reaches it, pasted most often, becomes a
// space before the change is shown or stored. The cursor stays after the same text.
class SingleLineValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& position) const override
    {
        position = static_cast<int>(JoinLines(input.left(position)).size());
        input = JoinLines(std::move(input));
        return Acceptable;
    }
};
}

DataEntryWindow::DataEntryWindow(const DataEntryServices& services, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::DataEntryWindow>()), mServices(services),
      endApplication([] { QCoreApplication::exit(0); })
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(size());
    setMouseTracking(true);

    // The design colours: white window, group boxes and captions, with black text on them.
    SetDesignBackColour(*this, Qt::white);
    for (QWidget* child : findChildren<QWidget*>()) {
        if (qobject_cast<QGroupBox*>(child) || qobject_cast<QLabel*>(child))
            SetDesignBackColour(*child, Qt::white);
    }

    for (QLabel* caption : findChildren<QLabel*>())
        FitCaption(*caption);

    mFields = {ui->senderNameEdit,      ui->senderCityEdit,      ui->recipientZipEdit,  ui->recipientStateEdit,
               ui->recipientStreetEdit, ui->recipientCityEdit,   ui->senderStreetEdit,  ui->recipientNameEdit,
               ui->senderStateEdit,     ui->senderZipEdit,       ui->recipientTitleEdit, ui->recipientCompanyEdit,
               ui->senderTitleEdit,     ui->letterDateEdit};
    for (int i = 0; i < FieldCount; ++i) {
        QLineEdit* field = Field(i);
        // A field has no length limit: a line edit would otherwise cut every longer text,
        // typed, pasted or restored, at 32767 characters without a word.
        field->setMaxLength(std::numeric_limits<int>::max());
        field->setValidator(new SingleLineValidator(field));
        field->installEventFilter(this);
        connect(field, &QLineEdit::textChanged, this, [this, i] { FieldChanged(i); });
    }

    connect(ui->startButton, &QPushButton::clicked, this, &DataEntryWindow::StartCreating);
    connect(ui->clearButton, &QPushButton::clicked, this, &DataEntryWindow::ClearData);
    connect(ui->sampleButton, &QPushButton::clicked, this, &DataEntryWindow::LoadSampleData);
    for (PushButton* button : {ui->startButton, ui->clearButton, ui->sampleButton})
        connect(button, &PushButton::MouseMove, this, &DataEntryWindow::PointerOverButton);
}

DataEntryWindow::~DataEntryWindow() = default;

void DataEntryWindow::StartUp()
{
    ApplySkin(*this);
    CentreWindow(*this);
    setWindowTitle(QLatin1String(ApplicationTitle));
    setWindowIcon(ApplicationIcon());
    mSplash = std::make_unique<SplashWindow>(mServices.settings, mServices.clock, mServices.ending);
    // Neither a splash nor a settings store that fails may keep the user from the window.
    try {
        mSplash->ShowAtStartUp();
    } catch (const AppError&) {
        // The settings file it could not read is reported once by RestoreFields below.
        mSplash->hide();
    }
    // A signal during the splash ends the application before the rest of start-up.
    if (mServices.ending.stop_requested())
        return;
    mHandCursor = LoadHandCursor();
    PromoteHomePage();
    try {
        RestoreFields();
    } catch (...) {
        // This one message covers the writes that fail the same way later on.
        mStoreFailureShown = true;
        mServices.dialogs.ShowMessage(
            DescribeException(std::current_exception())
                + QStringLiteral("\r\nInkhaven starts with empty fields; the file is left as it is."),
            QLatin1String(ApplicationTitle));
    }
    CheckWordInstalled(mServices.word, mServices.dialogs);
}

QLineEdit* DataEntryWindow::Field(int index) const
{
    return mFields.at(static_cast<size_t>(index));
}

QString DataEntryWindow::ReadField(int index) const
{
    return Field(index)->text();
}

void DataEntryWindow::WriteField(int index, const QString& text)
{
    QLineEdit* field = Field(index);
    if (field->text() == text) {
        // No change notification comes for an equal text; store it all the same.
        StoreField(index);
        return;
    }
    mPendingStoreError = nullptr;
    mWritingField = true;
    field->setText(text);
    mWritingField = false;
    // A text the user did not type is shown from its start.
    field->setCursorPosition(0);
    if (mPendingStoreError)
        std::rethrow_exception(std::exchange(mPendingStoreError, nullptr));
}

void DataEntryWindow::RestoreFields()
{
    for (int index = 0; index < TypedFieldCount; ++index) {
        const QString text = mServices.settings.ReadSetting(QLatin1String(SettingsApplication),
                                                            QLatin1String(SettingsSection), FieldKey(index));
        const QSignalBlocker noStore(Field(index));
        // The value came from the store, so it need not be written back.
        Field(index)->setText(text);
        Field(index)->setCursorPosition(0);
    }
}

void DataEntryWindow::StoreField(int index)
{
    mServices.settings.WriteSetting(QLatin1String(SettingsApplication), QLatin1String(SettingsSection),
                                    FieldKey(index), ReadField(index));
}

void DataEntryWindow::FieldChanged(int index)
{
    try {
        StoreField(index);
    } catch (...) {
        // A write by the system reports through its caller; typing must not be
        // interrupted, so the user hears of a failing store once.
        if (mWritingField) {
            mPendingStoreError = std::current_exception();
        } else if (!mStoreFailureShown) {
            mStoreFailureShown = true;
            mServices.dialogs.ShowMessage(DescribeException(std::current_exception())
                                              + QStringLiteral("\r\nWhat you type is kept in the window but is not remembered for the next start."),
                                          QLatin1String(ApplicationTitle));
        }
    }
}

void DataEntryWindow::ClearData()
{
    GuardedProcedure clear(QLatin1String(ClearDataLocation), mServices.dialogs, mServices.ending);
    for (int index = 0; index < TypedFieldCount; ++index)
        clear.Step(ClearFieldStep, [&] { WriteField(index, QString()); });
}

void DataEntryWindow::LoadSampleData()
{
    GuardedProcedure sample(QLatin1String(SampleDataLocation), mServices.dialogs, mServices.ending);
    for (const SampleValue& value : SampleData)
        sample.Step(value.step, [&] { WriteField(value.index, QString::fromUtf8(value.text)); });
}

void DataEntryWindow::StartCreating()
{
    // Clicks and keys given to this window while the run blocks it are dropped, never
    // replayed afterwards: one press gives one run and one working document.
    const BusyInput::Busy busy(mBusyInput);
    RunGeneration(*this, GenerationServices{mServices.word, mServices.dialogs, mServices.clock, mServices.random,
                                            mServices.ending, mServices.runLockWait});
}

void DataEntryWindow::PromoteHomePage()
{
    mServices.random.Seed(static_cast<std::uint64_t>(static_cast<float>(mServices.clock.SecondsSinceMidnight()) * 1000.0f));
    const double r = mServices.random.Next();
    const int n = static_cast<int>(std::floor(r * 100)) + 1;
    if (n == 7)
        mServices.urls.Open(QUrl(QLatin1String(HomePageAddress)));
}

void DataEntryWindow::SetMousePointer(PointerShape pointer)
{
    mMousePointer = pointer;
    ApplyMousePointer(*this, pointer, mHandCursor);
    // The run that sets the hourglass keeps the event loop busy; hand the change to the
    // window system now, without taking user input, so the pointer shows while it works.
    if (pointer == PointerShape::Hourglass)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void DataEntryWindow::PointerOverButton()
{
    if (mMousePointer != PointerShape::Hourglass)
        SetMousePointer(PointerShape::Custom);
}

void DataEntryWindow::mouseMoveEvent(QMouseEvent* event)
{
    // Moves over controls without tracking of their own reach the window too; only the
    // bare background counts.
    if (!childAt(event->position().toPoint()) && mMousePointer != PointerShape::Hourglass)
        SetMousePointer(PointerShape::Default);
    QWidget::mouseMoveEvent(event);
}

bool DataEntryWindow::eventFilter(QObject* watched, QEvent* event)
{
    auto* field = qobject_cast<QLineEdit*>(watched);
    if (!field)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::FocusIn:
        field->selectAll();
        // A click places the cursor after the focus arrives: a plain click selects all
        // again when the button is released, a drag keeps what it covered.
        mSelectOnRelease = static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason ? field : nullptr;
        break;
    case QEvent::FocusOut:
        mSelectOnRelease = nullptr;
        break;
    case QEvent::MouseButtonRelease:
        if (mSelectOnRelease == field && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            mSelectOnRelease = nullptr;
            if (!field->hasSelectedText())
                field->selectAll();
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void DataEntryWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    endApplication();
}

QByteArray DataEntryWindow::TemplateBytes()
{
    return LetterTemplateBytes();
}

PreviewWindow& DataEntryWindow::LoadedPreview()
{
    if (!mPreview) {
        mPreview = std::make_unique<PreviewWindow>(mServices.dialogs, mServices.ending, [this] { show(); });
        mPreview->setWindowIcon(PreviewWindowIcon());
    }
    return *mPreview;
}

void DataEntryWindow::SetPreviewPicture(const QImage& picture, const QByteArray& pages)
{
    LoadedPreview().SetPicture(picture, pages);
}

void DataEntryWindow::SetPreviewWordFile(const QString& path)
{
    LoadedPreview().mWordFile = path;
}

void DataEntryWindow::ShowPreview()
{
    LoadedPreview().show();
}

void DataEntryWindow::HideDataEntryWindow()
{
    hide();
}
