// inkhaven-batch end to end: the real program with real offices turns a list into letters,
// read back with an independent reader.
#include "DocumentText.h"
#include "Fields.h"
#include "SettingsStore.h"
#include "SpreadsheetFiles.h"
#include "Version.h"

#include <QDirIterator>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {
struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Every process whose command line mentions text: an office started by the program has its
// private folder, and with it the test's folder, on its command line.
QStringList ProcessesMentioning(const QString& text)
{
    QStringList found;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
        const QByteArray commandLine = FileBytes(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (commandLine.contains(text.toUtf8()))
            found << pid + QLatin1Char(' ') + QString::fromUtf8(commandLine.left(60));
    }
    return found;
}

}

class BatchOfficeTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void commandLine();
    void listBecomesLetters();
    void listsAsExported();
    void stopsAfterTheLettersUnderWay();
    void cleanup();

private:
    Result Run(const QStringList& arguments, const std::function<void(QProcess&)>& whileRunning = {},
               const QString& standardOutput = {});
    QString Output(const QString& name) const { return mOutput.filePath(name); }

    QTemporaryDir mHome;
    QTemporaryDir mOutput;
};

void BatchOfficeTest::initTestCase()
{
    QVERIFY(mHome.isValid() && mOutput.isValid());
    // Settings, working files and the offices' private folders all go to the test's folder.
    qputenv("XDG_CONFIG_HOME", mHome.filePath(QStringLiteral("config")).toUtf8());
    qputenv("TEMP", mHome.path().toUtf8());
    qputenv("TMPDIR", mHome.path().toUtf8());
    QSettingsStore settings;
    const QString app = QLatin1String(SettingsApplication);
    const QString section = QLatin1String(SettingsSection);
    settings.WriteSetting(app, section, FieldKey(0), QStringLiteral("Sam Sender"));
    settings.WriteSetting(app, section, FieldKey(12), QStringLiteral("Head of Sales"));
    settings.WriteSetting(app, section, FieldKey(11), QStringLiteral("Saved Company"));
    settings.WriteSetting(app, section, FieldKey(1), QStringLiteral("Boise"));
}

void BatchOfficeTest::cleanup()
{
    // Every office ended and took its private folder with it; the working folder went too.
    QCOMPARE(ProcessesMentioning(mHome.path()), QStringList());
    QCOMPARE(QDir(mHome.path()).entryList({QStringLiteral("inkhaven-*")}, QDir::AllEntries | QDir::Hidden), QStringList());
    // Nothing half-written is ever left in the output folder.
    QCOMPARE(QDir(mOutput.path()).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden), QStringList());
}

Result BatchOfficeTest::Run(const QStringList& arguments, const std::function<void(QProcess&)>& whileRunning,
                            const QString& standardOutput)
{
    QProcess batch;
    if (!standardOutput.isEmpty())
        batch.setStandardOutputFile(standardOutput);
    batch.start(QStringLiteral(INKHAVEN_BATCH), arguments);
    if (!batch.waitForStarted(30000))
        return {};
    if (whileRunning)
        whileRunning(batch);
    batch.waitForFinished(240000);
    return {batch.exitStatus() == QProcess::NormalExit ? batch.exitCode() : -1,
            QString::fromUtf8(batch.readAllStandardOutput()), QString::fromUtf8(batch.readAllStandardError())};
}

void BatchOfficeTest::commandLine()
{
    const Result help = Run({QStringLiteral("--help")});
    QCOMPARE(help.exitCode, 0);
    QVERIFY2(help.out.startsWith(QLatin1String("Usage: inkhaven-batch [OPTION]... LIST OUTPUT-FOLDER\n"))
                 && help.out.contains(QLatin1String("--offices <N>")) && help.err.isEmpty(),
             qPrintable(help.out + help.err));
    const Result version = Run({QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out.section(QLatin1Char('\n'), 0, 0), QStringLiteral("inkhaven-batch (Inkhaven) " INKHAVEN_VERSION));

    // A usage error is one line under the program's name, and where the help is.
    const Result wrong = Run({QStringLiteral("--pfd"), QStringLiteral("list.csv"), mOutput.path()});
    QCOMPARE(wrong.exitCode, 2);
    QCOMPARE(wrong.err, QStringLiteral("inkhaven-batch: Unknown option 'pfd'.\nTry 'inkhaven-batch --help'.\n"));
    QCOMPARE(wrong.out, QString());

    // Standard output on a full disk: the reason, and a status that says so.
    const Result full = Run({QStringLiteral("--version")}, {}, QStringLiteral("/dev/full"));
    QCOMPARE(full.exitCode, 1);
    QCOMPARE(full.err, QStringLiteral("inkhaven-batch: standard output cannot be written: %1\n")
                           .arg(QString::fromLocal8Bit(std::strerror(ENOSPC))));
}

void BatchOfficeTest::listBecomesLetters()
{
    const QString list = mHome.filePath(QStringLiteral("list.csv"));
    // A byte-order mark, quoted commas and quotes, a value over two lines, non-ASCII text, an
    // empty value (ST2 of line 3), an empty company (named after the recipient) and one bad line.
    WriteFile(list, QByteArray("\xEF\xBB\xBF") + "RecipientName,CompanyName,StreetAddress2,City2,ST2,ZIPCode2,Title\r\n"
                    "\"Smith, John\",\"Acme, Inc.\",1 Main St,Springfield,IL,62701,Buyer\r\n"
                    "Zo\xC3\xAB M\xC3\xBCller,\xC3\x9Cnterwald GmbH,Hauptstra\xC3\x9F" "e 5,K\xC3\xB6ln,,50667,Eink\xC3\xA4uferin\r\n"
                    "Bad,Line,Only,Four\r\n"
                    "\"O'Brien \"\"Bob\"\"\",,\"PO Box 9\r\nSuite 3\",Dublin,OH,43017,Owner\r\n");
    const Result first = Run({QStringLiteral("--pdf"), list, mOutput.path()});
    QCOMPARE(first.exitCode, 1);
    QVERIFY2(first.err.startsWith(QLatin1String("inkhaven-batch: Line 4: it has 4 values, but the list has 7 columns")),
             qPrintable(first.err));
    QCOMPARE(first.err.count(QLatin1String("Line ")), 1);
    QVERIFY2(first.out.contains(QLatin1String("4 rows in the list: 3 letters made in")) &&
                 first.out.endsWith(QLatin1String(", 1 failed.\n")),
             qPrintable(first.out));

    const QString acme = Output(QStringLiteral("2-Acme, Inc.doc"));
    const QString koeln = Output(QStringLiteral("3-\u00DCnterwald GmbH.doc"));
    const QString bob = Output(QStringLiteral("5-O'Brien _Bob_.doc"));
    QCOMPARE(QDir(mOutput.path()).entryList(QDir::Files).size(), 6);
    const QString today = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
    const QString acmeText = AntiwordText(acme);
    for (const char* value : {"Smith, John", "Acme, Inc.", "1 Main St", "Springfield, IL 62701", "Buyer", "Sam Sender",
                              "Head of Sales", "Boise"})
        QVERIFY2(acmeText.contains(QLatin1String(value)), value);
    QVERIFY(acmeText.count(today) >= 2);
    QVERIFY(!acmeText.contains(QLatin1String("Saved Company")));
    const QString koelnText = CatdocText(koeln);
    QVERIFY2(koelnText.contains(QStringLiteral("Zo\u00EB M\u00FCller")) && koelnText.contains(QStringLiteral("Hauptstra\u00DFe 5")),
             qPrintable(koelnText));
    QVERIFY(koelnText.contains(QStringLiteral("K\u00F6ln,  50667")));
    const QString bobText = AntiwordText(bob);
    QVERIFY2(bobText.contains(QLatin1String("O'Brien \"Bob\"")) && bobText.contains(QLatin1String("Suite 3")), qPrintable(bobText));
    for (const QString& letter : {acmeText, koelnText, bobText}) {
        for (const char* tag : FieldTags)
            QVERIFY2(!letter.contains(QLatin1String(tag), Qt::CaseInsensitive), tag);
    }
    QVERIFY(FileBytes(Output(QStringLiteral("5-O'Brien _Bob_.pdf"))).startsWith("%PDF"));

    // Again: nothing is written over; every line is told and skipped.
    WriteFile(koeln, "the user's own file");
    const Result again = Run({list, mOutput.path()});
    QCOMPARE(again.exitCode, 1);
    QCOMPARE(again.err.count(QLatin1String("exists already")), 3);
    QCOMPARE(FileBytes(koeln), QByteArray("the user's own file"));

    // --force makes them again.
    const Result forced = Run({QStringLiteral("--force"), list, mOutput.path()});
    QCOMPARE(forced.exitCode, 1);
    QVERIFY(CatdocText(koeln).contains(QStringLiteral("Zo\u00EB M\u00FCller")));
    QVERIFY2(forced.out.contains(QLatin1String("[3/3] ")) && forced.out.contains(QLatin1String("3 letters made")),
             qPrintable(forced.out));
}

void BatchOfficeTest::listsAsExported()
{
    // "CSV" as a Western European spreadsheet saves it, given on standard input: Windows-1252,
    // semicolons, a column that fills no field, a stray empty column and a touched empty row.
    const QByteArray western = "Company Name;Recipient_Name;E-Mail;;ZIP-Code 2\r\n"
                               "M\xFCller & S\xF6hne;J\xFCrgen;j@example.com;;80331\r\n"
                               ";;;;\r\n"
                               "Caf\xE9 Lumi\xE8re;Ren\xE9;r@example.com;;75001\r\n";
    const QString folder = mOutput.filePath(QStringLiteral("western"));
    const Result read = Run({QStringLiteral("-"), folder}, [&](QProcess& batch) {
        batch.write(western);
        batch.closeWriteChannel();
    });
    QCOMPARE(read.exitCode, 0);
    QCOMPARE(read.err.count(QLatin1String("Windows-1252")), 1);
    QVERIFY2(read.err.contains(QLatin1String("separated by semicolons")) &&
                 read.err.contains(QLatin1String("columns E-Mail fill no field")),
             qPrintable(read.err));
    QVERIFY2(read.out.endsWith(QLatin1String("3 rows in the list: 2 letters made in \"%1\", 1 empty.\n").arg(folder)),
             qPrintable(read.out));
    QCOMPARE(QDir(folder).entryList(QDir::Files),
             (QStringList{QStringLiteral("2-M\u00FCller & S\u00F6hne.doc"), QStringLiteral("4-Caf\u00E9 Lumi\u00E8re.doc")}));
    const QString mueller = CatdocText(QDir(folder).filePath(QStringLiteral("2-M\u00FCller & S\u00F6hne.doc")));
    QVERIFY2(mueller.contains(QStringLiteral("J\u00FCrgen")) && mueller.contains(QLatin1String("80331")) &&
                 !mueller.contains(QLatin1String("example.com")),
             qPrintable(mueller));

    // An .xlsx as Excel saves it: ZIP codes as numbers, one kept with its leading zero by its format.
    const QString workbook = mHome.filePath(QStringLiteral("list.xlsx"));
    WriteFile(workbook, XlsxFile({{TextCell(QStringLiteral("Company Name")), TextCell(QStringLiteral("ZIP Code 2"))},
                                  {TextCell(QStringLiteral("Acme")), NumberCell(62701)},
                                  {TextCell(QStringLiteral("Beta")), NumberCell(2134, QStringLiteral("00000"))}}));
    const QString sheetFolder = mOutput.filePath(QStringLiteral("sheet"));
    QCOMPARE(Run({workbook, sheetFolder}).exitCode, 0);
    const QString acme = AntiwordText(QDir(sheetFolder).filePath(QStringLiteral("2-Acme.doc")));
    QVERIFY2(acme.contains(QLatin1String("62701")) && !acme.contains(QLatin1String("62701.")), qPrintable(acme));
    QVERIFY(AntiwordText(QDir(sheetFolder).filePath(QStringLiteral("3-Beta.doc"))).contains(QLatin1String("02134")));

    // A list with no rows, and one without end.
    const QString header = mHome.filePath(QStringLiteral("header.csv"));
    WriteFile(header, "CompanyName,City\n,\n");
    const QString none = mOutput.filePath(QStringLiteral("none"));
    const Result empty = Run({header, none});
    QCOMPARE(empty.exitCode, 1);
    QVERIFY2(empty.err.contains(QLatin1String("no rows to make letters from (1 row empty)")), qPrintable(empty.err));
    QVERIFY(!QFileInfo::exists(none));
    const Result endless = Run({QStringLiteral("/dev/zero"), none});
    QCOMPARE(endless.exitCode, 2);
    QVERIFY2(endless.err.contains(QLatin1String("is larger than 16 MB")), qPrintable(endless.err));
}

void BatchOfficeTest::stopsAfterTheLettersUnderWay()
{
    QByteArray lines = "RecipientName,CompanyName\n";
    constexpr int Count = 30;
    for (int i = 1; i <= Count; ++i)
        lines += "Person " + QByteArray::number(i) + ",Company " + QByteArray::number(i) + "\n";
    const QString list = mHome.filePath(QStringLiteral("many.csv"));
    WriteFile(list, lines);
    const QString folder = mOutput.filePath(QStringLiteral("stopped"));

    const Result stopped = Run({list, folder}, [](QProcess& batch) {
        // Ctrl+C once the first letter is done.
        QTRY_VERIFY_WITH_TIMEOUT(batch.bytesAvailable() > 0 || batch.state() != QProcess::Running, 120000);
        ::kill(static_cast<pid_t>(batch.processId()), SIGINT);
    });
    QCOMPARE(stopped.exitCode, 130);
    QVERIFY2(stopped.out.contains(QLatin1String("not begun")), qPrintable(stopped.out));
    const QStringList made = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    QVERIFY2(!made.isEmpty() && made.size() < Count, qPrintable(made.join(QLatin1Char(','))));
    // Each file there is a whole letter.
    for (const QString& name : made) {
        const QString person = QStringLiteral("Person %1").arg(name.section(QLatin1Char('-'), 0, 0).toInt() - 1);
        QVERIFY2(AntiwordText(QDir(folder).filePath(name)).contains(person), qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(BatchOfficeTest)
#include "test_batch_office.moc"
