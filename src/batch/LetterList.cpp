#include "LetterList.h"

#include "core/AppError.h"
#include "files/SettingsStore.h"
#include "generation/LetterText.h"

#include <QHash>
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
    for (const int field : FieldsInLetterOrder) {
        const QString tag = TagOf(field);
        names << tag.mid(1, tag.size() - 2);
    }
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

// The kinds of text a column may hold, each a field of the sender and of the recipient.
enum class Kind { None, Name, Title, Company, Street, City, State, Zip };
enum class Whose { Unsaid, Sender, Recipient };

struct Meaning {
    Kind kind = Kind::None;
    Whose whose = Whose::Unsaid;
    // The name is the sender's field's own ("City", "StreetAddress", "ST", "ZIPCode").
    bool senderPlaceholder = false;
};

// The fields of each kind: the sender's and the recipient's (none: the sender has no company).
struct KindFields {
    Kind kind;
    const char* sender;
    const char* recipient;
};
constexpr KindFields FieldsOfKinds[] = {
    {Kind::Name, "[YourName]", "[RecipientName]"},    {Kind::Title, "[YourTitle]", "[Title]"},
    {Kind::Company, nullptr, "[CompanyName]"},        {Kind::Street, "[StreetAddress]", "[StreetAddress2]"},
    {Kind::City, "[City]", "[City2]"},                {Kind::State, "[ST]", "[ST2]"},
    {Kind::Zip, "[ZIPCode]", "[ZIPCode2]"},
};

// The kind a key (without a word that says whose) names.
Kind KindOfWord(const QString& key)
{
    static const QHash<QString, Kind> words = {
        {"name", Kind::Name},         {"fullname", Kind::Name},        {"contactname", Kind::Name},  {"title", Kind::Title},          {"jobtitle", Kind::Title},
        {"position", Kind::Title},    {"company", Kind::Company},      {"companyname", Kind::Company},
        {"organization", Kind::Company}, {"organisation", Kind::Company}, {"firm", Kind::Company},
        {"street", Kind::Street},     {"streetaddress", Kind::Street}, {"address", Kind::Street},
        {"address1", Kind::Street},   {"addressline1", Kind::Street},  {"city", Kind::City},
        {"town", Kind::City},         {"st", Kind::State},             {"state", Kind::State},
        {"province", Kind::State},    {"zip", Kind::Zip},
        {"zipcode", Kind::Zip},       {"postalcode", Kind::Zip},       {"postcode", Kind::Zip},
        // German, as lists made in Germany, Austria and Switzerland name the same.
        {"titel", Kind::Title},       {"firma", Kind::Company},        {"firmenname", Kind::Company},
        {"unternehmen", Kind::Company}, {"stra\u00DFe", Kind::Street}, {"strasse", Kind::Street},
        {"anschrift", Kind::Street},  {"adresse", Kind::Street},       {"ort", Kind::City},
        {"stadt", Kind::City},        {"bundesland", Kind::State},     {"kanton", Kind::State},
        {"plz", Kind::Zip},           {"postleitzahl", Kind::Zip},
    };
    return words.value(key, Kind::None);
}

// What a column's name says it holds, and whose.
Meaning MeaningOf(const QString& name)
{
    const QString key = ColumnKey(name);
    if (key == QLatin1String("recipient"))
        return {Kind::Name, Whose::Recipient, false};
    if (const Kind kind = KindOfWord(key); kind != Kind::None) {
        const bool placeholder = std::any_of(std::begin(FieldsOfKinds), std::end(FieldsOfKinds), [&](const KindFields& each) {
            return each.kind == kind && each.sender && ColumnKey(QString::fromLatin1(each.sender).mid(1).chopped(1)) == key;
        });
        // "Title" is the recipient's; the sender's is "YourTitle".
        return {kind, Whose::Unsaid, placeholder && kind != Kind::Title};
    }
    static const std::pair<const char*, Whose> prefixes[] = {
        {"your", Whose::Sender},           {"senders", Whose::Sender},         {"sender's", Whose::Sender},
        {"sender", Whose::Sender},         {"from", Whose::Sender},            {"recipients", Whose::Recipient},
        {"recipient's", Whose::Recipient}, {"recipient", Whose::Recipient},    {"to", Whose::Recipient},
        {"absender", Whose::Sender},       {"empf\u00E4nger", Whose::Recipient}, {"empfaenger", Whose::Recipient},
    };
    for (const auto& [prefix, whose] : prefixes) {
        const QString start = QString::fromUtf8(prefix);
        if (key.startsWith(start))
            if (const Kind kind = KindOfWord(key.mid(start.size())); kind != Kind::None)
                return {kind, whose, false};
    }
    // "City 2", "ZIP Code 2": the recipient's, as the letter's own tags name them.
    if (key.endsWith(QLatin1Char('2')))
        if (const Kind kind = KindOfWord(key.chopped(1)); kind != Kind::None)
            return {kind, Whose::Recipient, false};
    return {};
}

int FieldOf(Kind kind, Whose whose)
{
    for (const KindFields& each : FieldsOfKinds) {
        if (each.kind == kind)
            return FieldOfTag(whose == Whose::Sender ? each.sender : each.recipient);
    }
    return -1;
}

// How the columns of a list are used.
struct Columns {
    // For each column the field it fills, or -1.
    std::vector<int> fields;
    // For each column the keys its values are known by: its name's (unless an earlier
    // column has it) and the tag's --map gives it; none for an unnamed column.
    std::vector<QStringList> keys;
    // The named columns and their fields.
    std::vector<ListColumn> named;
    QStringList otherNames;
};

// The index of the column a --map names, by its key; throws when there is none.
int MappedColumn(const QString& name, const QStringList& names)
{
    if (const int index = ColumnIndex(names, name); index >= 0)
        return index;
    QStringList written;
    for (const QString& each : names) {
        if (!each.trimmed().isEmpty())
            written << QLatin1Char('"') + each.trimmed() + QLatin1Char('"');
    }
    throw AppError(QStringLiteral("--map names the column \"%1\", which the list does not have; its columns are %2.")
                       .arg(name, written.join(QStringLiteral(", "))));
}

// How the columns named by names are used; throws when none fills a field or two fill one.
Columns ColumnsOf(const QStringList& names, FieldColumns fieldColumns, const ColumnMap& map)
{
    QHash<int, int> mappedFields;
    QHash<int, QString> mappedKeys;
    for (const auto& [column, tag] : map) {
        const int index = MappedColumn(column, names);
        const int field = FieldNamed(TagName(tag));
        if (field == DateFieldIndex || (field < 0 && fieldColumns == FieldColumns::Required))
            throw AppError(QStringLiteral("--map %1=%2: %2 is no field of the letter; the letter's fields are %3.")
                               .arg(column, tag, ColumnNames()));
        if (field >= 0)
            mappedFields.insert(index, field);
        mappedKeys.insert(index, ColumnKey(TagName(tag)));
    }
    Columns columns;
    columns.fields = ColumnFields(names, mappedFields);
    QSet<int> seen;
    QSet<QString> keysSeen;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString name = names[i].trimmed();
        const int field = columns.fields[static_cast<std::size_t>(i)];
        if (field >= 0 && seen.contains(field))
            throw AppError(QStringLiteral("The list has two columns for %1 (%2); which one fills it cannot be told. "
                                          "--map COLUMN=%3 says which.")
                               .arg(TagOf(field), FieldMeaning(field), TagOf(field).mid(1).chopped(1)));
        seen.insert(field);
        QStringList keys;
        if (!name.isEmpty() && !keysSeen.contains(ColumnKey(name)))
            keys << ColumnKey(name);
        if (mappedKeys.contains(static_cast<int>(i)))
            keys << mappedKeys.value(static_cast<int>(i));
        for (const QString& key : keys)
            keysSeen.insert(key);
        columns.keys.push_back(keys);
        if (name.isEmpty())
            continue;
        columns.named.push_back({name, field, mappedKeys.contains(static_cast<int>(i)), keys});
        if (field < 0)
            columns.otherNames << name;
    }
    seen.remove(-1);
    if (seen.isEmpty() && fieldColumns == FieldColumns::Required)
        throw AppError(QStringLiteral("No column of the list fills a field of the letter. The first row of the list "
                                      "names the columns, in any order, in any letter case, with or without spaces, "
                                      "underscores or hyphens: the recipient's as Name, Title, Company, Street Address, "
                                      "City, State and ZIP, the sender's as Your Name, Your Title, Your Street Address "
                                      "and so on, or by the letter's own names %1. --map COLUMN=FIELD makes a column "
                                      "fill a field.")
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
    LetterLine letter{record.row, record.line, defaults, {}, record.problem};
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
        for (const QString& key : columns.keys[column])
            letter.columnValues.insert(key, value);
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

int ColumnIndex(const QStringList& names, const QString& name)
{
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (!names[i].trimmed().isEmpty() && ColumnKey(names[i]) == ColumnKey(name))
            return static_cast<int>(i);
    }
    return -1;
}

int FieldNamed(const QString& name)
{
    const QString key = ColumnKey(name);
    for (int field = 0; field < FieldCount; ++field) {
        const QString tag = TagOf(field);
        if (ColumnKey(tag.mid(1, tag.size() - 2)) == key)
            return field;
    }
    return -1;
}

std::vector<int> ColumnFields(const QStringList& names, const QHash<int, int>& mapped)
{
    std::vector<Meaning> meanings;
    QSet<Kind> recipientTaken;
    for (qsizetype i = 0; i < names.size(); ++i) {
        meanings.push_back(MeaningOf(names[i]));
        if (meanings.back().whose == Whose::Recipient)
            recipientTaken.insert(meanings.back().kind);
    }
    for (const int field : mapped) {
        for (const KindFields& each : FieldsOfKinds) {
            if (FieldOfTag(each.recipient) == field)
                recipientTaken.insert(each.kind);
        }
    }
    std::vector<int> fields;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const Meaning& meaning = meanings[static_cast<std::size_t>(i)];
        Whose whose = meaning.whose;
        if (whose == Whose::Unsaid)
            whose = meaning.senderPlaceholder && recipientTaken.contains(meaning.kind) ? Whose::Sender : Whose::Recipient;
        fields.push_back(mapped.contains(static_cast<int>(i)) ? mapped.value(static_cast<int>(i))
                         : names[i].trimmed().isEmpty()      ? -1
                                                             : FieldOf(meaning.kind, whose));
    }
    return fields;
}

QString NameSource::TextOn(const LetterLine& line) const
{
    return field >= 0 ? line.fields[static_cast<std::size_t>(field)] : line.columnValues.value(columnKey);
}

NameSource SourceNamed(const QString& name, const QSet<QString>& columnKeys)
{
    const QString key = ColumnKey(name);
    if (columnKeys.contains(key))
        return {key, -1};
    return {QString(), FieldNamed(name)};
}

void EmptyCounts::Add(const LetterLine& line)
{
    if (!line.problem.isEmpty())
        return;
    ++lines;
    for (int field = 0; field < FieldCount; ++field)
        fields[static_cast<std::size_t>(field)] += line.fields[static_cast<std::size_t>(field)].trimmed().isEmpty() ? 1 : 0;
    for (auto value = line.columnValues.begin(); value != line.columnValues.end(); ++value)
        columns[value.key()] += value.value().trimmed().isEmpty() ? 1 : 0;
}

qsizetype EmptyCounts::Of(const NameSource& source) const
{
    return source.field >= 0 ? fields[static_cast<std::size_t>(source.field)] : columns.value(source.columnKey);
}

QString TagName(const QString& tag)
{
    const QString trimmed = tag.trimmed();
    return trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']')) ? trimmed.mid(1).chopped(1) : trimmed;
}

ValueOf ValueNamed(const QString& name, const QSet<QString>& columnKeys)
{
    const NameSource source = SourceNamed(name, columnKeys);
    if (!source.Known())
        return {};
    return [source](const LetterLine& line) { return source.TextOn(line); };
}

bool IsColumnName(const QString& name)
{
    return MeaningOf(name).kind != Kind::None;
}

QString FieldMeaning(int field)
{
    return field >= 0 && field < FieldCount ? QString::fromLatin1(FieldMeanings[static_cast<std::size_t>(field)]) : QString();
}

LetterList ReadLetterList(const RecordSource& next, SettingsStore& settings, const QString& date,
                          FieldColumns fieldColumns, const LineFilter& keep, const ColumnMap& map,
                          const std::optional<QSet<QString>>& valueKeys)
{
    std::optional<CsvRecord> header = next();
    if (!header)
        return {};
    if (!header->problem.isEmpty())
        throw AppError(QStringLiteral("The first line of the list, which names the columns, cannot be read: %1.")
                           .arg(header->problem));
    if (std::any_of(header->values.begin(), header->values.end(), [](const QString& name) { return name.contains(QChar(0)); }))
        throw AppError(QStringLiteral("The first line of the list, which names the columns, holds NUL characters: the list "
                                      "looks like UTF-16 text without a byte-order mark. Name its encoding with "
                                      "--encoding UTF-16LE (or UTF-16BE), or save it as UTF-8."));
    const Columns columns = ColumnsOf(header->values, fieldColumns, map);

    FieldTexts defaults;
    for (int field = 0; field < FieldCount; ++field) {
        if (field != DateFieldIndex && std::find(columns.fields.begin(), columns.fields.end(), field) == columns.fields.end())
            defaults[static_cast<std::size_t>(field)] = settings.ReadSetting(
                QLatin1String(SettingsApplication), QLatin1String(SettingsSection), FieldKey(field));
    }
    defaults[DateFieldIndex] = date;

    LetterList list;
    list.columns = columns.named;
    list.otherColumns = columns.otherNames;
    for (const QStringList& keys : columns.keys) {
        for (const QString& key : keys)
            list.columnKeys.insert(key);
    }
    list.lastRow = header->row;
    Columns stored = columns;
    if (valueKeys) {
        for (QStringList& keys : stored.keys) {
            if (std::none_of(keys.begin(), keys.end(), [&](const QString& key) { return valueKeys->contains(key); }))
                keys.clear();
        }
    }
    // Rows that hold nothing (lines with nothing on them, rows a sheet leaves out) count as
    // empty once a row with something follows them: the end of a list is not its rows.
    int emptyBefore = 0;
    int previous = header->row;
    while (std::optional<CsvRecord> record = next()) {
        emptyBefore += record->row - previous - 1;
        previous = list.lastRow = record->row;
        if (record->problem.isEmpty() && IsBlank(record->values)) {
            ++emptyBefore;
            continue;
        }
        list.emptyRows += emptyBefore;
        emptyBefore = 0;
        LetterLine line = MakeLine(*record, stored, defaults);
        if (!keep || keep(line))
            list.lines.push_back(std::move(line));
    }
    return list;
}

LetterList ReadLetterList(std::vector<CsvRecord> records, SettingsStore& settings, const QString& date,
                          FieldColumns fieldColumns, const LineFilter& keep, const ColumnMap& map)
{
    std::size_t at = 0;
    return ReadLetterList(
        [&]() -> std::optional<CsvRecord> {
            if (at >= records.size())
                return std::nullopt;
            // Each record's values go once its line is made.
            return std::move(records[at++]);
        },
        settings, date, fieldColumns, keep, map);
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
    const QString number = QStringLiteral("%1").arg(letter.row, digits, 10, QLatin1Char('0'));
    return safe.isEmpty() ? number : number + QLatin1Char('-') + safe;
}
