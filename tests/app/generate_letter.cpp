// One instance of the application doing one job, for tests that run several instances at
// once: the sample data with the given name and company, "Start Creating Template" after
// the given delay, the letter saved to the target, the preview closed.
//
//     generate_letter <target> <delay in ms> <name> <company>
//
// Prints "picture <width>x<height>" for the preview's page picture and "report <text>" for
// every error report (line breaks shown as "|"); exits with 0 when nothing was reported and
// the save said "Done.", else 1.
#include "FakeDialogs.h"
#include "FakePlatform.h"
#include "FakeSettings.h"
#include "Form1.h"
#include "Form2.h"
#include "OfficeEngine.h"
#include "PictureBox.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QPushButton>
#include <QTextStream>
#include <QThread>

int main(int argc, char* argv[])
{
    // As in the application: a write to an office that has just ended fails as an error.
    IgnoreBrokenPipes();
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QTextStream out(stdout);
    if (arguments.size() != 5) {
        out << "usage: generate_letter <target> <delay in ms> <name> <company>\n";
        return 2;
    }

    FakeSettings settings;
    FakeDialogs dialogs;
    const std::unique_ptr<Word::ApplicationFactory> office = MakeOfficeEngine();
    SystemClock clock;
    SystemRandom random;
    FakeUrlOpener urls;
    Form1 form(Form1Services{settings, dialogs, *office, clock, random, urls});
    form.endApplication = [] {};
    form.show();
    form.PushButton4_Click();
    form.WriteField(0, arguments.at(3));
    form.WriteField(11, arguments.at(4));

    QThread::msleep(arguments.at(2).toULong());
    form.PushButton6_Click();
    Form2* preview = form.Preview();
    bool saved = false;
    if (preview) {
        const QImage page = preview->findChild<PictureBox*>(QStringLiteral("Zoom_Ori"))->Picture();
        out << "picture " << page.width() << 'x' << page.height() << '\n';
        dialogs.savePaths = {arguments.at(1)};
        preview->findChild<QPushButton*>(QStringLiteral("PushButton6"))->click();
        saved = !dialogs.shown.isEmpty() && dialogs.shown.constLast().text == QStringLiteral("Done.");
        preview->SetExitAction([] {});
        preview->close();
    }
    const QStringList reports = dialogs.ErrorReports();
    for (QString report : reports)
        out << "report " << report.replace(QLatin1Char('\r'), QLatin1Char('|')).replace(QLatin1Char('\n'), QLatin1Char('|')) << '\n';
    return reports.isEmpty() && saved ? 0 : 1;
}
