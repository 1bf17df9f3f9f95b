#include "Dialogs.h"
#include "Form1.h"
#include "Leftovers.h"
#include "LibreOfficeFactory.h"
#include "Platform.h"
#include "PrestartingFactory.h"
#include "Resources.h"
#include "SettingsStore.h"
#include "TerminationSignals.h"

#include <QApplication>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {
std::atomic<bool> returned{false};

// A lost display ends the process through exit() from inside Qt or Xlib, past every
// destructor in main, while other threads still run: this removes what the instance holds
// and ends the process at once, before the exit handlers registered before it destroy the
// static objects those threads use (an office start uses the UNO libraries' own).
void EndWithoutMain()
{
    if (returned)
        return;
    RemoveLeftovers();
    std::fflush(nullptr);
    std::_Exit(EXIT_FAILURE);
}
}

int main(int argc, char* argv[])
{
    // Removes what instances killed outright left, and at the end what this one still holds.
    const LeftoverJournal leftovers;
    QApplication application(argc, argv);
    // Exit handlers run last registered first: this one runs before Qt's.
    std::atexit(EndWithoutMain);
    SetApplicationIdentity();
    const TerminationWatch endingSignals;
    // Process-wide, so set here before any office starts: the bridge's write to an office
    // that has just ended must fail as an error, not end the application.
    IgnoreBrokenPipes();

    QSettingsStore settings;
    QtDialogs dialogs;
    LibreOfficeFactory office;
    // Two instances begin now, side by side: the office check at the end of start-up takes
    // the first and, quitting it untouched, gives it back, so both are ready for the first
    // run; after that, replacements keep two ready so a run never waits for an office.
    PrestartingFactory word(office, 2);
    word.Prestart(2);
    SystemClock clock;
    SystemRandom random;
    DesktopUrlOpener urls;

    Form1 form(Form1Services{settings, dialogs, word, clock, random, urls});
    form.Form_Load();
    // A signal that came before the event loop runs would otherwise be lost with its request.
    if (ApplicationEnding()) {
        returned = true;
        return 0;
    }
    // Again, now that the office check has loaded the UNO libraries, to run before theirs.
    std::atexit(EndWithoutMain);
    form.show();
    const int status = QApplication::exec();
    returned = true;
    return status;
}
