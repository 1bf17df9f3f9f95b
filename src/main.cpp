#include "app/DataEntryWindow.h"
#include "app/WindowCommand.h"
#include "core/Dialogs.h"
#include "core/Platform.h"
#include "files/Leftovers.h"
#include "files/SettingsStore.h"
#include "office/LibreOfficeFactory.h"
#include "office/PrestartingFactory.h"
#include "process/TerminationSignals.h"
#include "resources/WindowIdentity.h"
#include "ui/DesktopUrlOpener.h"
#include "ui/QtDialogs.h"

#include <QApplication>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <stop_token>
#include <vector>

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
    EndAtOnce();
    std::fflush(nullptr);
    std::_Exit(EXIT_FAILURE);
}

// Qt ends the process with abort() when it finds no display, after several lines of advice
// about reinstalling. While the application object is being made, Qt's messages are held:
// a fatal one ends the process with one line that says what to do, before anything of the
// instance exists; the others are passed on once a display is open.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::vector<HeldMessage> heldMessages;

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg) {
        heldMessages.push_back({type, QByteArray(context.category), text});
        return;
    }
    std::fprintf(stderr, "%s\n",
                 NoDisplayMessage(qEnvironmentVariable("DISPLAY"), qEnvironmentVariable("WAYLAND_DISPLAY")).toLocal8Bit().constData());
    std::_Exit(EXIT_FAILURE);
}

void PassOnHeldMessages()
{
    qInstallMessageHandler(nullptr);
    for (const HeldMessage& message : heldMessages) {
        const QMessageLogContext context(nullptr, 0, nullptr, message.category.constData());
        qt_message_output(message.type, context, message.text);
    }
    heldMessages.clear();
}

QStringList ArgumentsOf(int argc, char* argv[])
{
    QStringList arguments;
    for (int at = 1; at < argc; ++at)
        arguments << QString::fromLocal8Bit(argv[at]);
    return arguments;
}
}

int main(int argc, char* argv[])
{
    // Help and the version need no display: they are answered before Qt looks for one.
    QString qtOptions;
    const WindowRequest request = ParseWindowCommand(ArgumentsOf(argc, argv), qtOptions);
    if (request != WindowRequest::Run)
        return AnswerWindowRequest(request);
    qInstallMessageHandler(HoldMessage);
    QApplication application(argc, argv);
    PassOnHeldMessages();
    // Again, now that Qt has taken its own options: what is left is not the window's.
    QString unknown;
    ParseWindowCommand(QCoreApplication::arguments().mid(1), unknown);
    if (!unknown.isEmpty())
        return WindowUsageError(unknown);
    // Removes what instances killed outright left, and at the end what this one still holds.
    const LeftoverJournal leftovers;
    // Exit handlers run last registered first: this one runs before Qt's.
    std::atexit(EndWithoutMain);
    SetWindowIdentity();
    // Requested when the application begins to end: the windows, dialogs and procedures it
    // is given start, show and ask nothing more.
    const std::stop_source ending;
    const TerminationWatch endingSignals(ending);
    // Process-wide, so set here before any office starts: the bridge's write to an office
    // that has just ended must fail as an error, not end the application.
    IgnoreBrokenPipes();

    QSettingsStore settings;
    QtDialogs dialogs(ending.get_token());
    LibreOfficeFactory office;
    // The spares begin now, side by side: the office check at the end of start-up takes
    // the first and, quitting it untouched, gives it back, so both are ready for the first
    // run; replacements start once a run has used them, so only a run started again at
    // once waits for an office.
    PrestartingFactory word(office, WindowSpareInstances);
    word.Prestart(WindowSpareInstances);
    SystemClock clock;
    SystemRandom random;
    DesktopUrlOpener urls;

    DataEntryWindow form(DataEntryServices{settings, dialogs, word, clock, random, urls, ending.get_token()});
    form.StartUp();
    // A signal that came before the event loop runs would otherwise be lost with its request.
    if (ending.stop_requested()) {
        returned = true;
        return 0;
    }
    // Again, now that the office check has loaded the UNO libraries, to run before theirs.
    std::atexit(EndWithoutMain);
    // The office check has started an office by now, so the sandbox is known.
    if (const QString missing = OfficeSandboxSupport().missing; !missing.isEmpty())
        std::fprintf(stderr, "inkhaven: the offices run without a sandbox: %s.\n", qPrintable(missing));
    form.show();
    const int status = QApplication::exec();
    returned = true;
    return status;
}
