// inkhaven-batch: the letter for every row of a list, made by offices kept running for
// the whole list, without a window.
#include "BatchCommand.h"
#include "BatchConsole.h"
#include "BatchRun.h"
#include "PdfMerge.h"
#include "core/AppError.h"
#include "core/Platform.h"
#include "files/Leftovers.h"
#include "files/SafeFile.h"
#include "files/SettingsStore.h"
#include "generation/LetterFill.h"
#include "office/LibreOfficeFactory.h"
#include "process/TerminationSignals.h"
#include "resources/Resources.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <stop_token>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr char StoppingMessage[] = "\ninkhaven-batch: stopping once the letters under way are finished...\n";

// How long the letters under way may take to finish after a signal; the offices still at
// work then are ended, and their letters fail.
constexpr std::chrono::seconds LettersUnderWayTime(4);

// Ctrl+C, a closed terminal and an ordinary kill all stop the list the same way: no
// further letter is begun, the letters under way are finished and every office is ended.
// Whatever the batch is doing then (reading the list, starting offices, waiting for a
// letter), it ends within seconds.
// Stop is requested on lettersStop at the first signal.
TerminationWatch::Response StopOnSignals(std::stop_source lettersStop)
{
    const auto stop = [lettersStop]() mutable {
        lettersStop.request_stop();
        std::fputs(StoppingMessage, stderr);
    };
    return {stop, LettersUnderWayTime, ExitStopped};
}

// The offices' limits for a template of this many bytes: a long template takes the office
// longer to open, to list and search, and to save, than the built-in letter; each limit
// grows by a minute for every megabyte.
OfficeTimeouts TimeoutsForTemplate(qint64 bytes)
{
    OfficeTimeouts timeouts;
    const auto grown = [bytes](std::chrono::milliseconds limit) {
        return limit + std::chrono::milliseconds(bytes * 60 * 1000 / (1024 * 1024));
    };
    timeouts.call = grown(timeouts.call);
    timeouts.document = grown(timeouts.document);
    timeouts.render = grown(timeouts.render);
    return timeouts;
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
    // Removes what instances killed outright left, and at the end what this one still holds.
    const LeftoverJournal leftovers;
    QCoreApplication application(argc, argv);
    SetApplicationIdentity();
    // Requested at a signal: no further letter is begun.
    const std::stop_source lettersStop;
    // Requested once the letters under way have had their time after a signal.
    const std::stop_source ending;
    const TerminationWatch endingSignals(ending, StopOnSignals(lettersStop));
    IgnoreBrokenPipes();

    BatchConsole console(::isatty(STDOUT_FILENO) == 1, TerminalWidth);
    std::optional<BatchCommand> command;
    try {
        command = ParseBatchCommand(QCoreApplication::arguments().mid(1));
    } catch (const AppError& error) {
        return console.Usage(error.Description());
    }
    if (command->request == BatchRequest::Help)
        return console.Help();
    if (command->request == BatchRequest::Version)
        return console.Version();

    try {
        // The PDFs to append are read and checked once, before the list.
        for (AppendedPdf& appended : command->options.appended)
            appended.bytes = ReadAppendedPdf(appended.path, command->options.archivePart > 0);
        QSettingsStore settings = command->senderFile.isEmpty() ? QSettingsStore() : QSettingsStore(command->senderFile);
        SystemClock clock;
        const BatchOptions& options = command->options;
        const BatchPlan plan = PlanBatch(*command, settings, LetterDate(options.date, options.dateFormat, options.language));
        if (plan.jobs.empty() && plan.unusable.empty())
            return console.NothingToMake(plan);
        if (command->dryRun) {
            // A template of the user's is checked as the office's reading of it would be.
            if (plan.tagsWithoutOffice)
                plan.letterTemplate.tags(*plan.tagsWithoutOffice);
            return console.DryRun(plan, options, plan.tagsWithoutOffice.has_value());
        }
        if (const QString missing = OfficeSandboxSupport().missing; !missing.isEmpty())
            console.Notice(QStringLiteral("The offices run without a sandbox: %1. A template's links are then kept from "
                                          "your files and the network only by the check of the template.")
                               .arg(missing));
        // The private folder is settled before the offices start: what was found in the
        // way of it is told once.
        WorkingFolder();
        if (const QString notice = TakeWorkingFolderNotice(); !notice.isEmpty())
            console.Notice(notice);
        LibreOfficeFactory office(TimeoutsForTemplate(plan.letterTemplate.bytes.size()));
        const BatchResult result = MakeLetters(
            plan.jobs, options, office, plan.letterTemplate, lettersStop.get_token(), ending.get_token(),
            [&](const LetterReport& report) { console.Letter(report, clock.MonotonicSeconds()); },
            [&] { console.Begin(plan); });
        return console.Finish(plan, options, result, lettersStop.stop_requested());
    } catch (...) {
        // Stopped by a signal before any letter (the office ended under the template's
        // opening): the stop is what happened, not the failure it caused.
        if (lettersStop.stop_requested())
            return console.StoppedBeforeLetters();
        return console.Fatal(DescribeException(std::current_exception()));
    }
}
