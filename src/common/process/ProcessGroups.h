#pragma once

#include <chrono>

#include <sys/types.h>

// The process groups of the offices this instance started, so that however the instance
// ends no office outlives it. Every function here may be called from any thread.

// A group is noted once its office runs and forgotten before its leader is reaped (so that
// its id is never signalled once it may belong to another process). A group noted after
// EndProcessGroups is killed at once.
void NoteProcessGroup(pid_t group);
void ForgetProcessGroup(pid_t group);

// Kills every noted group, which frees the calls waiting for those offices; from now on no
// office is to start (ProcessGroupsEnded).
void EndProcessGroups();
bool ProcessGroupsEnded();

// Waits up to time for the leaders of the noted groups to be gone, so that none writes into
// a folder while it is removed. They are looked at without being reaped: their owners reap
// them.
void AwaitProcessGroupsEnd(std::chrono::milliseconds time);
