// One timed generation run, from the start of "Start Creating Template" (StartCreating)
// to the preview window shown and painted, with the sample data, a real LibreOffice and the
// real page snapshot, wired as main wires the application:
//
//     click_to_preview fast     the prestarting factory over LibreOffice, as many spares as
//                               main keeps (WindowSpareInstances)
//     click_to_preview early    the same wiring, clicked 0.3 s after the data-entry window
//                               appeared, as a user who starts at once
//     click_to_preview naive    LibreOffice alone: every office starts when a step asks for it
//     click_to_preview ready    for diagnosis: two offices started before the click are handed
//                               over and nothing else starts, so no office start-up can run
//                               beside the run (the fast design starts replacements for the
//                               instances it hands over)
//     click_to_preview long     the fast wiring with every field full of tabs (a field
//                               turns line breaks into spaces; tabs make the most lines), the
//                               longest letter the fields accept: the memory it takes, with
//                               the preview shown and after it closed
//     click_to_preview again N  the fast wiring with N spares; once the first preview is
//                               painted the user goes back and clicks again at once, and the
//                               second click is timed as well
//     click_to_preview unsandboxed  the fast wiring with the offices outside their sandbox:
//                               the baseline of the sandbox's cost
//
// Start-up runs first as in main (StartUp, with its office check), then the sample data
// are loaded. Before the click the program waits as a user would: until every office asked
// for has finished starting (the spares, one of them the check's) and the office
// processes have gone quiet (less than 10 ms of CPU in each of two 250 ms spans); early
// waits only until 0.3 s have passed since the window was first exposed. Settings go to the store
// under XDG_CONFIG_HOME and working files to TEMP, which run_benchmarks points at a folder
// of its own. Prints "key value" lines (milliseconds, kB) for run_benchmarks. After the
// timed run it times, on their own, the pieces of the snapshot's way to the preview that
// happen in the application: the clipboard, encoding the BMP, writing and loading the file.
// The fast design then times zoom steps on the shown preview (TimeZoomSteps).

#include "BenchSupport.h"
#include "TimedWord.h"

#include "app/DataEntryWindow.h"
#include "core/Dialogs.h"
#include "core/Platform.h"
#include "files/SettingsStore.h"
#include "generation/Fields.h"
#include "generation/LetterText.h"
#include "office/LibreOfficeFactory.h"
#include "office/PrestartingFactory.h"
#include "preview/PictureBox.h"
#include "preview/PreviewWindow.h"
#include "process/TerminationSignals.h"
#include "resources/Resources.h"

#include "files/Paths.h"
#include "files/SafeFile.h"
#include "preview/SharpPage.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <csignal>
#include <deque>
#include <optional>
#include <unistd.h>

namespace {

// No dialog may wait for a user here: every report is kept, and the run counts as failed.
class RecordingDialogs : public Dialogs {
public:
    void ShowErrorReport(const QString& text) override { shown.append(text); }
    void ShowMessage(const QString& text, const QString&) override { shown.append(text); }
    bool AskYesNo(const QString& text, const QString&) override
    {
        shown.append(text);
        return false;
    }
    QString GetSaveFileName(const QString&, const QString&, const QString&) override { return {}; }

    QStringList shown;
};

// The one start in a hundred that would open the home page opens nothing here.
class NoBrowser : public UrlOpener {
public:
    bool Open(const QUrl&) override { return true; }
};

// Hands over offices started beforehand, oldest first, and starts one on demand only
// when none is left.
class ReadyFactory : public Word::ApplicationFactory {
public:
    explicit ReadyFactory(Word::ApplicationFactory& engine) : mEngine(engine) {}
    void Start(int count)
    {
        for (int i = 0; i < count; ++i)
            mReady.push_back(mEngine.CreateApplication());
    }
    std::shared_ptr<Word::Application> CreateApplication() override
    {
        if (mReady.empty())
            return mEngine.CreateApplication();
        auto application = mReady.front();
        mReady.pop_front();
        return application;
    }

private:
    Word::ApplicationFactory& mEngine;
    std::deque<std::shared_ptr<Word::Application>> mReady;
};

// Times the application's share of the snapshot's way to the preview for picture.
void TimeSnapshotFile(const QImage& picture, Bench::Report& report)
{
    QElapsedTimer timer;
    timer.start();
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setImage(picture);
    report.Add(QStringLiteral("snapshot piece: picture to the clipboard ms"), Bench::Ms(timer));
    timer.restart();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "BMP");
    report.Add(QStringLiteral("snapshot piece: encode BMP ms"), Bench::Ms(timer));
    const QString path = JoinPath(WorkingFolder(), QStringLiteral("bench-snapshot.bmp"));
    timer.restart();
    WriteBytesToFile(bytes, path);
    report.Add(QStringLiteral("snapshot piece: write BMP file ms"), Bench::Ms(timer));
    timer.restart();
    QImage loaded;
    loaded.load(path, "BMP");
    report.Add(QStringLiteral("snapshot piece: load BMP file ms"), Bench::Ms(timer));
    report.Add(QStringLiteral("snapshot BMP file MB"), static_cast<double>(bytes.size()) / 1024 / 1024);
    DeleteFile(path);
}

// Notes, on the clock given, when a preview window is first shown and first painted.
class PreviewWatch : public QObject {
public:
    explicit PreviewWatch(const QElapsedTimer& clock) : mClock(clock) {}
    double shownMs = -1;
    double paintedMs = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (qobject_cast<PreviewWindow*>(watched)) {
            if (event->type() == QEvent::Show && shownMs < 0)
                shownMs = Bench::Ms(mClock);
            if (event->type() == QEvent::Paint && paintedMs < 0 && shownMs >= 0)
                paintedMs = Bench::Ms(mClock);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer& mClock;
};

// Runs the event loop until done() holds; false after timeoutMs.
template <class Done>
bool ProcessEventsUntil(Done done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    // Wakes the blocking wait below now and then, so that the timeout is noticed.
    QTimer tick;
    tick.start(50);
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool Exposed(QWidget* widget)
{
    return widget && widget->isVisible() && widget->windowHandle() && widget->windowHandle()->isExposed();
}

// Counts the paints of the sharp page and notes, on the clock given, when the first one
// began: it paints over the page picture, so by then the zoomed page has been painted once.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(const QElapsedTimer& clock) : mClock(clock) {}
    double paintedMs = -1;
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && paints++ == 0)
            paintedMs = Bench::Ms(mClock);
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer& mClock;
};

// Zoom steps on the shown preview, as a user clicks them: to 1.25 and 1.5 (a five-page
// letter goes no further), back out to 0.5 and in to 1.0. Times each step from the click
// to the first paint of the zoomed page and, where that paint found something to render
// sharp (not at the picture's own pixels), from that paint to the visible page drawn sharp.
bool TimeZoomSteps(PreviewWindow& preview, Bench::Report& report)
{
    QPushButton* zoomIn = preview.findChild<QPushButton*>(QStringLiteral("zoomInButton"));
    QPushButton* zoomOut = preview.findChild<QPushButton*>(QStringLiteral("zoomOutButton"));
    SharpPage* sharp = preview.findChild<SharpPage*>();
    if (!zoomIn || !zoomOut || !sharp)
        return false;
    for (QPushButton* button : {zoomIn, zoomIn, zoomOut, zoomOut, zoomOut, zoomOut, zoomIn, zoomIn}) {
        QElapsedTimer clock;
        PaintWatch watch(clock);
        sharp->installEventFilter(&watch);
        double sharpMs = -1;
        int paintsToSharp = 0;
        const QMetaObject::Connection completed = QObject::connect(sharp, &SharpPage::Completed, [&] {
            if (sharpMs < 0) {
                sharpMs = Bench::Ms(clock);
                paintsToSharp = watch.paints;
            }
        });
        clock.start();
        button->click();
        const bool done = ProcessEventsUntil([&] { return sharpMs >= 0; }, 10000);
        QObject::disconnect(completed);
        sharp->removeEventFilter(&watch);
        if (!done)
            return false;
        report.Add(QStringLiteral("zoom step to first paint ms"), watch.paintedMs);
        if (paintsToSharp > 1)
            report.Add(QStringLiteral("zoom step from first paint to sharp page ms"), sharpMs - watch.paintedMs);
    }
    return true;
}

// How long after the data-entry window appeared the early design clicks.
constexpr qint64 EarlyClickMs = 300;


// Waits as a user who gives the application time would: until the offices a user would
// find ready have finished starting (the spares, the check's given back among them; two
// handed over ready and the check's own in the ready design) and the offices have gone
// quiet. Then takes the memory of the offices that wait idle.
bool WaitAsAUser(const QString& design, int spares, Bench::CountingFactory& started, ReadyFactory& ready,
                 Bench::Report& report, QTextStream& err)
{
    if (design == QLatin1String("ready"))
        ready.Start(2);
    const int expected = design == QLatin1String("naive") ? 1 : design == QLatin1String("ready") ? 3 : spares;
    if (!started.WaitForCreated(expected, 60000)) {
        err << "the offices did not finish starting\n";
        return false;
    }
    report.Add(QStringLiteral("quiet wait ms"), Bench::WaitUntilQuiet(::getpid(), false, 10000, [](int ms) {
                   QElapsedTimer pause;
                   pause.start();
                   while (pause.elapsed() < ms) {
                       QCoreApplication::processEvents();
                       QThread::msleep(10);
                   }
               }));
    for (const double ms : started.CreateMs())
        report.Add(QStringLiteral("office start before the click ms"), ms);
    const Bench::OfficesMemory idle = Bench::MeasureOffices(::getpid());
    report.Add(QStringLiteral("idle offices"), idle.processes);
    report.Add(QStringLiteral("idle offices private kb"), idle.privateKb);
    report.Add(QStringLiteral("idle offices pss kb"), idle.pssKb);
    report.Add(QStringLiteral("idle offices rss kb"), idle.rssKb);
    return true;
}

// The user goes back from the shown preview and clicks "Start Creating Template" again at
// once: times that click to the preview shown and painted again.
bool TimeSecondClick(DataEntryWindow& form, Bench::Report& report, QTextStream& err)
{
    QPushButton* back = form.Preview()->findChild<QPushButton*>(QStringLiteral("backButton"));
    if (!back) {
        err << "the preview has no Back button\n";
        return false;
    }
    back->click();
    QElapsedTimer timer;
    PreviewWatch watch(timer);
    qApp->installEventFilter(&watch);
    timer.start();
    form.StartCreating();
    const bool shown = ProcessEventsUntil([&] { return Exposed(form.Preview()) && watch.paintedMs >= 0; }, 60000);
    qApp->removeEventFilter(&watch);
    if (!shown) {
        err << "the preview was never shown again\n";
        return false;
    }
    report.Add(QStringLiteral("second click to preview ms"), Bench::Ms(timer));
    return true;
}

}

int main(int argc, char* argv[])
{
    // As in the application: a write to an office that has just ended fails as an error.
    IgnoreBrokenPipes();
    QApplication application(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString design = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (design != QLatin1String("fast") && design != QLatin1String("early") && design != QLatin1String("naive")
        && design != QLatin1String("ready") && design != QLatin1String("long") && design != QLatin1String("again")
        && design != QLatin1String("unsandboxed")) {
        err << "usage: click_to_preview fast|early|naive|ready|long|again N|unsandboxed\n";
        return 2;
    }
    const bool early = design == QLatin1String("early");
    const bool longLetter = design == QLatin1String("long");
    const bool again = design == QLatin1String("again");
    const bool unsandboxed = design == QLatin1String("unsandboxed");
    const bool fast = design == QLatin1String("fast") || early || longLetter || again || unsandboxed;
    const int spares = again && argc > 2 ? std::max(1, QString::fromLocal8Bit(argv[2]).toInt()) : WindowSpareInstances;
    SetApplicationIdentity();
    // The office connections write to pipes that an ending office may already have closed;
    // the broken pipe must not end the benchmark, which would leave the offices' folders.
    std::signal(SIGPIPE, SIG_IGN);

    QSettingsStore settings;
    RecordingDialogs dialogs;
    SystemClock clock;
    SystemRandom random;
    NoBrowser urls;
    LibreOfficeFactory office({}, QString(), unsandboxed ? OfficeSandboxing::Off : OfficeSandboxing::WhereAllowed);
    Bench::CountingFactory started(office);
    std::optional<PrestartingFactory> prestarting;
    ReadyFactory ready(started);
    Word::ApplicationFactory* word = &started;
    if (fast) {
        prestarting.emplace(started, spares);
        prestarting->Prestart(spares);
        word = &*prestarting;
    } else if (design == QLatin1String("ready")) {
        word = &ready;
    }
    Bench::CallTimes times({QStringLiteral("generation office"), QStringLiteral("snapshot office")});
    Bench::TimedFactory timed(*word, times);
    Bench::MemorySampler sampler(::getpid());
    Bench::Report report(out);

    DataEntryWindow form(DataEntryServices{settings, dialogs, timed, clock, random, urls});
    form.endApplication = [] {};
    QElapsedTimer startUp;
    startUp.start();
    form.StartUp();
    report.Add(QStringLiteral("start-up with the office check ms"), Bench::Ms(startUp));
    form.show();
    if (!ProcessEventsUntil([&] { return Exposed(&form); }, 30000)) {
        err << "the data-entry window was never shown\n";
        return 1;
    }
    QElapsedTimer sinceWindow;
    sinceWindow.start();
    form.LoadSampleData();
    for (int i = 0; longLetter && i < TypedFieldCount; ++i)
        form.WriteField(i, QString(LetterFieldLimit, QLatin1Char('\t')));
    if (early) {
        bool due = false;
        QTimer::singleShot(std::max<qint64>(0, EarlyClickMs - sinceWindow.elapsed()), [&] { due = true; });
        ProcessEventsUntil([&] { return due; }, 30000);
        report.Add(QStringLiteral("click after the window ms"), Bench::Ms(sinceWindow));
    } else if (!WaitAsAUser(design, spares, started, ready, report, err)) {
        return 1;
    }

    QElapsedTimer timer;
    PreviewWatch watch(timer);
    application.installEventFilter(&watch);
    Bench::ChildrenCpu officeCpu;
    officeCpu.Start();
    const double selfCpuBefore = Bench::SelfCpuMs();
    times.Clear();
    timer.start();
    form.StartCreating();
    const double returned = Bench::Ms(timer);
    PreviewWindow* preview = form.Preview();
    if (!ProcessEventsUntil([&] { return Exposed(preview) && watch.paintedMs >= 0; }, longLetter ? 300000 : 30000)) {
        err << "the preview window was never shown\n";
        return 1;
    }
    const double shown = Bench::Ms(timer);
    const double appCpu = Bench::SelfCpuMs() - selfCpuBefore;
    const double officeCpuMs = officeCpu.StopMs();

    report.Add(QStringLiteral("click to preview ms"), shown);
    report.Add(QStringLiteral("click handler returned ms"), returned);
    double engine = 0;
    for (auto it = times.Ms().cbegin(); it != times.Ms().cend(); ++it) {
        report.Add(QStringLiteral("phase ") + it.key() + QStringLiteral(" ms"), it.value());
        engine += it.value();
    }
    report.Add(QStringLiteral("phase application work ms"), shown - engine);
    report.Add(QStringLiteral("from the last office call to the preview's show ms"), watch.shownMs - times.LastCallEndMs());
    report.Add(QStringLiteral("from the preview's show to its first paint done ms"), shown - watch.shownMs);
    report.Add(QStringLiteral("app cpu during run ms"), appCpu);
    report.Add(QStringLiteral("office cpu during run ms"), officeCpuMs);
    application.removeEventFilter(&watch);
    if (again && !TimeSecondClick(form, report, err))
        return 1;
    report.Add(QStringLiteral("app rss with preview kb"), Bench::StatusKb(::getpid(), "VmRSS"));
    report.Add(QStringLiteral("app peak rss kb"), Bench::StatusKb(::getpid(), "VmHWM"));
    for (const Bench::MemorySampler::Peak& peak : sampler.OfficePeaks())
        report.Add(QStringLiteral("office peak rss kb"), peak.hwmKb);
    report.Add(QStringLiteral("app and offices peak rss kb"), sampler.PeakTotalRssKb());
    // The snapshot holds the pages one below the other, 1056 pixels each (11 inches at 96 dpi).
    const PictureBox* page = preview ? preview->findChild<PictureBox*>(QStringLiteral("unscaledPage")) : nullptr;
    report.Add(QStringLiteral("preview pages"), page ? page->Picture().height() / 1056.0 : 0);
    if (page)
        TimeSnapshotFile(page->Picture(), report);
    const bool zoomSteps = design == QLatin1String("fast");
    const bool zoomed = !zoomSteps || (preview && TimeZoomSteps(*preview, report));
    if (!zoomed)
        err << "zoom steps on the preview were not painted\n";
    else if (zoomSteps)
        report.Add(QStringLiteral("app peak rss after zoom steps kb"), Bench::StatusKb(::getpid(), "VmHWM"));
    // The long letter's one message says how many pages the letter has; anything else shown is an error.
    if (longLetter && dialogs.shown.size() == 1 && dialogs.shown.first().startsWith(QStringLiteral("The letter has "))) {
        report.Add(QStringLiteral("letter pages"), dialogs.shown.first().section(QLatin1Char(' '), 3, 3).toDouble());
        dialogs.shown.clear();
    }
    report.Add(QStringLiteral("errors"), dialogs.shown.size());
    for (const QString& text : dialogs.shown)
        err << "dialog: " << text << "\n";

    // The preview's close removes the working document; the application does not end here.
    if (preview) {
        preview->SetExitAction([] {});
        preview->close();
    }
    if (longLetter) {
        ProcessEventsUntil([] { return false; }, 500);
        report.Add(QStringLiteral("app rss after the preview closed kb"), Bench::StatusKb(::getpid(), "VmRSS"));
    }
    return dialogs.shown.isEmpty() && zoomed ? 0 : 1;
}
