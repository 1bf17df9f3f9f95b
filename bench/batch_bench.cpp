// Times inkhaven-batch's run over a list of 50 lines: the offices kept for the whole list
// (the program's way, one office per core side by side), or a fresh office started for
// every letter (as many side by side). From the first office start to the last letter
// placed in the output folder; reports letters per second.
//
// "lists" times the same letters from the list as exported in four ways, each round in
// turn: a UTF-8 CSV file, a Windows-1252 file separated by semicolons, an .xlsx workbook
// and one whose extra columns hold dates and amounts in German number formats
// ([$-407]dd/mm/yyyy, #,##0.00 [$€-407]), from reading the list to the last letter placed;
// reports the median letters per second of each, their ratios to the UTF-8 CSV figure of
// the same rounds, and the share of each run that reading and planning the list took.
//
// "dry-run" times the program's --dry-run over a list of 100,000 rows and, as the baseline
// of the same rounds, over one of 10,000: the ratio says whether planning grows with the
// rows alone.
//
// "outputs" times the same letters written in other ways, each round in turn: as .doc (the
// reference), as .docx, as PDF, and as .doc with every letter in one merged PDF as well
// (the merge's own time and the merged file's size), and as PDF with each of the PDF options
// (PDF/A, a watermark, a page appended); then the program itself, one run with
// an office per core against two runs side by side (--shard 1/2 and 2/2, half the offices
// each), from the start to the last run's end.
//
// "conditions" times the example template's letters, which hold conditional text, against
// the same letter without conditions.
//
// "shards" measures the peak memory and the time of planning parts of a long list (--shard,
// with and without --name, and --lines) against planning the whole list.
//
// "open-template" times letters made from a template each office keeps open (the program's
// way) against the template opened for every letter and closed after it, in turn, as .doc and
// as .doc with a PDF, with one office and with two: from each run's first letter made to its
// last, so that the offices' start counts in neither; reports the letters per second and the
// ratio of the two ways in the same rounds.
//
// "long-run" makes lines letters (5000 by default) with one office from the open template
// and reports, for each tenth of them, the milliseconds per letter and the office's private
// memory at its end: whether either grows over a long run.
//
// "sandbox" times an office's start and the letters of a run with the offices in their
// sandbox and without it, in turn, and reports the ratios of the same rounds.
//
//     batch_bench resident|fresh [lines]        (default 50 lines)
//     batch_bench lists [lines] [rounds]        (default 200 lines, 3 rounds)
//     batch_bench dry-run [lines] [rounds]      (default 100000 lines, 3 rounds)
//     batch_bench outputs [lines] [rounds]      (default 200 lines, 3 rounds)
//     batch_bench sandbox [lines] [rounds]      (default 200 lines, 3 rounds)
//     batch_bench shards [lines] [rounds]       (default 1000000 lines, 3 rounds)
//     batch_bench conditions [lines] [rounds]   (default 100 lines, 3 rounds)
//     batch_bench open-template [lines] [rounds] (default 200 lines, 3 rounds)
//     batch_bench long-run [lines]              (default 5000 lines)

#include "BenchSupport.h"
#include "batch/BatchCommand.h"
#include "batch/BatchRun.h"
#include "batch/LetterList.h"
#include "batch/PdfMerge.h"
#include "core/Platform.h"
#include "files/Leftovers.h"
#include "files/SettingsStore.h"
#include "generation/LetterFill.h"
#include "lists/CsvReader.h"
#include "office/LibreOfficeFactory.h"
#include "process/TerminationSignals.h"
#include "support/FakeSettings.h"
#include "support/SpreadsheetFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
QTextStream out(stdout);
QTextStream err(stderr);

// The rows of a list of every column, so that no value comes from the settings, with a
// different recipient on every line.
// Row 0 names the columns.
QStringList BenchRow(int row)
{
    if (row == 0)
        return {"YourName", "YourTitle", "StreetAddress", "City", "ST", "ZIPCode", "RecipientName", "Title",
                "CompanyName", "StreetAddress2", "City2", "ST2", "ZIPCode2"};
    return {"Tillowmark", "Kestrelworks", "1234 East Main Street", "Boise", "ID", "91002",
            QStringLiteral("J\u00FCrgen Smith %1").arg(row), "Contractor",
            QStringLiteral("Vavuraz Izerirez %1, Inc.").arg(row), "123 Garage St", "Hawthorne", "CA", "90250"};
}

QList<QStringList> BenchRows(int lines)
{
    QList<QStringList> rows;
    for (int row = 0; row <= lines; ++row)
        rows.append(BenchRow(row));
    return rows;
}

QString SeparatedList(const QList<QStringList>& rows, QChar separator)
{
    QString text;
    for (const QStringList& row : rows) {
        QStringList quoted;
        for (const QString& value : row)
            quoted << (value.contains(separator) ? QLatin1Char('"') + value + QLatin1Char('"') : value);
        text += quoted.join(separator) + QStringLiteral("\r\n");
    }
    return text;
}

QString BenchList(int lines)
{
    return SeparatedList(BenchRows(lines), QLatin1Char(','));
}

QByteArray WorkbookList(const QList<QStringList>& rows)
{
    SheetRows sheet;
    for (const QStringList& row : rows) {
        QList<SheetCell> cells;
        for (const QString& value : row) {
            bool number = false;
            const double zip = value.toDouble(&number);
            cells << (number ? NumberCell(zip) : TextCell(value));
        }
        sheet << cells;
    }
    return XlsxFile(sheet);
}

// The rows with two more columns, a date and an amount, in German number formats.
QByteArray GermanWorkbookList(const QList<QStringList>& rows)
{
    SheetRows sheet;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QList<SheetCell> cells;
        for (const QString& value : rows[i])
            cells << TextCell(value);
        if (i == 0)
            cells << TextCell(QStringLiteral("Since")) << TextCell(QStringLiteral("Offer"));
        else
            cells << NumberCell(46254 + static_cast<double>(i), QStringLiteral("[$-407]dd/mm/yyyy"))
                  << NumberCell(1000.5 * static_cast<double>(i), QStringLiteral("#,##0.00\\ [$\u20AC-407]"));
        sheet << cells;
    }
    return XlsxFile(sheet);
}

bool WriteList(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Letters per second from reading the list at path to the last letter placed; 0 when a
// letter failed. readingShare gets the share of that time that reading and planning the list took.
double LettersPerSecond(const QString& path, int lines, const QString& folder, int round, SettingsStore& settings,
                        const QString& date, const QByteArray& letter, double& readingShare)
{
    BatchCommand command;
    command.listPath = path;
    command.options.outputFolder = QDir(folder).filePath(QStringLiteral("%1-%2").arg(QFileInfo(path).fileName()).arg(round));
    command.options.offices = QThread::idealThreadCount();
    int made = 0;
    QElapsedTimer timer;
    timer.start();
    double planned = 0;
    {
        const BatchPlan plan = PlanBatch(command, settings, date);
        planned = Bench::Ms(timer) / 1000;
        LibreOfficeFactory office;
        MakeLetters(plan.jobs, command.options, office, LetterTemplate{letter, QStringLiteral("template.dot"), QString(), {}},
                    {}, {}, [&](const LetterReport& report) { made += report.outcome == LetterOutcome::Made ? 1 : 0; });
    }
    const double seconds = Bench::Ms(timer) / 1000;
    QDir(command.options.outputFolder).removeRecursively();
    readingShare = planned / seconds;
    return made == lines ? lines / seconds : 0;
}

int ListsBench(int lines, int rounds, const QString& folder, const QByteArray& letter)
{
    const QList<QStringList> rows = BenchRows(lines);
    const QStringList names = {QStringLiteral("utf8.csv"), QStringLiteral("windows1252.csv"), QStringLiteral("list.xlsx"),
                               QStringLiteral("german-formats.xlsx")};
    const QList<QByteArray> files = {SeparatedList(rows, QLatin1Char(',')).toUtf8(),
                                     SeparatedList(rows, QLatin1Char(';')).toLatin1(), WorkbookList(rows),
                                     GermanWorkbookList(rows)};
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (!WriteList(QDir(folder).filePath(names[i]), files[i])) {
            err << "the lists cannot be written\n";
            return 1;
        }
    }
    QSettingsStore settings;
    SystemClock clock;
    QHash<QString, QList<double>> rates;
    QHash<QString, QList<double>> ratios;
    QHash<QString, QList<double>> readingShares;
    for (int round = 0; round < rounds; ++round) {
        for (const QString& name : names) {
            double share = 0;
            const double rate = LettersPerSecond(QDir(folder).filePath(name), lines, folder, round, settings,
                                                 LetterDate(clock), letter, share);
            if (rate <= 0) {
                err << name << ": not every letter was made\n";
                return 1;
            }
            rates[name].append(rate);
            readingShares[name].append(share);
        }
        for (const QString& name : names.mid(1))
            ratios[name].append(rates[name].last() / rates[names.first()].last());
    }
    Bench::Report report(out);
    for (const QString& name : names)
        report.Add(QStringLiteral("letters per second, %1").arg(name), Bench::Median(rates[name]));
    for (const QString& name : names.mid(1))
        report.Add(QStringLiteral("ratio to utf8.csv, %1").arg(name), Bench::Median(ratios[name]));
    for (const QString& name : names)
        report.Add(QStringLiteral("percent of the run reading the list, %1").arg(name), 100 * Bench::Median(readingShares[name]));
    return 0;
}

// Seconds of one inkhaven-batch --dry-run over the list at path; 0 when it did not end as planned.
double DryRunSeconds(const QString& path, const QString& folder)
{
    QProcess batch;
    QElapsedTimer timer;
    timer.start();
    batch.start(QStringLiteral(INKHAVEN_BATCH), {QStringLiteral("--dry-run"), path, QDir(folder).filePath(QStringLiteral("planned"))});
    batch.closeWriteChannel();
    // Its plan is read as it comes, so that a full pipe never holds it.
    while (batch.state() != QProcess::NotRunning) {
        batch.waitForReadyRead(1000);
        batch.readAllStandardOutput();
        batch.readAllStandardError();
    }
    const double seconds = Bench::Ms(timer) / 1000;
    return batch.exitStatus() == QProcess::NormalExit && batch.exitCode() == 0 ? seconds : 0;
}

int DryRunBench(int lines, int rounds, const QString& folder)
{
    const int baseline = std::max(1, lines / 10);
    const QString big = QDir(folder).filePath(QStringLiteral("big.csv"));
    const QString small = QDir(folder).filePath(QStringLiteral("small.csv"));
    if (!WriteList(big, BenchList(lines).toUtf8()) || !WriteList(small, BenchList(baseline).toUtf8())) {
        err << "the lists cannot be written\n";
        return 1;
    }
    QList<double> bigSeconds;
    QList<double> smallSeconds;
    QList<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        smallSeconds.append(DryRunSeconds(small, folder));
        bigSeconds.append(DryRunSeconds(big, folder));
        if (smallSeconds.last() <= 0 || bigSeconds.last() <= 0) {
            err << "a dry run did not end with status 0\n";
            return 1;
        }
        ratios.append(bigSeconds.last() / smallSeconds.last());
    }
    Bench::Report report(out);
    report.Add(QStringLiteral("dry-run seconds, %1 rows").arg(lines), Bench::Median(bigSeconds));
    report.Add(QStringLiteral("dry-run seconds, %1 rows").arg(baseline), Bench::Median(smallSeconds));
    report.Add(QStringLiteral("ratio of the two"), Bench::Median(ratios));
    return 0;
}

// The peak memory (resident set, in MB) and seconds of one inkhaven-batch --dry-run with
// arguments over the list at path, its output thrown away; nothing when it did not end with
// status 0.
std::optional<std::pair<double, double>> PlannedPeak(const QStringList& arguments, const QString& path, const QString& folder)
{
    std::vector<QByteArray> words{QByteArray(INKHAVEN_BATCH), QByteArray("--dry-run")};
    for (const QString& argument : arguments + QStringList{path, QDir(folder).filePath(QStringLiteral("planned"))})
        words.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    QElapsedTimer timer;
    timer.start();
    const pid_t child = ::fork();
    if (child == 0) {
        const int nothing = ::open("/dev/null", O_RDWR);
        ::dup2(nothing, STDIN_FILENO);
        ::dup2(nothing, STDOUT_FILENO);
        ::dup2(nothing, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage {};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return std::pair(usage.ru_maxrss / 1024.0, Bench::Ms(timer) / 1000);
}

// Letters per second of the example template (conditional text in the main text and the
// address window) against the same letter with every condition replaced by its first text,
// over the example list repeated to lines rows, each round in turn, one office.
int ConditionsBench(int lines, int rounds, const QString& folder)
{
    QFile example(QStringLiteral(INKHAVEN_EXAMPLES "/angebot.fodt"));
    QFile examples(QStringLiteral(INKHAVEN_EXAMPLES "/kunden.csv"));
    if (!example.open(QIODevice::ReadOnly) || !examples.open(QIODevice::ReadOnly)) {
        err << "the example cannot be read\n";
        return 1;
    }
    const QString conditional = QString::fromUtf8(example.readAll());
    static const QRegularExpression condition(QStringLiteral("\\[IF [^\\]]*\\](.*?)(\\[ELSE[^\\]]*\\].*?)?\\[END IF\\]"));
    const QString plain = QString(conditional).replace(condition, QStringLiteral("\\1"));
    const QList<QByteArray> rows = examples.readAll().trimmed().split('\n');
    QByteArray list = rows.front() + '\n';
    for (int row = 0; row < lines; ++row)
        list += rows[1 + row % (rows.size() - 1)] + '\n';
    const QString listPath = QDir(folder).filePath(QStringLiteral("kunden.csv"));
    const QList<std::pair<QString, QString>> templates = {{QStringLiteral("without conditions"), plain},
                                                          {QStringLiteral("the example, with conditions"), conditional}};
    if (!WriteList(listPath, list))
        return 1;
    QHash<QString, QList<double>> rates;
    QList<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& [name, text] : templates) {
            const QString path = QDir(folder).filePath(QStringLiteral("letter.fodt"));
            if (!WriteList(path, text.toUtf8()))
                return 1;
            BatchCommand command;
            command.listPath = listPath;
            command.templatePath = path;
            command.allowedEmpty = {ColumnKey(QStringLiteral("ST")), ColumnKey(QStringLiteral("ST2")), ColumnKey(QStringLiteral("Title"))};
            command.options.outputFolder = QDir(folder).filePath(QStringLiteral("conditions-%1").arg(round));
            command.options.offices = 1;
            FakeSettings settings;
            int made = 0;
            QElapsedTimer timer;
            timer.start();
            {
                const BatchPlan plan = PlanBatch(command, settings, QStringLiteral("8. Dezember 2026"));
                LibreOfficeFactory office;
                MakeLetters(plan.jobs, command.options, office, plan.letterTemplate, {}, {},
                            [&](const LetterReport& report) { made += report.outcome == LetterOutcome::Made ? 1 : 0; });
            }
            QDir(command.options.outputFolder).removeRecursively();
            if (made != lines) {
                err << name << ": " << made << " of " << lines << " letters made\n";
                return 1;
            }
            rates[name].append(lines / (Bench::Ms(timer) / 1000));
        }
        ratios.append(rates[templates[1].first].last() / rates[templates[0].first].last());
    }
    Bench::Report report(out);
    for (const auto& [name, text] : templates)
        report.Add(QStringLiteral("letters per second, %1").arg(name), Bench::Median(rates[name]));
    report.Add(QStringLiteral("ratio of the two"), Bench::Median(ratios));
    return 0;
}

// Letters per second of the example quote with 10 line items each against the same letter
// without its items' row and totals, over lines offers, each round in turn, one office; and
// the peak memory of planning a 1,000,000-item list's --shard 3/100 (100,000 offers of 10
// items each).
int ItemsBench(int lines, int rounds, const QString& folder)
{
    QFile example(QStringLiteral(INKHAVEN_EXAMPLES "/angebot-positionen.fodt"));
    if (!example.open(QIODevice::ReadOnly)) {
        err << "the example cannot be read\n";
        return 1;
    }
    const QString quote = QString::fromUtf8(example.readAll());
    static const QRegularExpression itemRow(QStringLiteral("<table:table-row>\\s*<table:table-cell table:style-name=\"Zelle\">.*?</table:table-row>"),
                                            QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression totals(QStringLiteral("<text:p text:style-name=\"Rechts\">Nettobetrag.*?</text:p>"));
    const QString plain = QString(quote).remove(itemRow).remove(totals);
    const auto offers = [](int count, const QString& path) {
        QFile file(path);
        bool written = file.open(QIODevice::WriteOnly) &&
                       file.write("Angebot,CompanyName,Anrede,RecipientName,Nachname,StreetAddress2,ZIPCode2,City2,YourName,YourTitle,"
                                  "StreetAddress,City,ZIPCode\n") > 0;
        for (int row = 0; row < count && written; ++row)
            written = file.write(QStringLiteral("A-%1,Firma %1 GmbH,Frau,Anna Muster,Muster,Hauptstr. %1,10115,Berlin,Tilda Marsh,"
                                                "Vertrieb,Hafenstr. 12,Hamburg,20457\n").arg(row).toUtf8()) > 0;
        return written && file.flush();
    };
    const auto items = [](int count, const QString& path) {
        QFile file(path);
        bool written = file.open(QIODevice::WriteOnly) && file.write("Angebot;Pos;Beschreibung;Menge;Einzelpreis;Betrag\n") > 0;
        for (int item = 0; item < count * 10 && written; ++item)
            written = file.write(QStringLiteral("A-%1;%2;Artikel %3;2;%4,50 \u20AC;%5,00 \u20AC\n")
                                     .arg(item / 10).arg(item % 10 + 1).arg(item).arg(item % 100).arg(2 * (item % 100) + 1).toUtf8()) > 0;
        return written && file.flush();
    };
    const QString listPath = QDir(folder).filePath(QStringLiteral("angebote.csv"));
    const QString itemsPath = QDir(folder).filePath(QStringLiteral("positionen.csv"));
    if (!offers(lines, listPath) || !items(lines, itemsPath))
        return 1;
    const QList<std::pair<QString, QString>> templates = {{QStringLiteral("without items"), plain},
                                                          {QStringLiteral("with 10 items each"), quote}};
    QHash<QString, QList<double>> rates;
    QList<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& [name, text] : templates) {
            const QString path = QDir(folder).filePath(QStringLiteral("quote.fodt"));
            if (!WriteList(path, text.toUtf8()))
                return 1;
            BatchCommand command;
            command.listPath = listPath;
            command.templatePath = path;
            if (text == quote)
                command.itemsSource = itemsPath;
            command.options.outputFolder = QDir(folder).filePath(QStringLiteral("items-%1").arg(round));
            command.options.offices = 1;
            FakeSettings settings;
            int made = 0;
            QElapsedTimer timer;
            timer.start();
            {
                const BatchPlan plan = PlanBatch(command, settings, QStringLiteral("8. Dezember 2026"));
                LibreOfficeFactory office;
                const BatchResult result = MakeLetters(plan.jobs, command.options, office, plan.letterTemplate, {}, {},
                                                       [&](const LetterReport& report) { made += report.outcome == LetterOutcome::Made ? 1 : 0; });
                if (result.templateReopened > 0)
                    err << name << ": the template was opened again " << result.templateReopened << " times\n";
            }
            QDir(command.options.outputFolder).removeRecursively();
            if (made != lines) {
                err << name << ": " << made << " of " << lines << " letters made\n";
                return 1;
            }
            rates[name].append(lines / (Bench::Ms(timer) / 1000));
        }
        ratios.append(rates[templates[0].first].last() / rates[templates[1].first].last());
    }
    constexpr int Offers = 100000;
    const QString longList = QDir(folder).filePath(QStringLiteral("long-angebote.csv"));
    const QString longItems = QDir(folder).filePath(QStringLiteral("long-positionen.csv"));
    if (!WriteList(QDir(folder).filePath(QStringLiteral("quote.fodt")), quote.toUtf8()) || !offers(Offers, longList) || !items(Offers, longItems))
        return 1;
    QList<double> peaks;
    for (int round = 0; round < rounds; ++round) {
        const auto planned = PlannedPeak({QStringLiteral("--template"), QDir(folder).filePath(QStringLiteral("quote.fodt")), QStringLiteral("--items"),
                                          longItems, QStringLiteral("--shard"), QStringLiteral("3/100")},
                                         longList, folder);
        if (!planned) {
            err << "the dry run of the long list did not end with status 0\n";
            return 1;
        }
        peaks.append(planned->first);
    }
    Bench::Report report(out);
    for (const auto& [name, text] : templates)
        report.Add(QStringLiteral("letters per second, %1").arg(name), Bench::Median(rates[name]));
    report.Add(QStringLiteral("cost of a letter with 10 items to one without"), Bench::Median(ratios));
    report.Add(QStringLiteral("peak MB planning --shard 3/100 of 1,000,000 items"), Bench::Median(peaks));
    return 0;
}

// The letters of jobs made with options from the built-in letter; made is called with the
// seconds since the run began as each letter is made. Whether every letter was made.
bool MadeLetters(const std::vector<LetterJob>& jobs, const BatchOptions& options, const QByteArray& letter,
                 const std::function<void(double seconds)>& made)
{
    int count = 0;
    QElapsedTimer timer;
    timer.start();
    LibreOfficeFactory office;
    MakeLetters(jobs, options, office, LetterTemplate{letter, QStringLiteral("template.dot"), QString(), {}}, {}, {},
                [&](const LetterReport& report) {
        if (report.outcome != LetterOutcome::Made) {
            err << "row " << report.row << ": " << report.message << "\n";
            return;
        }
        ++count;
        made(Bench::Ms(timer) / 1000);
    });
    return count == static_cast<int>(jobs.size());
}

std::vector<LetterJob> BenchJobs(int lines)
{
    QSettingsStore settings;
    SystemClock clock;
    std::vector<LetterJob> jobs;
    for (const LetterLine& line : ReadLetterList(ParseCsv(BenchList(lines)), settings, LetterDate(clock)).lines)
        jobs.push_back({line, LetterFileStem(line, 3)});
    return jobs;
}

int OpenTemplateBench(int lines, int rounds, const QString& folder, const QByteArray& letter)
{
    const std::vector<LetterJob> jobs = BenchJobs(lines);
    const QList<std::pair<QString, std::vector<LetterFormat>>> formats = {
        {QStringLiteral(".doc"), {LetterFormat::Doc}}, {QStringLiteral(".doc,.pdf"), {LetterFormat::Doc, LetterFormat::Pdf}}};
    const auto nameOf = [](const QString& format, int offices) {
        return QStringLiteral("%1, %2 %3").arg(format).arg(offices).arg(offices == 1 ? "office" : "offices");
    };
    const auto wayOf = [](const QString& name, bool perLetter) {
        return name + (perLetter ? QStringLiteral(", opened per letter") : QStringLiteral(", kept open"));
    };
    QHash<QString, QList<double>> rates;
    QHash<QString, QList<double>> ratios;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& [formatName, formatList] : formats) {
            for (const int offices : {1, 2}) {
                const QString name = nameOf(formatName, offices);
                QHash<bool, double> rate;
                // The order of the two ways changes from round to round.
                for (const bool perLetter : {round % 2 == 0, round % 2 != 0}) {
                    BatchOptions options;
                    options.outputFolder = QDir(folder).filePath(QStringLiteral("open-%1").arg(round));
                    QDir().mkpath(options.outputFolder);
                    options.formats = formatList;
                    options.offices = offices;
                    options.templatePerLetter = perLetter;
                    double first = 0;
                    double last = 0;
                    const bool all = MadeLetters(jobs, options, letter, [&](double seconds) {
                        if (first == 0)
                            first = seconds;
                        last = seconds;
                    });
                    QDir(options.outputFolder).removeRecursively();
                    if (!all || last <= first) {
                        err << name << ": not every letter was made\n";
                        return 1;
                    }
                    rate[perLetter] = (lines - 1) / (last - first);
                    rates[wayOf(name, perLetter)].append(rate[perLetter]);
                }
                ratios[name].append(rate[false] / rate[true]);
            }
        }
    }
    Bench::Report report(out);
    for (const auto& [formatName, formatList] : formats) {
        for (const int offices : {1, 2}) {
            const QString name = nameOf(formatName, offices);
            for (const bool perLetter : {false, true})
                report.Add(QStringLiteral("letters per second, %1").arg(wayOf(name, perLetter)), Bench::Median(rates[wayOf(name, perLetter)]));
            report.Add(QStringLiteral("ratio kept open to opened per letter, %1").arg(name), Bench::Median(ratios[name]));
        }
    }
    return 0;
}

int LongRunBench(int lines, const QString& folder, const QByteArray& letter)
{
    const std::vector<LetterJob> jobs = BenchJobs(lines);
    BatchOptions options;
    options.outputFolder = QDir(folder).filePath(QStringLiteral("long"));
    QDir().mkpath(options.outputFolder);
    options.offices = 1;
    const int tenth = std::max(1, lines / 10);
    int made = 0;
    double blockStart = 0;
    Bench::Report report(out);
    const bool all = MadeLetters(jobs, options, letter, [&](double seconds) {
        ++made;
        // The letters are removed as they come, so that the folder stays small.
        QDir(options.outputFolder).removeRecursively();
        QDir().mkpath(options.outputFolder);
        if (made == 1) {
            blockStart = seconds;
            return;
        }
        if ((made - 1) % tenth != 0)
            return;
        report.Add(QStringLiteral("ms per letter, letters %1-%2").arg(made - tenth).arg(made), 1000 * (seconds - blockStart) / tenth);
        report.Add(QStringLiteral("office private MB after %1 letters").arg(made),
                   static_cast<double>(Bench::MeasureOffices(::getpid()).privateKb) / 1024);
        blockStart = seconds;
    });
    return all ? 0 : 1;
}

// The memory and time of planning a part of a long list (--shard 3/100, with and without a
// --name pattern, and --lines 2-5) against planning the whole list, each round in turn.
int PartBench(int lines, int rounds, const QString& folder)
{
    // Written row by row: this process stays small, as the memory of the runs it starts
    // counts what it held when it started them.
    const QString list = QDir(folder).filePath(QStringLiteral("long.csv"));
    QFile file(list);
    bool written = file.open(QIODevice::WriteOnly);
    for (int row = 0; row <= lines && written; ++row)
        written = file.write(SeparatedList({BenchRow(row)}, QLatin1Char(',')).toUtf8()) > 0;
    if (!written || !file.flush()) {
        err << "the list cannot be written\n";
        return 1;
    }
    file.close();
    const QList<std::pair<QString, QStringList>> runs = {
        {QStringLiteral("the whole list"), {}},
        {QStringLiteral("--shard 3/100"), {QStringLiteral("--shard"), QStringLiteral("3/100")}},
        {QStringLiteral("--shard 3/100 --name \"{CompanyName} {RecipientName}\""),
         {QStringLiteral("--shard"), QStringLiteral("3/100"), QStringLiteral("--name"), QStringLiteral("{CompanyName} {RecipientName}")}},
        {QStringLiteral("--lines 2-5"), {QStringLiteral("--lines"), QStringLiteral("2-5")}}};
    QHash<QString, QList<double>> peaks;
    QHash<QString, QList<double>> seconds;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& [name, arguments] : runs) {
            const auto planned = PlannedPeak(arguments, list, folder);
            if (!planned) {
                err << "a dry run of " << name << " did not end with status 0\n";
                return 1;
            }
            peaks[name].append(planned->first);
            seconds[name].append(planned->second);
        }
    }
    Bench::Report report(out);
    const double whole = Bench::Median(peaks[runs.front().first]);
    for (const auto& [name, arguments] : runs) {
        report.Add(QStringLiteral("peak MB planning %1 of %2 rows").arg(name).arg(lines), Bench::Median(peaks[name]));
        report.Add(QStringLiteral("seconds planning %1").arg(name), Bench::Median(seconds[name]));
        report.Add(QStringLiteral("peak of %1 to the whole list's").arg(name), Bench::Median(peaks[name]) / whole);
    }
    return 0;
}

// Letters per second of one run of command from planning to the last letter placed (and
// the merged file, when asked for); 0 when a letter failed. merged gets its report.
double TimedRun(BatchCommand command, int lines, const QString& folder, const QByteArray& letter, MergeReport& merged,
                OfficeSandboxing sandboxing = OfficeSandboxing::WhereAllowed)
{
    SystemClock clock;
    QSettingsStore settings;
    command.options.offices = QThread::idealThreadCount();
    int made = 0;
    QElapsedTimer timer;
    timer.start();
    {
        const BatchPlan plan = PlanBatch(command, settings, LetterDate(clock));
        LibreOfficeFactory office({}, QString(), sandboxing);
        const BatchResult result =
            MakeLetters(plan.jobs, command.options, office, LetterTemplate{letter, QStringLiteral("template.dot"), QString(), {}},
                        {}, {}, [&](const LetterReport& report) { made += report.outcome == LetterOutcome::Made ? 1 : 0; });
        if (result.merged)
            merged = *result.merged;
    }
    const double seconds = Bench::Ms(timer) / 1000;
    QDir(folder).removeRecursively();
    return made == lines && merged.problem.isEmpty() ? lines / seconds : 0;
}

// Letters per second of the program run as each of runs side by side over list, into one
// folder, from the first start to the last end; 0 when a run did not make all its letters.
double ProgramRuns(const QList<QStringList>& runs, int lines, const QString& list, const QString& folder)
{
    QElapsedTimer timer;
    timer.start();
    std::vector<std::unique_ptr<QProcess>> processes;
    for (const QStringList& arguments : runs) {
        processes.push_back(std::make_unique<QProcess>());
        processes.back()->start(QStringLiteral(INKHAVEN_BATCH), arguments + QStringList{list, folder});
    }
    bool ok = true;
    for (const auto& process : processes)
        ok = process->waitForFinished(-1) && process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0 && ok;
    const double seconds = Bench::Ms(timer) / 1000;
    const bool all = QDir(folder).entryList(QDir::Files).size() == lines;
    QDir(folder).removeRecursively();
    return ok && all ? lines / seconds : 0;
}

int OutputsBench(int lines, int rounds, const QString& folder, const QByteArray& letter)
{
    const QString list = QDir(folder).filePath(QStringLiteral("list.csv"));
    if (!WriteList(list, BenchList(lines).toUtf8())) {
        err << "the list cannot be written\n";
        return 1;
    }
    const QString letters = QDir(folder).filePath(QStringLiteral("letters"));
    const QString merged = QDir(folder).filePath(QStringLiteral("merged.pdf"));
    // A page of terms to append: a drawn box, a page any PDF may hold.
    const QString terms = QDir(folder).filePath(QStringLiteral("terms.pdf"));
    if (!WriteList(terms, "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
                          "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]/Contents 4 0 R>>endobj\n"
                          "4 0 obj<</Length 23>>stream\n72 72 468 648 re S\nendstream endobj\ntrailer<</Root 1 0 R>>\n%%EOF\n")) {
        err << "the page to append cannot be written\n";
        return 1;
    }
    const QList<std::pair<QString, QStringList>> ways = {
        {QStringLiteral("doc"), {}},
        {QStringLiteral("docx"), {QStringLiteral("--format"), QStringLiteral("docx")}},
        {QStringLiteral("pdf"), {QStringLiteral("--format"), QStringLiteral("pdf")}},
        {QStringLiteral("doc, merged"), {QStringLiteral("--merged"), merged}},
        {QStringLiteral("pdf, PDF/A"), {QStringLiteral("--format"), QStringLiteral("pdf"), QStringLiteral("--pdf-a")}},
        {QStringLiteral("pdf, watermark"), {QStringLiteral("--format"), QStringLiteral("pdf"), QStringLiteral("--watermark"), QStringLiteral("ENTWURF")}},
        {QStringLiteral("pdf, a page appended"), {QStringLiteral("--format"), QStringLiteral("pdf"), QStringLiteral("--append"), terms}},
    };
    const QString half = QString::number(std::max(1, QThread::idealThreadCount() / 2));
    QHash<QString, QList<double>> rates;
    QList<double> mergeSeconds;
    QList<double> mergeBytes;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& [name, arguments] : ways) {
            MergeReport report;
            BatchCommand command = ParseBatchCommand(arguments + QStringList{list, letters});
            for (AppendedPdf& appended : command.options.appended)
                appended.bytes = ReadAppendedPdf(appended.path, command.options.archivePart > 0);
            const double rate = TimedRun(command, lines, letters, letter, report);
            if (rate <= 0) {
                err << name << ": not every letter was made " << report.problem << "\n";
                return 1;
            }
            rates[name].append(rate);
            if (!report.rows.empty()) {
                mergeSeconds.append(report.seconds);
                mergeBytes.append(static_cast<double>(report.bytes) / (1024 * 1024));
                QFile::remove(merged);
            }
        }
        rates[QStringLiteral("one run")].append(ProgramRuns({{}}, lines, list, letters));
        rates[QStringLiteral("two shards side by side")].append(
            ProgramRuns({{QStringLiteral("--shard"), QStringLiteral("1/2"), QStringLiteral("--offices"), half},
                         {QStringLiteral("--shard"), QStringLiteral("2/2"), QStringLiteral("--offices"), half}},
                        lines, list, letters));
    }
    Bench::Report report(out);
    for (const QString& name : {QStringLiteral("doc"), QStringLiteral("docx"), QStringLiteral("pdf"), QStringLiteral("doc, merged"),
                                QStringLiteral("pdf, PDF/A"), QStringLiteral("pdf, watermark"), QStringLiteral("pdf, a page appended"),
                                QStringLiteral("one run"), QStringLiteral("two shards side by side")})
        report.Add(QStringLiteral("letters per second, %1").arg(name), Bench::Median(rates[name]));
    report.Add(QStringLiteral("merge seconds"), Bench::Median(mergeSeconds));
    report.Add(QStringLiteral("merged MB"), Bench::Median(mergeBytes));
    return 0;
}

// Milliseconds from asking for an office to its first answer, and then to its end.
double OfficeStartMs(OfficeSandboxing sandboxing)
{
    LibreOfficeFactory office({}, QString(), sandboxing);
    QElapsedTimer timer;
    timer.start();
    const std::shared_ptr<Word::Application> application = office.CreateApplication();
    const double ms = Bench::Ms(timer);
    application->Quit();
    office.WaitForEndedOffices();
    return ms;
}

// The sandbox's cost: each round an office started and the letters made with and without
// it, in turn, the order changing from round to round.
int SandboxBench(int lines, int rounds, const QString& folder, const QByteArray& letter)
{
    if (!OfficeSandboxSupport().missing.isEmpty()) {
        err << "no sandbox here: " << OfficeSandboxSupport().missing << "\n";
        return 1;
    }
    const QString list = QDir(folder).filePath(QStringLiteral("list.csv"));
    if (!WriteList(list, BenchList(lines).toUtf8())) {
        err << "the list cannot be written\n";
        return 1;
    }
    const QString letters = QDir(folder).filePath(QStringLiteral("letters"));
    const BatchCommand command = ParseBatchCommand({list, letters});
    QHash<int, QList<double>> starts;
    QHash<int, QList<double>> rates;
    QList<double> startRatios;
    QList<double> rateRatios;
    for (int round = 0; round < rounds; ++round) {
        const bool sandboxFirst = round % 2 == 0;
        for (const OfficeSandboxing way : {sandboxFirst ? OfficeSandboxing::WhereAllowed : OfficeSandboxing::Off,
                                           sandboxFirst ? OfficeSandboxing::Off : OfficeSandboxing::WhereAllowed}) {
            const int key = static_cast<int>(way);
            starts[key].append(OfficeStartMs(way));
            MergeReport merged;
            const double rate = TimedRun(command, lines, letters, letter, merged, way);
            if (rate <= 0) {
                err << "not every letter was made\n";
                return 1;
            }
            rates[key].append(rate);
        }
        const int in = static_cast<int>(OfficeSandboxing::WhereAllowed);
        const int out = static_cast<int>(OfficeSandboxing::Off);
        startRatios.append(starts[in].last() / starts[out].last());
        rateRatios.append(rates[in].last() / rates[out].last());
    }
    Bench::Report report(out);
    report.Add(QStringLiteral("office start ms, sandboxed"), Bench::Median(starts[static_cast<int>(OfficeSandboxing::WhereAllowed)]));
    report.Add(QStringLiteral("office start ms, without"), Bench::Median(starts[static_cast<int>(OfficeSandboxing::Off)]));
    report.Add(QStringLiteral("office start, ratio"), Bench::Median(startRatios));
    report.Add(QStringLiteral("letters per second, sandboxed"), Bench::Median(rates[static_cast<int>(OfficeSandboxing::WhereAllowed)]));
    report.Add(QStringLiteral("letters per second, without"), Bench::Median(rates[static_cast<int>(OfficeSandboxing::Off)]));
    report.Add(QStringLiteral("letters per second, ratio"), Bench::Median(rateRatios));
    return 0;
}
}

int main(int argc, char* argv[])
{
    // The runs make letters as the program does: what a benchmark killed outright leaves (the
    // working folder, the offices' folders) is removed by the next start.
    const LeftoverJournal leftovers;
    QCoreApplication application(argc, argv);
    IgnoreBrokenPipes();
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const bool lists = mode == QLatin1String("lists");
    const bool outputs = mode == QLatin1String("outputs");
    const bool sandbox = mode == QLatin1String("sandbox");
    const bool dryRun = mode == QLatin1String("dry-run");
    const bool part = mode == QLatin1String("shards");
    const bool conditions = mode == QLatin1String("conditions");
    const bool openTemplate = mode == QLatin1String("open-template");
    const bool longRun = mode == QLatin1String("long-run");
    const bool lineItems = mode == QLatin1String("items");
    const int lines = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt()
                      : part     ? 1000000
                      : dryRun   ? 100000
                      : longRun  ? 5000
                      : lists || outputs || sandbox || openTemplate ? 200
                      : conditions || lineItems ? 100
                                   : 50;
    const int rounds = argc > 3 ? QString::fromLocal8Bit(argv[3]).toInt() : 3;
    if ((mode != QLatin1String("resident") && mode != QLatin1String("fresh") && !lists && !outputs && !dryRun && !sandbox && !part && !conditions &&
         !openTemplate && !longRun && !lineItems) ||
        lines < 1 ||
        rounds < 1) {
        err << "usage: batch_bench resident|fresh|long-run [lines] | "
               "batch_bench lists|outputs|dry-run|sandbox|shards|conditions|items|open-template [lines] [rounds]\n";
        return 2;
    }
    QTemporaryDir output;
    QFile letter(QStringLiteral(INKHAVEN_LETTER_TEMPLATE));
    if (!output.isValid() || !letter.open(QIODevice::ReadOnly)) {
        err << "no output folder or no letter template\n";
        return 1;
    }
    if (lists)
        return ListsBench(lines, rounds, output.path(), letter.readAll());
    if (outputs)
        return OutputsBench(lines, rounds, output.path(), letter.readAll());
    if (dryRun)
        return DryRunBench(lines, rounds, output.path());
    if (part)
        return PartBench(lines, rounds, output.path());
    if (conditions)
        return ConditionsBench(lines, rounds, output.path());
    if (lineItems)
        return ItemsBench(lines, rounds, output.path());
    if (sandbox)
        return SandboxBench(lines, rounds, output.path(), letter.readAll());
    if (openTemplate)
        return OpenTemplateBench(lines, rounds, output.path(), letter.readAll());
    if (longRun)
        return LongRunBench(lines, output.path(), letter.readAll());

    BatchOptions options;
    options.outputFolder = output.path();
    options.offices = QThread::idealThreadCount();
    options.freshOfficePerLetter = mode == QLatin1String("fresh");
    QElapsedTimer timer;
    timer.start();
    int made = 0;
    const bool all = MadeLetters(BenchJobs(lines), options, letter.readAll(), [&made](double) { ++made; });
    const double seconds = Bench::Ms(timer) / 1000;
    if (!all) {
        err << made << " of " << lines << " letters made\n";
        return 1;
    }
    Bench::Report report(out);
    report.Add(QStringLiteral("letters per second"), lines / seconds);
    report.Add(QStringLiteral("seconds"), seconds);
    report.Add(QStringLiteral("offices side by side"), options.offices);
    return 0;
}
