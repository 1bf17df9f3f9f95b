// The reading of lists: separated text in any encoding, read whole or as a stream, and
// spreadsheets with each cell as the spreadsheet shows it.
#include "core/AppError.h"
#include "lists/CellText.h"
#include "lists/CsvReader.h"
#include "lists/ShownTotal.h"
#include "lists/SpreadsheetReader.h"
#include "support/SpreadsheetFiles.h"

#include <QIODevice>
#include <QSet>
#include <QtTest>

#include <cstring>

namespace {
// Whether a name is one of the columns these tests' lists name.
bool IsName(const QString& name)
{
    static const QSet<QString> names = {"companyname", "city", "st", "zipcode", "recipientname", "title"};
    return names.contains(name.toLower().remove(QLatin1Char(' ')));
}

// The message of the AppError that reading bytes as a spreadsheet throws; empty when it reads.
QString SpreadsheetError(const QByteArray& bytes)
{
    try {
        ReadSpreadsheet(bytes, FormatOfList(bytes));
    } catch (const AppError& error) {
        return error.Description();
    }
    return QString();
}

// A device that gives its bytes a few at a time, as a pipe may.
class TricklingDevice : public QIODevice {
public:
    explicit TricklingDevice(QByteArray bytes) : mBytes(std::move(bytes)) { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 size = std::min<qint64>({maxSize, 3, mBytes.size() - mAt});
        std::memcpy(data, mBytes.constData() + mAt, static_cast<std::size_t>(size));
        mAt += size;
        return size;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray mBytes;
    qint64 mAt = 0;
};

// The records of bytes read as a stream from a device that trickles them.
std::vector<CsvRecord> StreamedRecords(const QByteArray& bytes, QString& guessed, QChar& separator)
{
    TricklingDevice device(bytes);
    ListTextReader text(device, QString());
    CsvStream stream(text, QChar());
    std::vector<CsvRecord> records;
    while (std::optional<CsvRecord> record = stream.Next())
        records.push_back(*record);
    guessed = text.GuessedEncoding();
    separator = stream.Separator();
    return records;
}

// Every record a spreadsheet gives.
std::vector<CsvRecord> SheetRecords(const QByteArray& bytes)
{
    const RecordSource next = ReadSpreadsheet(bytes, FormatOfList(bytes));
    std::vector<CsvRecord> records;
    while (std::optional<CsvRecord> record = next())
        records.push_back(*record);
    return records;
}

QStringList Values(const std::vector<CsvRecord>& records, std::size_t index)
{
    return index < records.size() ? records[index].values : QStringList{QStringLiteral("<no record>")};
}

}

class ListsTest : public QObject {
    Q_OBJECT

private slots:
    void readsQuotedValues();
    void problemRecordsKeepTheirLines();
    void decodesListText();
    void readsListsAsStreams();
    void separatorIsChosenFromTheHeader();
    void spreadsheetsAsTheyShowTheirCells();
    void spreadsheetsThatCannotBeReadAreRefused();
    void shownNumbersAddUpAsShown();
};

void ListsTest::readsQuotedValues()
{
    const auto records = ParseCsv(QStringLiteral("a,b,c\r\n\"x, y\",\"say \"\"hi\"\"\",\"two\r\nlines\"\n\nlast,,\n"));
    QCOMPARE(records.size(), std::size_t(3));
    QCOMPARE(records[1].values, (QStringList{"x, y", "say \"hi\"", "two\nlines"}));
    QCOMPARE(records[2].values, (QStringList{"last", "", ""}));
    // Line numbers are those of the file: the empty line and the line break in a value count.
    QCOMPARE(records[1].line, 2);
    QCOMPARE(records[2].line, 5);
    // A quote inside an unquoted value is an ordinary character; no final line break is needed.
    QCOMPARE(ParseCsv(QStringLiteral("5\" disk,Joe")).front().values, (QStringList{"5\" disk", "Joe"}));
}

void ListsTest::problemRecordsKeepTheirLines()
{
    const auto records = ParseCsv(QStringLiteral("a,b\n\"x\"y,z\nok,1\n\"never closed,2\nmore\n"));
    QCOMPARE(records.size(), std::size_t(4));
    QVERIFY(records[1].problem.contains(QLatin1String("closing quote")));
    QCOMPARE(records[2].values, (QStringList{"ok", "1"}));
    QVERIFY(records[2].problem.isEmpty());
    // An unclosed quote names the line where it opened and what it took in.
    QCOMPARE(records[3].line, 4);
    QVERIFY2(records[3].problem.contains(QLatin1String("value 1 on line 4 is never closed")) &&
                 records[3].problem.contains(QLatin1String("lines 4 to 5 (\"never closed,2 / more\")")),
             qPrintable(records[3].problem));
}

void ListsTest::decodesListText()
{
    const QString mueller = QStringLiteral("Company\nM\u00FCller \u20AC");
    QCOMPARE(DecodeListText(QByteArray("\xEF\xBB\xBF") + mueller.toUtf8()).text, mueller);
    QCOMPARE(DecodeListText(mueller.toUtf8()).guessedEncoding, QString());
    // "Unicode Text": UTF-16 with a byte-order mark, either way round.
    QByteArray little("\xFF\xFE");
    QByteArray big("\xFE\xFF");
    for (const QChar c : mueller) {
        little += char(c.unicode() & 0xFF) + QByteArray(1, char(c.unicode() >> 8));
        big += QByteArray(1, char(c.unicode() >> 8)) + char(c.unicode() & 0xFF);
    }
    QCOMPARE(DecodeListText(little).text, mueller);
    QCOMPARE(DecodeListText(big).text, mueller);
    // Bytes that are not UTF-8 are Windows-1252, and say so.
    const ListText western = DecodeListText(QByteArray("Company\nM\xFCller \x80\n"));
    QCOMPARE(western.text, mueller + QLatin1Char('\n'));
    QCOMPARE(western.guessedEncoding, QStringLiteral("Windows-1252"));
    // A named encoding is taken as it is; one that is not known, or bytes not in it, are refused.
    QCOMPARE(DecodeListText(QByteArray("\xA3\xF3" "d\xBC"), QStringLiteral("ISO-8859-2")).text, QStringLiteral("\u0141\u00F3d\u017A"));
    for (const auto& [bytes, encoding, expected] :
         {std::tuple{QByteArray("Company"), QStringLiteral("no-such-encoding"), QStringLiteral("not known")},
          std::tuple{QByteArray("Company\nok\nM\xFCller\n"), QStringLiteral("UTF-8"), QStringLiteral("Line 3 of the list is not UTF-8")}}) {
        try {
            DecodeListText(bytes, encoding);
            QFAIL("the list was read");
        } catch (const AppError& error) {
            QVERIFY2(error.Description().contains(expected), qPrintable(error.Description()));
        }
    }
}

void ListsTest::readsListsAsStreams()
{
    // Read a few bytes at a time, every character, line break and quoted value split across
    // reads comes out as the whole text gives it: CR LF, a value over lines, UTF-8 after a
    // long ASCII start, Windows-1252 decided late, UTF-16.
    const QString text = QStringLiteral("CompanyName;City\r\n\"Acme;\r\nInc.\";Boise\r\n\r\n") + QString(40, QLatin1Char('x')) +
                         QStringLiteral(";K\u00F6ln \u20AC\n\"open;end\n");
    QByteArray little("\xFF\xFE");
    for (const QChar c : text)
        little += char(c.unicode() & 0xFF) + QByteArray(1, char(c.unicode() >> 8));
    const QByteArray western = QByteArray(text.toUtf8()).replace("\xC3\xB6", "\xF6").replace("\xE2\x82\xAC", "\x80");
    for (const auto& [bytes, expectedGuess] : {std::pair{text.toUtf8(), QString()}, std::pair{little, QString()},
                                               std::pair{western, QStringLiteral("Windows-1252")}}) {
        QString guessed;
        QChar separator;
        const std::vector<CsvRecord> records = StreamedRecords(bytes, guessed, separator);
        const std::vector<CsvRecord> whole = ParseCsv(text, QLatin1Char(';'));
        QCOMPARE(guessed, expectedGuess);
        QCOMPARE(separator, QLatin1Char(';'));
        QCOMPARE(records.size(), whole.size());
        for (std::size_t i = 0; i < whole.size(); ++i) {
            QCOMPARE(records[i].values, whole[i].values);
            QCOMPARE(records[i].line, whole[i].line);
            QCOMPARE(records[i].problem, whole[i].problem);
        }
    }
    // A record that never ends (a device of zeros, a quote never closed in a long list) ends
    // the reading, naming its line, once it is longer than any record.
    QString guessed;
    QChar separator;
    try {
        StreamedRecords("City\n\"" + QByteArray(3 * MaxRecordChars, 'z'), guessed, separator);
        QFAIL("an endless record was read");
    } catch (const AppError& error) {
        QVERIFY2(error.Description().startsWith(QLatin1String("Row 2 of the list, from its line 2, goes on for more than")) &&
                     error.Description().contains(QLatin1String("quote")),
                 qPrintable(error.Description()));
    }
}

void ListsTest::separatorIsChosenFromTheHeader()
{
    // The one that splits the first records alike into the most values, whatever language
    // the names are in; a quoted separator does not split.
    QCOMPARE(ChooseSeparator(QStringLiteral("\n\"Smith, John\";Company Name;City\r\nA,B;C;D\n")), QLatin1Char(';'));
    QCOMPARE(ChooseSeparator(QStringLiteral("Recipient Name\tCity, ST\tZIP Code\n")), QLatin1Char('\t'));
    QCOMPARE(ChooseSeparator(QStringLiteral("City;ST,ZIPCode,Title\n")), QLatin1Char(','));
    QCOMPARE(ChooseSeparator(QStringLiteral("Kundennummer;Anrede;Firma;Stra\u00DFe\n1;Frau;M\u00FCller, Meier & Co;Am Markt 1\n"
                                            "2;Herr;Weber;Ring 2\n")),
             QLatin1Char(';'));
    QCOMPARE(ChooseSeparator(QStringLiteral("Firma\tOrt\n\"A, B\"\tK\u00F6ln\nC\tBonn\n")), QLatin1Char('\t'));
    // A comma splits the names, but not the rows alike: the semicolon does.
    QCOMPARE(ChooseSeparator(QStringLiteral("Name, Vorname;Ort\nM\u00FCller;Bonn\nWeber;K\u00F6ln\n")), QLatin1Char(';'));
    QCOMPARE(ChooseSeparator(QStringLiteral("Name\nAnn\n")), QLatin1Char(','));
    QVERIFY(ReadsAsOneColumn(QStringLiteral("Name;Ort\n"), QLatin1Char(',')) && !ReadsAsOneColumn(QStringLiteral("Name\n"), QLatin1Char(',')));
    const auto records = ParseCsv(QStringLiteral("City\tST\n\"Boise\tEast\"\tID\n"), QLatin1Char('\t'));
    QCOMPARE(Values(records, 1), (QStringList{"Boise\tEast", "ID"}));
}

void ListsTest::spreadsheetsAsTheyShowTheirCells()
{
    // The same list as Excel and LibreOffice save it: a ZIP code as a number, one kept with
    // its leading zero by its format, a date, an amount, a formula, an empty row, a short row.
    const QDate date(2026, 12, 7);
    SheetRows rows = {
        {TextCell(QStringLiteral("Recipient Name")), TextCell(QStringLiteral("ZIP Code 2")), TextCell(QStringLiteral("Since")),
         TextCell(QStringLiteral("Amount")), TextCell(QStringLiteral("Next"))},
        {TextCell(QStringLiteral("Smith, John")), NumberCell(62701), DateCell(date, QStringLiteral("m/d/yyyy"), QStringLiteral("12/7/2026")),
         NumberCell(1234.5, QStringLiteral("#,##0.00"), QStringLiteral("1,234.50")), FormulaCell(QStringLiteral("B2+1"), 62702)},
        {},
        {TextCell(QStringLiteral("Zo\u00EB")), NumberCell(2134, QStringLiteral("00000"), QStringLiteral("02134")),
         DateCell(date, QStringLiteral("d mmmm yyyy"), QStringLiteral("7 December 2026"))},
    };
    // A comment on a cell is not what the cell shows.
    rows[3][1].comment = QStringLiteral("check the ZIP code");
    for (const QByteArray& file : {XlsxFile(rows), OdsFile(rows), OdsFile(rows, false)}) {
        const std::vector<CsvRecord> records = SheetRecords(file);
        QCOMPARE(records.size(), std::size_t(4));
        QCOMPARE(Values(records, 0), (QStringList{"Recipient Name", "ZIP Code 2", "Since", "Amount", "Next"}));
        QCOMPARE(Values(records, 1), (QStringList{"Smith, John", "62701", "12/7/2026", "1,234.50", "62702"}));
        QCOMPARE(Values(records, 2), QStringList());
        QCOMPARE(Values(records, 3), (QStringList{"Zo\u00EB", "02134", "7 December 2026", "", ""}));
        QCOMPARE(records[3].line, 4);
    }
    QCOMPARE(FormatOfList(XlsxFile(rows)), ListFormat::Xlsx);
    QCOMPARE(FormatOfList(OdsFile(rows)), ListFormat::Ods);

    // Number formats as spreadsheets write them.
    const QDate origin(1899, 12, 30);
    const double serial = static_cast<double>(origin.daysTo(date)) + 0.75;
    QCOMPARE(ShownNumber(serial, QStringLiteral("yyyy\\-mm\\-dd h:mm AM/PM"), origin), QStringLiteral("2026-12-07 6:00 PM"));
    QCOMPARE(ShownNumber(serial, QStringLiteral("[$-409]ddd, mmm d, yy;@"), origin), QStringLiteral("Mon, Dec 7, 26"));
    QCOMPARE(ShownNumber(0.125, QStringLiteral("0.0%"), origin), QStringLiteral("12.5%"));
    QCOMPARE(ShownNumber(-1234.5, QStringLiteral("[$\u20AC-407]#,##0.00;[Red]\\(#,##0.00\\)"), origin), QStringLiteral("(1.234,50)"));
    QCOMPARE(ShownNumber(1234.5, QStringLiteral("\"$\"#,##0"), origin), QStringLiteral("$1,235"));
    QCOMPARE(ShownNumber(0.1, QStringLiteral("General"), origin), QStringLiteral("0.1"));
    // In the locale the format names: German digits, date separator and month names.
    const double august = static_cast<double>(origin.daysTo(QDate(2026, 8, 20)));
    QCOMPARE(ShownNumber(august, QStringLiteral("[$-407]dd/mm/yyyy"), origin), QStringLiteral("20.08.2026"));
    QCOMPARE(ShownNumber(august, QStringLiteral("[$-de-DE]d. mmmm yyyy"), origin), QStringLiteral("20. August 2026"));
    QCOMPARE(ShownNumber(150000, QStringLiteral("#,##0.00\\ [$\u20AC-407]"), origin), QStringLiteral("150.000,00 \u20AC"));

    // Text kept in the cell itself (inline strings, a formula's text without its formula),
    // rows formatted but empty, and cells of no named column, far right or far down.
    const QByteArray streamed = ZipFile({
        {QStringLiteral("[Content_Types].xml"), "<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                                                "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/></Types>"},
        {QStringLiteral("xl/workbook.xml"), "<workbook xmlns:r=\"r\"><sheets><sheet name=\"List\" r:id=\"rId7\"/></sheets></workbook>"},
        {QStringLiteral("xl/_rels/workbook.xml.rels"), "<Relationships><Relationship Id=\"rId7\" Target=\"worksheets/list.xml\"/></Relationships>"},
        {QStringLiteral("xl/worksheets/list.xml"),
         "<worksheet><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>City</t></is></c><c r=\"C1\" t=\"str\">\n<v>Company</v></c>"
         "</row><row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><r><t>Stutt</t></r><r><t>gart</t></r></is></c><c r=\"C2\" s=\"0\"><v>7</v></c>"
         "<c r=\"XFD2\" t=\"inlineStr\"><is><t>far right</t></is></c></row>"
         "<row r=\"3\"><c r=\"A3\" s=\"0\"/><c r=\"B3\" s=\"0\"/></row>"
         "<row r=\"4\"><c r=\"A4\" t=\"inlineStr\"><is><t>Boise</t></is></c></row>"
         "<row r=\"1048576\"><c r=\"A1048576\" s=\"0\"/><c r=\"B1048576\" t=\"inlineStr\"><is><t>in no named column</t></is></c></row>"
         "</sheetData></worksheet>"},
    });
    const std::vector<CsvRecord> inlineRecords = SheetRecords(streamed);
    QCOMPARE(inlineRecords.size(), std::size_t(4));
    QCOMPARE(Values(inlineRecords, 0), (QStringList{"City", "Company"}));
    QCOMPARE(Values(inlineRecords, 1), (QStringList{"Stuttgart", "7"}));
    QCOMPARE(Values(inlineRecords, 2), QStringList());
    QCOMPARE(Values(inlineRecords, 3), (QStringList{"Boise", ""}));
    QCOMPARE(inlineRecords[3].line, 4);
}

void ListsTest::spreadsheetsThatCannotBeReadAreRefused()
{
    // A small file that would unpack to far more than a list.
    const QByteArray huge = XlsxFile({{TextCell(QString(70 * 1024 * 1024, QLatin1Char('x')))}});
    QVERIFY2(huge.size() < MaxSpreadsheetBytes, "the test's file is larger than a spreadsheet may be");
    QVERIFY(SpreadsheetError(huge).contains(QLatin1String("more than a list takes")));
    QCOMPARE(FormatOfList(QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")), ListFormat::BinaryXls);
    QCOMPARE(FormatOfList("<?xml version=\"1.0\"?>\n<?mso-application progid=\"Excel.Sheet\"?>\n<Workbook "
                          "xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" "
                          "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"><Worksheet ss:Name=\"A\"><Table><Row><Cell>"
                          "<Data ss:Type=\"String\">City</Data></Cell></Row></Table></Worksheet></Workbook>"),
             ListFormat::ExcelXml);
    QCOMPARE(FormatOfList("City,ST\nBoise,ID\n"), ListFormat::Text);
}


QTEST_GUILESS_MAIN(ListsTest)
#include "test_lists.moc"

// Numbers read back as their cells show them, and summed exactly into a text shown as they are.
void ListsTest::shownNumbersAddUpAsShown()
{
    const QString euro = QStringLiteral("#,##0.00\\ [$\u20AC-407]");
    const auto total = [](const QStringList& cells, const QString& format, QChar hint = QChar()) -> QString {
        ShownTotal sum;
        for (const QString& cell : cells) {
            const std::optional<ShownDecimal> number = ReadShownNumber(cell, format, hint);
            if (!number)
                return QStringLiteral("<%1 is no number>").arg(cell);
            sum.Add(*number, format);
        }
        QString why;
        return sum.Shown(&why).value_or(QStringLiteral("<refused: %1>").arg(why));
    };
    // Grouped as the format groups, though no cell is as large; decimals added exactly.
    QCOMPARE(total({"419,99 \u20AC", "419,99 \u20AC", "419,99 \u20AC"}, euro), QStringLiteral("1.259,97 \u20AC"));
    QCOMPARE(total({"0,10 \u20AC", "0,20 \u20AC"}, euro), QStringLiteral("0,30 \u20AC"));
    QCOMPARE(total(QStringList(10000, QStringLiteral("$0.01")), QStringLiteral("\"$\"#,##0.00")), QStringLiteral("$100.00"));
    QCOMPARE(total({"$12,500.00", "($2,000.50)", "$0.50"}, QString()), QStringLiteral("$10,500.00"));
    QCOMPARE(total({"-3,00 \u20AC", "1,00 \u20AC"}, euro), QStringLiteral("-2,00 \u20AC"));
    QCOMPARE(total({"1\u00A0234,5", "0,25"}, QString()), QStringLiteral("1\u00A0234,75"));
    // "General" shows as few decimals as a number needs; the format tells a lone separator.
    QCOMPARE(total({"1.5", "1.5", "2.25"}, QStringLiteral("General")), QStringLiteral("5.25"));
    QCOMPARE(total({"1.5", "1.5"}, QStringLiteral("General")), QStringLiteral("3"));
    QCOMPARE(total({"1,234", "1,000"}, QStringLiteral("#,##0")), QStringLiteral("2,234"));
    QCOMPARE(total({"1,234", "0,5"}, QStringLiteral("0.000")), QStringLiteral("1,734"));
    // Without a format, a separator before three digits is told by the column's other cells.
    QCOMPARE(total({"1,250", "0,5"}, QString()), QStringLiteral("<1,250 is no number>"));
    QCOMPARE(total({"1,250", "0,5"}, QString(), QLatin1Char(',')), QStringLiteral("1,75"));
    // No number, or shown in two ways: never a sum.
    for (const char* cell : {"12/01/2026", "1E+03", "gratis", "12-3", "1,2,3.4.5", "1.23,4,5"})
        QVERIFY2(!ReadShownNumber(QString::fromUtf8(cell), QString()), cell);
    QVERIFY(total({"12,00 \u20AC", "$5.00"}, QString()).startsWith(QLatin1String("<refused: ")));
    QVERIFY(total({"1.000,00", "1,000.00"}, QString()).startsWith(QLatin1String("<refused: ")));
    QCOMPARE(LookOfFormat(euro).grouped, true);
    QCOMPARE(LookOfFormat(QStringLiteral("0.00##;[Red]-0.00##")).maxDecimals, 4);
}
