#include "Dialogs.h"
#include "Form1.h"
#include "LibreOfficeFactory.h"
#include "Platform.h"
#include "Resources.h"
#include "SettingsStore.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    SetApplicationIdentity();

    QSettingsStore settings;
    QtDialogs dialogs;
    LibreOfficeFactory word;
    SystemClock clock;
    SystemRandom random;
    DesktopUrlOpener urls;

    Form1 form(Form1Services{settings, dialogs, word, clock, random, urls});
    form.Form_Load();
    form.show();
    return QApplication::exec();
}
