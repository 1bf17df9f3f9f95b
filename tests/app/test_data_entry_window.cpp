// The data-entry window: fields and their store, Clear and sample data, focus, hover and start-up.
#include "app/DataEntryWindow.h"
#include "files/SettingsStore.h"
#include "generation/Fields.h"
#include "generation/WordModel.h"
#include "preview/PreviewWindow.h"
#include "splash/SplashWindow.h"
#include "support/FakeDialogs.h"
#include "support/FakePlatform.h"
#include "support/FakeSettings.h"
#include "ui/GroupBox.h"

#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <functional>
#include <map>
#include <utility>

#include <sys/stat.h>

namespace {
// A dark desktop theme's palette, as Qt's GTK platform theme gives it for Adwaita:dark.
QPalette DarkPalette()
{
    const QColor light(0xEE, 0xEE, 0xEC);
    QPalette palette(QColor(0x35, 0x35, 0x35), QColor(0x30, 0x30, 0x30));
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(role, light);
    palette.setColor(QPalette::Base, QColor(0x2D, 0x2D, 0x2D));
    return palette;
}

// The contrast ratio of two colours as WCAG defines it, from 1 to 21.
double Contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& colour) {
        const auto linear = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of the text drawn in area of widget: its most frequent colour is the
// background, and the pixel that stands out most from it lies inside a letter.
double TextContrast(QWidget& widget, const QRect& area)
{
    const QImage picture = widget.grab(area).toImage();
    std::map<QRgb, int> counts;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            ++counts[picture.pixel(x, y)];
    }
    const QRgb background = std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
                                return a.second < b.second;
                            })->first;
    double contrast = 1;
    for (const auto& [colour, count] : counts)
        contrast = std::max(contrast, Contrast(QColor(background), QColor(colour)));
    return contrast;
}

// Every caption, group box title and push button text of window, with the contrast it is
// drawn in.
std::vector<std::pair<QString, double>> TextContrasts(QWidget& window)
{
    std::vector<std::pair<QString, double>> contrasts;
    for (QLabel* caption : window.findChildren<QLabel*>())
        contrasts.emplace_back(caption->text(), TextContrast(*caption, caption->rect()));
    for (GroupBox* box : window.findChildren<GroupBox*>()) {
        // Inside the title, clear of the frame that runs through its middle.
        const QFontMetrics metrics(box->font());
        if (!box->title().isEmpty())
            contrasts.emplace_back(box->title(), TextContrast(*box, QRect(10, 1, metrics.horizontalAdvance(box->title()) - 4,
                                                                          metrics.height() - 2)));
    }
    // Inside the button, clear of its frame.
    for (QPushButton* button : window.findChildren<QPushButton*>())
        contrasts.emplace_back(button->text(), TextContrast(*button, button->rect().adjusted(4, 4, -4, -4)));
    return contrasts;
}

// An office that cannot be started, noting each attempt in a shared journal.
class UnavailableOffice : public Word::ApplicationFactory {
public:
    explicit UnavailableOffice(QStringList& journal) : mJournal(journal) {}
    std::shared_ptr<Word::Application> CreateApplication() override
    {
        mJournal << QStringLiteral("create office");
        if (whileStarting)
            std::exchange(whileStarting, nullptr)();
        throw AppError(QStringLiteral("The office engine could not be started."));
    }
    // Runs once, at the next attempt: what the user does while a run waits for the office.
    std::function<void()> whileStarting;

private:
    QStringList& mJournal;
};

class JournalSettings : public FakeSettings {
public:
    explicit JournalSettings(QStringList& journal) : mJournal(journal) {}
    QString ReadSetting(const QString& application, const QString& section, const QString& key,
                        const QString& defaultValue) override
    {
        mJournal << QStringLiteral("read ") + key;
        return FakeSettings::ReadSetting(application, section, key, defaultValue);
    }

private:
    QStringList& mJournal;
};

class JournalUrls : public FakeUrlOpener {
public:
    explicit JournalUrls(QStringList& journal) : mJournal(journal) {}
    bool Open(const QUrl& url) override
    {
        mJournal << QStringLiteral("open ") + url.toString();
        return FakeUrlOpener::Open(url);
    }

private:
    QStringList& mJournal;
};

// A click as the window system queues it while the window's thread is busy.
void QueueClick(QWidget* widget, bool twice = false)
{
    const QPoint at = widget->rect().center();
    const QPoint global = widget->mapToGlobal(at);
    const QList<QEvent::Type> sequence = twice ? QList<QEvent::Type>{QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                                                     QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}
                                               : QList<QEvent::Type>{QEvent::MouseButtonPress, QEvent::MouseButtonRelease};
    for (QEvent::Type type : sequence) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QCoreApplication::postEvent(widget, new QMouseEvent(type, at, global, Qt::LeftButton, held, Qt::NoModifier));
    }
}

void MoveMouse(QWidget* widget, QPoint at)
{
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

}

class DataEntryWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void layout();
    void typingStoresEveryKeystroke();
    void writeFieldStoresEvenUnchangedText();
    void restoreFillsInputFieldsOnly();
    void clearEmptiesInputFieldsAndKeys();
    void sampleDataTwiceGivesSameValues();
    void failingStoreIsReportedPerStepAndWorkGoesOn();
    void failingStoreWhileTypingIsShownOnce();
    void tabOrderAndSelectOnFocus();
    void hoverRules();
    void startUpRunsInOrder();
    void unreadableSettingsStillStart();
    void settingsFileThatIsAFifoStillStarts();
    void homePageOpensOnlyForSeven();
    void closingEndsApplication();
    void inputDuringRunIsDropped();
    void readableUnderADarkTheme();

private:
    QStringList mJournal;
    std::unique_ptr<JournalSettings> mSettings;
    std::unique_ptr<FakeDialogs> mDialogs;
    std::unique_ptr<UnavailableOffice> mOffice;
    std::unique_ptr<FakeClock> mClock;
    std::unique_ptr<FakeRandom> mRandom;
    std::unique_ptr<JournalUrls> mUrls;
    std::unique_ptr<DataEntryWindow> mForm;
};

void DataEntryWindowTest::init()
{
    mJournal.clear();
    mSettings = std::make_unique<JournalSettings>(mJournal);
    mDialogs = std::make_unique<FakeDialogs>();
    mOffice = std::make_unique<UnavailableOffice>(mJournal);
    mClock = std::make_unique<FakeClock>();
    mRandom = std::make_unique<FakeRandom>();
    mUrls = std::make_unique<JournalUrls>(mJournal);
    mForm = std::make_unique<DataEntryWindow>(DataEntryServices{*mSettings, *mDialogs, *mOffice, *mClock, *mRandom, *mUrls});
    mForm->endApplication = [this] { mJournal << QStringLiteral("end application"); };
}

void DataEntryWindowTest::cleanup()
{
    mForm.reset();
}

void DataEntryWindowTest::layout()
{
    QCOMPARE(mForm->minimumSize(), mForm->maximumSize());
    QCOMPARE(mForm->findChild<QPushButton*>(QStringLiteral("sampleButton"))->text(), QStringLiteral("Load Sample/Example Data"));
    // Every typed field and button lies whole in the window, none over another; the date
    // field lies outside it, out of sight.
    const auto placeOf = [this](const QWidget* widget) { return QRect(widget->mapTo(mForm.get(), QPoint()), widget->size()); };
    QList<QWidget*> shown;
    for (int i = 0; i < TypedFieldCount; ++i)
        shown << mForm->Field(i);
    for (const char* name : {"startButton", "clearButton", "sampleButton"})
        shown << mForm->findChild<QPushButton*>(QLatin1String(name));
    for (const QWidget* widget : shown) {
        QVERIFY2(mForm->rect().contains(placeOf(widget)), qPrintable(widget->objectName()));
        for (const QWidget* other : shown)
            QVERIFY2(other == widget || !placeOf(other).intersects(placeOf(widget)), qPrintable(widget->objectName()));
    }
    QVERIFY(!mForm->rect().intersects(placeOf(mForm->Field(DateFieldIndex))));
    // The sender's fields are in "Your Data", the recipient's in "Recipient Data".
    for (int i = 0; i < TypedFieldCount; ++i) {
        const bool sender = QLatin1String(FieldMeanings[static_cast<std::size_t>(i)]).startsWith(QLatin1String("the sender's"));
        QCOMPARE(mForm->Field(i)->parentWidget()->property("title").toString(),
                 sender ? QStringLiteral("Your Data") : QStringLiteral("Recipient Data"));
    }
    QCOMPARE(mForm->palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(mForm->font().family(), QStringLiteral("Arial"));
    QVERIFY(mForm->font().bold());

    // Every caption shows its whole text and ends at least 4 pixels before its field.
    for (QLabel* caption : mForm->findChildren<QLabel*>()) {
        const QWidget* field = caption->buddy();
        QVERIFY2(field && field->parentWidget() == caption->parentWidget(), qPrintable(caption->text()));
        QVERIFY2(caption->width() >= caption->sizeHint().width(), qPrintable(caption->text()));
        QVERIFY2(field->x() - (caption->x() + caption->width()) >= 4, qPrintable(caption->text()));
    }
    // The group boxes are white inside their frames, as the window is.
    mForm->show();
    QVERIFY(QTest::qWaitForWindowExposed(mForm.get()));
    const QImage window = mForm->grab().toImage();
    for (const char* name : {"senderGroup", "recipientGroup"}) {
        const QRect box = mForm->findChild<QWidget*>(QLatin1String(name))->geometry();
        QCOMPARE(window.pixelColor(box.center().x(), box.bottom() - 5), QColor(Qt::white));
        QCOMPARE(window.pixelColor(box.left() + 5, box.center().y()), QColor(Qt::white));
    }
}

void DataEntryWindowTest::typingStoresEveryKeystroke()
{
    mForm->show();
    QTest::keyClicks(mForm->Field(0), QStringLiteral("abc"));
    QCOMPARE(mSettings->writes, QStringList({"Text1_0=a", "Text1_0=ab", "Text1_0=abc"}));
    QTest::keyClick(mForm->Field(0), Qt::Key_Backspace);
    QCOMPARE(mSettings->Value(QStringLiteral("Text1_0")), QStringLiteral("ab"));
    mForm->WriteField(DateFieldIndex, QStringLiteral("12/7/26"));
    QCOMPARE(mSettings->Value(QStringLiteral("Text1_13")), QStringLiteral("12/7/26"));

    // A field holds one line: each pasted line break becomes one space, in the field and the store.
    QGuiApplication::clipboard()->setText(QString::fromUtf16(u"Smith\r\nJohn\nand\u2028Sons\r"));
    mForm->Field(0)->setCursorPosition(1);
    QTest::keyClick(mForm->Field(0), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(mForm->ReadField(0), QStringLiteral("aSmith John and Sons b"));
    QCOMPARE(mSettings->Value(QStringLiteral("Text1_0")), QStringLiteral("aSmith John and Sons b"));
    QCOMPARE(mForm->Field(0)->cursorPosition(), 21);
}

void DataEntryWindowTest::writeFieldStoresEvenUnchangedText()
{
    mForm->WriteField(4, QString());
    QCOMPARE(mSettings->writes, QStringList{"Text1_4="});
    QVERIFY(!mSettings->Value(QStringLiteral("Text1_4")).isNull());
}

void DataEntryWindowTest::restoreFillsInputFieldsOnly()
{
    for (int i = 0; i < FieldCount; ++i)
        mSettings->values.insert(FakeSettings::Address("Kestrelworks", "Inkhaven", QStringLiteral("Text1_%1").arg(i)),
                                 QStringLiteral("  value %1 ").arg(i));
    const QString longText = QStringLiteral("Start of a long street address, ").repeated(10);
    mSettings->values.insert(FakeSettings::Address("Kestrelworks", "Inkhaven", "Text1_6"), longText);
    mForm->RestoreFields();
    for (int i = 0; i < TypedFieldCount; ++i) {
        if (i != 6)
            QCOMPARE(mForm->ReadField(i), QStringLiteral("  value %1 ").arg(i));
        // A restored field shows the start of its text.
        QCOMPARE(mForm->Field(i)->cursorPosition(), 0);
    }
    QCOMPARE(mForm->ReadField(DateFieldIndex), QString());
    QVERIFY(!mJournal.contains(QStringLiteral("read Text1_13")));
}

void DataEntryWindowTest::clearEmptiesInputFieldsAndKeys()
{
    mForm->LoadSampleData();
    mForm->WriteField(DateFieldIndex, QStringLiteral("7 December 2026"));
    mSettings->writes.clear();
    mForm->ClearData();
    for (int i = 0; i < TypedFieldCount; ++i) {
        QCOMPARE(mForm->ReadField(i), QString());
        QCOMPARE(mSettings->Value(QStringLiteral("Text1_%1").arg(i)), QString(""));
    }
    QCOMPARE(mForm->ReadField(DateFieldIndex), QStringLiteral("7 December 2026"));
    QCOMPARE(mSettings->writes.size(), TypedFieldCount);
    mForm->ClearData();
    QCOMPARE(mForm->ReadField(0), QString());
    QVERIFY(mDialogs->shown.isEmpty());
}

void DataEntryWindowTest::sampleDataTwiceGivesSameValues()
{
    for (int round = 0; round < 2; ++round) {
        mForm->LoadSampleData();
        QCOMPARE(mForm->ReadField(0), QStringLiteral("Tillowmark"));
        QCOMPARE(mForm->ReadField(12), QStringLiteral("Kestrelworks"));
        QCOMPARE(mForm->ReadField(11), QStringLiteral("Vavuraz Izerirez Inc."));
        QCOMPARE(mForm->ReadField(2), QStringLiteral("90250"));
        QCOMPARE(mSettings->Value(QStringLiteral("Text1_6")), QStringLiteral("1234 East Main Street"));
        QCOMPARE(mSettings->Value(QStringLiteral("Text1_3")), QStringLiteral("CA"));
        for (int i = 0; i < TypedFieldCount; ++i)
            QCOMPARE(mForm->Field(i)->cursorPosition(), 0);
    }
    QCOMPARE(mForm->ReadField(DateFieldIndex), QString());
    QVERIFY(mSettings->Value(QStringLiteral("Text1_13")).isNull());
}

void DataEntryWindowTest::failingStoreIsReportedPerStepAndWorkGoesOn()
{
    mSettings->failWrites = true;
    mForm->LoadSampleData();
    QCOMPARE(mDialogs->FailedSteps(), QList<int>({100, 102, 104, 106, 108, 110, 112, 114, 116, 118, 120, 122, 124}));
    QVERIFY(mDialogs->ErrorReports().constFirst().contains(QStringLiteral("\r\nin %1 at line 100\r\r").arg(QLatin1String(SampleDataLocation))));
    QCOMPARE(mForm->ReadField(2), QStringLiteral("90250"));

    mDialogs->shown.clear();
    mForm->ClearData();
    QCOMPARE(mDialogs->FailedSteps(), QList<int>(TypedFieldCount, 102));
    QVERIFY(mDialogs->ErrorReports().constFirst().contains(QStringLiteral("in %1 at line 102").arg(QLatin1String(ClearDataLocation))));
    QCOMPARE(mForm->ReadField(2), QString());
}

void DataEntryWindowTest::failingStoreWhileTypingIsShownOnce()
{
    mForm->show();
    mSettings->failWrites = true;
    QTest::keyClicks(mForm->Field(7), QStringLiteral("John"));
    QCOMPARE(mForm->ReadField(7), QStringLiteral("John"));
    QCOMPARE(mDialogs->shown.size(), 1);
    QCOMPARE(mDialogs->shown.constFirst().kind, QStringLiteral("message"));
}

void DataEntryWindowTest::tabOrderAndSelectOnFocus()
{
    mForm->show();
    QVERIFY(QTest::qWaitForWindowExposed(mForm.get()));
    mForm->WriteField(12, QStringLiteral("Director"));
    mForm->Field(0)->setFocus(Qt::OtherFocusReason);
    QStringList visited;
    QWidget* current = mForm->Field(0);
    for (int n = 0; n < 17; ++n) {
        visited << current->objectName();
        QTest::keyClick(current, Qt::Key_Tab);
        current = QApplication::focusWidget();
        QVERIFY(current);
        if (current == mForm->Field(12)) {
            QCOMPARE(current->property("selectedText").toString(), QStringLiteral("Director"));
        }
    }
    QStringList expected;
    for (int i : FieldsInLetterOrder)
        expected << mForm->Field(i)->objectName();
    expected << "startButton" << "clearButton" << "sampleButton" << "letterDateEdit";
    QCOMPARE(visited, expected);

    // Enter, like Space, presses the push button that has the focus.
    auto* clear = mForm->findChild<QPushButton*>(QStringLiteral("clearButton"));
    clear->setFocus(Qt::TabFocusReason);
    QTest::keyClick(clear, Qt::Key_Return);
    QCOMPARE(mForm->ReadField(12), QString());

    // A press and drag into a field without the focus selects what the drag covered;
    // a plain click selects the whole text.
    mForm->WriteField(7, QStringLiteral("John Smith"));
    QLineEdit* name = mForm->Field(7);
    const auto at = [&](int position) {
        name->setCursorPosition(position);
        return name->mapTo(mForm.get(), name->inputMethodQuery(Qt::ImCursorRectangle).toRect().center());
    };
    const QPoint from = at(5), to = at(10);
    name->setCursorPosition(0);
    QWindow* window = mForm->windowHandle();
    QTest::mousePress(window, Qt::LeftButton, {}, from);
    QTest::mouseMove(window, to);
    QTest::mouseRelease(window, Qt::LeftButton, {}, to);
    QVERIFY(name->hasFocus());
    QCOMPARE(name->selectedText(), QStringLiteral("Smith"));
    mForm->Field(4)->setFocus(Qt::TabFocusReason);
    QTest::mouseClick(window, Qt::LeftButton, {}, from);
    QCOMPARE(name->selectedText(), QStringLiteral("John Smith"));

    // Focus given any other way selects the whole text too, and typing replaces it.
    mForm->Field(0)->clearFocus();
    mForm->WriteField(0, QStringLiteral("Old Name"));
    mForm->Field(0)->setFocus(Qt::OtherFocusReason);
    QCOMPARE(mForm->Field(0)->selectedText(), QStringLiteral("Old Name"));
    QTest::keyClicks(mForm->Field(0), QStringLiteral("New"));
    QCOMPARE(mForm->ReadField(0), QStringLiteral("New"));
}

void DataEntryWindowTest::hoverRules()
{
    mForm->show();
    auto* button = mForm->findChild<QPushButton*>(QStringLiteral("clearButton"));
    auto* group = mForm->findChild<QWidget*>(QStringLiteral("recipientGroup"));
    QCOMPARE(mForm->MousePointer(), PointerShape::Default);
    MoveMouse(button, QPoint(3, 3));
    QCOMPARE(mForm->MousePointer(), PointerShape::Custom);
    // Into a group box (which passes the move on to the window): the hand stays.
    MoveMouse(group, QPoint(100, 2));
    QCOMPARE(mForm->MousePointer(), PointerShape::Custom);
    MoveMouse(mForm.get(), mForm->Field(0)->parentWidget()->geometry().topLeft() + QPoint(2, 2));
    QCOMPARE(mForm->MousePointer(), PointerShape::Custom);
    // Over the bare margin: back to default.
    MoveMouse(mForm.get(), QPoint(2, 2));
    QCOMPARE(mForm->MousePointer(), PointerShape::Default);
    QCOMPARE(mForm->cursor().shape(), Qt::ArrowCursor);

    mForm->SetMousePointer(PointerShape::Hourglass);
    MoveMouse(button, QPoint(3, 3));
    QCOMPARE(mForm->MousePointer(), PointerShape::Hourglass);
    MoveMouse(mForm.get(), QPoint(2, 2));
    QCOMPARE(mForm->MousePointer(), PointerShape::Hourglass);
    QCOMPARE(mForm->cursor().shape(), Qt::WaitCursor);
}

void DataEntryWindowTest::startUpRunsInOrder()
{
    mSettings->values.insert(FakeSettings::Address("Kestrelworks", "Inkhaven", "Text1_0"), QStringLiteral("Restored"));
    mSettings->values.insert(FakeSettings::Address("Kestrelworks", "Inkhaven", "ShowAgain"), QStringLiteral("1"));
    mRandom->values = {0.065};
    mForm->StartUp();

    QCOMPARE(mForm->windowTitle(), QLatin1String(ApplicationTitle));
    QVERIFY(!mForm->windowIcon().isNull());
    QCOMPARE(mForm->ReadField(0), QStringLiteral("Restored"));
    QVERIFY(mForm->Splash());
    QVERIFY(!mForm->Splash()->isVisible());
    QVERIFY(!mForm->isVisible());

    QStringList expected{QStringLiteral("read ShowAgain"), QStringLiteral("open ") + QLatin1String(HomePageAddress)};
    for (int i = 0; i < TypedFieldCount; ++i)
        expected << QStringLiteral("read Text1_%1").arg(i);
    expected << QStringLiteral("create office");
    QCOMPARE(mJournal, expected);

    QCOMPARE(mDialogs->shown.size(), 1);
    QCOMPARE(mDialogs->shown.constFirst().kind, QStringLiteral("message"));
    QCOMPARE(mDialogs->shown.constFirst().text,
             QStringLiteral("Word is not installed on this computer. You need to have it installed to use this software."
                            "\r\n\r\nThe office engine could not be started."));
    QCOMPARE(mDialogs->shown.constFirst().caption, QLatin1String(ApplicationTitle));
}

void DataEntryWindowTest::unreadableSettingsStillStart()
{
    mSettings->failReads = true;
    mForm->StartUp();
    QCOMPARE(mForm->windowTitle(), QLatin1String(ApplicationTitle));
    QCOMPARE(mSettings->writes, QStringList());
    QCOMPARE(mDialogs->shown.size(), 2);
    QVERIFY(mDialogs->shown.at(0).text.startsWith(QStringLiteral("The settings file could not be read.")));
    QVERIFY(mDialogs->shown.at(1).text.startsWith(QStringLiteral("Word is not installed")));
    QVERIFY(mJournal.contains(QStringLiteral("create office")));

    // Typing into a store that cannot be used keeps the text and adds no second message.
    mSettings->failWrites = true;
    QTest::keyClicks(mForm->Field(0), QStringLiteral("abc"));
    QCOMPARE(mForm->ReadField(0), QStringLiteral("abc"));
    QCOMPARE(mDialogs->shown.size(), 2);
}

// The settings file is a FIFO: start-up reads it without waiting for a writer that never
// comes, refuses it like a damaged file in one message, starts with empty fields and
// writes nothing there or beside it, whatever is typed.
void DataEntryWindowTest::settingsFileThatIsAFifoStillStarts()
{
    QTemporaryDir config;
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const QString fifo = config.filePath(QStringLiteral("Kestrelworks.ini"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QSettingsStore settings;
    DataEntryWindow form(DataEntryServices{settings, *mDialogs, *mOffice, *mClock, *mRandom, *mUrls});
    form.StartUp();
    QCOMPARE(mDialogs->shown.size(), 2);
    const QString message = mDialogs->shown.at(0).text;
    QVERIFY2(message.contains(fifo) && message.contains(QStringLiteral("FIFO"))
                 && message.contains(QStringLiteral("starts with empty fields")),
             qPrintable(message));
    QVERIFY(mDialogs->shown.at(1).text.startsWith(QStringLiteral("Word is not installed")));
    for (int i = 0; i < TypedFieldCount; ++i)
        QCOMPARE(form.ReadField(i), QString());

    QTest::keyClicks(form.Field(0), QStringLiteral("abc"));
    QTest::keyClicks(form.Field(4), QStringLiteral("John Smith"));
    QCOMPARE(form.ReadField(0), QStringLiteral("abc"));
    QCOMPARE(mDialogs->shown.size(), 2);
    QCOMPARE(mDialogs->ErrorReports().size(), 0);
    struct stat info {};
    QVERIFY(::lstat(QFile::encodeName(fifo).constData(), &info) == 0 && S_ISFIFO(info.st_mode));
    QCOMPARE(QDir(config.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("Kestrelworks.ini")});
    qputenv("XDG_CONFIG_HOME", saved);
}

void DataEntryWindowTest::homePageOpensOnlyForSeven()
{
    const QList<double> draws{0.0, 0.059, 0.06, 0.0699, 0.07, 0.99};
    const QList<bool> opens{false, false, true, true, false, false};
    for (int k = 0; k < draws.size(); ++k) {
        mUrls->opened.clear();
        mRandom->values = {draws[k]};
        mForm->PromoteHomePage();
        QCOMPARE(mUrls->opened.size(), opens[k] ? 1 : 0);
    }

    // With the real generator seeded from many different times of day, about one start in a hundred.
    SystemRandom random;
    FakeClock clock;
    FakeUrlOpener urls;
    DataEntryWindow form(DataEntryServices{*mSettings, *mDialogs, *mOffice, clock, random, urls});
    const int starts = 20000;
    for (int s = 0; s < starts; ++s) {
        clock.secondsSinceMidnight = s * 4.3;
        form.PromoteHomePage();
    }
    QVERIFY2(urls.opened.size() > starts / 100 / 2 && urls.opened.size() < starts / 100 * 2,
             qPrintable(QString::number(urls.opened.size())));

    // A browser that cannot be started is ignored: nothing is shown.
    mUrls->succeed = false;
    mRandom->values = {0.065};
    mForm->PromoteHomePage();
    QVERIFY(mDialogs->shown.isEmpty());
}

void DataEntryWindowTest::closingEndsApplication()
{
    mForm->show();
    mForm->close();
    QCOMPARE(mJournal, QStringList{QStringLiteral("end application")});
}

// A double-click on "Start Creating Template", a click on "Clear/Reset Data" and a key
// given while a run blocks the window are dropped, not replayed once it ends; afterwards
// the window takes input again.
void DataEntryWindowTest::inputDuringRunIsDropped()
{
    mForm->show();
    QVERIFY(QTest::qWaitForWindowExposed(mForm.get()));
    mForm->LoadSampleData();
    QStringList typed;
    for (int index = 0; index < TypedFieldCount; ++index)
        typed << mForm->ReadField(index);
    auto* start = mForm->findChild<QPushButton*>(QStringLiteral("startButton"));
    auto* clear = mForm->findChild<QPushButton*>(QStringLiteral("clearButton"));
    QVERIFY(start && clear);
    mOffice->whileStarting = [&] {
        QueueClick(start, true);
        QueueClick(clear);
        QCoreApplication::postEvent(mForm->Field(0), new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x")));
    };
    mJournal.clear();
    QTest::mouseClick(start, Qt::LeftButton);
    const qsizetype oneRun = mJournal.count(QStringLiteral("create office"));
    QVERIFY(oneRun > 0);
    QTest::qWait(200);
    QCOMPARE(mJournal.count(QStringLiteral("create office")), oneRun);
    for (int index = 0; index < TypedFieldCount; ++index)
        QCOMPARE(mForm->ReadField(index), typed[index]);

    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(mJournal.count(QStringLiteral("create office")), 2 * oneRun);
}

void DataEntryWindowTest::readableUnderADarkTheme()
{
    // Both windows made under a dark desktop theme: text on the white the design fixes is
    // dark, text on the theme's colours is the theme's; all of it reads (WCAG AA, 4.5:1).
    const QPalette original = QApplication::palette();
    QApplication::setPalette(DarkPalette());
    const auto restore = qScopeGuard([&] { QApplication::setPalette(original); });
    FakeRandom random;
    FakeUrlOpener urls;
    DataEntryWindow form(DataEntryServices{*mSettings, *mDialogs, *mOffice, *mClock, random, urls});
    PreviewWindow preview(*mDialogs, {}, [] {});
    for (QWidget* window : {static_cast<QWidget*>(&form), static_cast<QWidget*>(&preview)}) {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const auto contrasts = TextContrasts(*window);
        QVERIFY(contrasts.size() >= 4);
        for (const auto& [text, contrast] : contrasts)
            QVERIFY2(contrast >= 4.5, qPrintable(QStringLiteral("%1: %2:1").arg(text).arg(contrast, 0, 'f', 2)));
    }
}

QTEST_MAIN(DataEntryWindowTest)
#include "test_data_entry_window.moc"
