#pragma once

#include "generation/Fields.h"
#include "lists/CsvReader.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class SettingsStore;

// The texts of the fourteen fields for one letter, by field index.
using FieldTexts = std::array<QString, FieldCount>;

// One data line of a list: the letter it asks for, or why it cannot be made.
struct LetterLine {
    // The row of the list, as a spreadsheet program numbers it (the column names are row 1).
    int row = 0;
    // The line of a text list on which the row begins; the row of a spreadsheet.
    int line = 0;
    FieldTexts fields;
    // The values of the list's named columns, by the ColumnKey of their names (the first
    // column of a name, when two names give the same key), and of the tags --map gives them.
    QMap<QString, QString> columnValues;
    // Empty when the letter can be made.
    QString problem;
};

// A column of a list and the field of the letter it fills.
struct ListColumn {
    // As the list writes it.
    QString name;
    // -1 when it fills none.
    int field = -1;
    // Whether --map decided the field, or the tag the column is known by.
    bool mapped = false;
    // The keys its values are known by on each line (LetterLine::columnValues).
    QStringList keys;
};

// The letters a list asks for.
struct LetterList {
    // In the order of the list.
    std::vector<LetterLine> lines;
    // The named columns, in the list's order.
    std::vector<ListColumn> columns;
    // The names of the columns that fill no field, as the list writes them, in its order.
    QStringList otherColumns;
    // The keys the columns' values are known by on each line (LetterLine::columnValues).
    QSet<QString> columnKeys;
    // How many rows hold nothing but blanks: they ask for no letter.
    int emptyRows = 0;
    // The row of the list's last record, whether it is kept or not.
    int lastRow = 0;
};

// Whether to keep a line of the list, given every line (every row that is not empty) in
// list order; it may look at the line on its way by as well.
using LineFilter = std::function<bool(const LetterLine& line)>;

// The key by which a column's name is matched: the name without spaces, underscores and
// hyphens, in one letter case. "Company Name", "company_name" and "COMPANY-NAME" all give
// the key of "CompanyName". Whatever matches a name to a column (a field, a tag of the
// template, a part of a file name) compares these keys.
QString ColumnKey(const QString& name);

// The index of the first of names (a list's column names) whose ColumnKey is name's; an
// unnamed column matches nothing. -1 for none.
int ColumnIndex(const QStringList& names, const QString& name);

// The field a tag's name stands for: its ColumnKey is that of the field's tag without the
// brackets ("Company Name" stands for "[CompanyName]"); -1 for any other name.
int FieldNamed(const QString& name);

// A tag's name without brackets, as a command line may give it: "[City2]" and "City2" give "City2".
QString TagName(const QString& tag);

// --map COLUMN=TAG, in the order given: the column, by its name, fills the field TAG names
// (bypassing the rule of ColumnFields), and is known to a template's tags and to --name
// by TAG's name as well.
using ColumnMap = QList<std::pair<QString, QString>>;

// The fields the columns of a list fill, in the order of names (-1 for none). A list is a
// list of recipients: a column whose name says nothing of whose it is fills the
// recipient's field ("Name", "Company", "Street Address", "City", "State", "ST", "ZIP",
// "Zip Code", "Postal Code"...); the sender's fields take only columns named as the
// sender's ("Your Street Address", "Sender City", "YourName"), or, while the list has a
// column for the recipient's field of the kind as well ("City2", "Recipient City"), the
// column that bears the sender's field's own name ("City", "StreetAddress", "ST",
// "ZIPCode"). mapped gives the fields --map decided, by column index; they come first.
std::vector<int> ColumnFields(const QStringList& names, const QHash<int, int>& mapped = {});

// Where the text of a name comes from on a line: a column, by its key, or a field.
struct NameSource {
    QString columnKey;
    int field = -1;
    bool Known() const { return !columnKey.isEmpty() || field >= 0; }
    QString TextOn(const LetterLine& line) const;
};
// See ValueNamed.
NameSource SourceNamed(const QString& name, const QSet<QString>& columnKeys);

// How many usable lines (without a problem) leave each column and field blank.
struct EmptyCounts {
    qsizetype lines = 0;
    QHash<QString, qsizetype> columns;
    std::array<qsizetype, FieldCount> fields{};

    void Add(const LetterLine& line);
    qsizetype Of(const NameSource& source) const;
};

// What a name ("Company Name", a template's tag without its brackets, a --name part) stands
// for on a line: the list's column of that name (or the one --map gave that name), else the
// field the name stands for (filled by its column, the saved text or the letter's date).
using ValueOf = std::function<QString(const LetterLine&)>;
// columnKeys are the list's (LetterList::columnKeys); nothing when the name is neither.
ValueOf ValueNamed(const QString& name, const QSet<QString>& columnKeys);

// Whether a column of this name fills a field by the rule of ColumnFields.
bool IsColumnName(const QString& name);

// What a field holds, for telling: "the recipient's city".
QString FieldMeaning(int field);

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
// Records are read one at a time from next, and only the lines keep holds (all without it)
// are kept, so that a list need not be held whole; empty rows are counted all the same. With valueKeys,
// a line keeps the values of only the columns known by one of those keys (the rest fill
// nothing the letters show), so that a row of thousands of columns costs no more than the
// columns used.
// Throws AppError as well when map names a column the list lacks, or, while a field column
// is Required (the built-in letter), a tag that is no field.
LetterList ReadLetterList(const RecordSource& next, SettingsStore& settings, const QString& date,
                          FieldColumns fieldColumns = FieldColumns::Required, const LineFilter& keep = {},
                          const ColumnMap& map = {}, const std::optional<QSet<QString>>& valueKeys = std::nullopt);
// Each record's values are let go once its line is made.
LetterList ReadLetterList(std::vector<CsvRecord> records, SettingsStore& settings, const QString& date,
                          FieldColumns fieldColumns = FieldColumns::Required, const LineFilter& keep = {},
                          const ColumnMap& map = {});

// name as a part of a file name: characters that are unsafe in a file name (path
// separators, control characters, characters Windows refuses) become "_"; runs of white
// space become one space; dots and spaces at the end go; the name is cut to a length every
// file system takes.
QString SafeFileName(const QString& name);

// The file name (without extension) of a line's letter: the line number, with leading
// zeros to digits places, a hyphen and the recipient's company, or name when the company
// is empty, made safe (SafeFileName), or the line number alone when both are empty.
QString LetterFileStem(const LetterLine& letter, int digits);
