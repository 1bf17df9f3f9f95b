#include "Paths.h"

#include <QCoreApplication>
#include <QDir>

QString ApplicationFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString TempFolder()
{
    for (const char* name : {"TEMP", "TMPDIR"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            return value;
    }
    return QDir::tempPath();
}

QString JoinPath(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}
