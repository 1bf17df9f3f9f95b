#include "Dialogs.h"
#include "Form1.h"
#include "LibreOfficeFactory.h"
#include "Platform.h"
#include "PrestartingFactory.h"
#include "Resources.h"
#include "SettingsStore.h"
#include "TerminationSignals.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    SetApplicationIdentity();
    EndEventLoopOnTerminationSignals();
    // Process-wide, so set here before any office starts: the bridge's write to an office
    // that has just ended must fail as an error, not end the application.
    IgnoreBrokenPipes();

    QSettingsStore settings;
    QtDialogs dialogs;
    LibreOfficeFactory office;
    // One instance for the office check at the end of start-up begins now; once it is
    // taken, two more keep starting so a run never waits for an office to come up.
    PrestartingFactory word(office, 2);
    word.Prestart(1);
    SystemClock clock;
    SystemRandom random;
    DesktopUrlOpener urls;

    Form1 form(Form1Services{settings, dialogs, word, clock, random, urls});
    form.Form_Load();
    form.show();
    return QApplication::exec();
}
