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

#include <cstdlib>

int main(int argc, char* argv[])
{
    // Removes what instances killed outright left, and at the end what this one still holds.
    const LeftoverJournal leftovers;
    // A lost display ends the process through exit(), past every destructor below.
    std::atexit(RemoveLeftovers);
    QApplication application(argc, argv);
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
    if (ApplicationEnding())
        return 0;
    form.show();
    return QApplication::exec();
}
