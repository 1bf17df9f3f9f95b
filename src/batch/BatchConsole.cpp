#include "BatchConsole.h"

#include "Progress.h"

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
    Err(error + QLatin1Char('\n') + QLatin1String(BatchUsage));
    return ExitUnusable;
}

int BatchConsole::Help()
{
    Out(QLatin1String(BatchUsage));
    return ExitAllMade;
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
    return mMade == static_cast<int>(plan.jobs.size()) && plan.unusable.empty() ? ExitAllMade : ExitLinesNotMade;
}

void BatchConsole::Out(const QString& text)
{
    std::fputs(text.toUtf8().constData(), mOut);
    std::fflush(mOut);
}

void BatchConsole::Err(const QString& text)
{
    std::fputs(text.toUtf8().constData(), mErr);
    std::fflush(mErr);
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
