#include "SettingsStore.h"

#include "AppError.h"

#include <QSettings>

namespace {
QString StatusText(QSettings::Status status)
{
    return status == QSettings::FormatError ? QStringLiteral("its contents cannot be read")
                                            : QStringLiteral("it cannot be read or written");
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
    return settings.value(key, defaultValue).toString();
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
