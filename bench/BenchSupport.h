#pragma once

// What the benchmark programs share: reading processes from /proc, sampling the memory of
// the office processes while they run, medians, and the "key value" lines through which
// every benchmark program reports to run_benchmarks.

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QTextStream>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <sys/types.h>

namespace Bench {

// A field of /proc/<pid>/status in kB (VmRSS, VmHWM); -1 when the process is gone.
qint64 StatusKb(pid_t pid, const char* field);
// User plus system CPU time of a process in milliseconds; -1 when it is gone.
double CpuMs(pid_t pid);
// The processes whose ancestry leads to root (root itself excluded).
QList<pid_t> Descendants(pid_t root);
// The command name of a process ("soffice.bin").
QString CommandName(pid_t pid);
// CPU time of this process (all threads), in ms.
double SelfCpuMs();

double Median(QList<double> values);

// Waits until the descendants of root (and root itself when countRoot) have used less than
// 10 ms of CPU in each of two 250 ms spans in a row, at most timeoutMs; pause(ms) passes the
// time (a sleep, or a loop that keeps a window's events flowing). Returns the ms waited.
double WaitUntilQuiet(pid_t root, bool countRoot, int timeoutMs, const std::function<void(int)>& pause);

// The soffice.bin processes below root at one moment and their memory, from
// /proc/<pid>/smaps_rollup, summed: their private pages (what ending them would free; one
// more office costs about its own), their proportional sets (Pss: each shared page divided
// among all processes that map it, other offices on the machine included) and their
// resident sets (shared pages counted in each).
struct OfficesMemory {
    int processes = 0;
    qint64 privateKb = 0;
    qint64 pssKb = 0;
    qint64 rssKb = 0;
};
OfficesMemory MeasureOffices(pid_t root);

// The user profile (a file URL) and the pipe name an office process was started with
// (its -env:UserInstallation= and --accept=pipe,name= arguments); "" when it has none.
QString OfficeProfile(pid_t pid);
QString OfficePipe(pid_t pid);

// Calls work every period on a thread of its own, from construction until destruction.
class Periodically {
public:
    Periodically(std::chrono::milliseconds period, std::function<void()> work);

private:
    std::jthread mThread;
};

// Samples every descendant of root every period from a thread of its own and keeps, for
// each office instance seen, the largest VmHWM and VmRSS of its soffice.bin processes, and
// the largest sum of the resident sets of root and all its descendants at one moment. An
// office instance is told by its profile: soffice.bin ends once after making a fresh
// profile and is started again, so one instance may be two processes one after the other.
class MemorySampler {
public:
    struct Peak {
        QString profile;
        QString pipe;
        int processes = 0;
        qint64 hwmKb = 0;
        qint64 rssKb = 0;
    };

    explicit MemorySampler(pid_t root, int periodMs = 20);
    MemorySampler(const MemorySampler&) = delete;
    MemorySampler& operator=(const MemorySampler&) = delete;

    // Takes one sample at once (besides the periodic ones) and returns the peaks so far.
    QList<Peak> OfficePeaks();
    qint64 PeakTotalRssKb();

private:
    void Sample();

    pid_t mRoot;
    std::mutex mMutex;
    QHash<QString, Peak> mPeaks;
    QHash<pid_t, QString> mProfiles;
    qint64 mPeakTotalKb = 0;
    // Last, so that it stops before the rest goes.
    std::optional<Periodically> mSampling;
};

// Removes what offices left behind when the application that started them died without
// ending them (they end with it, killed by their parent-death signal): their private
// folders ("inkhaven-office-..." around the profile) and the sockets of their pipes.
// Returns how many files and folders were removed.
int RemoveOfficeLeftovers(const QList<MemorySampler::Peak>& offices);

// CPU used by the descendants of this process between Start and Stop, those that started or
// ended in between included. The descendants are sampled every 20 ms: an office in its
// sandbox is a grandchild, whose time no wait of ours adds up, so an office that ends before
// Stop counts with its last sample.
class ChildrenCpu {
public:
    void Start();
    double StopMs();

private:
    void Sample();

    QMap<pid_t, double> mAtStart;
    QMap<pid_t, double> mLatest;
    std::mutex mMutex;
    // Last, so that it stops before the rest goes.
    std::optional<Periodically> mSampling;
};

// One result line: "key value". A key may be reported several times (one value per office).
class Report {
public:
    explicit Report(QTextStream& out) : mOut(out) {}
    void Add(const QString& key, double value);

private:
    QTextStream& mOut;
};

// Parses the result lines of a benchmark program into key -> values.
QHash<QString, QList<double>> ParseReport(const QString& text);

// Milliseconds since timer started, with sub-millisecond precision.
inline double Ms(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

} // namespace Bench
