#include "FakeSettings.h"

#include "core/AppError.h"

QString FakeSettings::Address(const QString& application, const QString& section, const QString& key)
{
    return application + QLatin1Char('/') + section + QLatin1Char('/') + key;
}

QString FakeSettings::ReadSetting(const QString& application, const QString& section, const QString& key,
                                  const QString& defaultValue)
{
    if (failReads)
        throw AppError(QStringLiteral("The settings file could not be read."));
    return values.value(Address(application, section, key), defaultValue);
}

void FakeSettings::WriteSetting(const QString& application, const QString& section, const QString& key,
                                const QString& value)
{
    if (failWrites)
        throw AppError(QStringLiteral("The settings file could not be saved."));
    values.insert(Address(application, section, key), value);
    writes.append(key + QLatin1Char('=') + value);
}

QString FakeSettings::Value(const QString& key) const
{
    return values.value(Address(QLatin1String(SettingsApplication), QLatin1String(SettingsSection), key));
}
