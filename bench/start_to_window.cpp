// One start of the real application, timed from the start of its process to its data-entry
// window shown, and one bare office start-up beside it as the reference:
//
//     start_to_window <inkhaven executable> [bare-first]
//
// The application runs on the X display named by DISPLAY (run_benchmarks starts an Xvfb
// without a window manager). This program listens to the root window for windows being
// mapped: the data-entry window counts as shown when a normal (not a dialog) top-level
// window titled "Inkhaven" is mapped, which is what "xdotool search --onlyvisible --name
// Inkhaven" would find, without xdotool's half-second polling. The time runs from just
// before QProcess::start. Then the application is left until its offices have gone quiet
// (its spares started), and closed through its window's close button (WM_DELETE_WINDOW), so
// it ends as a user would end it. The reference is LibreOfficeFactory::CreateApplication
// (timed) followed by Quit (timed on its own), in this process. With "bare-first" the
// reference runs before the application. Prints "key value" lines for run_benchmarks.

#include "BenchSupport.h"

#include "office/LibreOfficeFactory.h"
#include "process/TerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>

namespace {

struct XcbFree {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using XcbReply = std::unique_ptr<T, XcbFree>;

class Display {
public:
    Display()
    {
        int screenNumber = 0;
        mConnection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(mConnection))
            return;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(mConnection));
        for (int i = 0; i < screenNumber; ++i)
            xcb_screen_next(&screens);
        // Top-level windows are the root's children: their maps reach the root's listeners.
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(mConnection, screens.data->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(mConnection);
    }
    ~Display() { xcb_disconnect(mConnection); }
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    bool Valid() const { return xcb_connection_has_error(mConnection) == 0; }

    xcb_atom_t Atom(const char* name)
    {
        XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
            mConnection, xcb_intern_atom(mConnection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
        return reply ? reply->atom : XCB_ATOM_NONE;
    }

    QByteArray Property(xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
    {
        XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            mConnection, xcb_get_property(mConnection, 0, window, property, type, 0, 1024), nullptr));
        if (!reply)
            return {};
        return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                          xcb_get_property_value_length(reply.get()));
    }

    // The next window mapped as a child of the root window, or XCB_WINDOW_NONE after timeoutMs.
    xcb_window_t NextMapped(int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(mConnection)) {
                const XcbReply<xcb_generic_event_t> owned(event);
                if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY)
                    return reinterpret_cast<xcb_map_notify_event_t*>(event)->window;
            }
            const qint64 left = timeoutMs - timer.elapsed();
            if (left <= 0 || xcb_connection_has_error(mConnection))
                return XCB_WINDOW_NONE;
            pollfd descriptor{xcb_get_file_descriptor(mConnection), POLLIN, 0};
            ::poll(&descriptor, 1, static_cast<int>(left));
        }
    }

    // What the window's close button does: WM_DELETE_WINDOW through WM_PROTOCOLS.
    void AskToClose(xcb_window_t window)
    {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = Atom("WM_PROTOCOLS");
        message.data.data32[0] = Atom("WM_DELETE_WINDOW");
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(mConnection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        xcb_flush(mConnection);
    }

private:
    xcb_connection_t* mConnection = nullptr;
};

// LibreOfficeFactory::CreateApplication timed, then Quit timed.
bool BareOffice(Bench::Report& report, QTextStream& err)
{
    Bench::MemorySampler sampler(::getpid());
    LibreOfficeFactory office;
    try {
        QElapsedTimer timer;
        timer.start();
        const auto application = office.CreateApplication();
        report.Add(QStringLiteral("bare office start ms"), Bench::Ms(timer));
        timer.restart();
        application->Quit();
        report.Add(QStringLiteral("bare office quit ms"), Bench::Ms(timer));
    } catch (const std::exception& e) {
        err << "bare office: " << e.what() << "\n";
        return false;
    }
    for (const Bench::MemorySampler::Peak& peak : sampler.OfficePeaks())
        report.Add(QStringLiteral("bare office peak rss kb"), peak.hwmKb);
    return true;
}

bool Application(const QString& executable, Bench::Report& report, QTextStream& err)
{
    Display display;
    if (!display.Valid()) {
        err << "no X display (DISPLAY=" << qEnvironmentVariable("DISPLAY") << ")\n";
        return false;
    }
    const xcb_atom_t netWmName = display.Atom("_NET_WM_NAME");
    const xcb_atom_t utf8 = display.Atom("UTF8_STRING");
    const xcb_atom_t windowType = display.Atom("_NET_WM_WINDOW_TYPE");
    const xcb_atom_t dialogType = display.Atom("_NET_WM_WINDOW_TYPE_DIALOG");

    QProcess process;
    process.setProgram(executable);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    process.start();
    const pid_t pid = static_cast<pid_t>(process.processId());
    if (pid <= 0) {
        err << "could not start " << executable << ": " << process.errorString() << "\n";
        return false;
    }
    Bench::MemorySampler sampler(pid);

    xcb_window_t window = XCB_WINDOW_NONE;
    double shown = -1;
    while (shown < 0) {
        const xcb_window_t mapped = display.NextMapped(static_cast<int>(std::max<qint64>(1, 30000 - timer.elapsed())));
        if (mapped == XCB_WINDOW_NONE)
            break;
        const QByteArray title = display.Property(mapped, netWmName, utf8);
        const QByteArray types = display.Property(mapped, windowType, XCB_ATOM_ATOM);
        bool dialog = false;
        for (qsizetype i = 0; i + 4 <= types.size(); i += 4)
            dialog = dialog || *reinterpret_cast<const xcb_atom_t*>(types.constData() + i) == dialogType;
        if (title == "Inkhaven" && !dialog) {
            shown = Bench::Ms(timer);
            window = mapped;
        } else {
            err << "a window was shown before the data-entry window: \"" << QString::fromUtf8(title) << "\"\n";
        }
    }
    bool ok = shown >= 0;
    if (ok) {
        report.Add(QStringLiteral("start to window ms"), shown);
        report.Add(QStringLiteral("app rss at window kb"), Bench::StatusKb(pid, "VmRSS"));
        report.Add(QStringLiteral("app peak rss at window kb"), Bench::StatusKb(pid, "VmHWM"));
        Bench::WaitUntilQuiet(pid, true, 15000, [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); });
        report.Add(QStringLiteral("app rss after start-up kb"), Bench::StatusKb(pid, "VmRSS"));
        int offices = 0;
        for (const pid_t child : Bench::Descendants(pid))
            offices += Bench::CommandName(child) == QLatin1String("soffice.bin") ? 1 : 0;
        report.Add(QStringLiteral("offices running after start-up"), offices);
        for (const Bench::MemorySampler::Peak& peak : sampler.OfficePeaks())
            report.Add(QStringLiteral("start-up office peak rss kb"), peak.hwmKb);
        report.Add(QStringLiteral("app and offices peak rss kb"), sampler.PeakTotalRssKb());
        display.AskToClose(window);
    } else {
        err << "the data-entry window was not shown within 30 s\n";
    }
    if (!ok || !process.waitForFinished(30000)) {
        err << "ending the application by force\n";
        process.kill();
        process.waitForFinished(5000);
        return false;
    }
    // A crash while closing does not spoil the times measured before it, but it is counted
    // and what its offices left is cleared away.
    const bool crashed = process.exitStatus() != QProcess::NormalExit;
    report.Add(QStringLiteral("app crashed while closing"), crashed ? 1 : 0);
    if (crashed) {
        err << "the application crashed while closing (signal " << process.exitCode() << "); removed "
            << Bench::RemoveOfficeLeftovers(sampler.OfficePeaks()) << " folders and sockets its offices left\n";
        return true;
    }
    if (process.exitCode() != 0) {
        err << "the application ended with code " << process.exitCode() << "\n";
        return false;
    }
    return true;
}

}

int main(int argc, char* argv[])
{
    // As in the application: a write to an office that has just ended fails as an error.
    IgnoreBrokenPipes();
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (argc < 2) {
        err << "usage: start_to_window <inkhaven executable> [bare-first]\n";
        return 2;
    }
    const QString executable = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const bool bareFirst = argc > 2 && QLatin1String(argv[2]) == QLatin1String("bare-first");
    // A splash would hold start-up for four seconds; this measures the start without one.
    if (QFileInfo(QDir(QFileInfo(executable).absolutePath()).filePath(QStringLiteral("Splash"))).exists()) {
        err << "there is a Splash folder beside " << executable << "; measure without one\n";
        return 2;
    }
    Bench::Report report(out);
    bool ok = true;
    if (bareFirst)
        ok = BareOffice(report, err);
    ok = Application(executable, report, err) && ok;
    if (!bareFirst)
        ok = BareOffice(report, err) && ok;
    return ok ? 0 : 1;
}
