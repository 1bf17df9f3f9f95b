#pragma once

#include <QList>
#include <QString>

#include <sys/types.h>

// A process whose parent is this process, as /proc tells it.
struct ChildProcess {
    pid_t pid = 0;
    QString name;  // the command name, e.g. "soffice.bin"
    QString state; // "R", "S", "Z" ...
};

// Every child of this process, reaped or not yet.
QList<ChildProcess> ChildProcesses();
