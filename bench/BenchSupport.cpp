#include "BenchSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <sys/resource.h>
#include <unistd.h>

namespace Bench {
namespace {

QByteArray ReadProcFile(pid_t pid, const char* name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The fields of /proc/<pid>/stat after the command name (which may hold spaces), so that
// field 4 of the file (ppid) is element 1 here.
QList<QByteArray> StatFields(pid_t pid)
{
    const QByteArray stat = ReadProcFile(pid, "stat");
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    return stat.mid(close + 2).split(' ');
}

double TicksToMs(qint64 ticks)
{
    static const double msPerTick = 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
    return static_cast<double>(ticks) * msPerTick;
}

double RusageMs(int who)
{
    rusage usage {};
    ::getrusage(who, &usage);
    const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

}

qint64 StatusKb(pid_t pid, const char* field)
{
    const QByteArray status = ReadProcFile(pid, "status");
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

double CpuMs(pid_t pid)
{
    const QList<QByteArray> fields = StatFields(pid);
    // utime and stime are fields 14 and 15 of the file.
    if (fields.size() < 13)
        return -1;
    return TicksToMs(fields[11].toLongLong() + fields[12].toLongLong());
}

QList<pid_t> Descendants(pid_t root)
{
    QHash<pid_t, pid_t> parents;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        if (!number)
            continue;
        const QList<QByteArray> fields = StatFields(pid);
        if (fields.size() > 1)
            parents.insert(pid, fields[1].toInt());
    }
    QList<pid_t> found;
    for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
        for (pid_t up = it.value(); up > 1; up = parents.value(up, 0)) {
            if (up == root) {
                found.append(it.key());
                break;
            }
        }
    }
    return found;
}

QString CommandName(pid_t pid)
{
    return QString::fromLocal8Bit(ReadProcFile(pid, "comm")).trimmed();
}

OfficesMemory MeasureOffices(pid_t root)
{
    OfficesMemory memory;
    for (const pid_t pid : Descendants(root)) {
        if (CommandName(pid) != QLatin1String("soffice.bin"))
            continue;
        ++memory.processes;
        for (const QByteArray& line : ReadProcFile(pid, "smaps_rollup").split('\n')) {
            const qint64 kb = line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toLongLong();
            if (line.startsWith("Private_Clean:") || line.startsWith("Private_Dirty:"))
                memory.privateKb += kb;
            else if (line.startsWith("Pss:"))
                memory.pssKb += kb;
            else if (line.startsWith("Rss:"))
                memory.rssKb += kb;
        }
    }
    return memory;
}

QString OfficeProfile(pid_t pid)
{
    const QByteArray key = "-env:UserInstallation=";
    for (const QByteArray& argument : ReadProcFile(pid, "cmdline").split('\0')) {
        if (argument.startsWith(key))
            return QString::fromLocal8Bit(argument.mid(key.size()));
    }
    return {};
}

QString OfficePipe(pid_t pid)
{
    const QByteArray key = "--accept=pipe,name=";
    for (const QByteArray& argument : ReadProcFile(pid, "cmdline").split('\0')) {
        if (argument.startsWith(key))
            return QString::fromLocal8Bit(argument.mid(key.size()).split(';').value(0));
    }
    return {};
}

int RemoveOfficeLeftovers(const QList<MemorySampler::Peak>& offices)
{
    int removed = 0;
    for (const MemorySampler::Peak& office : offices) {
        const QUrl profile(office.profile);
        if (!profile.isLocalFile())
            continue;
        QDir folder = QFileInfo(profile.toLocalFile()).dir();
        if (folder.dirName().startsWith(QStringLiteral("inkhaven-office-")) && folder.exists()) {
            folder.removeRecursively();
            ++removed;
        }
        // The office names its sockets after the pipe and after the MD5 of the profile's URL
        // in UTF-16, its bytes in hexadecimal without leading zeros.
        const QByteArray digest = QCryptographicHash::hash(
            QByteArrayView(reinterpret_cast<const char*>(office.profile.utf16()), office.profile.size() * 2),
            QCryptographicHash::Md5);
        QString hash;
        for (const char byte : digest)
            hash += QString::number(static_cast<unsigned char>(byte), 16);
        const QString prefix = QStringLiteral("OSL_PIPE_%1_").arg(::getuid());
        for (const char* tmp : {"/tmp/", "/var/tmp/"}) {
            for (const QString& name : {office.pipe, QStringLiteral("SingleOfficeIPC_") + hash}) {
                const QFileInfo socket(QLatin1String(tmp) + prefix + name);
                if (!name.isEmpty() && socket.exists() && !socket.isDir() && !socket.isFile() && QFile::remove(socket.filePath()))
                    ++removed;
            }
        }
    }
    return removed;
}

double SelfCpuMs()
{
    return RusageMs(RUSAGE_SELF);
}

double Median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double WaitUntilQuiet(pid_t root, bool countRoot, int timeoutMs, const std::function<void(int)>& pause)
{
    QElapsedTimer timer;
    timer.start();
    const auto cpu = [&] {
        double sum = countRoot ? std::max(0.0, CpuMs(root)) : 0;
        for (const pid_t pid : Descendants(root))
            sum += std::max(0.0, CpuMs(pid));
        return sum;
    };
    double before = cpu();
    int quiet = 0;
    while (quiet < 2 && timer.elapsed() < timeoutMs) {
        pause(250);
        const double now = cpu();
        quiet = now - before < 10 ? quiet + 1 : 0;
        before = now;
    }
    return Ms(timer);
}

Periodically::Periodically(std::chrono::milliseconds period, std::function<void()> work)
    : mThread([period, work = std::move(work)](std::stop_token stop) {
          while (!stop.stop_requested()) {
              work();
              std::this_thread::sleep_for(period);
          }
      })
{
}

MemorySampler::MemorySampler(pid_t root, int periodMs) : mRoot(root)
{
    mSampling.emplace(std::chrono::milliseconds(periodMs), [this] { Sample(); });
}

void MemorySampler::Sample()
{
    const QList<pid_t> pids = Descendants(mRoot);
    qint64 total = std::max<qint64>(0, StatusKb(mRoot, "VmRSS"));
    const std::lock_guard<std::mutex> lock(mMutex);
    for (const pid_t pid : pids) {
        const qint64 rss = StatusKb(pid, "VmRSS");
        const qint64 hwm = StatusKb(pid, "VmHWM");
        if (rss < 0)
            continue;
        total += rss;
        // Until it has run exec a new child is a copy of its parent, not yet an office.
        if (CommandName(pid) != QLatin1String("soffice.bin"))
            continue;
        if (!mProfiles.contains(pid)) {
            const QString profile = OfficeProfile(pid);
            mProfiles.insert(pid, profile.isEmpty() ? QString::number(pid) : profile);
            ++mPeaks[mProfiles[pid]].processes;
        }
        Peak& peak = mPeaks[mProfiles[pid]];
        peak.profile = mProfiles[pid];
        if (peak.pipe.isEmpty())
            peak.pipe = OfficePipe(pid);
        peak.rssKb = std::max(peak.rssKb, rss);
        peak.hwmKb = std::max(peak.hwmKb, hwm);
    }
    mPeakTotalKb = std::max(mPeakTotalKb, total);
}

QList<MemorySampler::Peak> MemorySampler::OfficePeaks()
{
    Sample();
    const std::lock_guard<std::mutex> lock(mMutex);
    return mPeaks.values();
}

qint64 MemorySampler::PeakTotalRssKb()
{
    Sample();
    const std::lock_guard<std::mutex> lock(mMutex);
    return mPeakTotalKb;
}

void ChildrenCpu::Start()
{
    mSampling.reset();
    mAtStart.clear();
    mLatest.clear();
    for (const pid_t pid : Descendants(::getpid()))
        mAtStart.insert(pid, std::max(0.0, CpuMs(pid)));
    mSampling.emplace(std::chrono::milliseconds(20), [this] { Sample(); });
}

double ChildrenCpu::StopMs()
{
    Sample();
    mSampling.reset();
    double total = 0;
    for (auto latest = mLatest.cbegin(); latest != mLatest.cend(); ++latest)
        total += std::max(0.0, latest.value() - mAtStart.value(latest.key(), 0));
    return total;
}

void ChildrenCpu::Sample()
{
    const QList<pid_t> pids = Descendants(::getpid());
    const std::lock_guard lock(mMutex);
    for (const pid_t pid : pids) {
        const double ms = CpuMs(pid);
        if (ms >= 0)
            mLatest[pid] = std::max(mLatest.value(pid, 0), ms);
    }
}

void Report::Add(const QString& key, double value)
{
    mOut << key << ' ' << QString::number(value, 'f', 3) << '\n';
    mOut.flush();
}

QHash<QString, QList<double>> ParseReport(const QString& text)
{
    QHash<QString, QList<double>> values;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype space = line.lastIndexOf(QLatin1Char(' '));
        bool number = false;
        const double value = line.mid(space + 1).toDouble(&number);
        if (space > 0 && number)
            values[line.left(space)].append(value);
    }
    return values;
}

} // namespace Bench
