#pragma once

#include "LetterList.h"
#include "LetterSelection.h"
#include "generation/LetterFill.h"
#include "lists/CsvReader.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The line items of a quote (--items): the rows of a second sheet or list, each belonging to
// the letter whose key it shares, written into the template's table rows that repeat once per
// item, and summed by [SUM Column], counted by [COUNT].

// The tag that counts a letter's items, by its key (ColumnKey): "[COUNT]".
inline constexpr char CountKey[] = "count";

// Which columns tie items to letters (--items-key): the list's and the items', by name.
struct ItemsKey {
    QString listColumn;
    QString itemsColumn;
};
// --items-key COLUMN (both lists' column of that name) or LIST-COLUMN=ITEMS-COLUMN; nothing
// when text is neither.
std::optional<ItemsKey> ParseItemsKey(const QString& text);

// The column both lists have, as key names it, or, without one, the one column whose name both
// lists have (by ColumnKey). Throws AppError naming itemsName when there is none, several, or a
// column key names is missing.
ItemsKey ChooseItemsKey(const std::optional<ItemsKey>& key, const QStringList& listColumns, const QStringList& itemColumns,
                        const QString& itemsName);

// One item: its row, as the items' sheet numbers it, and its cells, with their number
// formats (CsvRecord::formats; empty for a text list).
struct Item {
    int row = 0;
    QStringList values;
    QStringList formats;
};

// A letter of the run, as its items know it: its row of the list, and its key there.
struct LetterKey {
    int row = 0;
    QString key;
};

// The items of a run's letters.
class LetterItems {
public:
    // What the items are called in messages: "the sheet "Positionen"", "the items list "pos.csv"".
    QString name;
    // The items' columns, as they name them.
    QStringList columns;
    // The column of the items' key, and the key (ColumnKey) of the list's.
    int keyColumn = -1;
    QString listKey;
    // The items of each key the run's letters have, in the items' order.
    QHash<QString, std::vector<Item>> byKey;

    // The items of a letter's line, and of a key.
    const std::vector<Item>& Of(const LetterLine& line) const;
    const std::vector<Item>& OfKey(const QString& key) const;
    // The key of a letter's line.
    QString KeyOf(const LetterLine& line) const;
    // The index of the column a tag's name (without brackets) names, by ColumnKey; -1 for none.
    int ColumnNamed(const QString& name) const;
};

// Reads the items from next, whose first record names their columns: of those whose key is
// among wanted, every one; of the others, only whether their key is among listKeys (every key
// of the list), since one that is not belongs to no letter: those are told in notes, with
// their rows. Throws AppError when the items cannot be read.
LetterItems ReadLetterItems(const RecordSource& next, const QString& name, const ItemsKey& key, const QSet<QString>& wanted,
                            const QSet<QString>& listKeys, QStringList& notes);

// The column a [SUM Column] tag's name ("SUM Betrag") sums; nothing for another name.
std::optional<QString> SummedColumn(const QString& tagName);

// The texts of [SUM Column] (for each of sums, the names after SUM) for every letter: each
// sum as the column's cells show their numbers (see ShownTotal), by the letter's key; a letter
// without items shows 0 as the column's first cell would. Throws AppError before any letter,
// naming sheet, row and column, when a summed cell is no number, and the letter's row when
// its sum cannot be shown as its cells are.
QHash<QString, std::vector<TagText>> ItemTotals(const LetterItems& items, const std::vector<LetterKey>& letters,
                                                const QStringList& sums);

// Refuses, before any letter, the letters whose key has no items, naming their rows, unless
// allowed (--allow-no-items) or one of the template's conditions is on [COUNT], which shows
// such a letter a text of its own.
void RefuseWithoutItems(const LetterItems& items, const std::vector<LetterKey>& letters,
                        const std::vector<RowCondition>& conditions, bool allowed);

// The texts of the item tags (tags whose names are the items' columns) for each of a line's
// items, in order.
std::vector<std::vector<TagText>> ItemTexts(const LetterItems& items, const LetterLine& line, const QStringList& itemTags);
