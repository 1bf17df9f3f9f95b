#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QIODevice;

// One record of a list: a line of a separated text, or a row of a spreadsheet.
struct CsvRecord {
    // The line of the file (the row of the sheet) on which the record begins, counting from 1.
    int line = 0;
    // The row it is, as a spreadsheet program that opens the list numbers it: the records
    // counted from 1, a line with nothing on it counted as an empty row.
    int row = 0;
    QStringList values;
    // For a spreadsheet's record, the number format code of each value's cell when it holds a
    // number ("#,##0.00 [$€-407]", "General"), else an empty one; empty for a text list's.
    QStringList formats;
    // Why the record cannot be read as it stands; empty when it can.
    QString problem;
};

// The records of a list one at a time: the next, or nothing at the end.
using RecordSource = std::function<std::optional<CsvRecord>()>;

// Splits separated text into records: values are separated by separator, records by
// line breaks (LF, CR LF or CR); a value in double quotes may hold separators, line
// breaks and quotes written twice. A record that holds nothing at all (an empty line) is
// left out. A quote inside an unquoted value is taken as it is; text after the closing
// quote of a value makes the record a problem. A quote that is never closed takes in the
// rest of the text: its record is a problem naming the lines it took and how they begin.
std::vector<CsvRecord> ParseCsv(const QString& text, QChar separator = QLatin1Char(','));

// How many of a list's first records choose its separator.
inline constexpr int SeparatorSampleRecords = 50;

// The separator of a list, whatever language its column names are in: of comma, semicolon
// and tab, the one that splits the first line into more than one value and the most of the
// first SeparatorSampleRecords records into as many values as the first line (of two alike,
// the one that gives more values); a comma when none splits the first line.
QChar ChooseSeparator(const QString& text);

// Whether the first line of text is one value split by separator though it holds a
// semicolon or a tab: a list whose separator was not told.
bool ReadsAsOneColumn(const QString& text, QChar separator);

// The name of a separator, for telling: "semicolon", "tab".
QString SeparatorName(QChar separator);

// The text of a list file.
struct ListText {
    QString text;
    // The encoding the text was taken to be in when it did not say: "Windows-1252" for
    // bytes that are not UTF-8; empty otherwise.
    QString guessedEncoding;
};

// The text of a list file. Without encoding: UTF-8 with or without a byte-order mark,
// UTF-16 (little or big endian) with one; bytes that are not UTF-8 are read as
// Windows-1252. With encoding (a name iconv knows: "ISO-8859-2", "CP1250"), in that one.
// Throws AppError when encoding is unknown or the bytes are not text in it, naming the line.
ListText DecodeListText(const QByteArray& bytes, const QString& encoding = QString());

// The text of a list read from a device a piece at a time, as DecodeListText reads it
// whole: with no encoding named, the first bytes that are not ASCII decide between UTF-8
// and Windows-1252 (all before them are the same in both).
class ListTextReader {
public:
    // Throws AppError when encoding is named but not known.
    ListTextReader(QIODevice& device, const QString& encoding);
    ~ListTextReader();
    ListTextReader(const ListTextReader&) = delete;
    ListTextReader& operator=(const ListTextReader&) = delete;

    // The next piece of text; empty once the device has no more. Throws AppError, naming
    // the line, where the bytes are not text in the encoding.
    QString Next();
    // "Windows-1252" once bytes that are not UTF-8 made it so; empty otherwise.
    const QString& GuessedEncoding() const;
    // How many bytes were read from the device so far.
    qint64 BytesRead() const { return mBytesRead; }

private:
    static constexpr qint64 ReadBytes = 1024 * 1024;
    struct State;

    QByteArray TakeByteOrderMark(const QByteArray& bytes);
    void DecideMode(const QByteArray& bytes);
    QString Decode(const QByteArray& bytes);
    [[noreturn]] void NotText(QByteArrayView decoded, const QString& encoding) const;

    QIODevice& mDevice;
    std::unique_ptr<State> mState;
    QString mGuessed;
    qint64 mBytesRead = 0;
};

// The longest record of a list, in characters; a longer one ends the reading.
inline constexpr qsizetype MaxRecordChars = 1000 * 1000;

// The records of a separated list read as a stream, as ParseCsv splits them: only the
// record being read is held. Without a separator it is chosen from the first records.
class CsvStream {
public:
    CsvStream(ListTextReader& text, QChar separator);

    QChar Separator() const { return mSeparator; }
    // Whether the separator was chosen and its first line is yet one value holding another
    // separator (see ReadsAsOneColumn).
    bool OneColumn() const { return mOneColumn; }
    // The next record; nothing at the end. Throws AppError naming the line of a record
    // longer than MaxRecordChars (a quote never closed in a long list, a file that is no list).
    std::optional<CsvRecord> Next();

private:
    void ReadMore();

    ListTextReader& mText;
    QChar mSeparator;
    bool mOneColumn = false;
    QString mBuffer;
    qsizetype mAt = 0;
    int mLine = 1;
    int mRow = 1;
    bool mEnded = false;
};
