#include "BatchConsole.h"

#include "CommandLine.h"
#include "Progress.h"
#include "Resources.h"

#include <QDir>

namespace {
QString Lines(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 line") : QStringLiteral("%1 lines").arg(count);
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

void BatchConsole::Begin(const BatchPlan& plan)
{
    for (const LetterLine& line : plan.unusable)
        Err(QStringLiteral("Line %1: %2; no letter is made for it.\n").arg(line.line).arg(line.problem));
    mTotal = static_cast<int>(plan.jobs.size());
    ShowProgress(QString(), 0);
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
            Err(QStringLiteral("Line %1: %2\n").arg(report.line).arg(report.message));
        }
        if (!mTerminal)
            Out(PlainProgressLine(mDone, mTotal, report.fileName) + QLatin1Char('\n'));
        break;
    case LetterOutcome::Skipped:
        ++mSkipped;
        ClearProgress();
        Err(QStringLiteral("Line %1: %2\n").arg(report.line).arg(report.message));
        break;
    case LetterOutcome::Failed:
        ++mFailed;
        ClearProgress();
        Err(QStringLiteral("Line %1: the letter could not be made: %2\n").arg(report.line).arg(report.message));
        break;
    }
    ShowProgress(report.fileName, now);
}

int BatchConsole::Finish(const BatchPlan& plan, const QString& outputFolder, int notBegun, bool stopped)
{
    ClearProgress();
    QStringList parts;
    parts << QStringLiteral("%1 of %2 letters made in \"%3\"")
                 .arg(mMade)
                 .arg(plan.jobs.size() + plan.unusable.size())
                 .arg(QDir::toNativeSeparators(outputFolder));
    if (!plan.unusable.empty())
        parts << Lines(static_cast<qsizetype>(plan.unusable.size())) + QStringLiteral(" could not be used");
    if (mSkipped > 0)
        parts << Lines(mSkipped) + QStringLiteral(" skipped");
    if (mFailed > 0)
        parts << Lines(mFailed) + QStringLiteral(" failed");
    if (notBegun > 0)
        parts << Lines(notBegun) + QStringLiteral(" not begun");
    Out(parts.join(QStringLiteral("; ")) + QStringLiteral(".\n"));
    if (stopped)
        return ExitStopped;
    return Status(mMade == static_cast<int>(plan.jobs.size()) && plan.unusable.empty() ? ExitAllMade : ExitLinesNotMade);
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
