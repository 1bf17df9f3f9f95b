#include "ChildProcesses.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

QList<ChildProcess> ChildProcesses()
{
    struct Entry {
        ChildProcess process;
        QString parent;
    };
    QList<Entry> all;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const QString line = QString::fromLocal8Bit(stat.readAll());
        const qsizetype open = line.indexOf(QLatin1Char('('));
        const qsizetype close = line.lastIndexOf(QLatin1Char(')'));
        const QStringList fields = line.mid(close + 2).split(QLatin1Char(' '));
        if (open > 0 && close > open && fields.size() > 1)
            all.append({{static_cast<pid_t>(entry.toInt()), line.mid(open + 1, close - open - 1), fields[0]}, fields[1]});
    }
    // Descendants, generation by generation: a sandboxed office is a grandchild or further.
    QList<ChildProcess> descendants;
    QStringList parents = {QString::number(::getpid())};
    while (!parents.isEmpty()) {
        QStringList next;
        for (const Entry& entry : std::as_const(all)) {
            if (parents.contains(entry.parent)) {
                descendants.append(entry.process);
                next << QString::number(entry.process.pid);
            }
        }
        parents = next;
    }
    return descendants;
}
