// The list of an inkhaven-batch run without an office: reading it, the letters it asks
// for, their file names, the progress line and the command line.
#include "AppError.h"
#include "BatchCommand.h"
#include "CsvReader.h"
#include "FakeSettings.h"
#include "LetterList.h"
#include "LetterText.h"
#include "Progress.h"

#include <QtTest>

namespace {
QString TextOf(const LetterLine& line, const char* tag)
{
    for (int field = 0; field < FieldCount; ++field) {
        if (QLatin1String(FieldTags[static_cast<std::size_t>(field)]) == QLatin1String(tag))
            return line.fields[static_cast<std::size_t>(field)];
    }
    return QStringLiteral("<no such tag>");
}

std::vector<LetterLine> Letters(const QString& csv, FakeSettings& settings)
{
    return ReadLetterList(ParseCsv(csv), settings, QStringLiteral("12/7/26")).lines;
}

LetterLine Line(int number, const QString& company, const QString& recipient)
{
    LetterLine line;
    line.line = number;
    line.fields[11] = company;
    line.fields[7] = recipient;
    return line;
}
}

class BatchListTest : public QObject {
    Q_OBJECT

private slots:
    void readsQuotedValues();
    void problemRecordsKeepTheirLines();
    void decodesUtf8Only();
    void columnsFillFieldsAndSettingsTheRest();
    void columnNamesMatchByKey();
    void unusableColumnsAreNamed();
    void linesThatCannotMakeALetter();
    void fileNames();
    void progressText();
    void commandLine();
};

void BatchListTest::readsQuotedValues()
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

void BatchListTest::problemRecordsKeepTheirLines()
{
    const auto records = ParseCsv(QStringLiteral("a,b\n\"x\"y,z\nok,1\n\"never closed,2\nmore\n"));
    QCOMPARE(records.size(), std::size_t(4));
    QVERIFY(records[1].problem.contains(QLatin1String("closing quote")));
    QCOMPARE(records[2].values, (QStringList{"ok", "1"}));
    QVERIFY(records[2].problem.isEmpty());
    QCOMPARE(records[3].line, 4);
    QVERIFY(records[3].problem.contains(QLatin1String("never closed")));
}

void BatchListTest::decodesUtf8Only()
{
    QCOMPARE(DecodeListText(QByteArray("\xEF\xBB\xBF") + "Company\nM\xC3\xBCller"), QStringLiteral("Company\nMüller"));
    try {
        DecodeListText(QByteArray("Company\nok\nM\xFCller\n"));
        QFAIL("Latin-1 text was taken for UTF-8");
    } catch (const AppError& error) {
        QVERIFY2(error.Description().contains(QLatin1String("Line 3")), qPrintable(error.Description()));
    }
}

void BatchListTest::columnsFillFieldsAndSettingsTheRest()
{
    FakeSettings settings;
    settings.WriteSetting("Kestrelworks", "Inkhaven", "Text1_0", "Saved Sender");
    settings.WriteSetting("Kestrelworks", "Inkhaven", "Text1_11", "Saved Company");
    const auto letters = Letters(QStringLiteral(" companyname ,RecipientName,City2\nAcme,Ann,\n"), settings);
    QCOMPARE(letters.size(), std::size_t(1));
    const LetterLine& line = letters.front();
    QVERIFY(line.problem.isEmpty());
    QCOMPARE(TextOf(line, "[CompanyName]"), QStringLiteral("Acme"));
    QCOMPARE(TextOf(line, "[RecipientName]"), QStringLiteral("Ann"));
    // An empty value stays empty; it does not fall back to the saved text.
    QCOMPARE(TextOf(line, "[City2]"), QString());
    QCOMPARE(TextOf(line, "[YourName]"), QStringLiteral("Saved Sender"));
    QCOMPARE(TextOf(line, "[CurrentDate]"), QStringLiteral("12/7/26"));
}

void BatchListTest::columnNamesMatchByKey()
{
    QCOMPARE(ColumnKey(QStringLiteral(" Company Name ")), ColumnKey(QStringLiteral("companyname")));
    QCOMPARE(ColumnKey(QStringLiteral("ZIP_Code-2")), ColumnKey(QStringLiteral("ZIPCode2")));
    QCOMPARE(ColumnKey(QStringLiteral("\u00DCbersicht\u00A0Nr")), ColumnKey(QStringLiteral("\u00FCBERSICHTNR")));
    QVERIFY(ColumnKey(QStringLiteral("City 2")) != ColumnKey(QStringLiteral("City")));
    QCOMPARE(FieldOfColumn(QStringLiteral("Street address 2")), 4);
    QCOMPARE(FieldOfColumn(QStringLiteral("current_date")), -1);

    // Columns that fill no field are kept by key, not used; a column without a name is ignored.
    FakeSettings settings;
    const LetterList list = ReadLetterList(ParseCsv(QStringLiteral("Company Name,E-mail,,Phone,e_mail\nAcme,a@x.com,,555,b@x.com\n")),
                                           settings, QStringLiteral("12/7/26"));
    QCOMPARE(list.otherColumns, (QStringList{"E-mail", "Phone", "e_mail"}));
    QCOMPARE(list.lines.size(), std::size_t(1));
    const LetterLine& line = list.lines.front();
    QVERIFY(line.problem.isEmpty());
    QCOMPARE(TextOf(line, "[CompanyName]"), QStringLiteral("Acme"));
    QCOMPARE(line.otherValues.value(ColumnKey(QStringLiteral("Email"))), QStringLiteral("a@x.com"));
    QCOMPARE(line.otherValues.value(ColumnKey(QStringLiteral("phone"))), QStringLiteral("555"));
    QCOMPARE(line.otherValues.size(), 2);
}

void BatchListTest::unusableColumnsAreNamed()
{
    FakeSettings settings;
    const auto fails = [&](const QString& csv, const QString& expected) {
        try {
            Letters(csv, settings);
        } catch (const AppError& error) {
            return error.Description().contains(expected);
        }
        return false;
    };
    // A list that fills no field is refused, naming the names that would.
    QVERIFY(fails(QStringLiteral("Company,Town,CurrentDate\n"), QStringLiteral("YourName, YourTitle")));
    QVERIFY(fails(QStringLiteral("Company,Town\n"), QStringLiteral("ST2 and ZIPCode2")));
    QVERIFY(fails(QStringLiteral("City,city\n"), QStringLiteral("two columns for [City]")));
    QVERIFY(fails(QString(), QStringLiteral("empty")));
}

void BatchListTest::linesThatCannotMakeALetter()
{
    FakeSettings settings;
    const QString tooLong(LetterFieldLimit + 1, QLatin1Char('x'));
    const auto letters = Letters(QStringLiteral("City,ST\nBoise\nBoise,ID,x\n%1,ID\nBoise,ID\n").arg(tooLong), settings);
    QCOMPARE(letters.size(), std::size_t(4));
    QVERIFY(letters[0].problem.contains(QLatin1String("1 values, but the list has 2 columns")));
    QVERIFY(letters[1].problem.contains(QLatin1String("3 values")));
    QVERIFY2(letters[2].problem.contains(QLatin1String("[City]")) && letters[2].problem.contains(QString::number(LetterFieldLimit)),
             qPrintable(letters[2].problem));
    QVERIFY(letters[3].problem.isEmpty());
    QCOMPARE(letters[3].line, 5);
}

void BatchListTest::fileNames()
{
    QCOMPARE(LetterFileStem(Line(7, QStringLiteral("Acme Inc."), QStringLiteral("Ann")), 3), QStringLiteral("007-Acme Inc"));
    QCOMPARE(LetterFileStem(Line(12, QStringLiteral("  "), QStringLiteral("Zoë SSmith")), 2), QStringLiteral("12-Zoë SSmith"));
    QCOMPARE(LetterFileStem(Line(3, QString(), QString()), 1), QStringLiteral("3"));
    QCOMPARE(LetterFileStem(Line(4, QStringLiteral("../a/b\\c:d*e?f\"g<h>i|j\u0001k\nl\tm"), QString()), 1),
             QStringLiteral("4-.._a_b_c_d_e_f_g_h_i_j_k l m"));
    // Cut to a length every file system takes, never inside a character.
    const QString stem = LetterFileStem(Line(5, QString(300, QChar(0x00E9)), QString()), 1);
    QVERIFY(stem.toUtf8().size() <= 130);
    QVERIFY(stem.endsWith(QChar(0x00E9)));
}

void BatchListTest::progressText()
{
    QCOMPARE(TimeLeftText(SecondsLeft(1, 50, 3.0)), QString());
    QCOMPARE(TimeLeftText(SecondsLeft(11, 50, 2.0)), QStringLiteral("about 8 s left"));
    QCOMPARE(TimeLeftText(SecondsLeft(2, 50, 10.0)), QStringLiteral("about 8 min left"));
    QCOMPARE(TimeLeftText(SecondsLeft(2, 1000, 10.0)), QStringLiteral("about 2 h 46 min left"));
    QCOMPARE(TerminalProgressLine(10, 50, QStringLiteral("010-Acme.doc"), 8.0, 80),
             QStringLiteral("10 of 50 letters, about 8 s left: 010-Acme.doc"));
    // Never as wide as the terminal, so that rewriting it never wraps.
    QCOMPARE(TerminalProgressLine(10, 50, QStringLiteral("010-Acme.doc"), 8.0, 20).size(), 19);
    QCOMPARE(PlainProgressLine(3, 50, QStringLiteral("003-Acme.doc")), QStringLiteral("[3/50] 003-Acme.doc"));
}

void BatchListTest::commandLine()
{
    QString error;
    const auto command = ParseBatchCommand({"--pdf", "list.csv", "--offices=3", "out", "--force"}, error);
    QVERIFY(command);
    QCOMPARE(command->request, BatchRequest::Run);
    QCOMPARE(command->listPath, QStringLiteral("list.csv"));
    QCOMPARE(command->options.outputFolder, QStringLiteral("out"));
    QVERIFY(command->options.pdf && command->options.force);
    QCOMPARE(command->options.offices, 3);
    const auto dashed = ParseBatchCommand({"--offices", "2", "--", "-list.csv", "--pdf"}, error);
    QVERIFY(dashed && !dashed->options.pdf);
    QCOMPARE(dashed->listPath, QStringLiteral("-list.csv"));
    QCOMPARE(dashed->options.offices, 2);
    QCOMPARE(ParseBatchCommand({"--version"}, error)->request, BatchRequest::Version);
    QCOMPARE(ParseBatchCommand({"list.csv", "-h"}, error)->request, BatchRequest::Help);
    // Every refusal is one line that names what is wrong.
    const std::pair<QStringList, QString> refused[] = {
        {{"list.csv"}, QStringLiteral("A list and an output folder")},
        {{"a.csv", "out", "b.csv"}, QStringLiteral("Only one list")},
        {{"--pfd", "list.csv", "out"}, QStringLiteral("'pfd'")},
        {{"--offices", "0", "list.csv", "out"}, QStringLiteral("'0'")},
        {{"list.csv", "out", "--offices"}, QStringLiteral("'--offices'")},
        {{"--pdf=yes", "list.csv", "out"}, QStringLiteral("'--pdf'")},
    };
    for (const auto& [arguments, named] : refused) {
        QVERIFY2(!ParseBatchCommand(arguments, error), qPrintable(arguments.join(QLatin1Char(' '))));
        QVERIFY2(error.contains(named) && !error.contains(QLatin1Char('\n')), qPrintable(error));
    }
}

QTEST_GUILESS_MAIN(BatchListTest)
#include "test_batch_list.moc"
