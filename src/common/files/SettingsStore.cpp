#include "SettingsStore.h"

#include "FileDescriptor.h"
#include "core/AppError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>

#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

QString FieldKey(int index)
{
    return QStringLiteral("Text1_") + QString::number(index);
}

namespace {
QString StatusText(QSettings::Status status)
{
    return status == QSettings::FormatError ? QStringLiteral("its contents cannot be read")
                                            : QStringLiteral("it cannot be read or written");
}

// Where the settings of application live: "<application>.ini" in the user's configuration
// folder (~/.config, or XDG_CONFIG_HOME), the file QSettings gives an organisation there.
QString SettingsFileName(const QString& application)
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(application + QStringLiteral(".ini"));
}

// Why what stands at path (followed when a link) cannot be a settings file: anything but a
// regular file, which a reader could wait on for ever (a FIFO, a device) or never read (a
// folder). Empty when it is a regular file or there is nothing there.
QString NotAFile(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || S_ISREG(info.st_mode))
        return QString();
    return S_ISFIFO(info.st_mode) ? QStringLiteral("it is a FIFO, not a file")
           : S_ISDIR(info.st_mode) ? QStringLiteral("it is a folder, not a file")
                                   : QStringLiteral("it is a device or socket, not a file");
}

// The whole settings file at path, read without waiting on anything that is not a regular
// file; nothing when there is no file. Throws failure, with the file name and the reason
// filled in, when it cannot be read.
QByteArray ReadSettingsFile(const QString& path, const QString& failure)
{
    QString reason = NotAFile(path);
    if (!reason.isEmpty())
        throw AppError(failure.arg(path, reason));
    // Should something else have taken the name meanwhile, it is not waited on either.
    const FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0 && errno == ENOENT)
        return QByteArray();
    struct stat info {};
    QFile file;
    if (fd.Get() < 0 || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)
        || !file.open(fd.Get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        throw AppError(failure.arg(path, StatusText(QSettings::AccessError)));
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw AppError(failure.arg(path, StatusText(QSettings::AccessError)));
    return content;
}

// The text after "key=" on the last such line of [section] in an INI file's content,
// without the spaces around it, exactly as written there; empty when there is none.
QString RawIniValue(const QByteArray& content, const QString& section, const QString& key)
{
    const QByteArray header = '[' + section.toUtf8() + ']';
    const QByteArray wanted = key.toUtf8();
    bool inSection = false;
    QByteArray value;
    for (const QByteArray& rawLine : content.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inSection = line == header;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (inSection && equals > 0 && line.first(equals).trimmed() == wanted)
            value = line.sliced(equals + 1).trimmed();
    }
    return QString::fromUtf8(value);
}

// Whether the file reads as settings, line by line: a section header, a key with its value,
// a comment or nothing. Anything else (binary garbage, a broken section header) means the
// file is damaged; the settings reader would silently drop what it cannot parse, and the
// next write would rewrite the file without it.
bool ParsesAsSettings(const QByteArray& content)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(content);
    if (utf8.hasError())
        return false;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            return false;
    }
    for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const QStringView name = line.mid(1, line.size() - 2);
            if (!line.endsWith(QLatin1Char(']')) || name.isEmpty() || name.contains(QLatin1Char('['))
                || name.contains(QLatin1Char(']')))
                return false;
        } else if (!line.contains(QLatin1Char('='))) {
            return false;
        }
    }
    return true;
}

// The settings of application as the settings reader holds them, and the file's content.
struct OpenedSettings {
    std::unique_ptr<QSettings> settings;
    QByteArray content;
};

// The settings of application, checked before the settings reader takes them (it reads
// the file as it is made, and would wait for ever on a FIFO); throws failure, with the
// file name and the reason filled in, when they cannot be used. forWriting: the lock file
// that a write makes beside the file is checked as well.
OpenedSettings OpenSettings(const QString& path, const QString& failure, bool forWriting)
{
    OpenedSettings opened{nullptr, ReadSettingsFile(path, failure)};
    if (!ParsesAsSettings(opened.content))
        throw AppError(failure.arg(path, StatusText(QSettings::FormatError)));
    const QString lock = path + QStringLiteral(".lock");
    if (forWriting && !NotAFile(lock).isEmpty())
        throw AppError(failure.arg(path, QStringLiteral("its lock file %1 is not a file").arg(lock)));
    opened.settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    if (opened.settings->status() != QSettings::NoError)
        throw AppError(failure.arg(path, StatusText(opened.settings->status())));
    return opened;
}
}

QSettingsStore::QSettingsStore(const QString& file) : mFile(file)
{
    if (!QFileInfo::exists(file))
        throw AppError(QStringLiteral("The settings file %1 does not exist.").arg(file));
}

QString QSettingsStore::FileOf(const QString& application) const
{
    return mFile.isEmpty() ? SettingsFileName(application) : mFile;
}

QString QSettingsStore::ReadSetting(const QString& application, const QString& section, const QString& key,
                                    const QString& defaultValue)
{
    const OpenedSettings opened =
        OpenSettings(FileOf(application), QStringLiteral("The settings file %1 could not be read: %2."), false);
    opened.settings->beginGroup(section);
    const QVariant value = opened.settings->value(key, defaultValue);
    // The application writes a comma only inside quotes. An unquoted one was typed by
    // hand ("Smith, John"); the INI reader takes it for a list, so read it as written.
    if (value.typeId() == QMetaType::QStringList || value.typeId() == QMetaType::QVariantList)
        return RawIniValue(opened.content, section, key);
    return value.toString();
}

void QSettingsStore::WriteSetting(const QString& application, const QString& section, const QString& key,
                                  const QString& value)
{
    // A file that could not be read is not written over either: what it holds would be lost.
    const OpenedSettings opened = OpenSettings(
        FileOf(application), QStringLiteral("The settings file %1 could not be read, so nothing is saved in it: %2."), true);
    QSettings& settings = *opened.settings;
    settings.beginGroup(section);
    settings.setValue(key, value);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw AppError(QStringLiteral("The settings file %1 could not be saved: %2.")
                           .arg(settings.fileName(), StatusText(settings.status())));
}
