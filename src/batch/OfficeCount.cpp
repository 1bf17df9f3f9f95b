#include "OfficeCount.h"

#include <QFile>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace {
// The first line of a file of the control-group file system; empty when it cannot be read.
QString FirstLine(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.readLine(256)).trimmed();
}

// The path of this process's group in hierarchy (a v1 controller, or "" for v2), as
// /proc/self/cgroup lists it; empty when it is not listed.
QString GroupPath(const QString& controller)
{
    QFile file(QStringLiteral("/proc/self/cgroup"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QStringList parts = QString::fromLatin1(line).split(QLatin1Char(':'));
        if (parts.size() < 3)
            continue;
        const QStringList controllers = parts[1].split(QLatin1Char(','));
        if ((controller.isEmpty() && parts[0] == QLatin1String("0") && parts[1].isEmpty()) ||
            (!controller.isEmpty() && controllers.contains(controller)))
            return parts.mid(2).join(QLatin1Char(':'));
    }
    return QString();
}

// The value a limit file gives for this process's group, or for the group's root where the
// group's own path is not visible (inside a container the group is the root).
QString Limit(const QString& hierarchy, const QString& group, const QString& name)
{
    const QString own = FirstLine(hierarchy + group + QLatin1Char('/') + name);
    return own.isEmpty() ? FirstLine(hierarchy + QLatin1Char('/') + name) : own;
}
}

std::optional<double> CpusOfCpuMax(const QString& cpuMax)
{
    const QStringList parts = cpuMax.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return parts.size() == 2 ? CpusOfQuota(parts[0] == QLatin1String("max") ? QStringLiteral("-1") : parts[0], parts[1])
                             : std::nullopt;
}

std::optional<double> CpusOfQuota(const QString& quota, const QString& period)
{
    bool quotaOk = false;
    bool periodOk = false;
    const double granted = quota.toDouble(&quotaOk);
    const double each = period.toDouble(&periodOk);
    if (!quotaOk || !periodOk || granted <= 0 || each <= 0)
        return std::nullopt;
    return granted / each;
}

std::optional<qint64> BytesOfMemoryLimit(const QString& limit)
{
    bool ok = false;
    const qint64 bytes = limit.toLongLong(&ok);
    // cgroup v1 writes a number near 2^63, rounded to pages, for no limit.
    if (!ok || bytes <= 0 || bytes >= (1LL << 62))
        return std::nullopt;
    return bytes;
}

int OfficesWithin(int cores, std::optional<double> cpus, std::optional<qint64> memoryBytes, int maxOffices)
{
    int offices = std::max(1, cores);
    if (cpus)
        offices = std::min(offices, static_cast<int>(std::ceil(*cpus)));
    if (memoryBytes)
        offices = std::min<qint64>(offices, (*memoryBytes - BatchMemoryBytes) / OfficeMemoryBytes);
    return std::clamp(offices, 1, maxOffices);
}

int DefaultOffices(int maxOffices)
{
    std::optional<double> cpus;
    std::optional<qint64> memory;
    const QString unified = QStringLiteral("/sys/fs/cgroup");
    if (QFile::exists(unified + QStringLiteral("/cgroup.controllers"))) {
        const QString group = GroupPath(QString());
        cpus = CpusOfCpuMax(Limit(unified, group, QStringLiteral("cpu.max")));
        memory = BytesOfMemoryLimit(Limit(unified, group, QStringLiteral("memory.max")));
    } else {
        const QString cpu = unified + QStringLiteral("/cpu");
        const QString cpuGroup = GroupPath(QStringLiteral("cpu"));
        cpus = CpusOfQuota(Limit(cpu, cpuGroup, QStringLiteral("cpu.cfs_quota_us")),
                           Limit(cpu, cpuGroup, QStringLiteral("cpu.cfs_period_us")));
        memory = BytesOfMemoryLimit(Limit(unified + QStringLiteral("/memory"), GroupPath(QStringLiteral("memory")),
                                          QStringLiteral("memory.limit_in_bytes")));
    }
    return OfficesWithin(QThread::idealThreadCount(), cpus, memory, maxOffices);
}
