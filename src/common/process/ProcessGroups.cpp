#include "ProcessGroups.h"

#include <atomic>
#include <csignal>
#include <mutex>
#include <set>
#include <thread>

#include <sys/wait.h>

namespace {
struct Groups {
    std::mutex mutex;
    std::set<pid_t> noted;
    std::atomic<bool> ended{false};
};

// Lives as long as the process: the offices may be ended while the process exits.
Groups& Shared()
{
    static Groups* groups = new Groups;
    return *groups;
}

bool LeaderRunning(pid_t group)
{
    siginfo_t info {};
    return ::waitid(P_PID, static_cast<id_t>(group), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}
}

void NoteProcessGroup(pid_t group)
{
    Groups& groups = Shared();
    const std::lock_guard lock(groups.mutex);
    groups.noted.insert(group);
    if (groups.ended)
        ::kill(-group, SIGKILL);
}

void ForgetProcessGroup(pid_t group)
{
    Groups& groups = Shared();
    const std::lock_guard lock(groups.mutex);
    groups.noted.erase(group);
}

void EndProcessGroups()
{
    Groups& groups = Shared();
    const std::lock_guard lock(groups.mutex);
    groups.ended = true;
    for (const pid_t group : groups.noted)
        ::kill(-group, SIGKILL);
}

bool ProcessGroupsEnded()
{
    return Shared().ended;
}

void AwaitProcessGroupsEnd(std::chrono::milliseconds time)
{
    std::set<pid_t> waiting;
    {
        Groups& groups = Shared();
        const std::lock_guard lock(groups.mutex);
        waiting = groups.noted;
    }
    const auto deadline = std::chrono::steady_clock::now() + time;
    for (const pid_t group : waiting)
        while (std::chrono::steady_clock::now() < deadline && LeaderRunning(group))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
}
