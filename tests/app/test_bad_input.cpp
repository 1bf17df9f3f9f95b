// Unusual input against a real office engine, in one run: scripts of every direction,
// emoji, tabs and control characters pasted into a field, texts that look like tags or
// like replace patterns, a field at the letter's limit and one of a megabyte; then save
// targets with spaces, without extension, with non-ASCII names, in a missing folder and
// onto a folder. The letter holds exactly what was typed, or the user is told clearly why
// not, and every saved file reads back with antiword, catdoc and the office. Last, a letter
// too long to show whole.
#include "app/DataEntryWindow.h"
#include "generation/Fields.h"
#include "generation/LetterText.h"
#include "generation/PagePicture.h"
#include "preview/PictureBox.h"
#include "preview/PreviewWindow.h"
#include "process/TerminationSignals.h"
#include "support/DocumentText.h"
#include "support/FakeDialogs.h"
#include "support/FakePlatform.h"
#include "support/FakeSettings.h"
#include "support/OfficeEngine.h"
#include "support/PageRendering.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QChar Replaced(QChar::ReplacementCharacter);
}

class BadInputTest : public QObject {
    Q_OBJECT

public:
    // Before anything starts an office: a write to an office that has just ended fails as
    // an error, as in the application.
    static void initMain() { IgnoreBrokenPipes(); }

private slots:
    // Pastes the unusual texts and runs the generation once; each test checks its outcome.
    void initTestCase();
    void unusualTextsComeOutAsTyped();
    void unusualSaveTargets();
    void letterTooLongToShowIsMadeWhole();

private:
    void Paste(int index, const QString& text);
    QString Save(const QString& target);

    // The texts pasted into the fields.
    const QString mPatterns = QStringLiteral("[City] & $1 \\n ^p ^& \\\\ C:\\path");
    const QString mCyrillic = QString::fromUtf16(u"Новосибирск");
    const QString mTabs = QStringLiteral("\t12\t34");
    const QString mEmoji = QString::fromUtf16(u"😀👍🏽");
    const QString mChinese = QString::fromUtf16(u"北京市朝阳区建国路88号");
    const QString mHebrew = QString::fromUtf16(u"תל אביב");
    const QString mArabic = QString::fromUtf16(u"شارع الملك فهد ١٢");
    const QString mLaterTags = QStringLiteral("Dr. [YourTitle] [companyname] [CurrentDate]");
    const QString mControls = QString::fromUtf16(u"A\u0000B\vC\nD\u0001E", 9);
    const QString mBrokenPair = QStringLiteral("9") + QChar(0xD800);
    const QString mEarlierAndOwnTags = QStringLiteral("[ZIPCode] Ms [title]");
    const QString mMegabyte = QStringLiteral("0123456789abcdef").repeated(1 << 16);
    QString mAtLimit;
    // What the run showed: its reports and messages.
    FakeDialogs mRunDialogs;

    QTemporaryDir mTemp;
    QTemporaryDir mOut;
    FakeSettings mSettings;
    FakeDialogs mDialogs;
    std::unique_ptr<Word::ApplicationFactory> mOffice = MakeOfficeEngine();
    FakeClock mClock;
    SystemRandom mRandom;
    FakeUrlOpener mUrls;
    std::unique_ptr<DataEntryWindow> mForm;
    QString mTyped[FieldCount];
};

void BadInputTest::initTestCase()
{
    QVERIFY(mTemp.isValid() && mOut.isValid());
    qputenv("TEMP", mTemp.path().toUtf8());
    mClock.today = QDate::currentDate();
    mForm = std::make_unique<DataEntryWindow>(DataEntryServices{mSettings, mDialogs, *mOffice, mClock, mRandom, mUrls});
    mForm->endApplication = [] {};
    mForm->show();

    mAtLimit = QStringLiteral("Chief Officer of Records, ").repeated(400);
    mAtLimit.truncate(LetterFieldLimit);
    const std::pair<int, QString> typed[] = {{0, mPatterns},  {1, mCyrillic},   {2, mTabs},       {3, mEmoji},
                                             {4, mChinese},   {5, mHebrew},     {6, mArabic},     {7, mLaterTags},
                                             {8, mControls},  {9, mBrokenPair}, {10, mEarlierAndOwnTags},
                                             {11, mMegabyte}, {12, mAtLimit}};
    for (const auto& [index, text] : typed)
        Paste(index, text);
    // A field holds one line: the pasted line breaks became spaces.
    mTyped[8] = QString::fromUtf16(u"A\u0000B C D\u0001E", 9);
    mForm->StartCreating();
    mRunDialogs = mDialogs;
}

// Through the clipboard, as a user pastes into the field.
void BadInputTest::Paste(int index, const QString& text)
{
    QGuiApplication::clipboard()->setText(text);
    QLineEdit* field = mForm->Field(index);
    field->clear();
    field->paste();
    mTyped[index] = text;
}

void BadInputTest::unusualTextsComeOutAsTyped()
{
    // The window and the store hold every text whole, the megabyte too, after the run as before.
    for (int i = 0; i < TypedFieldCount; ++i) {
        QCOMPARE(mForm->ReadField(i).size(), mTyped[i].size());
        QCOMPARE(mForm->ReadField(i), mTyped[i]);
        QCOMPARE(mSettings.Value(QStringLiteral("Text1_%1").arg(i)), mTyped[i]);
    }

    // The megabyte is too long for the letter: one clear report, and it is left out.
    QCOMPARE(mRunDialogs.FailedSteps(), QList<int>{114});
    QVERIFY2(mRunDialogs.ErrorReports().at(0).startsWith(
                 QStringLiteral("The text of the field for [CompanyName] is 1048576 characters long")),
             qPrintable(mRunDialogs.ErrorReports().at(0)));
    // The characters no Word document holds were replaced, and the user was told so once.
    const QList<FakeDialogs::Shown> messages = mRunDialogs.shown.mid(1);
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages.at(0).text.startsWith(QStringLiteral("The text typed for [ST], [ZIPCode] holds characters")),
             qPrintable(messages.at(0).text));

    PreviewWindow* preview = mForm->Preview();
    QVERIFY(preview && preview->isVisible());
    const QImage page = preview->findChild<PictureBox*>(QStringLiteral("unscaledPage"))->Picture();
    const QString difference = DifferenceFromDocument(page, preview->mWordFile);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    const QString date = QLocale::system().toString(mClock.today, QLocale::ShortFormat);
    const QString text = AntiwordText(preview->mWordFile);
    const QString expected[] = {
        mPatterns + QLatin1Char('\n') + mArabic + QLatin1Char('\n') + mCyrillic + QStringLiteral(", A") + Replaced
            + QStringLiteral("B C D") + Replaced + QStringLiteral("E 9") + Replaced + QLatin1Char('\n'),
        QLatin1Char('\n') + date + QLatin1Char('\n'),
        mLaterTags + QLatin1Char('\n') + mEarlierAndOwnTags + QStringLiteral("\n[CompanyName]\n") + mChinese + QLatin1Char('\n')
            + mHebrew + QStringLiteral(", ") + mEmoji + QLatin1Char(' ') + mTabs + QLatin1Char('\n'),
        QStringLiteral("Dear ") + mLaterTags + QLatin1Char(':'),
        QLatin1Char('\n') + mPatterns + QLatin1Char('\n') + mAtLimit + QLatin1Char('\n'),
        QStringLiteral("\n[COMPANYNAME]\n") + mChinese + QLatin1Char('\n') + mHebrew + QStringLiteral(", ") + mEmoji
            + QStringLiteral("  ") + mTabs + QLatin1Char('\n'),
    };
    for (const QString& part : expected)
        QVERIFY2(text.contains(part), qPrintable(part.left(300)));
    // No later field replaced a tag inside a typed text: each typed tag is there as often as it was typed.
    QCOMPARE(text.count(QStringLiteral("[City]")), 2);
    QCOMPARE(text.count(QStringLiteral("[YourTitle]")), 3);
    QCOMPARE(text.count(QStringLiteral("[CurrentDate]")), 3);
    QCOMPARE(text.count(date), 2);

    // catdoc, reading the same file on its own, sees every script.
    const QString catdoc = CatdocText(preview->mWordFile);
    for (const QString& part : {mCyrillic, mChinese, mHebrew, mArabic, mEmoji, mPatterns, mLaterTags, mAtLimit})
        QVERIFY2(catdoc.contains(part), qPrintable(part.left(100)));
}

// Saves the shown letter to target through the preview's save button; returns the texts
// of the messages and reports that followed the save dialog.
QString BadInputTest::Save(const QString& target)
{
    mDialogs = FakeDialogs();
    mDialogs.savePaths = {target};
    mForm->Preview()->findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
    QStringList texts;
    for (const FakeDialogs::Shown& shown : mDialogs.shown) {
        if (shown.kind != QStringLiteral("save"))
            texts << shown.text;
    }
    return texts.join(QLatin1Char('|'));
}

void BadInputTest::unusualSaveTargets()
{
    const QString document = mForm->Preview()->mWordFile;
    QVERIFY(QFileInfo::exists(document));
    const QByteArray letter = FileBytes(document);

    const QString saved[] = {mOut.filePath(QStringLiteral("my letter with spaces.doc")),
                             mOut.filePath(QStringLiteral("letter without extension")),
                             mOut.filePath(QString::fromUtf16(u"Письмо 信件 ✉ נייר.doc"))};
    for (const QString& target : saved) {
        QCOMPARE(Save(target), QStringLiteral("Done."));
        QCOMPARE(FileBytes(target), letter);
    }
    QCOMPARE(QDir(mOut.path()).entryList(QDir::Files).size(), 3);

    const QString missing = mOut.filePath(QStringLiteral("no such folder/letter.doc"));
    QString shown = Save(missing);
    QVERIFY2(shown.startsWith(QStringLiteral("The folder \"%1\" does not exist.").arg(mOut.filePath(QStringLiteral("no such folder")))),
             qPrintable(shown));
    QVERIFY(!shown.contains(QStringLiteral("Done.")));
    QVERIFY(!QFileInfo::exists(QFileInfo(missing).absolutePath()));

    const QString folder = mOut.filePath(QStringLiteral("a folder.doc"));
    QVERIFY(QDir().mkdir(folder));
    shown = Save(folder);
    QVERIFY2(shown.startsWith(QStringLiteral("\"%1\" is a folder.").arg(folder)), qPrintable(shown));
    QVERIFY(!shown.contains(QStringLiteral("Done.")));
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());

    // Every saved file reads back: with both readers, and opened again by the office.
    for (const QString& target : saved) {
        QVERIFY2(AntiwordText(target).contains(mCyrillic), qPrintable(target));
        QVERIFY2(CatdocText(target).contains(mCyrillic), qPrintable(target));
    }
    // The office sees only the working folder: each is reopened from a copy there.
    const std::shared_ptr<Word::Application> office = mOffice->CreateApplication();
    for (const QString& target : saved) {
        const QString copy = QDir(mTemp.path()).filePath(QStringLiteral("reopened.doc"));
        QFile::remove(copy);
        QVERIFY(QFile::copy(target, copy));
        const std::shared_ptr<Word::Document> reopened = office->Documents()->Open(copy);
        for (const QString& typed : {mCyrillic, mEarlierAndOwnTags, mEmoji}) {
            Word::ExecuteArguments search;
            search.FindText = typed;
            QVERIFY2(reopened->Range()->Find()->Execute(search), qPrintable(target + QLatin1Char(' ') + typed));
        }
        reopened->Close(Word::wdDoNotSaveChanges);
    }
    office->Quit();
}

// A field of tabs makes a letter longer than the preview shows: it is made and kept whole,
// the preview shows its first pages only, and the user is told how many pages the letter has.
void BadInputTest::letterTooLongToShowIsMadeWhole()
{
    FakeSettings settings;
    FakeDialogs dialogs;
    DataEntryWindow form(DataEntryServices{settings, dialogs, *mOffice, mClock, mRandom, mUrls});
    form.endApplication = [] {};
    form.show();
    form.LoadSampleData();
    // The recipient's company, whose tag the letter holds several times.
    constexpr int company = 11;
    form.WriteField(company, QString(9999, QLatin1Char('\t')));
    form.StartCreating();

    QCOMPARE(dialogs.ErrorReports(), QStringList());
    PreviewWindow* preview = form.Preview();
    QVERIFY(preview && preview->isVisible());
    const QImage page = preview->findChild<PictureBox*>(QStringLiteral("unscaledPage"))->Picture();
    int pageCount = 0;
    const QString difference = DifferenceFromDocument(page, preview->mWordFile, PicturePageLimit, &pageCount);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QVERIFY2(pageCount > PicturePageLimit, qPrintable(QString::number(pageCount)));
    QCOMPARE(dialogs.shown.size(), 1);
    QCOMPARE(dialogs.shown.at(0).text, QStringLiteral("The letter has %1 pages; the preview shows the first %2.")
                                           .arg(pageCount).arg(PicturePageLimit));

    // The working document holds every other field's text (the readers leave long runs of tabs out).
    const QString text = AntiwordText(preview->mWordFile);
    for (int i = 0; i < TypedFieldCount; ++i) {
        if (i != company)
            QVERIFY2(text.contains(form.ReadField(i)), qPrintable(form.ReadField(i)));
    }
}

QTEST_MAIN(BadInputTest)
#include "test_bad_input.moc"
