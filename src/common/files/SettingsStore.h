#pragma once

#include <QString>

// Where every setting of the system lives.
inline constexpr char SettingsApplication[] = "Kestrelworks";
inline constexpr char SettingsSection[] = "Inkhaven";

// The key under which a field's text is kept: "Text1_" and the field's index.
QString FieldKey(int index);

// Per-user persistent string values addressed by application, section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored value, or defaultValue when the key is absent. Throws AppError when the
    // store exists but cannot be read.
    virtual QString ReadSetting(const QString& application, const QString& section, const QString& key,
                                const QString& defaultValue = QString()) = 0;
    // Stores the value exactly as passed; it is on disk when the call returns.
    virtual void WriteSetting(const QString& application, const QString& section, const QString& key,
                              const QString& value) = 0;
};

// QSettings in the user's scope: one INI file per application ("<application>.ini" in the
// user's configuration folder), one group per section. A file that is not a regular file (a
// FIFO, a device, a folder) is refused like a damaged one, without waiting on it.
class QSettingsStore : public SettingsStore {
public:
    QSettingsStore() = default;
    // The settings of every application in one given file instead: a copy of the user's
    // "<application>.ini", given on a command line. Throws AppError when there is no file there.
    explicit QSettingsStore(const QString& file);

    QString ReadSetting(const QString& application, const QString& section, const QString& key,
                        const QString& defaultValue = QString()) override;
    void WriteSetting(const QString& application, const QString& section, const QString& key,
                      const QString& value) override;

private:
    QString FileOf(const QString& application) const;

    QString mFile;
};
