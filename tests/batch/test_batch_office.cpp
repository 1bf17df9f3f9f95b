// inkhaven-batch end to end: the real program with real offices turns a list into letters,
// read back with an independent reader.
#include "Version.h"
#include "core/Platform.h"
#include "files/SettingsStore.h"
#include "generation/Fields.h"
#include "support/DocumentText.h"
#include "support/SpreadsheetFiles.h"

#include <QDirIterator>
#include <QLocale>
#include <QProcess>
#include <QUrl>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

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

// The sockets the offices now running for the test listen on: named after the pipe on
// their command line, in the office's own folder (its /tmp in the sandbox) or, where no
// sandbox can be made, in the shared /tmp (an office still starting has none yet).
QStringList OfficeSockets(const QString& text)
{
    static const QRegularExpression pipe(QStringLiteral("UserInstallation=file://([^\\x00]+)/profile.*--accept=pipe,name=([^;]+);"));
    QStringList sockets;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
        const QString commandLine = QString::fromUtf8(FileBytes(QStringLiteral("/proc/%1/cmdline").arg(pid)));
        const QRegularExpressionMatch name = pipe.match(commandLine);
        for (const QString& folder : {name.captured(1) + QStringLiteral("/tmp"), QStringLiteral("/tmp")}) {
            const QString socket = QStringLiteral("%1/OSL_PIPE_%2_%3").arg(folder).arg(::getuid()).arg(name.captured(2));
            if (commandLine.contains(text) && name.hasMatch() && QFileInfo::exists(socket))
                sockets << socket;
        }
    }
    return sockets;
}

// One table as a German office keeps it: umlauts, a euro sign, a separator and a line break
// inside values, ZIP codes kept with their leading zero by a number format, dates, amounts
// and counts in German formats (one by a formula), a row without a company, an empty row
// and ten rows at the end that are formatted but hold nothing.
constexpr char CustomerTable[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
 <office:automatic-styles>
  <number:number-style style:name="Zip"><number:number number:decimal-places="0" number:min-integer-digits="5"/></number:number-style>
  <number:date-style style:name="GermanDate" number:language="de" number:country="DE"><number:day number:style="long"/><number:text>.</number:text><number:month number:style="long"/><number:text>.</number:text><number:year number:style="long"/></number:date-style>
  <number:currency-style style:name="Euro" number:language="de" number:country="DE"><number:number number:decimal-places="2" number:min-decimal-places="2" number:min-integer-digits="1" number:grouping="true"/><number:text> </number:text><number:currency-symbol number:language="de" number:country="DE">€</number:currency-symbol></number:currency-style>
  <number:number-style style:name="GermanCount" number:language="de" number:country="DE"><number:number number:decimal-places="0" number:min-integer-digits="1" number:grouping="true"/></number:number-style>
  <style:style style:name="cZip" style:family="table-cell" style:data-style-name="Zip"/>
  <style:style style:name="cDate" style:family="table-cell" style:data-style-name="GermanDate"/>
  <style:style style:name="cEuro" style:family="table-cell" style:data-style-name="Euro"/>
  <style:style style:name="cCount" style:family="table-cell" style:data-style-name="GermanCount"/>
  <style:style style:name="cFilled" style:family="table-cell" style:data-style-name="Euro"><style:table-cell-properties fo:background-color="#ffff00"/></style:style>
 </office:automatic-styles>
 <office:body>
  <office:spreadsheet>
   <table:table table:name="Kunden">
    <table:table-row>
     <table:table-cell office:value-type="string"><text:p>Recipient Name</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>Company Name</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>Street Address</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>City</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>ZIP Code</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>Since</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>Offer</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>Units</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>Note</text:p></table:table-cell>
    </table:table-row>
    <table:table-row>
     <table:table-cell office:value-type="string"><text:p>Jürgen Weiß</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>Müller &amp; Söhne GmbH</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>Königstraße 5</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>Stuttgart</text:p></table:table-cell>
     <table:table-cell table:style-name="cZip" office:value-type="float" office:value="70173"><text:p>70173</text:p></table:table-cell>
     <table:table-cell table:style-name="cDate" office:value-type="date" office:date-value="2026-08-20"><text:p>20.08.2026</text:p></table:table-cell>
     <table:table-cell table:style-name="cEuro" office:value-type="currency" office:currency="EUR" office:value="150000"><text:p>150.000,00 €</text:p></table:table-cell>
     <table:table-cell table:style-name="cCount" table:formula="of:=600*2" office:value-type="float" office:value="1200"><text:p>1.200</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>Preis; netto</text:p></table:table-cell>
    </table:table-row>
    <table:table-row>
     <table:table-cell office:value-type="string"><text:p>Petra Lindqvist</text:p></table:table-cell>
     <table:table-cell/>
     <table:table-cell office:value-type="string"><text:p>Hauptstr. 1</text:p><text:p>Hinterhaus</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>Dresden</text:p></table:table-cell>
     <table:table-cell table:style-name="cZip" office:value-type="float" office:value="1234"><text:p>01234</text:p></table:table-cell>
     <table:table-cell table:style-name="cDate" office:value-type="date" office:date-value="2025-01-31"><text:p>31.01.2025</text:p></table:table-cell>
     <table:table-cell table:style-name="cEuro" office:value-type="currency" office:currency="EUR" office:value="1234.5"><text:p>1.234,50 €</text:p></table:table-cell>
     <table:table-cell table:style-name="cCount" table:formula="of:=3*4" office:value-type="float" office:value="12"><text:p>12</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>ohne Firma</text:p></table:table-cell>
    </table:table-row>
    <table:table-row>
     <table:table-cell table:number-columns-repeated="9"/>
    </table:table-row>
    <table:table-row>
     <table:table-cell office:value-type="string"><text:p>Zoë Ångström</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>Café Lumière</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>1 Rue de la Paix</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>Paris</text:p></table:table-cell>
     <table:table-cell table:style-name="cZip" office:value-type="float" office:value="75001"><text:p>75001</text:p></table:table-cell>
     <table:table-cell table:style-name="cDate" office:value-type="date" office:date-value="2026-12-24"><text:p>24.12.2026</text:p></table:table-cell>
     <table:table-cell table:style-name="cEuro" office:value-type="currency" office:currency="EUR" office:value="99.9"><text:p>99,90 €</text:p></table:table-cell>
     <table:table-cell table:style-name="cCount" table:formula="of:=1000*1000" office:value-type="float" office:value="1000000"><text:p>1.000.000</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>Prix: 5 €</text:p></table:table-cell>
    </table:table-row>
    <table:table-row table:number-rows-repeated="10">
     <table:table-cell table:style-name="cFilled" table:number-columns-repeated="9"/>
    </table:table-row>
   </table:table>
  </office:spreadsheet>
 </office:body>
</office:document>
)";

// Saves content, a flat OpenDocument file named sourceName, with LibreOffice itself (Calc or
// Writer, as its kind asks), through filter, as name in folder; empty when it could not.
QString SavedByOffice(const QString& folder, const QString& sourceName, const QByteArray& content, const QString& name,
                      const QString& filter)
{
    const QString source = QDir(folder).filePath(sourceName);
    WriteFile(source, content);
    const QString saved = QDir(folder).filePath(name);
    QProcess calc;
    calc.setProcessChannelMode(QProcess::MergedChannels);
    calc.start(QStringLiteral("soffice"),
               {QStringLiteral("--headless"), QStringLiteral("--norestore"),
                QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(QDir(folder).filePath(QStringLiteral("calc-profile"))).toString(),
                QStringLiteral("--convert-to"), filter, QStringLiteral("--outdir"), QDir(folder).filePath(name + QStringLiteral(".d")), source});
    if (!calc.waitForFinished(180000) || calc.exitCode() != 0)
        return QString();
    const QString made = QDir(folder).filePath(name + QStringLiteral(".d/") + QFileInfo(sourceName).completeBaseName() +
                                               QLatin1Char('.') + QFileInfo(name).suffix());
    return QFile::rename(made, saved) ? saved : QString();
}

QByteArray ManyLines(int count)
{
    QByteArray lines = "RecipientName,CompanyName\n";
    for (int i = 1; i <= count; ++i)
        lines += "Person " + QByteArray::number(i) + ",Company " + QByteArray::number(i) + "\n";
    return lines;
}

// A flat OpenDocument text made here, without an office: body holds the body text (it may
// hold a table, and spans of the text styles Bold and Italic), and the page style's header
// and footer and a rectangle shape hold the texts given.
QByteArray FlatTemplate(const QByteArray& header, const QByteArray& footer, const QByteArray& shape, const QByteArray& body)
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
 <office:automatic-styles><style:page-layout style:name="pm1"><style:page-layout-properties fo:page-width="8.5in" fo:page-height="11in" fo:margin="1in"/></style:page-layout>
  <style:style style:name="Bold" style:family="text"><style:text-properties fo:font-weight="bold"/></style:style>
  <style:style style:name="Italic" style:family="text"><style:text-properties fo:font-style="italic"/></style:style></office:automatic-styles>
 <office:master-styles><style:master-page style:name="Standard" style:page-layout-name="pm1">
  <style:header><text:p>)" + header + R"(</text:p></style:header>
  <style:footer><text:p>)" + footer + R"(</text:p></style:footer>
 </style:master-page></office:master-styles>
 <office:body><office:text>)" + body + R"(
  <text:p><draw:rect draw:name="Box" text:anchor-type="paragraph" svg:width="4in" svg:height="1in" svg:x="0in" svg:y="0.5in"><text:p>)"
        + shape + R"(</text:p></draw:rect>After the shape.</text:p>
 </office:text></office:body>
</office:document>
)";
}

}

class BatchOfficeTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void commandLine();
    void listBecomesLetters();
    void listsAsExported();
    void listsSavedByCalc();
    void stopsAfterTheLettersUnderWay();
    void signalsEndTheBatchWhateverItDoes();
    void killedBatchLeavesNothingToTheNext();
    void settingsFileThatIsAFifoIsRefused();
    void formatsAndMergedFile();
    void aLinesFilesAreAllOrNone();
    void ownTemplate();
    void templatesRefused();
    void conditionalTexts();
    void lineItems();
    void shardsSideBySide();
    void oneOpenTemplateMakesEveryLetter();
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
    // The offices' private folders follow TEMP, not TMPDIR.
    QVERIFY(QDir(mHome.path()).mkdir(QStringLiteral("tmpdir")));
    qputenv("TMPDIR", mHome.filePath(QStringLiteral("tmpdir")).toUtf8());
    // The leftovers' journals of the batches are the test's own.
    qputenv("XDG_CACHE_HOME", mHome.filePath(QStringLiteral("cache")).toUtf8());
    QSettingsStore settings;
    const QString app = QLatin1String(SettingsApplication);
    const QString section = QLatin1String(SettingsSection);
    settings.WriteSetting(app, section, FieldKey(0), QStringLiteral("Sam Sender"));
    settings.WriteSetting(app, section, FieldKey(12), QStringLiteral("Head of Sales"));
    settings.WriteSetting(app, section, FieldKey(11), QStringLiteral("Saved Company"));
    settings.WriteSetting(app, section, FieldKey(1), QStringLiteral("Boise"));
    settings.WriteSetting(app, section, FieldKey(6), QStringLiteral("1 Sender Way"));
    settings.WriteSetting(app, section, FieldKey(8), QStringLiteral("ID"));
    settings.WriteSetting(app, section, FieldKey(9), QStringLiteral("83702"));
    // The recipient's fields as the window saved them for its last letter.
    settings.WriteSetting(app, section, FieldKey(2), QStringLiteral("60601"));
    settings.WriteSetting(app, section, FieldKey(3), QStringLiteral("IL"));
    settings.WriteSetting(app, section, FieldKey(4), QStringLiteral("9 Saved Road"));
    settings.WriteSetting(app, section, FieldKey(5), QStringLiteral("Chicago"));
    settings.WriteSetting(app, section, FieldKey(7), QStringLiteral("Saved Recipient"));
    settings.WriteSetting(app, section, FieldKey(10), QStringLiteral("Saved Title"));
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

    // A server without a display, or without Qt's GUI libraries, runs it: the program links
    // none of them, as its own NEEDED entries say (Qt Core among them, or nothing was read).
    QProcess readelf;
    readelf.start(QStringLiteral("readelf"), {QStringLiteral("-dW"), QStringLiteral(INKHAVEN_BATCH)});
    QVERIFY(readelf.waitForFinished(30000));
    QCOMPARE(readelf.exitCode(), 0);
    QStringList needed;
    for (const QString& line : QString::fromLocal8Bit(readelf.readAllStandardOutput()).split(QLatin1Char('\n')))
        if (line.contains(QLatin1String("(NEEDED)")))
            needed << line.section(QLatin1Char('['), 1).section(QLatin1Char(']'), 0, 0);
    QVERIFY2(needed.contains(QStringLiteral("libQt6Core.so.6")), qPrintable(needed.join(QLatin1Char(' '))));
    static const QRegularExpression gui(QStringLiteral("^lib(Qt6(Gui|Widgets|OpenGL)|poppler|X11|xcb|GL|EGL)"));
    QCOMPARE(needed.filter(gui), QStringList());
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
    const QDate date(2026, 3, 9);
    const Result first = Run({QStringLiteral("--pdf"), QStringLiteral("--date"), QStringLiteral("2026-03-09"),
                              QStringLiteral("--date-format"), QStringLiteral("d MMMM yyyy"), QStringLiteral("--language"),
                              QStringLiteral("de"), list, mOutput.path()});
    QCOMPARE(first.exitCode, 1);
    QVERIFY2(first.err.contains(QLatin1String("\"ZIPCode2\" fills the recipient's ZIP code ([ZIPCode2])\n")) &&
                 first.err.contains(QLatin1String("\ninkhaven-batch: Row 4: it has 4 values, but the list has 7 columns")),
             qPrintable(first.err));
    QCOMPARE(first.err.count(QLatin1String("Row ")), 1);
    QVERIFY2(first.out.contains(QLatin1String("4 rows in the list: 3 letters made in")) &&
                 first.out.endsWith(QLatin1String(", 1 failed.\nOf the letters: 1 letter without the recipient's company "
                                                  "([CompanyName]); 1 letter without the recipient's state ([ST2]).\n")),
             qPrintable(first.out));

    const QString acme = Output(QStringLiteral("2-Acme, Inc.doc"));
    const QString koeln = Output(QStringLiteral("3-\u00DCnterwald GmbH.doc"));
    const QString bob = Output(QStringLiteral("5-O'Brien _Bob_.doc"));
    QCOMPARE(QDir(mOutput.path()).entryList(QDir::Files).size(), 6);
    const QString letterDate = QStringLiteral("9 M\u00E4rz 2026");
    const QString acmeText = AntiwordText(acme);
    for (const char* value : {"Smith, John", "Acme, Inc.", "1 Main St", "Springfield, IL 62701", "Buyer", "Sam Sender",
                              "Head of Sales", "Boise"})
        QVERIFY2(acmeText.contains(QLatin1String(value)), value);
    QVERIFY(acmeText.count(letterDate) >= 2);
    QVERIFY(!acmeText.contains(QLatin1String("Saved Company")));
    // The header of the pages after the first names the recipient and the letter's date as
    // the text writes it, not the template's placeholder and creation date.
    const QString acmeWithHeader = CatdocText(acme);
    QVERIFY2(acmeWithHeader.contains(
                 QRegularExpression(QStringLiteral("Smith, John\\s+%1\\s+Page").arg(QRegularExpression::escape(letterDate)))),
             qPrintable(acmeWithHeader.right(300)));
    QVERIFY(!acmeWithHeader.contains(QLatin1String("Recipient Name")) && !acmeWithHeader.contains(QLatin1String("2024")));
    const QString koelnText = CatdocText(koeln);
    QVERIFY2(koelnText.contains(QStringLiteral("Zo\u00EB M\u00FCller")) && koelnText.contains(QStringLiteral("Hauptstra\u00DFe 5")),
             qPrintable(koelnText));
    // No state: its comma goes with it.
    QVERIFY2(koelnText.contains(QStringLiteral("K\u00F6ln 50667\n")), qPrintable(koelnText));
    const QString bobText = AntiwordText(bob);
    // No company: its line is left out of the address, not left empty.
    QVERIFY2(bobText.contains(QLatin1String("O'Brien \"Bob\"\nOwner\nPO Box 9\nSuite 3\nDublin, OH 43017\n")),
             qPrintable(bobText.left(300)));
    for (const QString& letter : {acmeText, koelnText, bobText}) {
        for (const char* tag : FieldTags)
            QVERIFY2(!letter.contains(QLatin1String(tag), Qt::CaseInsensitive), tag);
    }
    QVERIFY(FileBytes(Output(QStringLiteral("5-O'Brien _Bob_.pdf"))).startsWith("%PDF"));

    // Again, the rows that gave letters: nothing is written over; every row is told, and
    // counts as done, since its letter is there.
    WriteFile(koeln, "the user's own file");
    const Result again = Run({QStringLiteral("--lines"), QStringLiteral("2,3,5"), list, mOutput.path()});
    QCOMPARE(again.exitCode, 0);
    QVERIFY2(again.out.contains(QLatin1String("3 already there")), qPrintable(again.out));
    QCOMPARE(again.err.count(QLatin1String("exists already")), 3);
    QCOMPARE(FileBytes(koeln), QByteArray("the user's own file"));

    // --force makes them again.
    const Result forced = Run({QStringLiteral("--force"), list, mOutput.path()});
    QCOMPARE(forced.exitCode, 1);
    // Without --date and --date-format, today's date as the window writes it.
    const QString koelnAgain = CatdocText(koeln);
    QVERIFY(koelnAgain.contains(QStringLiteral("Zo\u00EB M\u00FCller")));
    QVERIFY(koelnAgain.contains(QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat)));
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
    QVERIFY2(empty.err.contains(QLatin1String("no rows to make letters from: its first row names the columns")), qPrintable(empty.err));
    QVERIFY(!QFileInfo::exists(none));
    const Result endless = Run({QStringLiteral("/dev/zero"), none});
    QCOMPARE(endless.exitCode, 2);
    QVERIFY2(endless.err.contains(QLatin1String("The list \"/dev/zero\" is longer than 64 MB")), qPrintable(endless.err));
}

void BatchOfficeTest::listsSavedByCalc()
{
    const QString sender = mHome.filePath(QStringLiteral("sender.ini"));
    WriteFile(sender, "[Inkhaven]\nText1_0=Anna Sender\nText1_12=Sales\nText1_6=K\xC3\xB6nigsallee 5\nText1_1=Berlin\n"
                      "Text1_8=BE\nText1_9=10115\n");
    const QString letter = mHome.filePath(QStringLiteral("offer.fodt"));
    WriteFile(letter, FlatTemplate("", "", "",
                                   "<text:p>To [Recipient Name] of [Company Name], [Street Address], [ZIP Code] [City].</text:p>"
                                   "<text:p>([Company Name])</text:p>"
                                   "<text:p>Since [Since]; offer [Offer]; units [Units]; note [Note]; from [YourName].</text:p>"));
    const QStringList lists = {
        SavedByOffice(mHome.path(), QStringLiteral("customers.fods"), CustomerTable, QStringLiteral("customers.xlsx"), QStringLiteral("xlsx:Calc MS Excel 2007 XML")),
        SavedByOffice(mHome.path(), QStringLiteral("customers.fods"), CustomerTable, QStringLiteral("customers.ods"), QStringLiteral("ods")),
        // Text CSV in Windows-1252 with semicolons, and Unicode text (UTF-16, tabs), each as shown.
        SavedByOffice(mHome.path(), QStringLiteral("customers.fods"), CustomerTable, QStringLiteral("customers.csv"), QStringLiteral("csv:Text - txt - csv (StarCalc):59,34,1,1,,0,false,true,true")),
        SavedByOffice(mHome.path(), QStringLiteral("customers.fods"), CustomerTable, QStringLiteral("customers.txt"), QStringLiteral("txt:Text - txt - csv (StarCalc):9,34,65535,1,,0,false,true,true")),
    };
    // A paragraph of nothing but empty tags is left out, and an empty tag's separator with it.
    const QStringList letters = {
        QStringLiteral("To J\u00FCrgen Wei\u00DF of M\u00FCller & S\u00F6hne GmbH, K\u00F6nigstra\u00DFe 5, 70173 Stuttgart. (M\u00FCller & S\u00F6hne GmbH) Since 20.08.2026; "
                       "offer 150.000,00 \u20AC; units 1.200; note Preis; netto; from Anna Sender."),
        QStringLiteral("To Petra Lindqvist of Hauptstr. 1 Hinterhaus, 01234 Dresden. Since 31.01.2025; offer 1.234,50 \u20AC; "
                       "units 12; note ohne Firma; from Anna Sender."),
        QStringLiteral("To Zo\u00EB \u00C5ngstr\u00F6m of Caf\u00E9 Lumi\u00E8re, 1 Rue de la Paix, 75001 Paris. (Caf\u00E9 Lumi\u00E8re) Since 24.12.2026; "
                       "offer 99,90 \u20AC; units 1.000.000; note Prix: 5 \u20AC; from Anna Sender."),
    };
    const QStringList names = {QStringLiteral("2-M\u00FCller & S\u00F6hne GmbH.pdf"), QStringLiteral("3-Petra Lindqvist.pdf"),
                               QStringLiteral("5-Caf\u00E9 Lumi\u00E8re.pdf")};
    for (const QString& list : lists) {
        QVERIFY2(!list.isEmpty(), "Calc did not save the table");
        const QString folder = mOutput.filePath(QFileInfo(list).fileName());
        const Result run = Run({QStringLiteral("--sender"), sender, QStringLiteral("--template"), letter, QStringLiteral("--format"),
                                QStringLiteral("pdf"), list, folder});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.endsWith(QStringLiteral("4 rows in the list: 3 letters made in \"%1\", 1 empty.\nOf the letters: 1 letter "
                                                 "without [Company Name].\n").arg(folder)),
                 qPrintable(run.out));
        QCOMPARE(QDir(folder).entryList(QDir::Files), names);
        for (qsizetype i = 0; i < names.size(); ++i)
            QCOMPARE(PdftotextText(QDir(folder).filePath(names[i])).simplified(), letters[i] + QStringLiteral(" After the shape."));
    }

    // Rows as the spreadsheet numbers them, whichever way the table was saved: row 4 is empty.
    for (const QString& list : lists) {
        const Result plan = Run({QStringLiteral("--dry-run"), QStringLiteral("--lines"), QStringLiteral("4-5"), QStringLiteral("--sender"),
                                 sender, QStringLiteral("--allow-empty"), QStringLiteral("Title,ST2"), list, mOutput.filePath(QStringLiteral("planned"))});
        QCOMPARE(plan.exitCode, 0);
        QVERIFY2(plan.out.contains(QStringLiteral("1 of the list's 4 rows is this run's: row 5.\n")) &&
                     plan.out.contains(QStringLiteral("\"Street Address\" fills the recipient's street address ([StreetAddress2])\n")) &&
                     plan.out.contains(QStringLiteral("  row 5: %1\n").arg(QDir::toNativeSeparators(mOutput.filePath(QStringLiteral("planned/5-Caf\u00E9 Lumi\u00E8re.doc"))))),
                 qPrintable(plan.out));
        QVERIFY(!QFileInfo::exists(mOutput.filePath(QStringLiteral("planned"))));
    }

    // The built-in letter: the list's address is the recipient's, the sender comes from the
    // file, and the empty state takes its comma with it.
    const QString builtIn = mOutput.filePath(QStringLiteral("built-in"));
    const Result run = Run({QStringLiteral("--sender"), sender, QStringLiteral("--allow-empty"), QStringLiteral("Title,ST2"),
                            QStringLiteral("--lines"), QStringLiteral("2"), lists.front(), builtIn});
    QCOMPARE(run.exitCode, 0);
    const QString text = AntiwordText(QDir(builtIn).filePath(QStringLiteral("2-M\u00FCller & S\u00F6hne GmbH.doc")));
    for (const QString& value : {QStringLiteral("Anna Sender"), QStringLiteral("K\u00F6nigsallee 5"), QStringLiteral("K\u00F6nigstra\u00DFe 5"),
                                 QStringLiteral("Stuttgart 70173")})
        QVERIFY2(text.contains(value), qPrintable(value + QStringLiteral(" is not in:\n") + text));
}

void BatchOfficeTest::stopsAfterTheLettersUnderWay()
{
    constexpr int Count = 30;
    const QString list = mHome.filePath(QStringLiteral("many.csv"));
    WriteFile(list, ManyLines(Count));
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

    // Its private folder renamed away by another program: the run stops at the first letter
    // that fails for it, saying why, rather than failing letter after letter.
    const QString moved = mHome.filePath(QStringLiteral("moved-away"));
    const auto removeMoved = qScopeGuard([&] { QDir(moved).removeRecursively(); });
    const Result renamed = Run({list, mOutput.filePath(QStringLiteral("renamed"))}, [&](QProcess& batch) {
        QTRY_VERIFY_WITH_TIMEOUT(batch.bytesAvailable() > 0 || batch.state() != QProcess::Running, 120000);
        const QStringList work = QDir(mHome.path()).entryList({QStringLiteral("inkhaven-batch-*")}, QDir::Dirs);
        QCOMPARE(work.size(), 1);
        QVERIFY(QDir(mHome.path()).rename(work.constFirst(), QStringLiteral("moved-away")));
    });
    QVERIFY2(renamed.exitCode != 0 && renamed.exitCode != 130 && renamed.err.contains(QLatin1String("was removed or renamed")),
             qPrintable(renamed.err));
    QVERIFY(QDir(mOutput.filePath(QStringLiteral("renamed"))).entryList(QDir::Files).size() < Count);
}

void BatchOfficeTest::signalsEndTheBatchWhateverItDoes()
{
    // Reading a list from a pipe that nobody writes to.
    const QString pipe = mHome.filePath(QStringLiteral("pipe.csv"));
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const Result reading = Run({pipe, mOutput.filePath(QStringLiteral("unread"))}, [](QProcess& batch) {
        QTest::qWait(1000);
        ::kill(static_cast<pid_t>(batch.processId()), SIGTERM);
    });
    QCOMPARE(reading.exitCode, 130);
    QFile::remove(pipe);

    // Starting its offices.
    const QString list = mHome.filePath(QStringLiteral("few.csv"));
    WriteFile(list, ManyLines(10));
    const Result starting = Run({list, mOutput.filePath(QStringLiteral("starting"))}, [this](QProcess& batch) {
        QTRY_VERIFY_WITH_TIMEOUT(!OfficeSockets(mHome.path()).isEmpty(), 60000);
        ::kill(static_cast<pid_t>(batch.processId()), SIGTERM);
    });
    QCOMPARE(starting.exitCode, 130);
    QVERIFY2(starting.out.contains(QLatin1String("not begun")), qPrintable(starting.out));
}

void BatchOfficeTest::killedBatchLeavesNothingToTheNext()
{
    const QString list = mHome.filePath(QStringLiteral("killed.csv"));
    WriteFile(list, ManyLines(30));
    QStringList sockets;
    Run({list, mOutput.filePath(QStringLiteral("killed"))}, [&](QProcess& batch) {
        QTRY_VERIFY_WITH_TIMEOUT(batch.bytesAvailable() > 0 || batch.state() != QProcess::Running, 120000);
        sockets = OfficeSockets(mHome.path());
        ::kill(static_cast<pid_t>(batch.processId()), SIGKILL);
    });
    // Its offices end with it, leaving their folders and sockets, and the working folder stays.
    QTRY_VERIFY_WITH_TIMEOUT(ProcessesMentioning(mHome.path()).isEmpty(), 60000);
    QVERIFY(!sockets.isEmpty());
    for (const QString& socket : sockets)
        QVERIFY2(QFileInfo::exists(socket), qPrintable(socket));
    QVERIFY(!QDir(mHome.path()).entryList({QStringLiteral("inkhaven-batch-*")}, QDir::Dirs).isEmpty());
    QVERIFY(!QDir(mHome.path()).entryList({QStringLiteral("inkhaven-office-*")}, QDir::Dirs).isEmpty());

    // The next batch removes them, even one that makes no letter.
    const Result next = Run({mHome.filePath(QStringLiteral("no such list.csv")), mOutput.path()});
    QCOMPARE(next.exitCode, 2);
    for (const QString& socket : sockets)
        QVERIFY2(!QFileInfo::exists(socket), qPrintable(socket));
}

// The settings file, from which the sender's fields come, is a FIFO: the batch reads it
// without waiting for a writer that never comes, says why it cannot use it, and makes no
// letter.
void BatchOfficeTest::settingsFileThatIsAFifoIsRefused()
{
    QTemporaryDir config;
    const QString fifo = config.filePath(QStringLiteral("Kestrelworks.ini"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString list = mHome.filePath(QStringLiteral("recipients.csv"));
    WriteFile(list, "RecipientName,CompanyName\nJane Doe,Doe Ltd\n");
    const QString folder = mOutput.filePath(QStringLiteral("from-fifo"));
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const Result refused = Run({list, folder});
    qputenv("XDG_CONFIG_HOME", saved);
    QVERIFY2(refused.exitCode > 0, qPrintable(refused.err));
    QVERIFY2(refused.err.contains(fifo) && refused.err.contains(QLatin1String("FIFO")), qPrintable(refused.err));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
    struct stat info {};
    QVERIFY(::lstat(QFile::encodeName(fifo).constData(), &info) == 0 && S_ISFIFO(info.st_mode));
}

void BatchOfficeTest::formatsAndMergedFile()
{
    const QString list = mHome.filePath(QStringLiteral("formats.csv"));
    WriteFile(list, "RecipientName,CompanyName\nAnn Alder,Alder Ltd\nBad,Line,Three\nZo\xC3\xAB Zeller,Zeller AG\n");
    const QString folder = mOutput.filePath(QStringLiteral("formats"));
    const QString merged = mOutput.filePath(QStringLiteral("all.pdf"));
    const Result run = Run({QStringLiteral("--format"), QStringLiteral("docx,odt,pdf,doc"), QStringLiteral("--merged"), merged,
                            list, folder});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 8);
    const auto file = [&](const char* name) { return QDir(folder).filePath(QString::fromUtf8(name)); };
    // Each format read back by a reader of its own, none of them the office.
    for (const auto& [name, text] : {std::pair{"2-Alder Ltd", QStringLiteral("Ann Alder")}, {"4-Zeller AG", QStringLiteral("Zo\u00EB Zeller")}}) {
        QVERIFY2(ZipMemberText(file(name) + QStringLiteral(".docx"), QStringLiteral("word/document.xml")).contains(text), name);
        // Written by the user, not by the template's maker.
        const QString properties = ZipMemberXml(file(name) + QStringLiteral(".docx"), QStringLiteral("docProps/core.xml"));
        QVERIFY2(properties.contains(QStringLiteral("<dc:creator>%1</dc:creator>").arg(AccountName()))
                     && properties.contains(QStringLiteral("<cp:lastModifiedBy>%1</cp:lastModifiedBy>").arg(AccountName())),
                 qPrintable(properties));
        QVERIFY2(Odt2txtText(file(name) + QStringLiteral(".odt")).contains(text), name);
        QVERIFY2(PdftotextText(file(name) + QStringLiteral(".pdf")).contains(text), name);
        QVERIFY2(AntiwordText(file(name) + QStringLiteral(".doc")).contains(text), name);
        QVERIFY2(!ZipMemberXml(file(name) + QStringLiteral(".docx"), QStringLiteral("word/document.xml")).contains(QLatin1String("[Title]")), name);
    }
    // The progress names each letter's first file.
    QVERIFY2(run.out.contains(QLatin1String("2-Alder Ltd.docx")), qPrintable(run.out));

    // One PDF of every letter made, in list order, and word of the line that has none.
    const int pages = PdfinfoPages(file("2-Alder Ltd.pdf")) + PdfinfoPages(file("4-Zeller AG.pdf"));
    QVERIFY(pages >= 2);
    QCOMPARE(PdfinfoPages(merged), pages);
    const QString all = PdftotextText(merged);
    QVERIFY2(all.indexOf(QLatin1String("Dear Ann Alder")) >= 0
                 && all.indexOf(QLatin1String("Dear Ann Alder")) < all.indexOf(QStringLiteral("Dear Zo\u00EB Zeller")),
             qPrintable(all.left(400)));
    QVERIFY2(run.out.contains(QLatin1String("holds 2 letters")), qPrintable(run.out));
    QVERIFY2(run.err.contains(QLatin1String("lacks the letters of row 3")), qPrintable(run.err));

    // The merged file is never written over without --force: refused before any letter.
    WriteFile(list, "RecipientName\nCid Cole\n");
    const QByteArray before = FileBytes(merged);
    const Result again = Run({QStringLiteral("--merged"), merged, list, folder});
    QCOMPARE(again.exitCode, 2);
    QVERIFY2(again.err.contains(QLatin1String("exists already")), qPrintable(again.err));
    QCOMPARE(FileBytes(merged), before);
    QVERIFY(!QFileInfo::exists(QDir(folder).filePath(QStringLiteral("2-Cid Cole.doc"))));
    // Archivable, watermarked letters with the terms after each, as PDF readers other than
    // the office see them: PDF/A-2b (its metadata, every font embedded), tagged, titled, the
    // watermark on the letter's pages only, the terms' pages after each letter's and in the
    // merged file, every file whole for qpdf.
    const QString terms = SavedByOffice(mHome.path(), QStringLiteral("terms-source.fodt"),
                                        FlatTemplate("", "", "", "<text:p>General terms of sale.</text:p>"), QStringLiteral("terms.pdf"),
                                        QStringLiteral("pdf"));
    QVERIFY(!terms.isEmpty());
    const QString archived = mOutput.filePath(QStringLiteral("archived"));
    const QString archivedAll = mOutput.filePath(QStringLiteral("archived.pdf"));
    const auto tool = [](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.start(program, arguments);
        process.waitForFinished(60000);
        return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError()) +
               (process.exitCode() == 0 ? QString() : QStringLiteral("<exit %1>").arg(process.exitCode()));
    };
    const Result archiving = Run({QStringLiteral("--format"), QStringLiteral("pdf"), QStringLiteral("--pdf-a"), QStringLiteral("--watermark"),
                                  QStringLiteral("ENTWURF"), QStringLiteral("--append"), terms, QStringLiteral("--merged"), archivedAll,
                                  list, archived});
    QVERIFY2(archiving.exitCode == 0, qPrintable(archiving.err));
    const QString letterPdf = QDir(archived).filePath(QStringLiteral("2-Saved Company.pdf"));
    const int letterPages = PdfinfoPages(letterPdf);
    QVERIFY(letterPages >= 2);
    for (const QString& pdf : {letterPdf, archivedAll}) {
        QVERIFY2(tool(QStringLiteral("pdfinfo"), {QStringLiteral("-meta"), pdf}).contains(QRegularExpression(QStringLiteral("pdfaid:part(>|=\"|=')2"))), qPrintable(pdf));
        const QString info = tool(QStringLiteral("pdfinfo"), {pdf});
        QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Tagged:\\s+yes"))) && info.contains(QStringLiteral("2-Saved Company")), qPrintable(info));
        const QStringList fonts = tool(QStringLiteral("pdffonts"), {pdf}).split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(2);
        QVERIFY(!fonts.isEmpty());
        for (const QString& font : fonts)
            QVERIFY2(font.split(QLatin1Char(' '), Qt::SkipEmptyParts).value(font.split(QLatin1Char(' '), Qt::SkipEmptyParts).size() - 5) == QLatin1String("yes"), qPrintable(font));
        QVERIFY2(!tool(QStringLiteral("qpdf"), {QStringLiteral("--check"), pdf}).contains(QLatin1String("<exit")), qPrintable(pdf));
    }
    const auto page = [&](const QString& pdf, int number) {
        return tool(QStringLiteral("pdftotext"), {QStringLiteral("-f"), QString::number(number), QStringLiteral("-l"), QString::number(number), pdf, QStringLiteral("-")});
    };
    QVERIFY2(page(letterPdf, 1).contains(QLatin1String("ENTWURF")) && page(letterPdf, 1).contains(QLatin1String("Cid Cole")), qPrintable(page(letterPdf, 1)));
    QVERIFY2(page(letterPdf, letterPages).contains(QLatin1String("General terms")) && !page(letterPdf, letterPages).contains(QLatin1String("ENTWURF")),
             qPrintable(page(letterPdf, letterPages)));
    QCOMPARE(PdfinfoPages(archivedAll), letterPages);
    // A PDF to append that is none, is encrypted, or (for PDF/A) shows a font it does not
    // hold is refused before any letter, naming it; so is a part of PDF/A there is none of.
    const QString notPdf = mHome.filePath(QStringLiteral("terms.txt"));
    WriteFile(notPdf, "General terms");
    const QString locked = mHome.filePath(QStringLiteral("locked-terms.pdf"));
    QVERIFY(!tool(QStringLiteral("qpdf"), {QStringLiteral("--encrypt"), QStringLiteral("u"), QStringLiteral("o"), QStringLiteral("256"),
                                            QStringLiteral("--"), terms, locked}).contains(QLatin1String("<exit")));
    const QString bareFont = mHome.filePath(QStringLiteral("bare-font.pdf"));
    WriteFile(bareFont, "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
                        "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]/Resources<</Font<</F1 4 0 R>>>>/Contents 5 0 R>>endobj\n"
                        "4 0 obj<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>endobj\n"
                        "5 0 obj<</Length 35>>stream\nBT /F1 12 Tf 72 700 Td (Terms) Tj ET\nendstream endobj\n"
                        "trailer<</Root 1 0 R>>\n%%EOF\n");
    for (const auto& [file, why] : {std::pair{notPdf, "no PDF"}, {locked, "encrypted"}, {bareFont, "Helvetica"}}) {
        const Result refused = Run({QStringLiteral("--format"), QStringLiteral("pdf"), QStringLiteral("--pdf-a"), QStringLiteral("--append"), file,
                                    list, mOutput.filePath(QStringLiteral("unappended"))});
        QVERIFY2(refused.exitCode == 2 && refused.err.contains(QFileInfo(file).fileName()) && refused.err.contains(QLatin1String(why)),
                 qPrintable(refused.err));
    }
    QVERIFY(!QFileInfo::exists(mOutput.filePath(QStringLiteral("unappended"))));
    QCOMPARE(Run({QStringLiteral("--pdf-a=4"), list, archived}).exitCode, 2);
}

void BatchOfficeTest::aLinesFilesAreAllOrNone()
{
    const QString list = mHome.filePath(QStringLiteral("allornone.csv"));
    WriteFile(list, "RecipientName,CompanyName\nAnn Alder,\nBen Birch,\n");
    const QString folder = mOutput.filePath(QStringLiteral("allornone"));
    // No row has a company: that stops the run before any letter, unless allowed.
    const Result holed = Run({list, folder});
    QCOMPARE(holed.exitCode, 2);
    QVERIFY2(holed.err.startsWith(QLatin1String("inkhaven-batch: The recipient's company ([CompanyName]) would be empty in "
                                                "every letter")) && holed.err.contains(QLatin1String("--allow-empty CompanyName.")),
             qPrintable(holed.err));
    QVERIFY(!QFileInfo::exists(folder));
    QVERIFY(QDir().mkpath(folder));
    const auto file = [&](const QString& name) { return QDir(folder).filePath(name); };
    // The Word file of each line cannot take its place (a folder is there), after its PDF
    // did: line 2 keeps the PDF it had, line 3 is left without one.
    QVERIFY(QDir().mkpath(file(QStringLiteral("2-Ann Alder.doc"))));
    QVERIFY(QDir().mkpath(file(QStringLiteral("3-Ben Birch.doc"))));
    WriteFile(file(QStringLiteral("2-Ann Alder.pdf")), "the user's own PDF");
    const QStringList arguments{QStringLiteral("--allow-empty"), QStringLiteral("[CompanyName]"), QStringLiteral("--force"),
                                QStringLiteral("--format"), QStringLiteral("pdf,doc"), list, folder};
    const Result blocked = Run(arguments);
    QCOMPARE(blocked.exitCode, 1);
    QCOMPARE(blocked.err.count(QLatin1String("could not be made")), 2);
    QCOMPARE(FileBytes(file(QStringLiteral("2-Ann Alder.pdf"))), QByteArray("the user's own PDF"));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("2-Ann Alder.pdf")});

    // Nothing of line 3 stands in the way of the next run, which makes it whole.
    QVERIFY(QDir(file(QStringLiteral("3-Ben Birch.doc"))).removeRecursively());
    const Result next = Run({QStringLiteral("--allow-empty"), QStringLiteral("CompanyName"), QStringLiteral("--format"),
                             QStringLiteral("pdf,doc"), list, folder});
    QCOMPARE(next.exitCode, 1);
    QVERIFY(PdftotextText(file(QStringLiteral("3-Ben Birch.pdf"))).contains(QLatin1String("Ben Birch")));
    QVERIFY(AntiwordText(file(QStringLiteral("3-Ben Birch.doc"))).contains(QLatin1String("Ben Birch")));
    QVERIFY(QDir(file(QStringLiteral("2-Ann Alder.doc"))).removeRecursively());
}

void BatchOfficeTest::ownTemplate()
{
    // Saved by Writer, with a tag whose halves were formatted apart.
    const QString letter = SavedByOffice(mHome.path(), QStringLiteral("own.fodt"),
                                  FlatTemplate("Customer [Customer Number]", "Region: [region]",
                                   "Offer: <text:span text:style-name=\"Bold\">[Of</text:span><text:span text:style-name=\"Italic\">fer]</text:span>",
                                   "<text:p>Dear <text:span text:style-name=\"Bold\">[Cli</text:span>"
                                   "<text:span text:style-name=\"Italic\">ent]</text:span>,</text:p><text:p>[CurrentDate], from [Your Name].</text:p>"
                                   "<text:p>Ask for <text:execute-macro text:name=\"NoMacro\">[Customer Number]</text:execute-macro>.</text:p>"
                                   "<text:p>See <text:a xmlns:xlink=\"http://www.w3.org/1999/xlink\" xlink:type=\"simple\" "
                                   "xlink:href=\"https://example.com/offers\">our offers</text:a>.</text:p>"
                                   "<table:table table:name=\"Plans\"><table:table-column table:number-columns-repeated=\"2\"/>"
                                   "<table:table-row><table:table-cell><text:p>Plan</text:p></table:table-cell>"
                                   "<table:table-cell><text:p>[Plan]</text:p></table:table-cell></table:table-row></table:table>"),
                                  QStringLiteral("own.odt"), QStringLiteral("odt"));
    QVERIFY(!letter.isEmpty());
    const QString list = mHome.filePath(QStringLiteral("own.csv"));
    // No column fills a field of the built-in letter; tags match columns and fields by the
    // header's rules.
    WriteFile(list, "Client,Customer_Number,Region,Offer,PLAN,Email\nAnn Alder,C-17,North,Ten off,Gold,ann@example.com\n");
    const QString folder = mOutput.filePath(QStringLiteral("own"));
    const Result run = Run({QStringLiteral("--template"), letter, QStringLiteral("--format"), QStringLiteral("docx,pdf"), list, folder});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    // What each tag takes is told; only the column no tag takes is told as not used.
    QVERIFY2(run.err.contains(QLatin1String("\n  [Customer Number] takes the column \"Customer_Number\"\n")) &&
                 run.err.contains(QLatin1String("\n  [Your Name] takes the text saved for the sender's name\n")) &&
                 run.err.contains(QLatin1String("columns Email fill no tag")) && run.err.count(QLatin1String("not used")) == 1,
             qPrintable(run.err));
    // Named as before: the company the window saved, as the list has no column for it.
    const QString docx = QDir(folder).filePath(QStringLiteral("2-Saved Company.docx"));
    const QString pages = PdftotextText(QDir(folder).filePath(QStringLiteral("2-Saved Company.pdf")));
    const QString today = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
    // A tag shown by a button field, which a search does not reach, gives way as well.
    for (const QString& seen : {QStringLiteral("Customer C-17"), QStringLiteral("Region: North"), QStringLiteral("Offer: Ten off"),
                                QStringLiteral("Ask for C-17."),
                                QStringLiteral("Gold"), QStringLiteral("Dear Ann Alder,"), today + QStringLiteral(", from Sam Sender.")})
        QVERIFY2(pages.contains(seen), qPrintable(seen + QStringLiteral(" in ") + pages));
    QVERIFY2(!pages.contains(QLatin1Char('[')), qPrintable(pages));
    // The template's link is a link in the PDF as well.
    const QString links = PdfinfoLinks(QDir(folder).filePath(QStringLiteral("2-Saved Company.pdf")));
    QVERIFY2(links.contains(QLatin1String("Annotation    https://example.com/offers")), qPrintable(links));
    // In the Word file each text is in its own part: header, footer, the shape in the body.
    QVERIFY(ZipMemberText(docx, QStringLiteral("word/header1.xml")).contains(QLatin1String("Customer C-17")));
    QVERIFY(ZipMemberText(docx, QStringLiteral("word/footer1.xml")).contains(QLatin1String("Region: North")));
    const QString body = ZipMemberText(docx, QStringLiteral("word/document.xml"));
    QVERIFY2(body.contains(QLatin1String("Offer: Ten off")) && body.contains(QLatin1String("Gold")) && !body.contains(QLatin1Char('[')),
             qPrintable(body));
    // A split tag's text takes the formatting of its first character, bold, not italic: in the
    // body and in the shape.
    const QString xml = ZipMemberXml(docx, QStringLiteral("word/document.xml"));
    for (const QString& value : {QStringLiteral("Ann Alder"), QStringLiteral("Ten off")}) {
        const QRegularExpressionMatch run =
            QRegularExpression(QStringLiteral("<w:r>(?:(?!</w:r>).)*>%1</w:t></w:r>").arg(value)).match(xml);
        QVERIFY2(run.hasMatch() && run.captured().contains(QLatin1String("<w:b/>")) && !run.captured().contains(QLatin1String("<w:i/>")),
                 qPrintable(xml.mid(xml.indexOf(value) - 300, 320)));
    }
}

void BatchOfficeTest::templatesRefused()
{
    const QString list = mHome.filePath(QStringLiteral("refused.csv"));
    WriteFile(list, "RecipientName,Plan\nAnn Alder,Gold\n");
    const QString folder = mOutput.filePath(QStringLiteral("refused"));
    const auto refusal = [&](const QString& name, const QByteArray& content) {
        const QString letter = mHome.filePath(name);
        WriteFile(letter, content);
        const Result run = Run({QStringLiteral("--template"), letter, list, folder});
        [&] { QCOMPARE(run.exitCode, 2); }();
        [&] { QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList()); }();
        return run.err;
    };
    // Every tag with neither column nor field is named, wherever it stands, before any letter.
    const QString tags = refusal(QStringLiteral("tags.fodt"), FlatTemplate("[Customer Number]", "[Plan]", "[Discount Code]",
                                                                            "<text:p>Dear [RecipientName]</text:p>"));
    QVERIFY2(tags.contains(QLatin1String("[Customer Number], [Discount Code]")) && !tags.contains(QLatin1String("[Plan]")),
             qPrintable(tags));
    // A template or list reached through a link, which whoever may write its folder could
    // point at a file of the user's, is refused naming it.
    const QString plain = mHome.filePath(QStringLiteral("plain.fodt"));
    WriteFile(plain, FlatTemplate("", "", "", "<text:p>Dear [RecipientName]</text:p>"));
    const QString linkedTemplate = mHome.filePath(QStringLiteral("through-link.fodt"));
    const QString linkedList = mHome.filePath(QStringLiteral("through-link.csv"));
    QVERIFY(QFile::link(plain, linkedTemplate) && QFile::link(list, linkedList));
    for (const QStringList& arguments : {QStringList{QStringLiteral("--template"), linkedTemplate, list, folder},
                                         QStringList{QStringLiteral("--template"), plain, linkedList, folder}}) {
        const Result run = Run(arguments);
        QVERIFY2(run.exitCode == 2 && run.err.contains(QLatin1String("through-link")) && run.err.contains(QLatin1String("symbolic link")),
                 qPrintable(run.err));
    }
    // Tags inside an embedded object reach no letter filled: refused, naming the object.
    const QString embedded = refusal(QStringLiteral("object.fodt"), FlatTemplate("", "", "",
        "<text:p><draw:frame draw:name=\"Inner\" text:anchor-type=\"paragraph\" svg:width=\"3in\" svg:height=\"1in\"><draw:object>"
        "<office:document office:mimetype=\"application/vnd.oasis.opendocument.text\" office:version=\"1.3\"><office:body><office:text>"
        "<text:p>Hello [RecipientName]</text:p></office:text></office:body></office:document></draw:object></draw:frame>"
        "Dear [RecipientName]</text:p>"));
    QVERIFY2(embedded.contains(QLatin1String("embedded object \"Inner\"")) && embedded.contains(QLatin1String("[RecipientName]")),
             qPrintable(embedded));
    // The office's reason for a file it cannot open, and ours for one that is not what its name says.
    const QString damaged = refusal(QStringLiteral("damaged.docx"), QByteArray("PK\x03\x04") + QByteArray(200, 'x'));
    QVERIFY2(damaged.contains(QLatin1String("damaged.docx")) && damaged.contains(QLatin1String("damaged")), qPrintable(damaged));
    const QString text = refusal(QStringLiteral("text.doc"), "Dear [RecipientName]");
    QVERIFY2(text.contains(QLatin1String("not a Word 97-2003 file")), qPrintable(text));
    const QString locked = refusal(QStringLiteral("locked.odt"),
                                   ZipFile({{QStringLiteral("META-INF/manifest.xml"),
                                             "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
                                             "<manifest:file-entry manifest:full-path=\"content.xml\"><manifest:encryption-data/>"
                                             "</manifest:file-entry></manifest:manifest>"},
                                            {QStringLiteral("content.xml"), QByteArray("\x8f\x12 encrypted", 12)}}));
    QVERIFY2(locked.contains(QLatin1String("password")), qPrintable(locked));
    const QString broken = refusal(QStringLiteral("broken.fodt"), FlatTemplate("", "", "", "<text:p>Dear [RecipientName]</text:h>"));
    QVERIFY2(broken.contains(QLatin1String("not well-formed XML")), qPrintable(broken));
    // A picture linked to the network, not held in the template, is named, as the flat file
    // has it and as Writer saves it in Word files; a hyperlink is no such link.
    const QByteArray linked = FlatTemplate("", "", "", "<text:p><draw:frame draw:name=\"Logo\" text:anchor-type=\"as-char\" "
                                           "svg:width=\"1in\" svg:height=\"1in\"><draw:image xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                                           "xlink:type=\"simple\" xlink:href=\"http://127.0.0.1:9/logo.png\"/></draw:frame>"
                                           "Dear [RecipientName], see <text:a xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                                           "xlink:href=\"https://example.com/\">our site</text:a>.</text:p>");
    const QString docx = SavedByOffice(mHome.path(), QStringLiteral("linked-source.fodt"), linked, QStringLiteral("linked.docx"),
                                       QStringLiteral("docx"));
    const QString doc = SavedByOffice(mHome.path(), QStringLiteral("linked-source.fodt"), linked, QStringLiteral("linked.doc"),
                                      QStringLiteral("doc"));
    QVERIFY(!docx.isEmpty() && !doc.isEmpty());
    for (const auto& [name, content] : {std::pair(QStringLiteral("linked.fodt"), linked), std::pair(QStringLiteral("linked.docx"), FileBytes(docx)),
                                        std::pair(QStringLiteral("linked.doc"), FileBytes(doc))}) {
        const QString links = refusal(name, content);
        // A Word 97-2003 file keeps the linked picture as a field.
        const QLatin1String link(name.endsWith(QLatin1String(".doc")) ? "a field INCLUDEPICTURE of \"http://127.0.0.1:9/logo.png\""
                                                                     : "a picture linked to \"http://127.0.0.1:9/logo.png\"");
        QVERIFY2(links.contains(link) && !links.contains(QLatin1String("example.com")) && links.contains(QLatin1String("--embed-links")),
                 qPrintable(links));
    }

    // A picture linked to a file of the user's outside any folder given: refused in every
    // format, by the file check or, where it reads no such link (a Word 97-2003 file's
    // linked picture), by the office's own list of the template's links; no letter holds it.
    const QString secret = mHome.filePath(QStringLiteral("secret.png"));
    WriteFile(secret, QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAQAAAAECAIAAAAmkwkpAAAAEElEQVR4nGP4z8AARwzEcQCukw/x0F8jngAAAABJRU5ErkJggg=="));
    const QByteArray linkedFile = FlatTemplate("", "", "", "<text:p><draw:frame draw:name=\"Logo\" text:anchor-type=\"paragraph\" "
                                               "svg:width=\"1in\" svg:height=\"1in\"><draw:image xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                                               "xlink:type=\"simple\" xlink:href=\"" + QUrl::fromLocalFile(secret).toEncoded()
                                               + "\"/></draw:frame>Dear [RecipientName]</text:p>");
    for (const QString& format : {QStringLiteral("fodt"), QStringLiteral("odt"), QStringLiteral("docx"), QStringLiteral("doc")}) {
        const QString name = QStringLiteral("linked-file.") + format;
        const QString saved = format == QLatin1String("fodt") ? QString()
                                                              : SavedByOffice(mHome.path(), QStringLiteral("linked-file-source.fodt"),
                                                                              linkedFile, name, format);
        QVERIFY(format == QLatin1String("fodt") || !saved.isEmpty());
        const QString links = refusal(name, saved.isEmpty() ? linkedFile : FileBytes(saved));
        QVERIFY2(links.contains(QLatin1String("secret.png")) && links.contains(QLatin1String("linked")), qPrintable(name + QLatin1Char(' ') + links));
    }

    // Pictures linked to files inside the folder --embed-links names, relatively and by
    // their full path, are held by the letters; one whose name there leads out of it is not.
    const QString pictures = mHome.filePath(QStringLiteral("pictures"));
    QVERIFY(QDir().mkpath(pictures));
    const QByteArray png = QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAQAAAAECAIAAAAmkwkpAAAAEElEQVR4nGP4z8AARwzEcQCukw/x0F8jngAAAABJRU5ErkJggg==");
    WriteFile(QDir(pictures).filePath(QStringLiteral("logo.png")), png);
    WriteFile(QDir(pictures).filePath(QStringLiteral("seal.png")), png);
    WriteFile(mHome.filePath(QStringLiteral("private.png")), png);
    QVERIFY(QFile::link(mHome.filePath(QStringLiteral("private.png")), QDir(pictures).filePath(QStringLiteral("out.png"))));
    const auto withPictures = [](const QList<QByteArray>& targets) {
        QByteArray frames;
        for (const QByteArray& target : targets)
            frames += "<draw:frame draw:name=\"" + target.right(8) + "\" text:anchor-type=\"as-char\" svg:width=\"1in\" svg:height=\"1in\">"
                      "<draw:image xmlns:xlink=\"http://www.w3.org/1999/xlink\" xlink:type=\"simple\" xlink:href=\"" + target + "\"/></draw:frame>";
        return FlatTemplate("", "", "", "<text:p>" + frames + "Dear [RecipientName]</text:p>");
    };
    const QByteArray inside = withPictures({"pictures/logo.png", QUrl::fromLocalFile(QDir(pictures).filePath(QStringLiteral("seal.png"))).toEncoded()});
    const QString embeddedDocx = SavedByOffice(mHome.path(), QStringLiteral("embedded-source.fodt"), inside, QStringLiteral("embedded.docx"),
                                               QStringLiteral("docx"));
    // A Word 97-2003 file keeps pictures anchored to a paragraph as links only the office reads.
    QByteArray anchored = inside;
    anchored.replace("text:anchor-type=\"as-char\"", "text:anchor-type=\"paragraph\"");
    const QString embeddedDoc = SavedByOffice(mHome.path(), QStringLiteral("embedded-source.fodt"), anchored, QStringLiteral("embedded.doc"),
                                              QStringLiteral("doc"));
    QVERIFY(!embeddedDocx.isEmpty() && !embeddedDoc.isEmpty());
    for (const auto& [name, content] : {std::pair(QStringLiteral("embedded.fodt"), inside), std::pair(QStringLiteral("embedded.docx"), FileBytes(embeddedDocx)),
                                        std::pair(QStringLiteral("embedded.doc"), FileBytes(embeddedDoc))}) {
        const QString letter = mHome.filePath(name);
        WriteFile(letter, content);
        const QString made = mOutput.filePath(QStringLiteral("embedded-") + QFileInfo(name).suffix());
        const Result run = Run({QStringLiteral("--template"), letter, QStringLiteral("--embed-links"), pictures, QStringLiteral("--format"),
                                QStringLiteral("docx,pdf"), list, made});
        QVERIFY2(run.exitCode == 0 && (name.endsWith(QLatin1String(".doc")) || run.err.contains(QLatin1String("seal.png"))), qPrintable(run.err));
        const QString pdf = QDir(made).filePath(QStringLiteral("2-Saved Company.pdf"));
        QCOMPARE(PdfimagesCount(pdf), 2);
        const QString relationships = ZipMemberXml(QDir(made).filePath(QStringLiteral("2-Saved Company.docx")), QStringLiteral("word/_rels/document.xml.rels"));
        QVERIFY2(relationships.contains(QLatin1String("media/")) && !relationships.contains(QLatin1String("External")), qPrintable(relationships));
    }
    const QString outsideTemplate = mHome.filePath(QStringLiteral("outside.fodt"));
    WriteFile(outsideTemplate, withPictures({"pictures/logo.png", "pictures/out.png"}));
    const Result refused = Run({QStringLiteral("--template"), outsideTemplate, QStringLiteral("--embed-links"), pictures, list, folder});
    const QString& outside = refused.err;
    QCOMPARE(refused.exitCode, 2);
    QVERIFY2(outside.contains(QLatin1String("a picture linked to \"pictures/out.png\"")) && !outside.contains(QLatin1String("logo.png")),
             qPrintable(outside));
}

// The example template and list make letters ready to send: a salutation and an address
// line by a column, with a fallback, a paragraph only where a column has a value, text by a
// column inside a sentence; read back as other programs read them.
void BatchOfficeTest::conditionalTexts()
{
    const QString example = mOutput.filePath(QStringLiteral("example"));
    const Result made = Run({QStringLiteral("--template"), QStringLiteral(INKHAVEN_EXAMPLES "/angebot.fodt"), QStringLiteral("--language"),
                             QStringLiteral("de"), QStringLiteral("--format"), QStringLiteral("odt,pdf"), QStringLiteral("--allow-empty"),
                             QStringLiteral("ST,ST2,Title"), QStringLiteral(INKHAVEN_EXAMPLES "/kunden.csv"), example});
    QVERIFY2(made.exitCode == 0, qPrintable(made.err));
    const QList<std::pair<QString, QStringList>> letters = {
        {QStringLiteral("2-Lindqvist Möbel GmbH"), {"Frau Anna Lindqvist", "Sehr geehrte Frau Lindqvist,", "Rabatt von 10 %", "ist Jonas Brandt;"}},
        {QStringLiteral("3-Weiß & Söhne KG"), {"Herrn Bernd Weiß", "Sehr geehrter Herr Weiß,", "ist Jonas Brandt;"}},
        {QStringLiteral("4-Nordlicht Reisen AG"), {"Sehr geehrte Damen und Herren,", "Rabatt von 5 %", "ist unser Vertriebsteam;"}},
        // The same outcomes as row 3's: the letter starts from the same open template.
        {QStringLiteral("5-Kaya Elektro"), {"Herrn Emre Kaya", "Sehr geehrter Herr Kaya,", "ist Mara Voss;"}}};
    static const QRegularExpression emptyParagraph(QStringLiteral("<text:p[^>]*/>|<text:p[^>]*></text:p>"));
    for (const auto& [name, shown] : letters) {
        const QString odt = QDir(example).filePath(name + QStringLiteral(".odt"));
        for (const QString& text : {Odt2txtText(odt), PdftotextText(QDir(example).filePath(name + QStringLiteral(".pdf")))}) {
            for (const QString& part : shown)
                QVERIFY2(text.contains(part), qPrintable(name + QStringLiteral(": ") + part + QStringLiteral("\n") + text));
            QVERIFY2(!text.contains(QLatin1String("[IF")) && !text.contains(QLatin1String("[ELSE")) && !text.contains(QLatin1String("[END")),
                     qPrintable(text));
            QCOMPARE(text.contains(QLatin1String("Rabatt von")), shown.join(QString()).contains(QLatin1String("Rabatt von")));
        }
        // The discount's paragraph goes whole where there is none: no empty paragraph in its place.
        const QString body = ZipMemberXml(odt, QStringLiteral("content.xml"));
        const qsizetype subject = body.indexOf(QLatin1String("Ihr Angebot"));
        QVERIFY2(subject > 0 && !body.mid(subject).contains(emptyParagraph), qPrintable(body));
    }

    // In every story: a header, a footer, a shape and the main text, where the condition is
    // split across formatting runs as a word processor saves an edited one. A paragraph that
    // shows nothing goes in each.
    const QString list = mHome.filePath(QStringLiteral("conditions.csv"));
    WriteFile(list, "RecipientName,Rabatt,Region\nAnn,10 %,Nord\nBen,,Süd\n");
    const QString everywhere = mHome.filePath(QStringLiteral("everywhere.fodt"));
    WriteFile(everywhere, FlatTemplate("[IF Rabatt]Kopf mit Rabatt[ELSE]Kopf ohne[END IF]", "Fuß</text:p><text:p>[IF Region = NORD]Fuß Nord[END IF]",
                                       "Form</text:p><text:p>[IF Rabatt is empty]Form ohne Rabatt[END IF]",
                                       "<text:p>[IF <text:span text:style-name=\"Bold\">Rab</text:span>att]Rabatt: [Rabatt][END IF]</text:p>"
                                       "<text:p>Dear [RecipientName]</text:p>"));
    const QString folder = mOutput.filePath(QStringLiteral("everywhere"));
    const Result run = Run({QStringLiteral("--template"), everywhere, QStringLiteral("--format"), QStringLiteral("pdf,odt"), QStringLiteral("--name"),
                            QStringLiteral("{RecipientName}"), list, folder});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    for (const QString& name : {QStringLiteral("Ann.odt"), QStringLiteral("Ben.odt")}) {
        for (const QString& member : {QStringLiteral("content.xml"), QStringLiteral("styles.xml")}) {
            const QString xml = ZipMemberXml(QDir(folder).filePath(name), member);
            QVERIFY2(xml.contains(QStringLiteral("Fuß")) || member == QLatin1String("content.xml"), qPrintable(xml));
            QVERIFY2(!xml.contains(emptyParagraph), qPrintable(name + member + xml));
        }
    }
    const QString ann = PdftotextText(QDir(folder).filePath(QStringLiteral("Ann.pdf")));
    const QString ben = PdftotextText(QDir(folder).filePath(QStringLiteral("Ben.pdf")));
    for (const char* part : {"Kopf mit Rabatt", "Fuß Nord", "Rabatt: 10 %"})
        QVERIFY2(ann.contains(QString::fromUtf8(part)) && !ben.contains(QString::fromUtf8(part)), part);
    for (const char* part : {"Kopf ohne", "Form ohne Rabatt"})
        QVERIFY2(ben.contains(QString::fromUtf8(part)) && !ann.contains(QString::fromUtf8(part)), part);

    // Refused before any letter, saying where: a condition not closed, and one on no column.
    const QString unclosed = mHome.filePath(QStringLiteral("unclosed.fodt"));
    WriteFile(unclosed, FlatTemplate("", "", "", "<text:p>Dear [RecipientName]</text:p><text:p>[IF Rabatt]Rabatt</text:p>"));
    const Result refused = Run({QStringLiteral("--template"), unclosed, list, mOutput.filePath(QStringLiteral("unclosed"))});
    QCOMPARE(refused.exitCode, 2);
    QVERIFY2(refused.err.contains(QLatin1String("condition \"[IF Rabatt]\" is not closed by [END IF] within its paragraph in the "
                                                "template's text, paragraph ")),
             qPrintable(refused.err));
    const QString unknown = mHome.filePath(QStringLiteral("unknown.fodt"));
    WriteFile(unknown, FlatTemplate("", "", "", "<text:p>[IF Kundennummer]x[END IF] [RecipientName]</text:p>"));
    const Result unknownRun = Run({QStringLiteral("--template"), unknown, list, mOutput.filePath(QStringLiteral("unknown"))});
    QCOMPARE(unknownRun.exitCode, 2);
    QVERIFY2(unknownRun.err.contains(QLatin1String("condition \"[IF Kundennummer]\" in the template's text, paragraph ")) &&
                 unknownRun.err.contains(QLatin1String(", names no column")),
             qPrintable(unknownRun.err));
    for (const char* name : {"unclosed", "unknown"})
        QCOMPARE(QDir(mOutput.filePath(QLatin1String(name))).entryList(QDir::Files | QDir::Hidden), QStringList());
}

namespace {
// Python's decimal sum of German amounts as a letter shows them ("1.259,97 €").
QString PythonSum(const QStringList& amounts)
{
    QProcess python;
    python.start(QStringLiteral("python3"), QStringList{QStringLiteral("-c"),
        QStringLiteral("import sys, decimal\n"
                       "total = sum(decimal.Decimal(a.replace('\u20AC', '').strip().replace('.', '').replace(',', '.')) for a in sys.argv[1:])\n"
                       "print(f'{total:,.2f}'.replace(',', ' ').replace('.', ',').replace(' ', '.') + ' \u20AC')")} + amounts);
    python.waitForFinished(30000);
    return QString::fromUtf8(python.readAllStandardOutput()).trimmed();
}
}

// Quotes with line items from the example workbook, as Calc saves it: each letter's items
// and only its own, in the items' order, in every format, totals that add up as printed; a
// long quote repeats its heading row on its second page; a Word file made by another
// program; and an item's tag where nothing repeats, refused.
void BatchOfficeTest::lineItems()
{
    const QString ods = SavedByOffice(mHome.path(), QStringLiteral("angebote.fods"), FileBytes(QStringLiteral(INKHAVEN_EXAMPLES "/angebote.fods")),
                                      QStringLiteral("angebote.ods"), QStringLiteral("ods"));
    QVERIFY(!ods.isEmpty());
    const QMap<QString, QStringList> own = {
        {QStringLiteral("2-Lindqvist M\u00F6bel GmbH"), {"B\u00FCrostuhl Ergo Plus", "Schreibtisch, h\u00F6henverstellbar", "Kabelkanal", "Kabelbinder"}},
        {QStringLiteral("3-Wei\u00DF & S\u00F6hne KG"), {"Konferenztisch Eiche, 320 cm", "Konferenzstuhl [Leder]"}},
        {QStringLiteral("4-Nordlicht Reisen AG"), {"Beratung vor Ort (Stunden)"}}};
    QStringList everyItem;
    for (const QStringList& items : own)
        everyItem << items;
    static const QRegularExpression amount(QStringLiteral("(\\d{1,3}(?:\\.\\d{3})*,\\d{2}) \u20AC\\s*$"));
    for (const QString& list : {QStringLiteral(INKHAVEN_EXAMPLES "/angebote.xlsx"), ods}) {
        const QString folder = Output(QStringLiteral("quotes-") + QFileInfo(list).suffix());
        const Result made = Run({QStringLiteral("--template"), QStringLiteral(INKHAVEN_EXAMPLES "/angebot-positionen.fodt"), QStringLiteral("--items"),
                                 QStringLiteral("Positionen"), QStringLiteral("--format"), QStringLiteral("pdf,odt,doc,docx"), list, folder});
        QVERIFY2(made.exitCode == 0 && !made.out.contains(QLatin1String("opened again")), qPrintable(made.out + made.err));
        for (auto letter = own.begin(); letter != own.end(); ++letter) {
            const QString stem = QDir(folder).filePath(letter.key());
            const QString pdf = PdftotextText(stem + QStringLiteral(".pdf"));
            for (const QString& text : {pdf, Odt2txtText(stem + QStringLiteral(".odt")), CatdocText(stem + QStringLiteral(".doc")),
                                        ZipMemberText(stem + QStringLiteral(".docx"), QStringLiteral("word/document.xml"))}) {
                qsizetype at = 0;
                for (const QString& item : *letter) {
                    at = text.indexOf(item, at);
                    QVERIFY2(at >= 0, qPrintable(letter.key() + QStringLiteral(": ") + item + QStringLiteral("\n") + text));
                }
                for (const QString& item : everyItem)
                    QVERIFY2(letter->contains(item) || !text.contains(item), qPrintable(letter.key() + QStringLiteral(": ") + item));
                QVERIFY2(!text.contains(QLatin1String("[Pos]")) && !text.contains(QLatin1String("[SUM")), qPrintable(text));
            }
            // The amounts of the items' rows, and their sum as Python adds them.
            QStringList amounts;
            QString total;
            for (const QString& line : PdftotextText(stem + QStringLiteral(".pdf"), true).split(QLatin1Char('\n'))) {
                const QRegularExpressionMatch found = amount.match(line);
                if (found.hasMatch() && line.contains(QLatin1String("Nettobetrag")))
                    total = found.captured(1) + QStringLiteral(" \u20AC");
                else if (found.hasMatch() && std::any_of(letter->begin(), letter->end(), [&](const QString& item) { return line.contains(item); }))
                    amounts << found.captured(1);
            }
            QCOMPARE(amounts.size(), letter->size());
            // Every copy of the row keeps its formatting: each item's amount in the template's character style.
            const QString content = ZipMemberXml(stem + QStringLiteral(".odt"), QStringLiteral("content.xml"));
            for (const QString& each : amounts)
                QVERIFY2(content.contains(QStringLiteral("text:style-name=\"Strong\">%1 \u20AC<").arg(each)), qPrintable(each + QLatin1Char('\n') + content));
            QVERIFY2(total == PythonSum(amounts), qPrintable(total + QStringLiteral(" / ") + PythonSum(amounts) + QLatin1Char('\n') + PdftotextText(stem + QStringLiteral(".pdf"), true)));
            QVERIFY2(pdf.contains(QStringLiteral("Nettobetrag (%1 Positionen)").arg(letter->size())), qPrintable(pdf));
        }
    }

    // Sixty items of a CSV list of their own, in a Word template made by another program
    // (its table's first row the heading on every page), and in the same as Writer saves it.
    const QString list = mHome.filePath(QStringLiteral("quote.csv"));
    WriteFile(list, "Nummer,CompanyName\nQ1,Alpha\n");
    QByteArray items = "Nummer;Pos;Artikel;Preis\n";
    for (int i = 1; i <= 60; ++i)
        items += "Q1;" + QByteArray::number(i) + ";Artikel " + QByteArray::number(i) + ";" + QByteArray::number(i) + "," + QByteArray::number(i % 90 + 10) + " \xE2\x82\xAC\n";
    const QString itemsList = mHome.filePath(QStringLiteral("positions.csv"));
    WriteFile(itemsList, items);
    const QByteArray w = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";
    const auto cell = [](const QByteArray& text) { return "<w:tc><w:p><w:r><w:t xml:space=\"preserve\">" + text + "</w:t></w:r></w:p></w:tc>"; };
    const QByteArray docx = ZipFile({
        {QStringLiteral("[Content_Types].xml"), "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default Extension=\"rels\" "
                                                "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Override PartName=\"/word/document.xml\" "
                                                "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>"},
        {QStringLiteral("_rels/.rels"), "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship Id=\"r1\" "
                                        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"word/document.xml\"/></Relationships>"},
        {QStringLiteral("word/document.xml"), "<w:document " + w + "><w:body><w:p><w:r><w:t>Angebot [Nummer] an [CompanyName]</w:t></w:r></w:p>"
                                              "<w:tbl><w:tblGrid><w:gridCol w:w=\"1000\"/><w:gridCol w:w=\"4000\"/><w:gridCol w:w=\"2000\"/></w:tblGrid>"
                                              "<w:tr><w:trPr><w:tblHeader/></w:trPr>" + cell("Pos") + cell("Kopf Artikel") + cell("Preis") + "</w:tr>"
                                              "<w:tr>" + cell("[Pos]") + cell("[Artikel]") + cell("[Preis]") + "</w:tr></w:tbl>"
                                              "<w:p><w:r><w:t>Summe: [SUM Preis]</w:t></w:r></w:p></w:body></w:document>"},
    });
    const QString foreign = mHome.filePath(QStringLiteral("quote.docx"));
    WriteFile(foreign, docx);
    const QString written = SavedByOffice(mHome.path(), QStringLiteral("quote-writer.docx"), docx, QStringLiteral("writer.docx"), QStringLiteral("docx:MS Word 2007 XML"));
    QVERIFY(!written.isEmpty());
    QStringList amounts;
    for (int i = 1; i <= 60; ++i)
        amounts << QStringLiteral("%1,%2").arg(i).arg(i % 90 + 10);
    for (const QString& quote : {foreign, written}) {
        const QString folder = Output(QStringLiteral("long-") + QFileInfo(quote).baseName());
        const Result made = Run({QStringLiteral("--template"), quote, QStringLiteral("--items"), itemsList, QStringLiteral("--format"), QStringLiteral("pdf"), list, folder});
        QVERIFY2(made.exitCode == 0, qPrintable(made.err));
        const QString pdf = QDir(folder).filePath(QStringLiteral("2-Alpha.pdf"));
        QCOMPARE(PdfinfoPages(pdf), 2);
        const QString text = PdftotextText(pdf);
        const qsizetype secondPage = text.indexOf(QLatin1Char('\f'));
        QVERIFY2(secondPage > 0 && text.indexOf(QLatin1String("Kopf Artikel"), secondPage) > secondPage, qPrintable(text));
        QVERIFY2(text.indexOf(QLatin1String("Artikel 59")) < text.indexOf(QLatin1String("Artikel 60")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Summe: ") + PythonSum(amounts).remove(QLatin1Char('.'))), qPrintable(text));
    }

    // An item's tag in a paragraph, where nothing repeats: refused with its place, before any letter.
    const QString loose = mHome.filePath(QStringLiteral("loose.fodt"));
    WriteFile(loose, FlatTemplate("", "", "", "<text:p>[CompanyName]: [Artikel]</text:p>"));
    const Result refused = Run({QStringLiteral("--template"), loose, QStringLiteral("--items"), itemsList, list, Output(QStringLiteral("loose"))});
    QCOMPARE(refused.exitCode, 2);
    QVERIFY2(refused.err.contains(QLatin1String("has [Artikel] in paragraph 1, outside a table")), qPrintable(refused.err));
    QCOMPARE(QDir(Output(QStringLiteral("loose"))).entryList(QDir::Files), QStringList());
}

void BatchOfficeTest::shardsSideBySide()
{
    // Thirteen lines, one of them unusable; the last gives the name of line 3 again.
    QByteArray lines = "RecipientName,CompanyName\n";
    for (int line = 2; line <= 13; ++line)
        lines += line == 7 ? QByteArray("Bad,Line,Three\n") : "Person " + QByteArray::number(line) + ",Company " + QByteArray::number(line) + "\n";
    lines += "Person 14,Company 3\n";
    const QString list = mHome.filePath(QStringLiteral("shards.csv"));
    WriteFile(list, lines);
    const QString folder = mOutput.filePath(QStringLiteral("shards"));
    constexpr int Shards = 3;
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int shard = 1; shard <= Shards; ++shard) {
        runs.push_back(std::make_unique<QProcess>());
        runs.back()->start(QStringLiteral(INKHAVEN_BATCH), {QStringLiteral("--shard"), QStringLiteral("%1/%2").arg(shard).arg(Shards),
                                                            QStringLiteral("--name"), QStringLiteral("{CompanyName}"),
                                                            QStringLiteral("--offices"), QStringLiteral("1"), list, folder});
    }
    QString told;
    for (const auto& run : runs) {
        QVERIFY(run->waitForFinished(240000));
        told += QString::fromUtf8(run->readAllStandardError());
        QCOMPARE(run->exitCode(), run.get() == runs[1].get() ? 1 : 0);
    }
    // Every letter once, under the name one run of the whole list gives it, and the
    // unusable line told once.
    QStringList expected;
    for (int line = 2; line <= 13; ++line) {
        if (line != 7)
            expected << QStringLiteral("Company %1.doc").arg(line);
    }
    expected << QStringLiteral("Company 3-14.doc");
    expected.sort();
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
    for (const QString& name : expected) {
        const int line = name.endsWith(QLatin1String("-14.doc")) ? 14 : name.section(QLatin1Char(' '), 1).section(QLatin1Char('.'), 0, 0).toInt();
        QVERIFY2(AntiwordText(QDir(folder).filePath(name)).contains(QStringLiteral("Person %1").arg(line)), qPrintable(name));
    }
    QCOMPARE(told.count(QLatin1String("Row 7")), 1);
}


void BatchOfficeTest::oneOpenTemplateMakesEveryLetter()
{
    // Rows 2 and 52 are the same; the 49 rows between them leave out paragraphs and separators,
    // hold tags, long texts and a value over two lines, each in some of them.
    const QByteArray same = "\"Smith, John\",\"Acme, Inc.\",1 Main St,Springfield,IL,62701,Buyer\n";
    QByteArray lines = "RecipientName,CompanyName,StreetAddress2,City2,ST2,ZIPCode2,Title\n" + same;
    for (int row = 3; row < 52; ++row) {
        const QByteArray n = QByteArray::number(row);
        lines += (row % 3 == 0 ? QByteArray(300, 'n') : "Person " + n) + "," + (row % 5 == 0 ? QByteArray() : "Company " + n) + "," +
                 (row % 4 == 0 ? QByteArray("\"PO Box 9\nSuite 3\"") : n + " High St") + ",Town " + n + "," +
                 (row % 6 == 0 ? QByteArray() : "CA") + ",9" + n + "," + (row % 7 == 0 ? QByteArray("Chef [City] of [ZIPCode2]") : "Title " + n) + "\n";
    }
    lines += same;
    const QString list = mHome.filePath(QStringLiteral("open.csv"));
    WriteFile(list, lines);
    const QString folder = mOutput.filePath(QStringLiteral("open"));
    const Result run = Run({QStringLiteral("--offices"), QStringLiteral("1"), QStringLiteral("--format"), QStringLiteral("odt"), list, folder});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains(QLatin1String("51 letters made")) && !run.out.contains(QLatin1String("opened again")), qPrintable(run.out));
    const QStringList first = QDir(folder).entryList({QStringLiteral("02-*.odt")});
    const QStringList last = QDir(folder).entryList({QStringLiteral("52-*.odt")});
    QCOMPARE(first.size(), 1);
    QCOMPARE(last.size(), 1);
    // Every letter between them holds its own row.
    for (int row = 3; row < 52; ++row) {
        const QStringList made = QDir(folder).entryList({QStringLiteral("%1-*.odt").arg(row, 2, 10, QLatin1Char('0'))});
        QCOMPARE(made.size(), 1);
        QVERIFY2(ZipMemberText(QDir(folder).filePath(made.front()), QStringLiteral("content.xml")).contains(QStringLiteral("Town %1").arg(row)),
                 qPrintable(made.front()));
    }
    // The main text and the header alike.
    for (const QString member : {QStringLiteral("content.xml"), QStringLiteral("styles.xml")}) {
        const QString made = ZipMemberText(QDir(folder).filePath(first.front()), member);
        QCOMPARE(ZipMemberText(QDir(folder).filePath(last.front()), member), made);
        QVERIFY2(!made.contains(QLatin1Char('[')) && made.contains(QLatin1String("Smith, John")), qPrintable(member + made));
    }
}

QTEST_GUILESS_MAIN(BatchOfficeTest)
#include "test_batch_office.moc"
