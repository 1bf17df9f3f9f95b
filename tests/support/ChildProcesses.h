#pragma once

#include <QList>
#include <QString>

#include <sys/types.h>

// A process descended from this process, as /proc tells it.
struct ChildProcess {
    pid_t pid = 0;
    QString name;  // the command name, e.g. "soffice.bin"
    QString state; // "R", "S", "Z" ...
};

// Every descendant of this process (children not yet reaped included): an office in its
// sandbox comes with the sandbox's own processes.
QList<ChildProcess> ChildProcesses();
