#include "LetterList.h"

#include "AppError.h"
#include "LetterText.h"
#include "SettingsStore.h"

#include <QSet>

#include <algorithm>

namespace {

QString TagOf(int field)
{
    return QString::fromLatin1(FieldTags[static_cast<std::size_t>(field)]);
}

int FieldOfTag(const char* tag)
{
    for (int field = 0; field < FieldCount; ++field) {
        if (TagOf(field) == QLatin1String(tag))
            return field;
    }
    return -1;
}

const int CompanyField = FieldOfTag("[CompanyName]");
const int RecipientField = FieldOfTag("[RecipientName]");

// The longest file name stem, in bytes of UTF-8: with the extension and the hidden name a
// file is written under first, well within the 255 bytes of common file systems.
constexpr qsizetype StemBytes = 120;

// The names of the columns a list may have, for telling, in the order of a letter's
// address blocks: "YourName, YourTitle, ... and ZIPCode2".
QString ColumnNames()
{
    QStringList names;
    for (const char* tag : {"[YourName]", "[YourTitle]", "[StreetAddress]", "[City]", "[ST]", "[ZIPCode]",
                            "[RecipientName]", "[Title]", "[CompanyName]", "[StreetAddress2]", "[City2]", "[ST2]",
                            "[ZIPCode2]"}) {
        const QString name = QLatin1String(tag);
        names << name.mid(1, name.size() - 2);
    }
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

// How the columns of a list are used.
struct Columns {
    // For each column the field it fills, or -1.
    std::vector<int> fields;
    // For each column that fills no field, its key; empty for the others and for unnamed
    // columns and for a later column whose key an earlier one has already.
    QStringList otherKeys;
    QStringList otherNames;
};

// How the columns named by names are used; throws when none fills a field or two fill one.
Columns ColumnsOf(const QStringList& names, FieldColumns fieldColumns)
{
    Columns columns;
    QSet<int> seen;
    QSet<QString> otherSeen;
    for (const QString& written : names) {
        const QString name = written.trimmed();
        const int field = name.isEmpty() ? -1 : FieldOfColumn(name);
        QString otherKey;
        if (field >= 0) {
            if (seen.contains(field))
                throw AppError(QStringLiteral("The list has two columns for %1; which one fills it cannot be told.")
                                   .arg(TagOf(field)));
            seen.insert(field);
        } else if (!name.isEmpty()) {
            columns.otherNames << name;
            otherKey = ColumnKey(name);
            if (otherSeen.contains(otherKey))
                otherKey.clear();
            else
                otherSeen.insert(otherKey);
        }
        columns.fields.push_back(field);
        columns.otherKeys << otherKey;
    }
    if (seen.isEmpty() && fieldColumns == FieldColumns::Required)
        throw AppError(QStringLiteral("No column of the list fills a field of the letter. The first line of the list "
                                      "names the columns: %1, in any order, in any letter case, with or without spaces, "
                                      "underscores or hyphens.")
                           .arg(ColumnNames()));
    return columns;
}

// Why the texts cannot make a letter; empty when they can.
QString TextProblem(const FieldTexts& fields)
{
    for (int field = 0; field < FieldCount; ++field) {
        const qsizetype length = fields[static_cast<std::size_t>(field)].size();
        if (length > LetterFieldLimit)
            return QStringLiteral("the text for %1 is %2 characters long; a letter takes at most %3 characters a field")
                .arg(TagOf(field))
                .arg(length)
                .arg(LetterFieldLimit);
    }
    return QString();
}

bool IsBlank(const QStringList& values)
{
    return std::all_of(values.begin(), values.end(), [](const QString& value) { return value.trimmed().isEmpty(); });
}

LetterLine MakeLine(const CsvRecord& record, const Columns& columns, const FieldTexts& defaults)
{
    LetterLine letter{record.line, defaults, {}, record.problem};
    if (!letter.problem.isEmpty())
        return letter;
    const auto width = static_cast<qsizetype>(columns.fields.size());
    if (record.values.size() < width || !IsBlank(record.values.mid(width))) {
        letter.problem = QStringLiteral("it has %1 values, but the list has %2 columns")
                             .arg(record.values.size())
                             .arg(columns.fields.size());
        return letter;
    }
    for (std::size_t column = 0; column < columns.fields.size(); ++column) {
        const QString& value = record.values[static_cast<qsizetype>(column)];
        if (columns.fields[column] >= 0)
            letter.fields[static_cast<std::size_t>(columns.fields[column])] = value;
        else if (const QString& key = columns.otherKeys[static_cast<qsizetype>(column)]; !key.isEmpty())
            letter.otherValues.insert(key, value);
    }
    letter.problem = TextProblem(letter.fields);
    return letter;
}

bool IsUnsafeInFileName(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7F || QStringView(u"/\\:*?\"<>|").contains(c);
}

// The longest start of text whose UTF-8 takes at most bytes, never cutting a character.
QString CutToBytes(const QString& text, qsizetype bytes)
{
    qsizetype used = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const qsizetype width = text.at(end).isHighSurrogate() && end + 1 < text.size() ? 2 : 1;
        const qsizetype size = text.mid(end, width).toUtf8().size();
        if (used + size > bytes)
            break;
        used += size;
        end += width;
    }
    return text.left(end);
}
}

QString ColumnKey(const QString& name)
{
    QString key;
    key.reserve(name.size());
    for (const QChar c : name) {
        if (!c.isSpace() && c != QLatin1Char('_') && c != QLatin1Char('-'))
            key += c;
    }
    return key.toCaseFolded();
}

int FieldOfColumn(const QString& name)
{
    const QString key = ColumnKey(name);
    for (int field = 0; field < FieldCount; ++field) {
        if (field == DateFieldIndex)
            continue;
        const QString tag = TagOf(field);
        if (ColumnKey(tag.mid(1, tag.size() - 2)) == key)
            return field;
    }
    return -1;
}

LetterList ReadLetterList(const RecordSource& next, SettingsStore& settings, const QString& date,
                          FieldColumns fieldColumns, const RowFilter& keep)
{
    std::optional<CsvRecord> header = next();
    if (!header)
        return {};
    if (!header->problem.isEmpty())
        throw AppError(QStringLiteral("The first line of the list, which names the columns, cannot be read: %1.")
                           .arg(header->problem));
    const Columns columns = ColumnsOf(header->values, fieldColumns);

    FieldTexts defaults;
    for (int field = 0; field < FieldCount; ++field) {
        if (field != DateFieldIndex && std::find(columns.fields.begin(), columns.fields.end(), field) == columns.fields.end())
            defaults[static_cast<std::size_t>(field)] = settings.ReadSetting(
                QLatin1String(SettingsApplication), QLatin1String(SettingsSection), FieldKey(field));
    }
    defaults[DateFieldIndex] = date;

    LetterList list;
    list.otherColumns = columns.otherNames;
    list.lastLine = header->line;
    for (int row = 0; std::optional<CsvRecord> record = next(); ++row) {
        list.lastLine = record->line;
        if (keep && !keep(row))
            continue;
        if (record->problem.isEmpty() && IsBlank(record->values))
            ++list.emptyRows;
        else
            list.lines.push_back(MakeLine(*record, columns, defaults));
    }
    return list;
}

LetterList ReadLetterList(std::vector<CsvRecord> records, SettingsStore& settings, const QString& date,
                          FieldColumns fieldColumns, const RowFilter& keep)
{
    std::size_t at = 0;
    return ReadLetterList(
        [&]() -> std::optional<CsvRecord> {
            if (at >= records.size())
                return std::nullopt;
            // Each record's values go once its line is made.
            return std::move(records[at++]);
        },
        settings, date, fieldColumns, keep);
}

QString SafeFileName(const QString& name)
{
    QString safe;
    for (const QChar c : name.simplified())
        safe += IsUnsafeInFileName(c) ? QChar(QLatin1Char('_')) : c;
    // Halves of broken characters have no file-name form; they become U+FFFD.
    safe = CutToBytes(QString::fromUtf8(safe.toUtf8()), StemBytes);
    // A name that ends in a dot or a space is refused by some systems, and a dot would
    // run into the extension's.
    while (safe.endsWith(QLatin1Char('.')) || safe.endsWith(QLatin1Char(' ')))
        safe.chop(1);
    return safe;
}

QString LetterFileStem(const LetterLine& letter, int digits)
{
    QString name = letter.fields[static_cast<std::size_t>(CompanyField)].trimmed();
    if (name.isEmpty())
        name = letter.fields[static_cast<std::size_t>(RecipientField)].trimmed();
    const QString safe = SafeFileName(name);
    const QString number = QStringLiteral("%1").arg(letter.line, digits, 10, QLatin1Char('0'));
    return safe.isEmpty() ? number : number + QLatin1Char('-') + safe;
}
