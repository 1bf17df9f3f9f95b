// Runs every benchmark program several times and prints one Markdown table of the medians:
//
//     run_benchmarks [runs]        (default 7, at least 5)
//
// Needs an X display in DISPLAY (scripts/bench starts an Xvfb of its own). Each round runs,
// in fresh processes: click_to_preview fast, early, naive, ready (the diagnostic design),
// unsandboxed (the sandbox's baseline) and
// again with each number of spares in SpareChoices, their order turning by one place every
// round so that every design meets the same machine state, and start_to_window (the real
// inkhaven, with the bare office start before or after it, alternating too), and batch_bench with offices kept and with a fresh office per
// letter (alternating as well). One round is run first and thrown away, to fill the disk cache. Then
// click_to_preview long makes the longest letter the fields accept a few times, for its
// memory, and engine_bench times the engine's pieces on its own. Settings and working files go to a
// temporary folder that is removed at the end.

#include "BenchSupport.h"
#include "office/PrestartingFactory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <optional>

namespace {

using Values = QHash<QString, QList<double>>;

QTextStream out(stdout);
QTextStream err(stderr);

struct Program {
    QString path;
    QStringList arguments;
};

// Runs a benchmark program and returns its report; ok is false when it failed.
Values Run(const Program& program, const QProcessEnvironment& environment, bool& ok, QString* rawOutput = nullptr)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program.path, program.arguments);
    const bool finished = process.waitForFinished(300000);
    if (!finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    if (rawOutput)
        *rawOutput = text;
    ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ok)
        err << QFileInfo(program.path).fileName() << ' ' << program.arguments.join(QLatin1Char(' ')) << " failed\n";
    return Bench::ParseReport(text);
}

void Append(Values& into, const Values& from)
{
    for (auto it = from.cbegin(); it != from.cend(); ++it)
        into[it.key()].append(it.value());
}

double First(const Values& values, const QString& key)
{
    return values.value(key).value(0, -1);
}

QString Number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

class Table {
public:
    void Header()
    {
        out << "| Measure | Median | Min | Max | Target | Met |\n";
        out << "|---|---:|---:|---:|---|---|\n";
    }
    void Section(const QString& title) { out << "| **" << title << "** | | | | | |\n"; }
    // A row of several measured values; scale turns them into the unit shown (kB -> MB).
    void Row(const QString& name, const QList<double>& values, const QString& unit, double scale = 1, int decimals = 0,
             const QString& target = QString(), std::optional<bool> met = std::nullopt)
    {
        if (values.isEmpty()) {
            out << "| " << name << " | not measured | | | " << target << " | |\n";
            return;
        }
        const auto [low, high] = std::minmax_element(values.cbegin(), values.cend());
        const auto show = [&](double v) { return Number(v * scale, decimals) + QLatin1Char(' ') + unit; };
        out << "| " << name << " | " << show(Bench::Median(values)) << " | " << show(*low) << " | " << show(*high) << " | "
            << target << " | " << (met ? (*met ? "yes" : "**no**") : "") << " |\n";
    }
};

constexpr double MB = 1.0 / 1024;

// How often the longest letter is made.
constexpr int LongLetterRuns = 3;

// The numbers of spare offices weighed against each other: a second click at once after
// the first preview against the memory of the offices that wait idle.
constexpr int SpareChoices[] = {1, 2, 3, 4};
const QString SecondClickKey = QStringLiteral("second click to preview ms");

QString AgainDesign(int spares)
{
    return QStringLiteral("again %1").arg(spares);
}

// One block of rows per number of spares; ratios holds, per number, its second click over
// that of main's number in the same round.
void PrintSpareChoices(Table& table, std::map<QString, Values>& clicks, const std::map<int, QList<double>>& ratios)
{
    table.Section(QStringLiteral("Spare offices: back from the first preview and clicking again at once (main keeps %1)")
                      .arg(WindowSpareInstances));
    for (const int spares : SpareChoices) {
        const Values& values = clicks[AgainDesign(spares)];
        const QString name = QStringLiteral("%1 spare%2: ").arg(spares).arg(spares == 1 ? "" : "s");
        table.Row(name + QStringLiteral("idle offices after start-up"), values.value(QStringLiteral("idle offices")), QString());
        table.Row(name + QStringLiteral("their private memory together"), values.value(QStringLiteral("idle offices private kb")),
                  QStringLiteral("MB"), MB, 1);
        table.Row(name + QStringLiteral("their PSS together"), values.value(QStringLiteral("idle offices pss kb")), QStringLiteral("MB"), MB, 1);
        table.Row(name + QStringLiteral("their RSS together"), values.value(QStringLiteral("idle offices rss kb")), QStringLiteral("MB"), MB, 1);
        table.Row(name + QStringLiteral("start-up with the office check"), values.value(QStringLiteral("start-up with the office check ms")), QStringLiteral("ms"));
        table.Row(name + QStringLiteral("first click to preview"), values.value(QStringLiteral("click to preview ms")), QStringLiteral("ms"));
        table.Row(name + QStringLiteral("second click to preview"), values.value(SecondClickKey), QStringLiteral("ms"));
        table.Row(name + QStringLiteral("second click over main's, per round"), ratios.count(spares) ? ratios.at(spares) : QList<double>(),
                  QStringLiteral("×"), 1, 2);
    }
}

QString MachineDescription()
{
    QString cpu;
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : cpuinfo.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                cpu = QString::fromUtf8(line.mid(line.indexOf(':') + 1)).trimmed();
                break;
            }
        }
    }
    QString ram;
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        const QByteArray first = meminfo.readLine();
        ram = Number(first.mid(first.indexOf(':') + 1).trimmed().split(' ').value(0).toDouble() / 1024 / 1024, 1)
              + QStringLiteral(" GiB RAM");
    }
    QProcess dpkg;
    // The core package comes as libreoffice-core or libreoffice-core-nogui.
    dpkg.start(QStringLiteral("dpkg-query"), {QStringLiteral("-W"), QStringLiteral("-f=${Version}\n"), QStringLiteral("libreoffice-core*")});
    dpkg.waitForFinished(10000);
    QString office;
    for (const QString& version : QString::fromUtf8(dpkg.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        office = office.isEmpty() ? version : office;
    return QStringLiteral("%1 CPUs (nproc), %2, %3; %4; LibreOffice %5")
        .arg(QThread::idealThreadCount())
        .arg(cpu, ram, QSysInfo::prettyProductName(), office.isEmpty() ? QStringLiteral("(version unknown)") : office);
}

// The first three fields of /proc/loadavg: how busy the machine was besides the benchmarks.
QString LoadAverage()
{
    QFile loadavg(QStringLiteral("/proc/loadavg"));
    if (!loadavg.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(loadavg.readAll().split(' ').mid(0, 3).join(' '));
}

// engine_bench's lines "  <piece>  <ms> ms" under the headings ending in ':'.
QList<std::pair<QString, double>> EnginePieces(const QString& text)
{
    QList<std::pair<QString, double>> pieces;
    QString heading;
    const QRegularExpression piece(QStringLiteral("^\\s+(.*\\S)\\s+([0-9.]+) ms"));
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char(':')) && !line.startsWith(QLatin1Char(' '))) {
            heading = line.chopped(1);
            continue;
        }
        const QRegularExpressionMatch match = piece.match(line);
        if (match.hasMatch() && !heading.isEmpty())
            pieces.append({heading + QStringLiteral(": ") + match.captured(1), match.captured(2).toDouble()});
    }
    return pieces;
}

}

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(5, QString::fromLocal8Bit(argv[1]).toInt()) : 7;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        err << "run_benchmarks needs an X display (scripts/bench starts one)\n";
        return 2;
    }
    const QDir here(QCoreApplication::applicationDirPath());
    const QString inkhaven = QStringLiteral(INKHAVEN_EXECUTABLE);

    QTemporaryDir work;
    if (!work.isValid() || !QDir(work.path()).mkpath(QStringLiteral("temp")) || !QDir(work.path()).mkpath(QStringLiteral("config"))) {
        err << "no working folder: " << work.errorString() << "\n";
        return 1;
    }
    const QString temp = QDir(work.path()).filePath(QStringLiteral("temp"));
    // Private, so that the working files go to it itself and what is left there is seen.
    QFile::setPermissions(temp, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TEMP"), temp);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QDir(work.path()).filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    QDir(work.path()).mkdir(QStringLiteral("runtime"));
    QFile::setPermissions(QDir(work.path()).filePath(QStringLiteral("runtime")), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QDir(work.path()).filePath(QStringLiteral("runtime")));
    // The one start in a hundred that opens the home page must not start a browser here.
    environment.insert(QStringLiteral("BROWSER"), QStringLiteral("true"));
    environment.insert(QStringLiteral("DEFAULT_BROWSER"), QStringLiteral("true"));

    const auto start = [&](bool bareFirst) {
        QStringList arguments{inkhaven};
        if (bareFirst)
            arguments << QStringLiteral("bare-first");
        return Program{here.filePath(QStringLiteral("start_to_window")), arguments};
    };

    const QString clickKey = QStringLiteral("click to preview ms");
    // The designs of click_to_preview; their order turns by one place every round.
    QStringList designs{QStringLiteral("fast"), QStringLiteral("early"), QStringLiteral("naive"), QStringLiteral("ready"),
                        QStringLiteral("unsandboxed")};
    for (const int spares : SpareChoices)
        designs.append(AgainDesign(spares));
    std::map<QString, Values> clicks;
    std::map<int, QList<double>> secondClickRatios;
    Values startup;
    QList<double> ratios;
    QList<double> windowOverOffice;
    // inkhaven-batch over 50 lines: offices kept for the list, a fresh office per letter.
    const QString rateKey = QStringLiteral("letters per second");
    Values batchResident;
    Values batchFresh;
    QList<double> batchRatios;
    int failures = 0;

    const QString loadBefore = LoadAverage();
    for (int round = 0; round <= runs; ++round) {
        const bool warmUp = round == 0;
        bool ok = true;
        std::map<QString, Values> thisRound;
        for (int i = 0; i < designs.size(); ++i) {
            const QString design = designs[(round + i) % designs.size()];
            bool okDesign = false;
            thisRound[design] = Run(Program{here.filePath(QStringLiteral("click_to_preview")), design.split(QLatin1Char(' '))},
                                    environment, okDesign);
            if (!okDesign)
                thisRound.erase(design);
            ok = ok && okDesign;
        }
        bool okStart = false;
        const Values s = Run(start(round % 2 == 0), environment, okStart);
        bool okBatch = true;
        std::map<QString, Values> batch;
        for (int i = 0; i < 2; ++i) {
            const QString mode = (round + i) % 2 == 0 ? QStringLiteral("resident") : QStringLiteral("fresh");
            bool okMode = false;
            batch[mode] = Run(Program{here.filePath(QStringLiteral("batch_bench")), {mode}}, environment, okMode);
            okBatch = okBatch && okMode;
        }
        const QStringList left = QDir(temp).entryList(QDir::Files | QDir::Hidden | QDir::System);
        if (!left.isEmpty())
            err << "left in TEMP: " << left.join(QStringLiteral(", ")) << "\n";
        err << (warmUp ? QStringLiteral("warm-up") : QStringLiteral("round %1/%2").arg(round).arg(runs)) << ": click-to-preview";
        for (const QString& design : designs) {
            err << ' ' << design << ' ' << Number(First(thisRound[design], clickKey), 0) << " ms";
            if (thisRound[design].contains(SecondClickKey))
                err << " then " << Number(First(thisRound[design], SecondClickKey), 0) << " ms";
        }
        err << "; start-to-window " << Number(First(s, QStringLiteral("start to window ms")), 0)
            << " ms, bare office start " << Number(First(s, QStringLiteral("bare office start ms")), 0) << " ms"
            << "; batch " << Number(First(batch[QStringLiteral("resident")], rateKey), 2) << " letters/s, fresh offices "
            << Number(First(batch[QStringLiteral("fresh")], rateKey), 2) << " letters/s\n";
        err.flush();
        if (warmUp)
            continue;
        if (!ok || !okStart || !okBatch)
            ++failures;
        if (okBatch) {
            Append(batchResident, batch[QStringLiteral("resident")]);
            Append(batchFresh, batch[QStringLiteral("fresh")]);
            batchRatios.append(First(batch[QStringLiteral("resident")], rateKey) / First(batch[QStringLiteral("fresh")], rateKey));
        }
        for (const auto& [design, values] : thisRound)
            Append(clicks[design], values);
        // Printing the round left an empty entry for a design that failed: look at its values.
        const double mainSecond = First(thisRound[AgainDesign(WindowSpareInstances)], SecondClickKey);
        for (const int spares : SpareChoices) {
            const double second = First(thisRound[AgainDesign(spares)], SecondClickKey);
            if (second > 0 && mainSecond > 0)
                secondClickRatios[spares].append(second / mainSecond);
        }
        if (thisRound[QStringLiteral("fast")].contains(clickKey) && thisRound[QStringLiteral("naive")].contains(clickKey))
            ratios.append(First(thisRound[QStringLiteral("naive")], clickKey) / First(thisRound[QStringLiteral("fast")], clickKey));
        if (okStart) {
            Append(startup, s);
            windowOverOffice.append(First(s, QStringLiteral("start to window ms")) - First(s, QStringLiteral("bare office start ms")));
        }
    }

    // The longest letter takes long (hundreds of pages): a few runs of it, for its memory.
    Values longLetter;
    for (int run = 0; run < LongLetterRuns; ++run) {
        bool okLong = false;
        const Values values = Run(Program{here.filePath(QStringLiteral("click_to_preview")), {QStringLiteral("long")}}, environment, okLong);
        err << "long letter " << run + 1 << "/" << LongLetterRuns << ": " << Number(First(values, QStringLiteral("letter pages")), 0)
            << " pages, click-to-preview " << Number(First(values, clickKey), 0) << " ms, application peak "
            << Number(First(values, QStringLiteral("app peak rss kb")) * MB, 1) << " MB\n";
        err.flush();
        if (okLong)
            Append(longLetter, values);
        else
            ++failures;
    }

    bool okEngine = false;
    QString engineText;
    Run(Program{here.filePath(QStringLiteral("engine_bench")), {QString::number(runs)}}, environment, okEngine, &engineText);

    const Values& fast = clicks[QStringLiteral("fast")];
    const Values& early = clicks[QStringLiteral("early")];
    const double earlyMedian = Bench::Median(early.value(clickKey));
    const Values& naive = clicks[QStringLiteral("naive")];
    const Values& ready = clicks[QStringLiteral("ready")];
    const double fastMedian = Bench::Median(fast.value(clickKey));
    const double naiveMedian = Bench::Median(naive.value(clickKey));

    out << "Machine: " << MachineDescription() << "\n";
    out << "Load average (1, 5, 15 min) before: " << loadBefore << "; after: " << LoadAverage() << "\n";
    out << "Medians of " << runs << " rounds (after one warm-up round); the designs interleaved, one fresh process per run.\n\n";
    Table table;
    table.Header();
    table.Section(QStringLiteral("Click-to-preview (sample data, real office, real snapshot)"));
    table.Row(QStringLiteral("fast: prestarting factory, %1 spares (main's wiring)").arg(WindowSpareInstances), fast.value(clickKey), QStringLiteral("ms"), 1, 0,
              QStringLiteral("≤ 500 ms"), fast.contains(clickKey) ? std::optional<bool>(fastMedian <= 500) : std::nullopt);
    table.Row(QStringLiteral("early: main's wiring, clicked 0.3 s after the window appeared"), early.value(clickKey), QStringLiteral("ms"), 1, 0,
              QStringLiteral("≤ 500 ms"), early.contains(clickKey) ? std::optional<bool>(earlyMedian <= 500) : std::nullopt);
    table.Row(QStringLiteral("early: when the click came after the window appeared"), early.value(QStringLiteral("click after the window ms")), QStringLiteral("ms"));
    table.Row(QStringLiteral("naive: every office started when asked for"), naive.value(clickKey), QStringLiteral("ms"));
    table.Row(QStringLiteral("speed-up, naive / fast, per round"), ratios, QStringLiteral("×"), 1, 2, QStringLiteral("≥ 4×"),
              ratios.isEmpty() ? std::nullopt : std::optional<bool>(Bench::Median(ratios) >= 4));
    out << "| speed-up, median naive / median fast | " << Number(fastMedian > 0 ? naiveMedian / fastMedian : 0, 2)
        << " × | | | ≥ 4× | " << (fastMedian > 0 && naiveMedian / fastMedian >= 4 ? "yes" : "**no**") << " |\n";
    table.Row(QStringLiteral("fast: until the click handler returned"), fast.value(QStringLiteral("click handler returned ms")), QStringLiteral("ms"));
    table.Row(QStringLiteral("diagnosis: 2 offices ready, none starting beside the run"), ready.value(clickKey), QStringLiteral("ms"));
    PrintSpareChoices(table, clicks, secondClickRatios);

    for (const auto& [title, values] : {std::pair<QString, const Values*>{QStringLiteral("fast"), &fast},
                                        std::pair<QString, const Values*>{QStringLiteral("early"), &early},
                                        std::pair<QString, const Values*>{QStringLiteral("naive"), &naive},
                                        std::pair<QString, const Values*>{QStringLiteral("diagnosis, none starting beside"), &ready}}) {
        table.Section(QStringLiteral("Where click-to-preview goes, %1 (time inside the office calls, by instance)").arg(title));
        QStringList phases;
        for (auto it = values->cbegin(); it != values->cend(); ++it) {
            if (it.key().startsWith(QStringLiteral("phase ")))
                phases.append(it.key());
        }
        std::sort(phases.begin(), phases.end());
        for (const QString& phase : phases)
            table.Row(phase.mid(6).chopped(3), values->value(phase), QStringLiteral("ms"));
        table.Row(QStringLiteral("CPU of the application during the run"), values->value(QStringLiteral("app cpu during run ms")), QStringLiteral("ms"));
        table.Row(QStringLiteral("CPU of all office processes during the run"), values->value(QStringLiteral("office cpu during run ms")), QStringLiteral("ms"));
        table.Row(QStringLiteral("office start-ups before the click (each)"), values->value(QStringLiteral("office start before the click ms")), QStringLiteral("ms"));
    }
    table.Section(QStringLiteral("The application's share of the snapshot's way to the preview, timed apart (fast runs)"));
    QStringList pieces;
    for (auto it = fast.cbegin(); it != fast.cend(); ++it) {
        if (it.key().startsWith(QStringLiteral("snapshot piece: ")))
            pieces.append(it.key());
    }
    std::sort(pieces.begin(), pieces.end());
    for (const QString& piece : pieces)
        table.Row(piece.mid(16).chopped(3), fast.value(piece), QStringLiteral("ms"));
    table.Row(QStringLiteral("in the run: from the last office call to the preview's show (load BMP, load the preview)"),
              fast.value(QStringLiteral("from the last office call to the preview's show ms")), QStringLiteral("ms"));
    table.Row(QStringLiteral("in the run: from the preview's show to its first paint done"),
              fast.value(QStringLiteral("from the preview's show to its first paint done ms")), QStringLiteral("ms"));
    table.Row(QStringLiteral("size of the snapshot file"), fast.value(QStringLiteral("snapshot BMP file MB")), QStringLiteral("MB"), 1, 1);
    table.Row(QStringLiteral("pages in the preview"), fast.value(QStringLiteral("preview pages")), QString(), 1, 1);

    table.Section(QStringLiteral("Zoom steps on the shown preview (fast runs, every step between 0.5 and 1.5)"));
    const QList<double> zoomPaint = fast.value(QStringLiteral("zoom step to first paint ms"));
    const QList<double> zoomSharp = fast.value(QStringLiteral("zoom step from first paint to sharp page ms"));
    table.Row(QStringLiteral("click to the zoomed page's first paint"), zoomPaint, QStringLiteral("ms"), 1, 0, QStringLiteral("≤ 50 ms"),
              zoomPaint.isEmpty() ? std::nullopt : std::optional<bool>(Bench::Median(zoomPaint) <= 50));
    table.Row(QStringLiteral("from that paint to the visible page drawn sharp"), zoomSharp, QStringLiteral("ms"), 1, 0,
              QStringLiteral("≤ 150 ms"), zoomSharp.isEmpty() ? std::nullopt : std::optional<bool>(Bench::Median(zoomSharp) <= 150));

    table.Section(QStringLiteral("Start-to-window (real inkhaven on Xvfb, no splash, office check included)"));
    const QList<double> window = startup.value(QStringLiteral("start to window ms"));
    const QList<double> bare = startup.value(QStringLiteral("bare office start ms"));
    table.Row(QStringLiteral("start to data-entry window shown"), window, QStringLiteral("ms"));
    table.Row(QStringLiteral("bare office start-up (CreateApplication)"), bare, QStringLiteral("ms"));
    table.Row(QStringLiteral("bare office Quit"), startup.value(QStringLiteral("bare office quit ms")), QStringLiteral("ms"));
    const QList<double> crashes = startup.value(QStringLiteral("app crashed while closing"));
    out << "| closings of the real inkhaven that crashed | " << std::count(crashes.cbegin(), crashes.cend(), 1.0) << " of "
        << crashes.size() << " | | | none | " << (crashes.contains(1.0) ? "**no**" : "yes") << " |\n";
    table.Row(QStringLiteral("window minus bare office start, per round"), windowOverOffice, QStringLiteral("ms"), 1, 0,
              QStringLiteral("≤ 150 ms"), windowOverOffice.isEmpty() ? std::nullopt : std::optional<bool>(Bench::Median(windowOverOffice) <= 150));
    out << "| window minus bare office start, difference of the medians | "
        << Number(Bench::Median(window) - Bench::Median(bare), 0) << " ms | | | ≤ 150 ms | "
        << (Bench::Median(window) - Bench::Median(bare) <= 150 ? "yes" : "**no**") << " |\n";

    table.Section(QStringLiteral("inkhaven-batch, 50 lines, from the first office start to the last letter placed"));
    const QList<double> residentRate = batchResident.value(rateKey);
    table.Row(QStringLiteral("offices kept for the whole list, one per core side by side"), residentRate,
              QStringLiteral("letters/s"), 1, 2, QStringLiteral("≥ 5 letters/s"),
              residentRate.isEmpty() ? std::nullopt : std::optional<bool>(Bench::Median(residentRate) >= 5));
    table.Row(QStringLiteral("a fresh office for every letter, as many side by side"), batchFresh.value(rateKey),
              QStringLiteral("letters/s"), 1, 2);
    table.Row(QStringLiteral("speed-up, kept / fresh, per round"), batchRatios, QStringLiteral("×"), 1, 2, QStringLiteral("≥ 5×"),
              batchRatios.isEmpty() ? std::nullopt : std::optional<bool>(Bench::Median(batchRatios) >= 5));
    table.Row(QStringLiteral("offices side by side"), batchResident.value(QStringLiteral("offices side by side")), QString());

    table.Section(QStringLiteral("Memory (resident set)"));
    const QList<double> previewRss = fast.value(QStringLiteral("app rss with preview kb"));
    table.Row(QStringLiteral("application with the preview shown, fast"), previewRss, QStringLiteral("MB"), MB, 1,
              QStringLiteral("< 120 MB"), previewRss.isEmpty() ? std::nullopt : std::optional<bool>(Bench::Median(previewRss) * MB < 120));
    table.Row(QStringLiteral("application with the preview shown, naive"), naive.value(QStringLiteral("app rss with preview kb")), QStringLiteral("MB"), MB, 1);
    table.Row(QStringLiteral("application peak (VmHWM) up to the preview, fast"), fast.value(QStringLiteral("app peak rss kb")), QStringLiteral("MB"), MB, 1);
    table.Row(QStringLiteral("application peak (VmHWM) up to the preview, naive"), naive.value(QStringLiteral("app peak rss kb")), QStringLiteral("MB"), MB, 1);
    table.Row(QStringLiteral("application peak (VmHWM) after the zoom steps, fast"), fast.value(QStringLiteral("app peak rss after zoom steps kb")), QStringLiteral("MB"), MB, 1);
    table.Row(QStringLiteral("application at window shown (real inkhaven)"), startup.value(QStringLiteral("app rss at window kb")), QStringLiteral("MB"), MB, 1);
    table.Row(QStringLiteral("application once start-up is quiet (real inkhaven)"), startup.value(QStringLiteral("app rss after start-up kb")), QStringLiteral("MB"), MB, 1);
    table.Row(QStringLiteral("each office instance, peak (VmHWM), fast click runs"), fast.value(QStringLiteral("office peak rss kb")), QStringLiteral("MB"), MB, 1);
    table.Row(QStringLiteral("each office instance, peak (VmHWM), naive click runs"), naive.value(QStringLiteral("office peak rss kb")), QStringLiteral("MB"), MB, 1);
    table.Row(QStringLiteral("each office instance, peak (VmHWM), real inkhaven start"), startup.value(QStringLiteral("start-up office peak rss kb")), QStringLiteral("MB"), MB, 1);
    table.Row(QStringLiteral("bare office instance, peak (VmHWM)"), startup.value(QStringLiteral("bare office peak rss kb")), QStringLiteral("MB"), MB, 1);
    table.Row(QStringLiteral("application and its offices at once, peak, fast"), fast.value(QStringLiteral("app and offices peak rss kb")), QStringLiteral("MB"), MB, 1);
    table.Row(QStringLiteral("application and its offices at once, peak, naive"), naive.value(QStringLiteral("app and offices peak rss kb")), QStringLiteral("MB"), MB, 1);
    table.Row(QStringLiteral("offices left running by the real inkhaven after start-up"), startup.value(QStringLiteral("offices running after start-up")), QString());

    table.Section(QStringLiteral("The longest letter the fields accept: every field 10,000 tabs (%1 runs)").arg(LongLetterRuns));
    table.Row(QStringLiteral("pages of the letter"), longLetter.value(QStringLiteral("letter pages")), QString());
    table.Row(QStringLiteral("pages in the preview"), longLetter.value(QStringLiteral("preview pages")), QString(), 1, 1);
    table.Row(QStringLiteral("click to preview"), longLetter.value(clickKey), QStringLiteral("ms"));
    const QList<double> longPeak = longLetter.value(QStringLiteral("app peak rss kb"));
    table.Row(QStringLiteral("application peak (VmHWM) up to the preview"), longPeak, QStringLiteral("MB"), MB, 1,
              QStringLiteral("< 1024 MB"), longPeak.isEmpty() ? std::nullopt : std::optional<bool>(*std::max_element(longPeak.cbegin(), longPeak.cend()) * MB < 1024));
    table.Row(QStringLiteral("application with the preview shown"), longLetter.value(QStringLiteral("app rss with preview kb")), QStringLiteral("MB"), MB, 1);
    table.Row(QStringLiteral("application after the preview closed"), longLetter.value(QStringLiteral("app rss after the preview closed kb")), QStringLiteral("MB"), MB, 1);
    table.Row(QStringLiteral("each office instance, peak (VmHWM)"), longLetter.value(QStringLiteral("office peak rss kb")), QStringLiteral("MB"), MB, 1);

    table.Section(QStringLiteral("The engine alone (engine_bench, medians of its own %1 runs)").arg(runs));
    if (okEngine) {
        for (const auto& [name, ms] : EnginePieces(engineText))
            out << "| " << name << " | " << Number(ms, 0) << " ms | | | | |\n";
    } else {
        out << "| engine_bench failed | | | | | |\n";
    }

    if (failures)
        out << "\n" << failures << " of " << runs << " rounds had a failing program (see above); their figures are left out.\n";
    return failures || !okEngine ? 1 : 0;
}
