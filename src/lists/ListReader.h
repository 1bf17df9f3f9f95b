#pragma once

#include "CsvReader.h"
#include "core/AppError.h"

#include <QChar>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// The most a list given on standard input may be, in rows (the row of column names
// included), as a run of the whole list holds every row until the letters begin (about a
// kilobyte each); and in bytes, the most taken from standard input, a pipe or a device,
// which is copied to a file before it is read. One that goes on is stopped there with a
// message.
inline constexpr int MaxStandardInputRecords = 100000;
inline constexpr qint64 MaxStandardInputBytes = 64LL * 1024 * 1024;

// The names of the sheets of the list open as fd, read from its start, when it is a
// spreadsheet; none for a text list. Throws AppError when a spreadsheet cannot be read.
QStringList ListSheets(int fd);

// A list of recipients opened for reading: a text list (CSV, or values separated by
// semicolons or tabs), read as a stream however long it is, or a spreadsheet (.xlsx, .ods:
// its first sheet, or the sheet named), read whole. Its kind is told once, from its first bytes.
class ListReader {
public:
    // Reads the list open as fd from its start (the descriptor stays the caller's, and is read
    // again by each reader); path names it ("-" for standard input). encoding and separator
    // are those of a text list (empty or null: told from the bytes); sheet names the sheet of
    // a spreadsheet (empty: its first). Throws AppError when the list cannot be read, is of a
    // kind that is refused, or reads as one column while its first line holds another
    // separator than the one chosen.
    ListReader(const QString& path, int fd, const QString& encoding, QChar separator, const QString& sheet = QString());
    ~ListReader();
    ListReader(const ListReader&) = delete;
    ListReader& operator=(const ListReader&) = delete;

    // The next record; nothing at the end. Throws AppError when the list cannot be read on.
    std::optional<CsvRecord> Next();
    // What the user should know about how the list was read, once it is read: its encoding
    // when that was guessed, its separator when not a comma.
    QStringList Notes() const;
    // What the list is called in messages: "\"path\"", or "on standard input".
    QString Name() const;

private:
    void OpenText(const QString& encoding, QChar separator);
    AppError OneColumnRefusal() const;
    void OpenWhole(const QString& encoding, QChar separator);

    QString mPath;
    QString mSheet;
    QFile mFile;
    int mRecordsRead = 0;
    std::unique_ptr<ListTextReader> mText;
    std::unique_ptr<CsvStream> mRecords;
    RecordSource mWhole;
    QString mGuessedEncoding;
    QChar mSeparator;
};
