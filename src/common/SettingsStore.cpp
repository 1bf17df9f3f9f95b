#include "SettingsStore.h"

#include "AppError.h"

#include <QFile>
#include <QSettings>
#include <QStringDecoder>

#include <memory>

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

// The text after "key=" on the last such line of [section] in an INI file, without the
// spaces around it, exactly as written there; empty when there is none.
QString RawIniValue(const QString& fileName, const QString& section, const QString& key)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray header = '[' + section.toUtf8() + ']';
    const QByteArray wanted = key.toUtf8();
    bool inSection = false;
    QByteArray value;
    for (const QByteArray& rawLine : file.readAll().split('\n')) {
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

// The settings of application, checked before the settings reader takes them; throws
// failure, with the file name and the reason filled in, when they cannot be used.
std::unique_ptr<QSettings> OpenSettings(const QString& application, const QString& failure)
{
    auto settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, application);
    QSettings::Status status = settings->status();
    QFile file(settings->fileName());
    if (status == QSettings::NoError && file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            status = QSettings::AccessError;
        else if (!ParsesAsSettings(file.readAll()))
            status = QSettings::FormatError;
    }
    if (status != QSettings::NoError)
        throw AppError(failure.arg(settings->fileName(), StatusText(status)));
    return settings;
}
}

QString QSettingsStore::ReadSetting(const QString& application, const QString& section, const QString& key,
                                    const QString& defaultValue)
{
    const std::unique_ptr<QSettings> settings =
        OpenSettings(application, QStringLiteral("The settings file %1 could not be read: %2."));
    settings->beginGroup(section);
    const QVariant value = settings->value(key, defaultValue);
    // The application writes a comma only inside quotes. An unquoted one was typed by
    // hand ("Smith, John"); the INI reader takes it for a list, so read it as written.
    if (value.typeId() == QMetaType::QStringList || value.typeId() == QMetaType::QVariantList)
        return RawIniValue(settings->fileName(), section, key);
    return value.toString();
}

void QSettingsStore::WriteSetting(const QString& application, const QString& section, const QString& key,
                                  const QString& value)
{
    // A file that could not be read is not written over either: what it holds would be lost.
    const std::unique_ptr<QSettings> settings = OpenSettings(
        application, QStringLiteral("The settings file %1 could not be read, so nothing is saved in it: %2."));
    settings->beginGroup(section);
    settings->setValue(key, value);
    settings->endGroup();
    settings->sync();
    if (settings->status() != QSettings::NoError)
        throw AppError(QStringLiteral("The settings file %1 could not be saved: %2.")
                           .arg(settings->fileName(), StatusText(settings->status())));
}
