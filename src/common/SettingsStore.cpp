#include "SettingsStore.h"

#include "AppError.h"

#include <QFile>
#include <QSettings>

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
}

QString QSettingsStore::ReadSetting(const QString& application, const QString& section, const QString& key,
                                    const QString& defaultValue)
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, application);
    if (settings.status() != QSettings::NoError)
        throw AppError(QStringLiteral("The settings file %1 could not be read: %2.")
                           .arg(settings.fileName(), StatusText(settings.status())));
    settings.beginGroup(section);
    const QVariant value = settings.value(key, defaultValue);
    // The application writes a comma only inside quotes. An unquoted one was typed by
    // hand ("Smith, John"); the INI reader takes it for a list, so read it as written.
    if (value.typeId() == QMetaType::QStringList || value.typeId() == QMetaType::QVariantList)
        return RawIniValue(settings.fileName(), section, key);
    return value.toString();
}

void QSettingsStore::WriteSetting(const QString& application, const QString& section, const QString& key,
                                  const QString& value)
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, application);
    // A file that could not be read is not written over either: what it holds would be lost.
    if (settings.status() != QSettings::NoError)
        throw AppError(QStringLiteral("The settings file %1 could not be read, so nothing is saved in it: %2.")
                           .arg(settings.fileName(), StatusText(settings.status())));
    settings.beginGroup(section);
    settings.setValue(key, value);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw AppError(QStringLiteral("The settings file %1 could not be saved: %2.")
                           .arg(settings.fileName(), StatusText(settings.status())));
}
