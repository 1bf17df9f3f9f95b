// The list of an inkhaven-batch run without an office: the letters it asks for, which
// column fills which field, their file names, the progress line and the command line.
#include "batch/BatchCommand.h"
#include "batch/BatchRun.h"
#include "batch/ConditionalText.h"
#include "batch/LetterList.h"
#include "batch/OfficeCount.h"
#include "batch/Progress.h"
#include "batch/UserTemplate.h"
#include "core/AppError.h"
#include "generation/LetterFill.h"
#include "generation/LetterText.h"
#include "support/FakeSettings.h"
#include "support/FakeWord.h"
#include "support/SpreadsheetFiles.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Why the command line is refused; nothing when it is taken.
QString RefusalOf(const QStringList& arguments)
{
    try {
        ParseBatchCommand(arguments);
    } catch (const AppError& refused) {
        return refused.Description();
    }
    return QString();
}

int FieldOf(const char* tag)
{
    for (int field = 0; field < FieldCount; ++field) {
        if (QLatin1String(FieldTags[static_cast<std::size_t>(field)]) == QLatin1String(tag))
            return field;
    }
    return -1;
}

QString TextOf(const LetterLine& line, const char* tag)
{
    const int field = FieldOf(tag);
    return field < 0 ? QStringLiteral("<no such tag>") : line.fields[static_cast<std::size_t>(field)];
}

std::vector<LetterLine> Letters(const QString& csv, FakeSettings& settings)
{
    return ReadLetterList(ParseCsv(csv), settings, QStringLiteral("12/7/26")).lines;
}

// Settings as the window saves them once every field was typed.
void SaveEveryField(FakeSettings& settings)
{
    for (int field = 0; field < TypedFieldCount; ++field)
        settings.WriteSetting(QLatin1String(SettingsApplication), QLatin1String(SettingsSection), FieldKey(field),
                              QStringLiteral("Saved %1").arg(field));
}

LetterLine Line(int number, const QString& company, const QString& recipient)
{
    LetterLine line;
    line.row = line.line = number;
    line.fields[11] = company;
    line.fields[7] = recipient;
    return line;
}
}

class BatchListTest : public QObject {
    Q_OBJECT

private slots:
    void columnsFillFieldsAndSettingsTheRest();
    void columnNamesMatchByKey();
    void columnsGoWhereTheUserMeansThem();
    void linesThatCannotMakeALetter();
    void fileNames();
    void fileNamesSortInListOrder();
    void lettersSentAsMade();
    void namesAndPartsOfTheList();
    void progressText();
    void commandLine();
    void templateTagsForADryRun();
    void lineItemsOfEachLetter();
    void conditionalTexts();
};

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
    QCOMPARE(FieldNamed(QStringLiteral("Street address 2")), 4);
    QCOMPARE(FieldNamed(QStringLiteral("current_date")), DateFieldIndex);

    // Columns that fill no field are kept by key, not used; a column without a name is ignored.
    FakeSettings settings;
    const LetterList list = ReadLetterList(ParseCsv(QStringLiteral("Company Name,E-mail,,Phone,e_mail\nAcme,a@x.com,,555,b@x.com\n")),
                                           settings, QStringLiteral("12/7/26"));
    QCOMPARE(list.otherColumns, (QStringList{"E-mail", "Phone", "e_mail"}));
    QCOMPARE(list.lines.size(), std::size_t(1));
    const LetterLine& line = list.lines.front();
    QVERIFY(line.problem.isEmpty());
    QCOMPARE(TextOf(line, "[CompanyName]"), QStringLiteral("Acme"));
    QCOMPARE(line.columnValues.value(ColumnKey(QStringLiteral("Email"))), QStringLiteral("a@x.com"));
    QCOMPARE(line.columnValues.value(ColumnKey(QStringLiteral("phone"))), QStringLiteral("555"));
    QCOMPARE(line.columnValues.size(), 3);
}

void BatchListTest::columnsGoWhereTheUserMeansThem()
{
    const auto fields = [](const QString& header, const QHash<int, int>& mapped = {}) {
        QStringList tags;
        for (const int field : ColumnFields(header.split(QLatin1Char(',')), mapped))
            tags << (field < 0 ? QStringLiteral("-") : QString::fromLatin1(FieldTags[static_cast<std::size_t>(field)]));
        return tags.join(QLatin1Char(' '));
    };
    // A contact list's address is the recipient's.
    QCOMPARE(fields(QStringLiteral("Recipient Name,company_name,Street Address,City,ZIP-Code,State,Email")),
             QStringLiteral("[RecipientName] [CompanyName] [StreetAddress2] [City2] [ZIPCode2] [ST2] -"));
    QCOMPARE(fields(QStringLiteral("Name,Company,Address,Town,ST,Postal Code,Title")),
             QStringLiteral("[RecipientName] [CompanyName] [StreetAddress2] [City2] [ST2] [ZIPCode2] [Title]"));
    // The sender's take only what is named as the sender's, or their own names beside the recipient's.
    QCOMPARE(fields(QStringLiteral("Your Street Address,Sender City,YourName,Your Title,From ZIP")),
             QStringLiteral("[StreetAddress] [City] [YourName] [YourTitle] [ZIPCode]"));
    QCOMPARE(fields(QStringLiteral("City,City2,ZIPCode,Recipient ZIP,ST")),
             QStringLiteral("[City] [City2] [ZIPCode] [ZIPCode2] [ST2]"));
    // A German list's names, as Calc's users write them.
    QCOMPARE(fields(QStringLiteral("Kundennummer,Anrede,Firma,Name,Stra\u00DFe,PLZ,Ort,Titel")),
             QStringLiteral("- - [CompanyName] [RecipientName] [StreetAddress2] [ZIPCode2] [City2] [Title]"));
    QCOMPARE(fields(QStringLiteral("Absender Name,Empf\u00E4nger Stra\u00DFe,Absender PLZ")),
             QStringLiteral("[YourName] [StreetAddress2] [ZIPCode]"));
    // --map decides instead of the rule, and the rule yields to it.
    QCOMPARE(fields(QStringLiteral("Ort,City"), {{0, FieldNamed(QStringLiteral("City2"))}}), QStringLiteral("[City2] [City]"));

    FakeSettings settings;
    const auto fails = [&](const QString& csv, const QString& expected, const ColumnMap& map = {}) {
        try {
            ReadLetterList(ParseCsv(csv), settings, QStringLiteral("12/7/26"), FieldColumns::Required, {}, map);
        } catch (const AppError& error) {
            return error.Description().contains(expected);
        }
        return false;
    };
    // A list that fills no field is refused, naming the names that would.
    QVERIFY(fails(QStringLiteral("Kundennummer,Region,CurrentDate\n"), QStringLiteral("YourName, YourTitle")));
    QVERIFY(fails(QStringLiteral("City,Town\n"), QStringLiteral("two columns for [City2]")));
    QVERIFY(fails(QStringLiteral("Firma\n"), QStringLiteral("\"Ort\", which the list does not have"), {{QStringLiteral("Ort"), QStringLiteral("City2")}}));
    QVERIFY(fails(QStringLiteral("Ort\n"), QStringLiteral("Region is no field"), {{QStringLiteral("Ort"), QStringLiteral("Region")}}));
    // A UTF-16 list without a byte-order mark gets a hint.
    QVERIFY(fails(QStringLiteral("C\0i\0t\0y\0\n"), QStringLiteral("--encoding UTF-16LE")));

    // A mapped column fills its field and is known to tags and names by the tag it was given.
    const LetterList mapped = ReadLetterList(ParseCsv(QStringLiteral("Firma,Ort\nAcme,Ulm\n")), settings, QStringLiteral("12/7/26"),
                                             FieldColumns::Optional, {}, {{QStringLiteral("Ort"), QStringLiteral("[City2]")},
                                                                          {QStringLiteral("Firma"), QStringLiteral("Kunde")}});
    QCOMPARE(TextOf(mapped.lines.front(), "[City2]"), QStringLiteral("Ulm"));
    QCOMPARE(ValueNamed(QStringLiteral("Kunde"), mapped.columnKeys)(mapped.lines.front()), QStringLiteral("Acme"));
}

void BatchListTest::linesThatCannotMakeALetter()
{
    FakeSettings settings;
    const QString tooLong(LetterFieldLimit + 1, QLatin1Char('x'));
    const LetterList list = ReadLetterList(
        ParseCsv(QStringLiteral("City,ST\nBoise\n,,\nBoise,ID,x\n \t, \n%1,ID\nBoise,ID,,\n").arg(tooLong)), settings,
        QStringLiteral("12/7/26"));
    // Rows of nothing but separators and blanks ask for no letter; they are counted.
    QCOMPARE(list.emptyRows, 2);
    const std::vector<LetterLine>& letters = list.lines;
    QCOMPARE(letters.size(), std::size_t(4));
    QVERIFY(letters[0].problem.contains(QLatin1String("1 values, but the list has 2 columns")));
    QVERIFY(letters[1].problem.contains(QLatin1String("3 values")));
    QVERIFY2(letters[2].problem.contains(QLatin1String("[City2]")) && letters[2].problem.contains(QString::number(LetterFieldLimit)),
             qPrintable(letters[2].problem));
    // Blank values past the last column are no problem.
    QVERIFY2(letters[3].problem.isEmpty(), qPrintable(letters[3].problem));
    QCOMPARE(letters[3].line, 7);
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

void BatchListTest::fileNamesSortInListOrder()
{
    // Nine letters, the last in row 11 (on line 12, after a value over two lines), an empty
    // row among them and one at the end, which is not counted.
    QTemporaryDir folder;
    QString list = QStringLiteral("CompanyName\n");
    for (int row = 1; row <= 9; ++row)
        list += (row == 4 ? QStringLiteral("\"Fourth\nCompany\"\n") : QStringLiteral("Company %1\n").arg(row)) +
                (row == 5 ? QStringLiteral(",\n") : QString());
    list += QStringLiteral(",\n\n");
    const QString path = folder.filePath(QStringLiteral("list.csv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(list.toUtf8()) == list.toUtf8().size());
    file.close();
    BatchCommand command;
    command.listPath = path;
    command.options.outputFolder = folder.filePath(QStringLiteral("letters"));
    FakeSettings settings;
    // Without a sender saved, every letter would lack one: no letter is planned.
    try {
        PlanBatch(command, settings, QStringLiteral("12/7/26"));
        QFAIL("letters without a sender were planned");
    } catch (const AppError& refused) {
        QVERIFY2(refused.Description().startsWith(QLatin1String("The sender's name ([YourName]), the sender's title")) &&
                     refused.Description().contains(QLatin1String("--allow-empty YourName,YourTitle,StreetAddress,City,ST,ZIPCode,RecipientName,")),
                 qPrintable(refused.Description()));
    }
    QVERIFY(!QFileInfo::exists(command.options.outputFolder));
    SaveEveryField(settings);
    // The merged PDF may go into the output folder that the run makes.
    command.options.merged = QDir(command.options.outputFolder).filePath(QStringLiteral("all.pdf"));
    const BatchPlan plan = PlanBatch(command, settings, QStringLiteral("12/7/26"));
    QVERIFY(QFileInfo(command.options.outputFolder).isDir());
    QCOMPARE(plan.jobs.size(), std::size_t(9));
    QCOMPARE(plan.emptyRows, 1);
    QStringList names;
    for (const LetterJob& job : plan.jobs)
        names << job.stem;
    QCOMPARE(names.first(), QStringLiteral("02-Company 1"));
    QCOMPARE(names.last(), QStringLiteral("11-Company 9"));
    QStringList sorted = names;
    sorted.sort();
    QCOMPARE(sorted, names);
    // A merged PDF that could only go to a device is refused before any letter, --force or not.
    command.options.force = true;
    command.options.merged = QStringLiteral("/dev/full");
    try {
        PlanBatch(command, settings, QStringLiteral("12/7/26"));
        QFAIL("a device was taken for the merged PDF");
    } catch (const AppError& refused) {
        QVERIFY2(refused.Description().contains(QLatin1String("is not a file")), qPrintable(refused.Description()));
    }
}

void BatchListTest::lettersSentAsMade()
{
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    qputenv("TEMP", temp.path().toUtf8());
    FakeWord word;
    word.document.stories = {QStringLiteral("[YourName]\r[RecipientName]\r[Title]\r[CompanyName]\r[City2], [ST2] [ZIPCode2]\r"
                                            "[City], [ST] [ZIPCode]\rAttn: [Title]\rDear [RecipientName]:"),
                             QStringLiteral("header")};
    word.document.fields = {
        {1, Word::wdFieldMacroButton, QStringLiteral(" MACROBUTTON DoFieldClick [Recipient Name] "), QStringLiteral("[Recipient Name]")},
        {1, Word::wdFieldCreateDate, QStringLiteral(" CREATEDATE \\@ \"yyyy-MM-dd\" "), QStringLiteral("2024-03-04")},
        {1, Word::wdFieldPage, QStringLiteral(" PAGE "), QStringLiteral("2")},
        {1, Word::wdFieldMacroButton, QStringLiteral(" MACROBUTTON DoFieldClick [Signature] "), QStringLiteral("[Signature]")},
    };
    // The first letter leaves out nothing; the second, made by the same office, does.
    LetterJob full{Line(2, QStringLiteral("Acme"), QStringLiteral("Ann")), QStringLiteral("2-Acme")};
    for (QString& field : full.letter.fields)
        field = QStringLiteral("x");
    LetterJob job{Line(3, QStringLiteral("Acme"), QStringLiteral("Ann")), QStringLiteral("3-Acme")};
    job.letter.fields[static_cast<std::size_t>(FieldOf("[YourName]"))] = QStringLiteral("Sam");
    // White space is as empty as nothing.
    job.letter.fields[static_cast<std::size_t>(FieldOf("[ST2]"))] = QStringLiteral("  ");
    job.letter.fields[static_cast<std::size_t>(FieldOf("[City]"))] = QStringLiteral("Stuttgart");
    job.letter.fields[static_cast<std::size_t>(FieldOf("[ZIPCode]"))] = QStringLiteral("70173");
    BatchOptions options;
    options.outputFolder = temp.filePath(QStringLiteral("out"));
    options.date = QDate(2026, 3, 9);
    QVERIFY(QDir().mkpath(options.outputFolder));
    QCOMPARE(MakeLetters({full, job}, options, word, LetterTemplate{"template", QStringLiteral("template.dot"), QString(), {}},
                         {}, {}, [](const LetterReport& report) { QCOMPARE(report.outcome, LetterOutcome::Made); })
                 .notBegun,
             0);

    QCOMPARE(word.saved.size(), 2);
    // A letter whose fill meets a passing fault is made once more, and says so.
    FakeWord flaky;
    flaky.document.stories = word.document.stories;
    flaky.FailOn(QStringLiteral("SaveAs"), 1, QStringLiteral("The office lost its way"));
    std::vector<LetterReport> reports;
    options.outputFolder = temp.filePath(QStringLiteral("again"));
    QVERIFY(QDir().mkpath(options.outputFolder));
    MakeLetters({job}, options, flaky, LetterTemplate{"template", QStringLiteral("template.dot"), QString(), {}}, {}, {},
                [&reports](const LetterReport& report) { reports.push_back(report); });
    QCOMPARE(reports.size(), std::size_t(1));
    QCOMPARE(reports.front().outcome, LetterOutcome::Made);
    QVERIFY2(reports.front().message.contains(QLatin1String("second try; the first failed: ")) &&
                 reports.front().message.contains(QLatin1String("The office lost its way")),
             qPrintable(reports.front().message));
    // A letter that fails once its template is filled, on both tries, leaves nothing of its
    // texts to the letter after it, which the office makes from the template opened again.
    FakeWord failing;
    failing.document.stories = word.document.stories;
    failing.FailOn(QStringLiteral("SaveAs"), 2);
    failing.FailOn(QStringLiteral("SaveAs"), 3);
    LetterJob broken = job;
    broken.letter.row = 4;
    broken.stem = QStringLiteral("4-Broken");
    broken.letter.fields[static_cast<std::size_t>(FieldOf("[YourName]"))] = QStringLiteral("Broken");
    reports.clear();
    options.outputFolder = temp.filePath(QStringLiteral("midway"));
    QVERIFY(QDir().mkpath(options.outputFolder));
    const BatchResult afterFailure = MakeLetters({full, broken, job}, options, failing,
                                                 LetterTemplate{"template", QStringLiteral("template.dot"), QString(), {}}, {}, {},
                                                 [&reports](const LetterReport& report) { reports.push_back(report); });
    QCOMPARE(reports.size(), std::size_t(3));
    QCOMPARE(reports[1].outcome, LetterOutcome::Failed);
    QCOMPARE(reports[2].outcome, LetterOutcome::Made);
    QCOMPARE(afterFailure.templateReopened, 2);
    QCOMPARE(failing.saved.last().stories[0], QStringLiteral("Sam\rAnn\rAcme\rStuttgart 70173\rAttn:\rDear Ann:"));
    QCOMPARE(word.saved.first().stories[0].count(QLatin1Char('\r')), 7);
    const FakeWord::Content letter = word.saved.last();
    // Only lines of nothing but empty fields go; a line with text of its own keeps it, and
    // an empty field's separator goes with it.
    QCOMPARE(letter.stories[0], QStringLiteral("Sam\rAnn\rAcme\rStuttgart 70173\rAttn:\rDear Ann:"));
    // The template's button for the recipient and its creation date give way to the
    // letter's own, the date in the field's picture; other fields stay.
    QCOMPARE(letter.fields[0].text, QStringLiteral("Ann"));
    QCOMPARE(letter.fields[1].text, QStringLiteral("2026-03-09"));
    QVERIFY(letter.fields[0].unlinked && letter.fields[1].unlinked);
    QVERIFY(!letter.fields[2].unlinked && !letter.fields[3].unlinked);
}

void BatchListTest::namesAndPartsOfTheList()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("list.csv"));
    QFile file(path);
    const QByteArray list = "CompanyName,RecipientName,Sales Region\nAcme,Ann,North\nBolt/Nut,Ben,\nACME,Cid,North\n"
                            "Bad,Row\nAcme,Dee,North\n,,\nDot,Eve,.\n";
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(list) == list.size());
    file.close();
    FakeSettings settings;
    SaveEveryField(settings);
    const auto plan = [&](const QStringList& arguments) {
        return PlanBatch(ParseBatchCommand(arguments + QStringList{path, folder.filePath(QStringLiteral("out"))}), settings,
                         QStringLiteral("12/7/26"));
    };
    const auto named = [](const BatchPlan& made) {
        QStringList names;
        for (const LetterJob& job : made.jobs)
            names << QString::number(job.letter.line) + QLatin1Char(':') + job.stem;
        for (const LetterLine& line : made.unusable)
            names << QString::number(line.line) + QStringLiteral(":unusable");
        names.sort();
        return names;
    };
    // Names from columns matched by the header's rules, made safe; of names alike whatever
    // their case, the later ones get their line numbers.
    const QStringList whole = named(plan({QStringLiteral("--name"), QStringLiteral("{company name} {SalesRegion}")}));
    QCOMPARE(whole, (QStringList{"2:Acme North", "3:Bolt_Nut", "4:ACME North-4", "5:unusable", "6:Acme North-6", "8:Dot"}));
    // A name never begins as an option or a hidden file does; {CurrentDate} is the letter's date.
    QCOMPARE(named(plan({QStringLiteral("--lines"), QStringLiteral("3"), QStringLiteral("--name"),
                         QStringLiteral("{Sales Region} - .{RecipientName} {CurrentDate}")})),
             (QStringList{"3:Ben 12_7_26"}));
    // Parts side by side make every line once, each letter named as in the whole run.
    for (const int count : {1, 2, 3, 4, 7}) {
        QStringList parts;
        for (int index = 1; index <= count; ++index) {
            const QStringList part = named(plan({QStringLiteral("--name"), QStringLiteral("{company name} {SalesRegion}"),
                                                 QStringLiteral("--shard"), QStringLiteral("%1/%2").arg(index).arg(count)}));
            QVERIFY(part.size() <= 6 / count + 1);
            parts << part;
        }
        parts.sort();
        QCOMPARE(parts, whole);
    }
    // --where keeps the rows whose values meet every condition, ignoring case and spaces, before
    // the shards split them, and the letters keep their names; a line that cannot make a
    // letter is still told.
    const QStringList pattern{QStringLiteral("--name"), QStringLiteral("{company name} {SalesRegion}")};
    QCOMPARE(named(plan(pattern + QStringList{QStringLiteral("--where"), QStringLiteral(" sales region = NORTH ")})),
             (QStringList{"2:Acme North", "4:ACME North-4", "5:unusable", "6:Acme North-6"}));
    QCOMPARE(named(plan(pattern + QStringList{QStringLiteral("--where"), QStringLiteral("Sales Region!=north"), QStringLiteral("--where"),
                                              QStringLiteral("SalesRegion is not empty"), QStringLiteral("--shard"), QStringLiteral("2/2")})),
             (QStringList{"8:Dot"}));
    QCOMPARE(named(plan({QStringLiteral("--where"), QStringLiteral("Sales Region is empty")})), (QStringList{"3:3-Bolt_Nut", "5:unusable"}));
    try {
        plan({QStringLiteral("--where"), QStringLiteral("Region=North")});
        QFAIL("a condition on no column was taken");
    } catch (const AppError& refused) {
        QVERIFY2(refused.Description().contains(QLatin1String("--where names Region")), qPrintable(refused.Description()));
    }
    // --lines selects by the list's own line numbers, before the shards split them.
    QCOMPARE(named(plan({QStringLiteral("--lines"), QStringLiteral("3-4,8-")})), (QStringList{"3:3-Bolt_Nut", "4:4-ACME", "8:8-Dot"}));
    // A row named alone that gives nothing is told, not passed over in silence.
    const BatchPlan vain = plan({QStringLiteral("--lines"), QStringLiteral("7,8,30")});
    QVERIFY2(vain.notes.contains(QStringLiteral("--lines names rows 7, 30, which hold nothing or lie past the list's end, so no "
                                                "letter comes of them.")) &&
                 vain.notes.contains(QStringLiteral("1 of the list's 7 rows is this run's: row 8.")),
             qPrintable(vain.notes.join(QLatin1Char('\n'))));
    QCOMPARE(named(plan({QStringLiteral("--lines"), QStringLiteral("2-6"), QStringLiteral("--shard"), QStringLiteral("2/2")})),
             (QStringList{"5:unusable", "6:6-Acme"}));
    // What cannot select or name anything is refused, naming it.
    for (const auto& [option, value] : {std::pair{"--lines", "5-2"}, {"--lines", "x"}, {"--shard", "0/3"}, {"--shard", "4/3"}, {"--where", "Region"}}) {
        const QString error = RefusalOf({option, value, path, QStringLiteral("out")});
        QVERIFY2(error.contains(QLatin1String(value)), qPrintable(error));
    }
    try {
        plan({QStringLiteral("--name"), QStringLiteral("{CompanyName} {Email} {Phone")});
        QFAIL("a pattern with an unclosed brace was taken");
    } catch (const AppError& refused) {
        QVERIFY2(refused.Description().contains(QLatin1String("brace")), qPrintable(refused.Description()));
    }
    try {
        plan({QStringLiteral("--name"), QStringLiteral("{Email}-{CompanyName}-{Phone}")});
        QFAIL("a pattern with unknown columns was taken");
    } catch (const AppError& refused) {
        QVERIFY2(refused.Description().contains(QLatin1String("{Email}, {Phone}")), qPrintable(refused.Description()));
    }
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
    const BatchCommand command = ParseBatchCommand({"--pdf", "list.csv", "--offices=3", "out", "--force"});
    QCOMPARE(command.request, BatchRequest::Run);
    QCOMPARE(command.listPath, QStringLiteral("list.csv"));
    QCOMPARE(command.options.outputFolder, QStringLiteral("out"));
    QVERIFY(command.options.formats == (std::vector<LetterFormat>{LetterFormat::Doc, LetterFormat::Pdf}) && command.options.force);
    QCOMPARE(command.options.offices, 3);
    const BatchCommand dashed = ParseBatchCommand({"--offices", "2", "--", "-list.csv", "--pdf"});
    QVERIFY(dashed.options.formats == std::vector<LetterFormat>{LetterFormat::Doc});
    QCOMPARE(dashed.listPath, QStringLiteral("-list.csv"));
    QCOMPARE(dashed.options.offices, 2);
    const BatchCommand piped = ParseBatchCommand({"--encoding", "ISO-8859-2", "--separator=tab", "-", "out"});
    QCOMPARE(piped.listPath, QStringLiteral("-"));
    QCOMPARE(piped.encoding, QStringLiteral("ISO-8859-2"));
    QCOMPARE(piped.separator, QLatin1Char('\t'));
    QCOMPARE(ParseBatchCommand({"--separator", ";", "a.csv", "out"}).separator, QLatin1Char(';'));
    // Formats in the order given, each once; --pdf adds the Word file and the PDF.
    const BatchCommand formats = ParseBatchCommand({"--format", " odt,.PDF,odt", "--pdf", "l.csv", "out"});
    QVERIFY(formats.options.formats == (std::vector<LetterFormat>{LetterFormat::Odt, LetterFormat::Pdf, LetterFormat::Doc}));
    QCOMPARE(ParseBatchCommand({"--version"}).request, BatchRequest::Version);
    QCOMPARE(ParseBatchCommand({"list.csv", "-h"}).request, BatchRequest::Help);
    // Unless told, one office per CPU the process may use, within its control group's limits:
    // a pod given 2 CPUs of a 32-core node starts 2, one given 4 GiB no more than fit.
    constexpr qint64 MiB = 1024 * 1024;
    QCOMPARE(CpusOfCpuMax(QStringLiteral("150000 100000")).value_or(0), 1.5);
    QCOMPARE(CpusOfQuota(QStringLiteral("50000"), QStringLiteral("100000")).value_or(0), 0.5);
    QVERIFY(!CpusOfCpuMax(QStringLiteral("max 100000")) && !CpusOfQuota(QStringLiteral("-1"), QStringLiteral("100000")));
    QCOMPARE(BytesOfMemoryLimit(QStringLiteral("629145600")).value_or(0), 600 * MiB);
    QVERIFY(!BytesOfMemoryLimit(QStringLiteral("max")) && !BytesOfMemoryLimit(QStringLiteral("9223372036854771712")));
    QCOMPARE(OfficesWithin(32, 2.0, std::nullopt, 64), 2);
    QCOMPARE(OfficesWithin(32, std::nullopt, 4096 * MiB, 64), 15);
    QCOMPARE(OfficesWithin(2, 1.0, 600 * MiB, 64), 1);
    QCOMPARE(OfficesWithin(2, 0.5, 100 * MiB, 64), 1);
    QCOMPARE(OfficesWithin(128, std::nullopt, std::nullopt, 64), 64);
    const BatchCommand dated = ParseBatchCommand({"--date", "2026-12-09", "--date-format", "d. MMMM yyyy", "--language", "de-DE", "l.csv", "out"});
    QCOMPARE(LetterDate(dated.options.date, dated.options.dateFormat, dated.options.language), QStringLiteral("9. Dezember 2026"));
    // German alone writes the date as German letters do; a format given still decides.
    const BatchCommand german = ParseBatchCommand({"--date", "2026-12-08", "--language", "de", "l.csv", "out"});
    QCOMPARE(LetterDate(german.options.date, german.options.dateFormat, german.options.language), QStringLiteral("8. Dezember 2026"));
    QCOMPARE(ParseBatchCommand({"--language", "de", "--date-format", "dd.MM.yyyy", "l.csv", "out"}).options.dateFormat, QStringLiteral("dd.MM.yyyy"));
    // --pdf-a is PDF/A-2b, --pdf-a=3 PDF/A-3b and no other part; --append may be given again.
    QCOMPARE(ParseBatchCommand({"--pdf-a", "l.csv", "out"}).options.archivePart, 2);
    QCOMPARE(ParseBatchCommand({"--pdf-a=3", "--pdf-a", "l.csv", "out"}).options.archivePart, 3);
    QVERIFY_THROWS_EXCEPTION(AppError, ParseBatchCommand({"--pdf-a=1", "l.csv", "out"}));
    QCOMPARE(ParseBatchCommand({"--append", "a.pdf", "--append", "b.pdf", "l.csv", "out"}).options.appended.size(), std::size_t(2));
    // --map and --allow-empty may be given again; each adds to the others.
    const BatchCommand mapped = ParseBatchCommand({"--map", "Ort=City2", "--map", "Firma=[CompanyName]", "--allow-empty", "[ST2],Title",
                                           "--allow-empty", "ST", "l.csv", "out"});
    QCOMPARE(mapped.map, (ColumnMap{{"Ort", "City2"}, {"Firma", "CompanyName"}}));
    QCOMPARE(mapped.allowedEmpty, (QSet<QString>{"st2", "title", "st"}));
    // Every refusal is one line that names what is wrong.
    const std::pair<QStringList, QString> refused[] = {
        {{"list.csv"}, QStringLiteral("A list and an output folder")},
        {{"a.csv", "out", "b.csv"}, QStringLiteral("Only one list")},
        {{"--pfd", "list.csv", "out"}, QStringLiteral("'pfd'")},
        {{"--offices", "0", "list.csv", "out"}, QStringLiteral("'0'")},
        {{"list.csv", "out", "--offices"}, QStringLiteral("'--offices'")},
        {{"--pdf=yes", "list.csv", "out"}, QStringLiteral("'--pdf'")},
        {{"--separator", "|", "list.csv", "out"}, QStringLiteral("'|'")},
        {{"--date", "9.3.2026", "list.csv", "out"}, QStringLiteral("'9.3.2026'")},
        {{"--date", "2026-02-30", "list.csv", "out"}, QStringLiteral("'2026-02-30'")},
        {{"--date-format", "'on the day'", "list.csv", "out"}, QStringLiteral("no part of the date")},
        {{"--format", "docx,rtf", "list.csv", "out"}, QStringLiteral("'rtf'")},
        {{"--format", "", "list.csv", "out"}, QStringLiteral("''")},
        {{"--language", "klingon", "list.csv", "out"}, QStringLiteral("'klingon'")},
        {{"--map", "Ort", "list.csv", "out"}, QStringLiteral("'Ort'")},
        {{"--allow-empty", "ST,,Title", "list.csv", "out"}, QStringLiteral("'ST,,Title'")},
    };
    for (const auto& [arguments, named] : refused) {
        const QString error = RefusalOf(arguments);
        QVERIFY2(error.contains(named) && !error.contains(QLatin1Char('\n')), qPrintable(arguments.join(QLatin1Char(' ')) + QLatin1String(": ") + error));
    }
}

void BatchListTest::templateTagsForADryRun()
{
    // A Word template's tags through its formatting runs, in the body and a header; an
    // OpenDocument one's through its spans; none from a Word 97-2003 file, which only the office reads.
    // The parts are found as Word finds them, through the package's relationships, whatever
    // the main part is called; a package that names none is refused.
    const QByteArray w = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";
    const QByteArray relationships = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    const QByteArray type = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    for (const QString& main : {QStringLiteral("word/document.xml"), QStringLiteral("word/main.xml")}) {
        const QByteArray docx = ZipFile({
            {QStringLiteral("_rels/.rels"), relationships + "<Relationship Id=\"r1\" Type=\"" + type + "officeDocument\" Target=\""
                                                + main.toUtf8() + "\"/></Relationships>"},
            {QStringLiteral("word/_rels/%1.rels").arg(QFileInfo(main).fileName()),
             relationships + "<Relationship Id=\"r2\" Type=\"" + type + "header\" Target=\"head.xml\"/></Relationships>"},
            {main, "<w:document " + w + "><w:body><w:p><w:r><w:rPr><w:b/></w:rPr><w:t>Dear [Cli</w:t></w:r>"
                   "<w:r><w:rPr><w:i/></w:rPr><w:t>ent],</w:t></w:r></w:p><w:p><w:r><w:t>[Plan]</w:t></w:r></w:p></w:body></w:document>"},
            {QStringLiteral("word/head.xml"), "<w:hdr " + w + "><w:p><w:r><w:t>[Region]</w:t></w:r></w:p></w:hdr>"},
            {QStringLiteral("word/styles.xml"), "<w:styles " + w + "><w:p><w:r><w:t>[NotAStory]</w:t></w:r></w:p></w:styles>"},
        });
        QCOMPARE(FindTags(TextWithoutOffice(docx, QStringLiteral("template.docx")).value()), (QStringList{"[Client]", "[Plan]", "[Region]"}));
    }
    const QByteArray unnamed = ZipFile({{QStringLiteral("word/document.xml"), "<w:document " + w + "><w:body/></w:document>"}});
    QVERIFY_THROWS_EXCEPTION(AppError, TextWithoutOffice(unnamed, QStringLiteral("template.docx")));
    const QByteArray odt = ZipFile({{QStringLiteral("content.xml"),
                                     "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                                     "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body><office:text>"
                                     "<text:p>Dear <text:span>[Cli</text:span>ent]<text:line-break/>[Plan</text:p></office:text></office:body>"
                                     "</office:document-content>"}});
    QCOMPARE(FindTags(TextWithoutOffice(odt, QStringLiteral("template.odt")).value()), QStringList{"[Client]"});
    QVERIFY(!TextWithoutOffice("\xD0\xCF\x11\xE0", QStringLiteral("template.doc")));
    QVERIFY_THROWS_EXCEPTION(AppError, TextWithoutOffice("PK\x03\x04 damaged", QStringLiteral("template.docx")));
}

// A run's items, by the key letters and items share, read as a dry run reads them: each
// letter's own in their order, totals as the cells show them, and what cannot make a right
// quote refused before any letter.
void BatchListTest::lineItemsOfEachLetter()
{
    QTemporaryDir folder;
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    };
    write(QStringLiteral("quote.fodt"), "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                                        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body><office:text>"
                                        "<text:p>[CompanyName] [Pos] [Preis] [SUM Preis] [COUNT]</text:p></office:text></office:body></office:document>");
    write(QStringLiteral("list.csv"), "Nummer,CompanyName\nQ1,Alpha\nQ2,Beta\nQ3,Gamma\n");
    write(QStringLiteral("items.csv"), "Nummer;Pos;Preis\nQ2;1;2,25 \xE2\x82\xAC\nQ1;1;0,10 \xE2\x82\xAC\nQ9;1;1,00 \xE2\x82\xAC\n"
                                       "Q1;2;0,20 \xE2\x82\xAC\nQ1;3;999,70 \xE2\x82\xAC\n");
    FakeSettings settings;
    const auto plan = [&](QStringList arguments, const QString& list = QStringLiteral("list.csv")) {
        arguments = QStringList{QStringLiteral("--template"), folder.filePath(QStringLiteral("quote.fodt")), QStringLiteral("--items")}
                    + arguments + QStringList{folder.filePath(list), folder.filePath(QStringLiteral("out"))};
        for (QString& argument : arguments) {
            if (argument.endsWith(QLatin1String(".csv")) && !argument.contains(QLatin1Char('/')))
                argument = folder.filePath(argument);
        }
        BatchPlan made = PlanBatch(ParseBatchCommand(arguments + QStringList{QStringLiteral("--dry-run")}), settings, QStringLiteral("12/7/26"));
        made.letterTemplate.tags(made.tagsWithoutOffice.value());
        return made;
    };
    const auto refusal = [&](const QStringList& arguments, const QString& list = QStringLiteral("list.csv")) {
        try {
            plan(arguments, list);
        } catch (const AppError& refused) {
            return refused.Description();
        }
        return QString();
    };
    // Q3 has no items: allowed here. Q9's item belongs to no letter, and is told.
    const BatchPlan made = plan({QStringLiteral("items.csv"), QStringLiteral("--allow-no-items")});
    QCOMPARE(made.jobs.size(), std::size_t(3));
    QCOMPARE(made.items->Of(made.jobs[0].letter).size(), std::size_t(3));
    QCOMPARE(made.items->Of(made.jobs[0].letter)[2].row, 6);
    const LineTags tags = made.letterTemplate.tags(made.tagsWithoutOffice.value());
    const auto texts = [&](std::size_t job) {
        QStringList all;
        for (const TagText& text : tags.texts(made.jobs[job].letter))
            all << text.tag + QLatin1Char('=') + text.text;
        for (const std::vector<TagText>& item : tags.items(made.jobs[job].letter))
            all << item.front().text + QLatin1Char('/') + item.back().text;
        return all;
    };
    QCOMPARE(texts(0), (QStringList{"[CompanyName]=Alpha", "[COUNT]=3", "[SUM Preis]=1000,00 \u20AC", "1/0,10 \u20AC", "2/0,20 \u20AC", "3/999,70 \u20AC"}));
    QCOMPARE(texts(2), (QStringList{"[CompanyName]=Gamma", "[COUNT]=0", "[SUM Preis]=0,00 \u20AC"}));
    QVERIFY2(made.notes.join(QLatin1Char('\n')).contains(QLatin1String("(row 4) belongs to no row of the list: no letter shows it (its Nummer: \"Q9\")")),
             qPrintable(made.notes.join(QLatin1Char('\n'))));

    // Refused before any letter: a letter without items, a key two rows share, a summed cell
    // that is no number, a separator nothing tells, and no shared column.
    QVERIFY(refusal({QStringLiteral("items.csv")}).contains(QLatin1String("1 letter of the list (row 4) has no items")));
    write(QStringLiteral("twice.csv"), "Nummer,CompanyName\nQ1,Alpha\nQ1,Beta\n");
    QVERIFY(refusal({QStringLiteral("items.csv")}, QStringLiteral("twice.csv")).contains(QLatin1String("Rows 2 and 3 of the list have the same Nummer, \"Q1\"")));
    write(QStringLiteral("gratis.csv"), "Nummer;Pos;Preis\nQ1;1;gratis\nQ2;1;1\nQ3;1;1\n");
    QVERIFY(refusal({QStringLiteral("gratis.csv")}).contains(QLatin1String("its cell in row 2 shows \"gratis\", which is no number")));
    write(QStringLiteral("unclear.csv"), "Nummer;Pos;Preis\nQ1;1;1,250\nQ2;1;1\nQ3;1;1\n");
    QVERIFY(refusal({QStringLiteral("unclear.csv")}).contains(QLatin1String("may mark its decimals or its thousands alike")));
    write(QStringLiteral("unkeyed.csv"), "Angebot;Pos;Preis\nQ1;1;1\n");
    QVERIFY(refusal({QStringLiteral("unkeyed.csv")}).contains(QLatin1String("have no column of the same name")));
    QCOMPARE(plan({QStringLiteral("unkeyed.csv"), QStringLiteral("--items-key"), QStringLiteral("Nummer=Angebot"), QStringLiteral("--allow-no-items")})
                 .items->byKey.size(), 1);
    QVERIFY(RefusalOf({QStringLiteral("--items-key"), QStringLiteral("=x"), QStringLiteral("l"), QStringLiteral("o")}).contains(QLatin1String("--items-key takes")));
}

QTEST_GUILESS_MAIN(BatchListTest)
// Conditional texts as a story's text holds them: found with their parts as written, what a
// paragraph of them alone shows, and every marker out of place refused with its place.
void BatchListTest::conditionalTexts()
{
    const QString story = QStringLiteral("[if Anrede=Frau]Sehr geehrte Frau[ Else if Anrede = Herr ]Sehr geehrter Herr[ELSE]Damen[END  IF] [Name],\r"
                                         "Text [IF Discount]Rabatt [Discount][END IF].\r");
    const std::vector<ConditionalText> parts = FindConditionalTexts(story, QStringLiteral("the main text"));
    QCOMPARE(parts.size(), std::size_t(2));
    QCOMPARE(parts[0].branches.size(), std::size_t(3));
    QCOMPARE(parts[0].branches[0].marker, QStringLiteral("[if Anrede=Frau]"));
    QCOMPARE(parts[0].branches[0].text, QStringLiteral("Sehr geehrte Frau"));
    QCOMPARE(parts[0].branches[1].condition->value, QStringLiteral("Herr"));
    QCOMPARE(parts[0].branches[2].condition, std::nullopt);
    QCOMPARE(parts[0].branches[2].text, QStringLiteral("Damen"));
    QCOMPARE(parts[0].whole, QStringLiteral("[if Anrede=Frau]Sehr geehrte Frau[ Else if Anrede = Herr ]Sehr geehrter Herr[ELSE]Damen[END  IF]"));
    QCOMPARE(parts[1].branches.front().condition->test, RowCondition::Test::IsNotEmpty);
    QCOMPARE(parts[1].branches.size(), std::size_t(1));
    QCOMPARE(parts[1].paragraph, 2);
    QVERIFY(IsConditionMarker(QStringLiteral("[END IF]")) && !IsConditionMarker(QStringLiteral("[IFRS Number]")));
    QCOMPARE(MarkerCondition(QStringLiteral("[IF Discount is empty]"))->test, RowCondition::Test::IsEmpty);

    const auto holds = [](bool value) { return [value](const RowCondition&) { return value; }; };
    const QString alone = QStringLiteral(" [IF Discount]Rabatt: [Discount][END IF] \r");
    QVERIFY(ShowsNothing(alone, holds(false)) && !ShowsNothing(alone, holds(true)));
    QVERIFY(!ShowsNothing(QStringLiteral("Text [IF Discount]Rabatt[END IF]\r"), holds(false)));

    for (const auto& [text, told] : {std::pair{"One\r[ELSE]x[END IF]\r", "\"[ELSE]\" has no [IF ...] before it in the main text, paragraph 2"},
                                     {"[IF A]x\r[END IF]\r", "condition \"[IF A]\" is not closed by [END IF] within its paragraph in the main text, paragraph 1"},
                                     {"[IF A]x", "condition \"[IF A]\" is not closed"},
                                     {"[IF A][IF B]x[END IF][END IF]", "condition \"[IF B]\" stands inside the condition \"[IF A]\""},
                                     {"[IF A]x[ELSE]y[ELSE IF B]z[END IF]", "has \"[ELSE IF B]\" after its [ELSE]"},
                                     {"[IF ]x[END IF]", "\"[IF ]\" is no condition"}}) {
        try {
            FindConditionalTexts(QString::fromUtf8(text), QStringLiteral("the main text"));
            QFAIL(text);
        } catch (const AppError& refused) {
            QVERIFY2(refused.Description().contains(QString::fromUtf8(told)), qPrintable(refused.Description()));
        }
    }
}

#include "test_batch_list.moc"
