#include "LineItems.h"

#include "core/AppError.h"
#include "lists/ShownTotal.h"

#include <QRegularExpression>

namespace {

// The most rows a note or a refusal names one by one.
constexpr int RowsNamed = 10;

// Whether a record holds nothing but blanks.
bool Blank(const CsvRecord& record)
{
    return std::all_of(record.values.begin(), record.values.end(), [](const QString& value) { return value.trimmed().isEmpty(); });
}

QString RowList(const std::vector<int>& rows)
{
    QStringList named;
    for (std::size_t i = 0; i < rows.size() && i < static_cast<std::size_t>(RowsNamed); ++i)
        named << QString::number(rows[i]);
    QString list = named.join(QStringLiteral(", "));
    if (rows.size() > static_cast<std::size_t>(RowsNamed))
        list += QStringLiteral(" and %1 more").arg(rows.size() - RowsNamed);
    return list;
}

}

std::optional<ItemsKey> ParseItemsKey(const QString& text)
{
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    const QString list = (equals < 0 ? text : text.left(equals)).trimmed();
    const QString items = (equals < 0 ? text : text.mid(equals + 1)).trimmed();
    if (list.isEmpty() || items.isEmpty())
        return std::nullopt;
    return ItemsKey{list, items};
}

ItemsKey ChooseItemsKey(const std::optional<ItemsKey>& key, const QStringList& listColumns, const QStringList& itemColumns,
                        const QString& itemsName)
{
    if (key) {
        if (ColumnIndex(listColumns, key->listColumn) < 0)
            throw AppError(QStringLiteral("--items-key names the column \"%1\", which the list does not have.").arg(key->listColumn));
        if (ColumnIndex(itemColumns, key->itemsColumn) < 0)
            throw AppError(QStringLiteral("--items-key names the column \"%1\", which %2 does not have; its columns are %3.")
                               .arg(key->itemsColumn, itemsName, itemColumns.join(QStringLiteral(", "))));
        return *key;
    }
    QStringList shared;
    for (const QString& column : itemColumns) {
        if (!column.trimmed().isEmpty() && ColumnIndex(listColumns, column) >= 0)
            shared << column;
    }
    if (shared.size() == 1)
        return {listColumns[ColumnIndex(listColumns, shared.front())], shared.front()};
    if (shared.isEmpty())
        throw AppError(QStringLiteral("The list and %1 have no column of the same name, which would tell whose each item is; "
                                      "name the two with --items-key LIST-COLUMN=ITEMS-COLUMN.")
                           .arg(itemsName));
    throw AppError(QStringLiteral("The list and %1 have the columns %2 both, so which one tells whose each item is cannot be "
                                  "chosen; name it with --items-key COLUMN.")
                       .arg(itemsName, shared.join(QStringLiteral(", "))));
}

const std::vector<Item>& LetterItems::Of(const LetterLine& line) const
{
    return OfKey(KeyOf(line));
}

const std::vector<Item>& LetterItems::OfKey(const QString& key) const
{
    static const std::vector<Item> none;
    const auto found = byKey.constFind(key);
    return found == byKey.constEnd() ? none : *found;
}

QString LetterItems::KeyOf(const LetterLine& line) const
{
    return line.columnValues.value(listKey).trimmed();
}

int LetterItems::ColumnNamed(const QString& name) const
{
    return ColumnIndex(columns, name);
}

LetterItems ReadLetterItems(const RecordSource& next, const QString& name, const ItemsKey& key, const QSet<QString>& wanted,
                            const QSet<QString>& listKeys, QStringList& notes)
{
    LetterItems items;
    items.name = name;
    items.listKey = ColumnKey(key.listColumn);
    std::optional<CsvRecord> header = next();
    while (header && Blank(*header))
        header = next();
    if (!header)
        throw AppError(QStringLiteral("%1 holds no items, not even a row of column names.").arg(name));
    items.columns = header->values;
    items.keyColumn = items.ColumnNamed(key.itemsColumn);
    if (items.keyColumn < 0)
        throw AppError(QStringLiteral("%1 has no column \"%2\".").arg(name, key.itemsColumn));
    std::vector<int> unmatched;
    QStringList unmatchedKeys;
    while (std::optional<CsvRecord> record = next()) {
        if (Blank(*record))
            continue;
        if (!record->problem.isEmpty())
            throw AppError(QStringLiteral("Row %1 of %2 cannot be read: %3").arg(record->row).arg(name, record->problem));
        const QString itemKey = record->values.value(items.keyColumn).trimmed();
        if (wanted.contains(itemKey)) {
            items.byKey[itemKey].push_back({record->row, std::move(record->values), std::move(record->formats)});
        } else if (!listKeys.contains(itemKey)) {
            unmatched.push_back(record->row);
            if (unmatchedKeys.size() < RowsNamed && !unmatchedKeys.contains(itemKey))
                unmatchedKeys << itemKey;
        }
    }
    if (!unmatched.empty())
        notes << QStringLiteral("%1 of %2 (row%3 %4) belong%5 to no row of the list: no letter shows %6 (%7: \"%8\").")
                     .arg(unmatched.size() == 1 ? QStringLiteral("1 item") : QStringLiteral("%1 items").arg(unmatched.size()), name,
                          unmatched.size() == 1 ? QString() : QStringLiteral("s"), RowList(unmatched),
                          unmatched.size() == 1 ? QStringLiteral("s") : QString(), unmatched.size() == 1 ? QStringLiteral("it") : QStringLiteral("them"),
                          QStringLiteral("%1 %2").arg(unmatched.size() == 1 ? QStringLiteral("its") : QStringLiteral("their"),
                                                      items.columns[items.keyColumn]),
                          unmatchedKeys.join(QStringLiteral("\", \"")));
    return items;
}

std::optional<QString> SummedColumn(const QString& tagName)
{
    static const QRegularExpression sum(QStringLiteral("^\\s*SUM\\s+(\\S.*)$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = sum.match(tagName);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).trimmed();
}

QHash<QString, std::vector<TagText>> ItemTotals(const LetterItems& items, const std::vector<LetterKey>& letters,
                                                const QStringList& sums)
{
    QHash<QString, std::vector<TagText>> totals;
    for (const QString& sum : sums) {
        const QString column = SummedColumn(sum).value_or(QString());
        const int index = items.ColumnNamed(column);
        if (index < 0)
            throw AppError(QStringLiteral("The template's [%1] sums the column \"%2\", which %3 does not have; its columns are %4.")
                               .arg(sum, column, items.name, items.columns.join(QStringLiteral(", "))));
        // A letter without items shows a sum of nothing as the column's first number looks.
        std::optional<ShownDecimal> firstLook;
        QString firstFormat;
        for (const LetterKey& letter : letters) {
            const std::vector<Item>& own = items.OfKey(letter.key);
            // A separator the text alone leaves open ("1,250") is told by the letter's other cells.
            QChar hint;
            for (const Item& item : own) {
                const std::optional<ShownDecimal> told = ReadShownNumber(item.values.value(index), item.formats.value(index));
                if (told && !told->decimalSeparator.isNull())
                    hint = told->decimalSeparator;
            }
            ShownTotal total;
            for (const Item& item : own) {
                const QString shown = item.values.value(index);
                if (shown.trimmed().isEmpty())
                    continue;
                const std::optional<ShownDecimal> number = ReadShownNumber(shown, item.formats.value(index), hint);
                if (!number) {
                    const QString at = QStringLiteral("The template sums the column \"%1\" of %2, but its cell in row %3 shows \"%4\"")
                                           .arg(items.columns[index], items.name)
                                           .arg(item.row)
                                           .arg(shown);
                    // A separator that may mark decimals or thousands alike ("1,250").
                    if (ReadShownNumber(shown, item.formats.value(index), QLatin1Char(',')))
                        throw AppError(at + QStringLiteral(", whose separator may mark its decimals or its thousands alike, and "
                                                           "no other cell of the letter's items tells which. Write the "
                                                           "column's numbers with their decimals, as \"1,250.00\"."));
                    throw AppError(at + QStringLiteral(", which is no number that can be added as it is shown."));
                }
                total.Add(*number, item.formats.value(index));
                if (!firstLook) {
                    firstLook = number;
                    firstLook->units = 0;
                    firstLook->negative = false;
                    firstFormat = item.formats.value(index);
                }
            }
            if (total.Count() == 0)
                continue;
            QString why;
            const std::optional<QString> shown = total.Shown(&why);
            if (!shown)
                throw AppError(QStringLiteral("The sum of the column \"%1\" of %2 for the letter of row %3 cannot be shown as its "
                                              "cells are: %4.")
                                   .arg(items.columns[index], items.name)
                                   .arg(letter.row)
                                   .arg(why));
            totals[letter.key].push_back({QLatin1Char('[') + sum + QLatin1Char(']'), *shown});
        }
        ShownTotal nothing;
        if (firstLook)
            nothing.Add(*firstLook, firstFormat);
        const QString zero = firstLook ? nothing.Shown().value_or(QStringLiteral("0")) : QStringLiteral("0");
        for (const LetterKey& letter : letters) {
            std::vector<TagText>& own = totals[letter.key];
            if (static_cast<qsizetype>(own.size()) < sums.indexOf(sum) + 1)
                own.push_back({QLatin1Char('[') + sum + QLatin1Char(']'), zero});
        }
    }
    return totals;
}

std::vector<std::vector<TagText>> ItemTexts(const LetterItems& items, const LetterLine& line, const QStringList& itemTags)
{
    std::vector<int> columns;
    for (const QString& tag : itemTags)
        columns.push_back(items.ColumnNamed(TagName(tag)));
    std::vector<std::vector<TagText>> texts;
    for (const Item& item : items.Of(line)) {
        std::vector<TagText> own;
        for (qsizetype i = 0; i < itemTags.size(); ++i)
            own.push_back({itemTags[i], item.values.value(columns[static_cast<std::size_t>(i)])});
        texts.push_back(std::move(own));
    }
    return texts;
}

void RefuseWithoutItems(const LetterItems& items, const std::vector<LetterKey>& letters,
                        const std::vector<RowCondition>& conditions, bool allowed)
{
    if (allowed || std::any_of(conditions.begin(), conditions.end(),
                               [](const RowCondition& condition) { return ColumnKey(condition.name) == QLatin1String(CountKey); }))
        return;
    std::vector<int> rows;
    for (const LetterKey& letter : letters) {
        if (items.OfKey(letter.key).empty())
            rows.push_back(letter.row);
    }
    if (rows.empty())
        return;
    throw AppError(QStringLiteral("%1 of the list (row%2 %3) %4 no items in %5, so %6 letter%7 would show an empty table. Give "
                                  "%8 items, show them a text of their own with [IF COUNT = 0]...[END IF], or make them "
                                  "without items with --allow-no-items.")
                       .arg(rows.size() == 1 ? QStringLiteral("1 letter") : QStringLiteral("%1 letters").arg(rows.size()),
                            rows.size() == 1 ? QString() : QStringLiteral("s"), RowList(rows),
                            rows.size() == 1 ? QStringLiteral("has") : QStringLiteral("have"), items.name,
                            rows.size() == 1 ? QStringLiteral("its") : QStringLiteral("their"),
                            rows.size() == 1 ? QString() : QStringLiteral("s"),
                            rows.size() == 1 ? QStringLiteral("it") : QStringLiteral("them")));
}
