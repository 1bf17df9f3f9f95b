#include "BatchConsole.h"

#include "Progress.h"
#include "core/CommandLine.h"
#include "files/SafeFile.h"
#include "resources/Resources.h"

#include <QDir>

#include <algorithm>

namespace {
QString Rows(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(count);
}

// "row 4", "rows 4, 7-9 and 12": the numbers in order, runs of them as ranges.
QString RowNumbers(std::vector<int> rows)
{
    std::sort(rows.begin(), rows.end());
    QStringList ranges;
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t end = i;
        while (end + 1 < rows.size() && rows[end + 1] == rows[end] + 1)
            ++end;
        ranges << (end == i ? QString::number(rows[i]) : QStringLiteral("%1-%2").arg(rows[i]).arg(rows[end]));
        i = end + 1;
    }
    if (rows.size() == 1)
        return QStringLiteral("row ") + ranges.front();
    const QString last = ranges.takeLast();
    return QStringLiteral("rows ") + (ranges.isEmpty() ? last : ranges.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last);
}

// "Row 4", or "Row 4 (line 5 of the list)" where a value over two lines went before it.
QString RowName(const LetterLine& line)
{
    return line.line == line.row ? QStringLiteral("Row %1").arg(line.row)
                                 : QStringLiteral("Row %1 (line %2 of the list)").arg(line.row).arg(line.line);
}
}

BatchConsole::BatchConsole(bool terminal, std::function<int()> width, std::FILE* out, std::FILE* err)
    : mTerminal(terminal), mWidth(std::move(width)), mOut(out), mErr(err)
{
}

int BatchConsole::Usage(const QString& error)
{
    QString reason;
    WriteText(mErr, UsageErrorText(QLatin1String(BatchProgram), error), reason);
    return ExitUnusable;
}

int BatchConsole::Help()
{
    Out(BatchHelp());
    return Status(ExitAllMade);
}

int BatchConsole::Version()
{
    Out(VersionText(QLatin1String(BatchProgram)));
    return Status(ExitAllMade);
}

int BatchConsole::Fatal(const QString& description)
{
    ClearProgress();
    Err(description + QStringLiteral("\nNo letters were made.\n"));
    return ExitUnusable;
}

int BatchConsole::NothingToMake(const BatchPlan& plan)
{
    for (const QString& note : plan.notes)
        Err(note + QLatin1Char('\n'));
    // A list with rows of which the choice (--lines, --shard, --where) took none was told so by its note.
    if (plan.listRows > plan.emptyRows) {
        Err(QStringLiteral("No letters were made.\n"));
        return ExitLinesNotMade;
    }
    const QString empty = plan.emptyRows > 0 ? QStringLiteral(" (%1 empty)").arg(Rows(plan.emptyRows)) : QString();
    Err(QStringLiteral("The list has no rows to make letters from%1: its first row names the columns, and every "
                       "later row is one letter.\nNo letters were made.\n")
            .arg(empty));
    return ExitLinesNotMade;
}

namespace {
QString ColumnPlanText(const BatchPlan& plan)
{
    QString text;
    if (!plan.columnPlan.isEmpty())
        text += QStringLiteral("Which column fills which field of the letter (--map COLUMN=FIELD decides otherwise):\n  %1\n")
                    .arg(plan.columnPlan.join(QStringLiteral("\n  ")));
    if (!plan.tagPlan->isEmpty())
        text += QStringLiteral("What each tag of the template takes:\n  %1\n").arg(plan.tagPlan->join(QStringLiteral("\n  ")));
    return text;
}
}

void BatchConsole::Begin(const BatchPlan& plan)
{
    for (const QString& note : plan.notes)
        Err(note + QLatin1Char('\n'));
    if (const QString columns = ColumnPlanText(plan); !columns.isEmpty())
        Err(columns);
    if (!plan.columnsNoTagTakes->isEmpty())
        Err(QStringLiteral("The list's columns %1 fill no tag of the template and are not used.\n")
                .arg(plan.columnsNoTagTakes->join(QStringLiteral(", "))));
    for (const LetterLine& line : plan.unusable)
        Err(QStringLiteral("%1: %2; no letter is made for it.\n").arg(RowName(line), line.problem));
    mTotal = static_cast<int>(plan.jobs.size());
    ShowProgress(QString(), 0);
}

namespace {
// A letter's items as a dry run tells them: their rows, and the totals they add up to.
QString ItemsText(const LetterItems& items, const QHash<QString, std::vector<TagText>>& totals, const LetterLine& letter)
{
    const QString key = items.KeyOf(letter);
    QStringList rows;
    for (const Item& item : items.OfKey(key))
        rows << QString::number(item.row);
    QString text = rows.isEmpty() ? QStringLiteral("    no items in %1").arg(items.name)
                                  : QStringLiteral("    %1 in %2 (row%3 %4)")
                                        .arg(rows.size() == 1 ? QStringLiteral("1 item") : QStringLiteral("%1 items").arg(rows.size()),
                                             items.name, rows.size() == 1 ? QString() : QStringLiteral("s"), rows.join(QStringLiteral(", ")));
    for (const TagText& total : totals.value(key))
        text += QStringLiteral("; %1 %2").arg(total.tag, total.text);
    return text + QLatin1Char('\n');
}
}

int BatchConsole::DryRun(const BatchPlan& plan, const BatchOptions& options, bool tagsRead)
{
    QString text = QStringLiteral("Dry run: nothing is made and no office is started.\n");
    for (const QString& note : plan.notes)
        text += note + QLatin1Char('\n');
    text += ColumnPlanText(plan);
    if (!plan.letterTemplate.path.isEmpty() && !tagsRead)
        text += QStringLiteral("The tags of a Word 97-2003 template are read by the office, so they are checked when the "
                               "letters are made, not now.\n");
    if (!plan.columnsNoTagTakes->isEmpty())
        text += QStringLiteral("The list's columns %1 fill no tag of the template and are not used.\n")
                    .arg(plan.columnsNoTagTakes->join(QStringLiteral(", ")));
    if (!plan.partlyEmpty->isEmpty())
        text += QStringLiteral("Of the letters: %1.\n").arg(plan.partlyEmpty->join(QStringLiteral("; ")));
    int inTheWay = 0;
    text += QStringLiteral("%1 of %2 would give a letter:\n").arg(plan.jobs.size()).arg(Rows(plan.listRows));
    for (const LetterJob& job : plan.jobs) {
        QStringList files;
        QString taken;
        for (const QString& path : LetterFilePaths(job, options)) {
            files << QDir::toNativeSeparators(path);
            if (taken.isEmpty() && PathTaken(path))
                taken = path;
        }
        text += QStringLiteral("  row %1: %2").arg(job.letter.row).arg(files.join(QStringLiteral(", ")));
        if (!taken.isEmpty() && !options.force) {
            ++inTheWay;
            text += QStringLiteral(" - skipped: \"%1\" exists already (--force replaces it)").arg(QDir::toNativeSeparators(taken));
        }
        text += QLatin1Char('\n');
        if (plan.items)
            text += ItemsText(*plan.items, *plan.totals, job.letter);
    }
    for (const LetterLine& line : plan.unusable)
        text += QStringLiteral("  %1 gives no letter: %2\n").arg(RowName(line), line.problem);
    if (plan.emptyRows > 0)
        text += plan.emptyRows == 1 ? QStringLiteral("1 row is empty and gives no letter.\n")
                                    : QStringLiteral("%1 rows are empty and give no letter.\n").arg(plan.emptyRows);
    if (!options.merged.isEmpty())
        text += QStringLiteral("Every letter made would go into the merged PDF \"%1\" as well.\n").arg(QDir::toNativeSeparators(options.merged));
    const int status = plan.unusable.empty() && inTheWay == 0 ? ExitAllMade : ExitLinesNotMade;
    text += QStringLiteral("The run would end with status %1.\n").arg(status);
    Out(text);
    return Status(status);
}

int BatchConsole::StoppedBeforeLetters()
{
    ClearProgress();
    Err(QStringLiteral("Stopped before any letter was made.\n"));
    return ExitStopped;
}

void BatchConsole::Notice(const QString& text)
{
    ClearProgress();
    Err(text + QLatin1Char('\n'));
}

void BatchConsole::Letter(const LetterReport& report, double now)
{
    if (++mDone == 1)
        mFirstDone = now;
    switch (report.outcome) {
    case LetterOutcome::Made:
        ++mMade;
        if (!report.message.isEmpty()) {
            ClearProgress();
            Err(QStringLiteral("Row %1: %2\n").arg(report.row).arg(report.message));
        }
        if (!mTerminal)
            Out(PlainProgressLine(mDone, mTotal, report.fileName) + QLatin1Char('\n'));
        break;
    case LetterOutcome::AlreadyThere:
    case LetterOutcome::Skipped:
        ++(report.outcome == LetterOutcome::AlreadyThere ? mAlreadyThere : mSkipped);
        ClearProgress();
        Err(QStringLiteral("Row %1: %2\n").arg(report.row).arg(report.message));
        break;
    case LetterOutcome::Failed:
        ++mFailed;
        ClearProgress();
        Err(QStringLiteral("Row %1: the letter could not be made: %2\n").arg(report.row).arg(report.message));
        break;
    }
    ShowProgress(report.fileName, now);
}

int BatchConsole::Finish(const BatchPlan& plan, const BatchOptions& options, const BatchResult& result, bool stopped)
{
    ClearProgress();
    const auto failed = static_cast<int>(plan.unusable.size()) + mFailed;
    const auto rows = static_cast<qsizetype>(plan.jobs.size() + plan.unusable.size()) + plan.emptyRows;
    QStringList parts;
    parts << QStringLiteral("%1: %2 made in \"%3\"")
                 .arg(rows == plan.listRows ? Rows(rows) + QStringLiteral(" in the list")
                                            : QStringLiteral("%1 of the list's %2").arg(rows).arg(Rows(plan.listRows)))
                 .arg(mMade == 1 ? QStringLiteral("1 letter") : QStringLiteral("%1 letters").arg(mMade))
                 .arg(QDir::toNativeSeparators(options.outputFolder));
    if (mAlreadyThere > 0)
        parts << QStringLiteral("%1 already there").arg(mAlreadyThere);
    if (mSkipped > 0)
        parts << QStringLiteral("%1 skipped").arg(mSkipped);
    if (plan.emptyRows > 0)
        parts << QStringLiteral("%1 empty").arg(plan.emptyRows);
    if (failed > 0)
        parts << QStringLiteral("%1 failed").arg(failed);
    if (result.notBegun > 0)
        parts << QStringLiteral("%1 not begun").arg(result.notBegun);
    Out(parts.join(QStringLiteral(", ")) + QStringLiteral(".\n"));
    if (!plan.partlyEmpty->isEmpty())
        Out(QStringLiteral("Of the letters: %1.\n").arg(plan.partlyEmpty->join(QStringLiteral("; "))));
    if (result.templateReopened > 0)
        Out(QStringLiteral("The template was opened again %1, after a letter that failed or did not leave it as it was.\n")
                .arg(result.templateReopened == 1 ? QStringLiteral("once") : QStringLiteral("%1 times").arg(result.templateReopened)));
    const bool merged = !result.merged || Merged(plan, options.merged, *result.merged);
    if (stopped)
        return ExitStopped;
    // A row whose letter an earlier run made is done: a part run again after a failure ends
    // with 0 once every letter is there, as a scheduler expects of a job that succeeded.
    return Status(merged && mMade + mAlreadyThere == static_cast<int>(plan.jobs.size()) && plan.unusable.empty() ? ExitAllMade
                                                                                                          : ExitLinesNotMade);
}

bool BatchConsole::Merged(const BatchPlan& plan, const QString& path, const MergeReport& merged)
{
    if (!merged.problem.isEmpty()) {
        Err(QStringLiteral("No merged PDF was made: %1.\n").arg(merged.problem));
        return false;
    }
    Out(QStringLiteral("The merged PDF \"%1\" holds %2, in list order.\n")
            .arg(QDir::toNativeSeparators(path))
            .arg(merged.rows.size() == 1 ? QStringLiteral("1 letter") : QStringLiteral("%1 letters").arg(merged.rows.size())));
    std::vector<int> held = merged.rows;
    std::sort(held.begin(), held.end());
    std::vector<int> missing;
    for (const LetterJob& job : plan.jobs) {
        if (!std::binary_search(held.begin(), held.end(), job.letter.row))
            missing.push_back(job.letter.row);
    }
    for (const LetterLine& line : plan.unusable)
        missing.push_back(line.row);
    if (!missing.empty())
        Err(QStringLiteral("The merged PDF lacks the letters of %1, which this run did not make.\n").arg(RowNumbers(missing)));
    return missing.empty();
}

void BatchConsole::Out(const QString& text)
{
    QString reason;
    if (mOutLost || WriteText(mOut, text, reason))
        return;
    mOutLost = true;
    Err(QStringLiteral("standard output cannot be written: %1\n").arg(reason));
}

void BatchConsole::Err(const QString& text)
{
    QString reason;
    WriteText(mErr, QLatin1String(BatchProgram) + QStringLiteral(": ") + text, reason);
}

int BatchConsole::Status(int status) const
{
    return mOutLost && status == ExitAllMade ? ExitOutputLost : status;
}

void BatchConsole::ClearProgress()
{
    if (!mProgressShown)
        return;
    Out(QStringLiteral("\r\x1b[K"));
    mProgressShown = false;
}

void BatchConsole::ShowProgress(const QString& current, double now)
{
    if (!mTerminal)
        return;
    const QString line =
        TerminalProgressLine(mDone, mTotal, current, SecondsLeft(mDone, mTotal, now - mFirstDone), mWidth());
    Out(QStringLiteral("\r") + line + QStringLiteral("\x1b[K"));
    mProgressShown = true;
}
