// The whole job against a real office engine: sample data, "Start Creating Template",
// the preview, saving, "< Back" and closing. With INKHAVEN_SCREENSHOTS set to a folder, it
// saves there the pictures of both windows the README and the AppStream description show
// (scripts/screenshots runs it so on a display of its own).
#include "app/DataEntryWindow.h"
#include "generation/Fields.h"
#include "preview/PictureBox.h"
#include "preview/PreviewWindow.h"
#include "preview/SharpPage.h"
#include "process/TerminationSignals.h"
#include "support/DocumentText.h"
#include "support/FakeDialogs.h"
#include "support/FakePlatform.h"
#include "support/FakeSettings.h"
#include "support/OfficeEngine.h"
#include "support/PageRendering.h"

#include <QDir>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class EndToEndTest : public QObject {
    Q_OBJECT

public:
    // Before anything starts an office: a write to an office that has just ended fails as
    // an error, as in the application.
    static void initMain() { IgnoreBrokenPipes(); }

private slots:
    void initTestCase();
    void sampleLetterFromClickToSavedFile();

private:
    QTemporaryDir mTemp;
};

// Saves what window shows as name.png in the folder INKHAVEN_SCREENSHOTS names, if it names one.
void SaveScreenshot(QWidget& window, const QString& name)
{
    const QString folder = qEnvironmentVariable("INKHAVEN_SCREENSHOTS");
    if (folder.isEmpty())
        return;
    QCoreApplication::processEvents();
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    QVERIFY2(window.grab().save(path), qPrintable(path));
}

void EndToEndTest::initTestCase()
{
    QVERIFY(mTemp.isValid());
    qputenv("TEMP", mTemp.path().toUtf8());
}

void EndToEndTest::sampleLetterFromClickToSavedFile()
{
    FakeSettings settings;
    FakeDialogs dialogs;
    const std::unique_ptr<Word::ApplicationFactory> office = MakeOfficeEngine();
    FakeClock clock;
    clock.today = QDate::currentDate();
    SystemRandom random;
    FakeUrlOpener urls;
    DataEntryWindow form(DataEntryServices{settings, dialogs, *office, clock, random, urls});
    int exits = 0;
    form.endApplication = [&] { ++exits; };
    form.show();

    form.LoadSampleData();
    SaveScreenshot(form, QStringLiteral("data-entry"));
    form.StartCreating();
    QCOMPARE(dialogs.ErrorReports(), QStringList());

    // Handed over: the preview shows the letter, one page height per page; the data-entry window hides.
    PreviewWindow* preview = form.Preview();
    QVERIFY(preview);
    QVERIFY(preview->isVisible());
    QVERIFY(!form.isVisible());
    QCOMPARE(form.MousePointer(), PointerShape::Default);
    const QString document = preview->mWordFile;
    const QImage page = preview->findChild<PictureBox*>(QStringLiteral("unscaledPage"))->Picture();
    const QString difference = DifferenceFromDocument(page, document);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    SaveScreenshot(*preview, QStringLiteral("preview"));

    // Zoomed, the page is drawn from the letter's own pages, not stretched from the picture.
    preview->findChild<QPushButton*>(QStringLiteral("zoomInButton"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(preview->findChild<SharpPage*>()->Complete(), 30000);
    const QImage stretched = preview->findChild<PictureBox*>(QStringLiteral("page"))->Surface().copy(0, 0, 600, 480);
    const QImage shown = preview->findChild<PictureBox*>(QStringLiteral("viewport"))->grab(QRect(2, 2, 600, 480)).toImage();
    QVERIFY(shown.convertToFormat(stretched.format()) != stretched);

    // Only the working document stays in TEMP.
    QVERIFY(QFileInfo(document).fileName().contains(QRegularExpression(QStringLiteral("^varnel[1-9]{8}\\.doc$"))));
    QCOMPARE(QFileInfo(document).absolutePath(), QDir(mTemp.path()).absolutePath());
    QCOMPARE(QDir(mTemp.path()).entryList(QDir::Files), QStringList{QFileInfo(document).fileName()});

    // The date field holds today's short date and is stored like any other change.
    const QString today = QLocale::system().toString(clock.today, QLocale::ShortFormat);
    QCOMPARE(form.ReadField(DateFieldIndex), today);
    QCOMPARE(settings.Value(QStringLiteral("Text1_13")), today);

    const QString target = mTemp.filePath(QStringLiteral("saved letter.doc"));
    dialogs.savePaths = {target};
    preview->findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
    QCOMPARE(dialogs.shown.constLast().text, QStringLiteral("Done."));
    QCOMPARE(FileBytes(target), FileBytes(document));

    const QString text = AntiwordText(target);
    for (const char* value : {"Tillowmark", "Kestrelworks", "1234 East Main Street", "Boise, ID 91002", "John Smith",
                              "Contractor", "Vavuraz Izerirez Inc.", "123 Garage St", "Hawthorne, CA 90250"})
        QVERIFY2(text.contains(QLatin1String(value)), value);
    QVERIFY2(text.count(today) >= 2, qPrintable(today));
    for (const char* tag : FieldTags)
        QVERIFY2(!text.contains(QLatin1String(tag), Qt::CaseInsensitive), tag);
    // The capitalised heading of the schedule page carries the recipient's company and address.
    QVERIFY(text.count(QStringLiteral("Vavuraz Izerirez Inc.")) >= 2);
    QVERIFY(text.contains(QStringLiteral("Hawthorne, CA  90250")));
    // The header's macro-button text is no tag and stays.
    QVERIFY(FileBytes(target).contains(QStringLiteral("[Recipient Name]").toUtf8())
            || FileBytes(target).contains(QByteArray(reinterpret_cast<const char*>(QStringLiteral("[Recipient Name]").utf16()), 32)));

    // "< Back" removes the document and shows the data-entry window again.
    preview->findChild<QPushButton*>(QStringLiteral("backButton"))->click();
    QVERIFY(!QFileInfo::exists(document));
    QVERIFY(form.isVisible());
    QVERIFY(!preview->isVisible());

    // A second run; closing its preview removes its document and ends the application.
    form.StartCreating();
    QCOMPARE(dialogs.ErrorReports(), QStringList());
    const QString second = preview->mWordFile;
    QVERIFY(second != document);
    QVERIFY(QFileInfo::exists(second));
    preview->SetExitAction([&] { ++exits; });
    preview->close();
    QVERIFY(!QFileInfo::exists(second));
    QCOMPARE(exits, 1);
}

QTEST_MAIN(EndToEndTest)
#include "test_end_to_end.moc"
