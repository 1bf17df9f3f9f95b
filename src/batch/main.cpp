// inkhaven-batch: the letter for every line of a list, made by offices kept running for
// the whole list, without a window.
#include "AppError.h"
#include "BatchCommand.h"
#include "BatchConsole.h"
#include "BatchRun.h"
#include "LetterFill.h"
#include "LibreOfficeFactory.h"
#include "Platform.h"
#include "Resources.h"
#include "SettingsStore.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

std::atomic<bool> stopRequested = false;

constexpr char StoppingMessage[] = "\ninkhaven-batch: stopping once the letters under way are finished...\n";

void RequestStop(int)
{
    if (!stopRequested.exchange(true))
        (void)!::write(STDERR_FILENO, StoppingMessage, sizeof StoppingMessage - 1);
}

// Ctrl+C, a closed terminal and an ordinary kill all stop the list the same way: the
// letters under way are finished and every office is ended.
void StopOnSignals()
{
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

int TerminalWidth()
{
    winsize size {};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}
}

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    SetApplicationIdentity();
    StopOnSignals();
    IgnoreBrokenPipes();

    BatchConsole console(::isatty(STDOUT_FILENO) == 1, TerminalWidth);
    QString error;
    const std::optional<BatchCommand> command = ParseBatchCommand(QCoreApplication::arguments().mid(1), error);
    if (!command)
        return console.Usage(error);
    if (command->request == BatchRequest::Help)
        return console.Help();
    if (command->request == BatchRequest::Version)
        return console.Version();

    try {
        QSettingsStore settings;
        SystemClock clock;
        const BatchPlan plan = PlanBatch(*command, settings, LetterDate(clock));
        if (plan.jobs.empty() && plan.unusable.empty())
            return console.NothingToMake(plan);
        BatchOptions options = command->options;
        if (options.offices <= 0)
            options.offices = QThread::idealThreadCount();
        LibreOfficeFactory office;
        console.Begin(plan);
        const int notBegun = MakeLetters(plan.jobs, options, office, LetterTemplateBytes(), stopRequested,
                                         [&](const LetterReport& report) { console.Letter(report, clock.MonotonicSeconds()); });
        return console.Finish(plan, options.outputFolder, notBegun, stopRequested);
    } catch (...) {
        return console.Fatal(DescribeException(std::current_exception()));
    }
}
