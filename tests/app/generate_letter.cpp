// One instance of the application doing one job, for the test that runs two instances at
// once: the sample data with the given name and company, "Start Creating Template", the
// letter saved to the target, the preview closed.
//
//     generate_letter <target> <name> <company> first|second <meeting folder>
//
// The two instances meet through marker files in the meeting folder, so that their runs
// overlap in the same way every time unless the run lock keeps them apart: the first
// waits at the start of its run's office (while it holds the lock) until the second is
// inside its own run, or a while has passed; the second starts its run once the first is
// inside its own, and waits at the same place until the first has finished. Without the
// lock, the first thus deletes the template copy that the second is about to open.
//
// Prints "picture matches the letter" when the preview showed the pages of the saved letter
// (else what differed) and "report <text>" for every error report (line breaks shown as
// "|"); exits with 0 when nothing was reported, the picture matched and the save said
// "Done.", else 1.
#include "app/DataEntryWindow.h"
#include "files/Leftovers.h"
#include "preview/PictureBox.h"
#include "preview/PreviewWindow.h"
#include "process/TerminationSignals.h"
#include "support/FakeDialogs.h"
#include "support/FakePlatform.h"
#include "support/FakeSettings.h"
#include "support/OfficeEngine.h"
#include "support/PageRendering.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPushButton>
#include <QTextStream>
#include <QThread>

#include <functional>

namespace {
using namespace std::chrono_literals;

// How long the first waits for the second to come into its run: the second only writes
// a file before it gets there, unless the lock holds it back.
constexpr auto MeetingWait = 15s;
// How long the others wait for a marker that is sure to come.
constexpr auto MarkerWait = 300s;

// Waits until path exists or limit has passed.
void WaitFor(const QString& path, std::chrono::seconds limit)
{
    const QDeadlineTimer deadline(limit);
    while (!QFileInfo::exists(path) && !deadline.hasExpired())
        QThread::msleep(20);
}

void Mark(const QString& path)
{
    QFile marker(path);
    marker.open(QIODevice::WriteOnly);
}

// The office engine; the first instance it starts (at the run's step that starts the
// office, inside the run lock) does what atRunStart says first.
class MeetingFactory : public Word::ApplicationFactory {
public:
    explicit MeetingFactory(Word::ApplicationFactory& engine) : mEngine(engine) {}
    std::shared_ptr<Word::Application> CreateApplication() override
    {
        if (mStarts++ == 0 && atRunStart)
            atRunStart();
        return mEngine.CreateApplication();
    }
    std::function<void()> atRunStart;

private:
    Word::ApplicationFactory& mEngine;
    int mStarts = 0;
};
}

int main(int argc, char* argv[])
{
    // Ends on signals and leaves its journal as the application does.
    const LeftoverJournal leftovers;
    // As in the application: a write to an office that has just ended fails as an error.
    IgnoreBrokenPipes();
    QApplication application(argc, argv);
    const std::stop_source ending;
    const TerminationWatch endingSignals(ending);
    const QStringList arguments = QCoreApplication::arguments();
    QTextStream out(stdout);
    if (arguments.size() != 6) {
        out << "usage: generate_letter <target> <name> <company> first|second <meeting folder>\n";
        return 2;
    }
    const bool first = arguments.at(4) == QStringLiteral("first");
    const QDir meeting(arguments.at(5));
    const QString firstInRun = meeting.filePath(QStringLiteral("first-in-run"));
    const QString secondInRun = meeting.filePath(QStringLiteral("second-in-run"));
    const QString firstDone = meeting.filePath(QStringLiteral("first-done"));

    FakeSettings settings;
    FakeDialogs dialogs;
    const std::unique_ptr<Word::ApplicationFactory> office = MakeOfficeEngine();
    MeetingFactory word(*office);
    SystemClock clock;
    SystemRandom random;
    FakeUrlOpener urls;
    // Long enough for the whole run of the other instance, however slow the machine.
    DataEntryWindow form(DataEntryServices{settings, dialogs, word, clock, random, urls, ending.get_token(), MarkerWait});
    form.endApplication = [] {};
    form.show();
    form.LoadSampleData();
    form.WriteField(0, arguments.at(2));
    form.WriteField(11, arguments.at(3));

    if (first) {
        word.atRunStart = [&] {
            Mark(firstInRun);
            WaitFor(secondInRun, MeetingWait);
        };
    } else {
        WaitFor(firstInRun, MarkerWait);
        word.atRunStart = [&] {
            Mark(secondInRun);
            WaitFor(firstDone, MarkerWait);
        };
    }
    form.StartCreating();
    if (first)
        Mark(firstDone);

    PreviewWindow* preview = form.Preview();
    bool done = false;
    if (preview) {
        dialogs.savePaths = {arguments.at(1)};
        preview->findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
        done = !dialogs.shown.isEmpty() && dialogs.shown.constLast().text == QStringLiteral("Done.");
        const QImage page = preview->findChild<PictureBox*>(QStringLiteral("unscaledPage"))->Picture();
        const QString difference = DifferenceFromDocument(page, arguments.at(1));
        out << (difference.isEmpty() ? QStringLiteral("picture matches the letter") : difference) << '\n';
        done = done && difference.isEmpty();
        preview->SetExitAction([] {});
        preview->close();
    }
    const QStringList reports = dialogs.ErrorReports();
    for (QString report : reports)
        out << "report " << report.replace(QLatin1Char('\r'), QLatin1Char('|')).replace(QLatin1Char('\n'), QLatin1Char('|')) << '\n';
    return reports.isEmpty() && done ? 0 : 1;
}
