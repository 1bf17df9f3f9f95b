#pragma once

#include <QString>

#include <optional>

// How many offices a run starts when --offices does not say: one per CPU the process may
// use, within what its control group (a container's, a scheduler's job's) allows of CPU
// time and of memory. A machine's core count overstates a container limited to a part of it.

// The memory one office takes while it makes letters, with room for a long letter.
inline constexpr qint64 OfficeMemoryBytes = 250LL * 1024 * 1024;
// What the batch itself takes beside its offices.
inline constexpr qint64 BatchMemoryBytes = 100LL * 1024 * 1024;

// The CPUs a cgroup v2 "cpu.max" grants ("150000 100000": 1.5); nothing for "max".
std::optional<double> CpusOfCpuMax(const QString& cpuMax);
// The CPUs a cgroup v1 quota and period grant (150000 and 100000: 1.5); nothing for a
// quota of -1.
std::optional<double> CpusOfQuota(const QString& quota, const QString& period);
// The bytes a memory limit ("memory.max", "memory.limit_in_bytes") allows; nothing for
// "max" or for the huge number cgroup v1 writes when there is no limit.
std::optional<qint64> BytesOfMemoryLimit(const QString& limit);

// The offices for cores usable CPUs within those limits: at least one, at most maxOffices.
int OfficesWithin(int cores, std::optional<double> cpus, std::optional<qint64> memoryBytes, int maxOffices);

// OfficesWithin for this process: its usable CPUs, and the limits of its control group as
// /proc/self/cgroup and /sys/fs/cgroup tell them (v2 or v1).
int DefaultOffices(int maxOffices);
