#pragma once

#include "LetterList.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <unordered_set>
#include <vector>

// Which rows of a list a run makes (--lines, --shard) and the names their files take
// (--name): pure functions of the whole list, so that every part of a list run on many
// machines names each letter as a single run would.

// Rows from first to last, as a spreadsheet program numbers them; last is INT_MAX for "to the end".
struct RowRange {
    int first = 1;
    int last = 1;
};

// "2-50,75,100-": row numbers and ranges, comma-separated; throws AppError with a one-line
// message for anything else.
std::vector<RowRange> ParseRowRanges(const QString& text);

// The index-th of count parts of a list, from 1.
struct Shard {
    int index = 1;
    int count = 1;
};

// "2/4"; throws AppError with a one-line message for anything else.
Shard ParseShard(const QString& text);

// A condition on a row's value (--where): the value of the column or field name is, or is
// not, value, or is empty, or is not, compared ignoring letter case and surrounding spaces.
struct RowCondition {
    enum class Test { Equals, DiffersFrom, IsEmpty, IsNotEmpty };
    QString name;
    Test test = Test::Equals;
    QString value;
};

// The condition "Region=North", "Region != North", "Discount is empty" or "Discount is not
// empty" says; nothing when the text is none of them.
std::optional<RowCondition> RowConditionOf(const QString& text);

// Whether a line meets every one of conditions (each by ValueNamed: a column, else a field).
// columnKeys are the list's. Throws AppError naming every condition whose name is neither
// column nor field.
std::function<bool(const LetterLine&)> RowConditions(const std::vector<RowCondition>& conditions, const QSet<QString>& columnKeys);

// Whether row lies within ranges (every row does when there are none).
bool InRanges(int row, const std::vector<RowRange>& ranges);

// The lines a run makes, decided one line after another in list order among the lines that
// may be made (those --where keeps): those within ranges (all when there are none), then of
// those the shard's part. The shards split the lines within ranges, in list order, into count
// runs as long as one another within one line, so that they are disjoint and together all of
// them. total is how many of the lines that may be made lie within ranges.
class LineSelection {
public:
    LineSelection(std::vector<RowRange> ranges, std::optional<Shard> shard, qint64 total);
    // Whether the run makes the line of row; called for every line that may be made, in order.
    bool Takes(int row);

private:
    std::vector<RowRange> mRanges;
    std::optional<Shard> mShard;
    qint64 mTotal = 0;
    qint64 mWithin = 0;
};

// A --name pattern, text with {Column} parts, as the name it gives a line: each part takes
// what a template's tag of its name takes (ValueNamed: the column whose name matches, else
// the field's text, {CurrentDate} the letter's date). columnKeys are the list's. Throws
// AppError for an unclosed brace or, naming every one, parts that are neither column nor field.
std::function<QString(const LetterLine&)> NamePattern(const QString& pattern, const QSet<QString>& columnKeys);
// The names between a --name pattern's braces, in order; throws AppError as NamePattern does
// for an unclosed brace.
QStringList NamePatternNames(const QString& pattern);

// The file name stems of the lines that can make a letter, given one after another in list
// order: name(line) made safe (SafeFileName, without leading dots, spaces and hyphens, the
// row number when nothing is left); the later of two that are alike whatever their letter
// case gets its row number as well ("Acme-7"). What it remembers of each name given is a
// 64-bit digest, so that a part of a long list need not hold the names before it: two
// different names with one digest (never seen; about one in 10^7 lists of a million rows)
// would give the later one a needless row number, the same in every part.
class UniqueStems {
public:
    explicit UniqueStems(std::function<QString(const LetterLine&)> name) : mName(std::move(name)) {}
    QString Next(const LetterLine& line);

private:
    std::function<QString(const LetterLine&)> mName;
    std::unordered_set<quint64> mTaken;
};
