#include "Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

QString ApplicationFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString DataFolder()
{
    // The relative path from the program folder to the data folder comes from the install rules.
    return QDir::cleanPath(JoinPath(ApplicationFolder(), QStringLiteral(INKHAVEN_DATA_FROM_BIN)));
}

QString FirstHolding(const QStringList& folders, const QString& relativePath)
{
    for (const QString& folder : folders) {
        const QString path = JoinPath(folder, relativePath);
        if (QFileInfo::exists(path))
            return path;
    }
    return folders.isEmpty() ? relativePath : JoinPath(folders.first(), relativePath);
}

QString OptionalItemPath(const QString& relativePath)
{
    return FirstHolding({ApplicationFolder(), DataFolder()}, relativePath);
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

QString MovedFileUrl(const QString& url, const QString& from, const QString& to)
{
    const QString fromUrl = QUrl::fromLocalFile(from + QLatin1Char('/')).toString(QUrl::FullyEncoded);
    if (!url.startsWith(fromUrl))
        return url;
    return QUrl::fromLocalFile(to + QLatin1Char('/')).toString(QUrl::FullyEncoded) + url.mid(fromUrl.size());
}

QString JoinPath(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

bool FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}
