#pragma once

#include "files/SettingsStore.h"

#include <QMap>
#include <QStringList>

// An in-memory settings store that records every write and can be told to fail.
class FakeSettings : public SettingsStore {
public:
    QString ReadSetting(const QString& application, const QString& section, const QString& key,
                        const QString& defaultValue = QString()) override;
    void WriteSetting(const QString& application, const QString& section, const QString& key,
                      const QString& value) override;

    static QString Address(const QString& application, const QString& section, const QString& key);
    // The value under Kestrelworks / Inkhaven / key, or a null string when absent.
    QString Value(const QString& key) const;

    QMap<QString, QString> values;  // Address -> value
    QStringList writes;             // "key=value" in order, for Kestrelworks / Inkhaven keys
    bool failWrites = false;
    bool failReads = false;
};
