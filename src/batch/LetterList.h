#pragma once

#include "CsvReader.h"
#include "Fields.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>
#include <vector>

class SettingsStore;

// The texts of the fourteen fields for one letter, by field index.
using FieldTexts = std::array<QString, FieldCount>;

// One data line of a list: the letter it asks for, or why it cannot be made.
struct LetterLine {
    // The line of the list on which the data line begins.
    int line = 0;
    FieldTexts fields;
    // The values of the columns that fill no field, by the ColumnKey of their names (the
    // first column of a name, when two names give the same key).
    QMap<QString, QString> otherValues;
    // Empty when the letter can be made.
    QString problem;
};

// The letters a list asks for.
struct LetterList {
    // In the order of the list.
    std::vector<LetterLine> lines;
    // The names of the columns that fill no field, as the list writes them, in its order.
    QStringList otherColumns;
    // How many rows hold nothing but blanks: they ask for no letter.
    int emptyRows = 0;
    // The line on which the list's last record begins, whether its line is kept or not.
    int lastLine = 0;
};

// The records of a list one at a time: the next, or nothing at the end.
using RecordSource = std::function<std::optional<CsvRecord>()>;
// Whether to keep the data row of an index: the records after the column line counted
// from 0, empty ones included.
using RowFilter = std::function<bool(int row)>;

// The key by which a column's name is matched: the name without spaces, underscores and
// hyphens, in one letter case. "Company Name", "company_name" and "COMPANY-NAME" all give
// the key of "CompanyName". Whatever matches a name to a column (a field, a tag of the
// template, a part of a file name) compares these keys.
QString ColumnKey(const QString& name);

// The field a column of a list fills: its ColumnKey is that of the field's tag without
// the brackets ("Company Name" fills "[CompanyName]"); -1 for any other name. The date
// field has no column.
int FieldOfColumn(const QString& name);

// Whether a list must have a column that fills a field: the built-in letter has nothing
// else to fill, while a template of the user's may take every text from columns of its own.
enum class FieldColumns { Required, Optional };

// The letters a list asks for. The first record names the columns; every later record is
// one letter, but for a record of nothing but blanks, which is counted as empty. A field
// without a column takes the value saved in settings by the data-entry window; the date
// field takes date. Columns that fill no field, and columns without a name, fill no field;
// the values of named ones are kept on each line. A line with fewer values than columns,
// or more that are not blank, or with a value longer than a letter takes, is kept with its
// problem. No records make a list without lines. Throws AppError when the column line
// cannot be read, when no column fills a field while one is Required (naming the names
// that do), or when two columns fill one field.
// Records are read one at a time from next, and only the rows keep holds (all without it)
// become lines or count as empty, so that a list need not be held whole.
LetterList ReadLetterList(const RecordSource& next, SettingsStore& settings, const QString& date,
                          FieldColumns fieldColumns = FieldColumns::Required, const RowFilter& keep = {});
// Each record's values are let go once its line is made.
LetterList ReadLetterList(std::vector<CsvRecord> records, SettingsStore& settings, const QString& date,
                          FieldColumns fieldColumns = FieldColumns::Required, const RowFilter& keep = {});

// name as a part of a file name: characters that are unsafe in a file name (path
// separators, control characters, characters Windows refuses) become "_"; runs of white
// space become one space; dots and spaces at the end go; the name is cut to a length every
// file system takes.
QString SafeFileName(const QString& name);

// The file name (without extension) of a line's letter: the line number, with leading
// zeros to digits places, a hyphen and the recipient's company, or name when the company
// is empty, made safe (SafeFileName), or the line number alone when both are empty.
QString LetterFileStem(const LetterLine& letter, int digits);
