#include "LetterList.h"

#include "AppError.h"
#include "LetterText.h"
#include "SettingsStore.h"

#include <QSet>

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

// For each column the field it fills; throws for a column that fills none or one filled before.
std::vector<int> ColumnFields(const QStringList& names)
{
    std::vector<int> fields;
    QSet<int> seen;
    for (qsizetype column = 0; column < names.size(); ++column) {
        const QString name = names[column].trimmed();
        if (name.isEmpty())
            throw AppError(QStringLiteral("Column %1 of the list has no name.").arg(column + 1));
        const int field = FieldOfColumn(name);
        if (field < 0)
            throw AppError(QStringLiteral("The list has a column \"%1\", which is not a field of the letter. The "
                                          "columns are named YourName, YourTitle, StreetAddress, City, ST, ZIPCode, "
                                          "RecipientName, Title, CompanyName, StreetAddress2, City2, ST2 and ZIPCode2.")
                               .arg(name));
        if (seen.contains(field))
            throw AppError(QStringLiteral("The list has the column \"%1\" twice.").arg(name));
        seen.insert(field);
        fields.push_back(field);
    }
    return fields;
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

LetterLine MakeLine(const CsvRecord& record, const std::vector<int>& columns, const FieldTexts& defaults)
{
    LetterLine letter{record.line, defaults, record.problem};
    if (!letter.problem.isEmpty())
        return letter;
    if (record.values.size() != static_cast<qsizetype>(columns.size())) {
        letter.problem = QStringLiteral("it has %1 values, but the list has %2 columns")
                             .arg(record.values.size())
                             .arg(columns.size());
        return letter;
    }
    for (std::size_t column = 0; column < columns.size(); ++column)
        letter.fields[static_cast<std::size_t>(columns[column])] = record.values[static_cast<qsizetype>(column)];
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

int FieldOfColumn(const QString& name)
{
    for (int field = 0; field < FieldCount; ++field) {
        if (field == DateFieldIndex)
            continue;
        const QString tag = TagOf(field);
        if (QStringView(tag).mid(1, tag.size() - 2).compare(name, Qt::CaseInsensitive) == 0)
            return field;
    }
    return -1;
}

std::vector<LetterLine> ReadLetterList(const std::vector<CsvRecord>& records, SettingsStore& settings,
                                       const QString& date)
{
    if (records.empty())
        throw AppError(QStringLiteral("The list is empty: its first line must name the columns."));
    if (!records.front().problem.isEmpty())
        throw AppError(QStringLiteral("The first line of the list, which names the columns, cannot be read: %1.")
                           .arg(records.front().problem));
    const std::vector<int> columns = ColumnFields(records.front().values);

    FieldTexts defaults;
    for (int field = 0; field < FieldCount; ++field) {
        if (field != DateFieldIndex && std::find(columns.begin(), columns.end(), field) == columns.end())
            defaults[static_cast<std::size_t>(field)] = settings.ReadSetting(
                QLatin1String(SettingsApplication), QLatin1String(SettingsSection), FieldKey(field));
    }
    defaults[DateFieldIndex] = date;

    std::vector<LetterLine> letters;
    for (auto record = records.begin() + 1; record != records.end(); ++record)
        letters.push_back(MakeLine(*record, columns, defaults));
    return letters;
}

QString LetterFileStem(const LetterLine& letter, int digits)
{
    QString name = letter.fields[static_cast<std::size_t>(CompanyField)].trimmed();
    if (name.isEmpty())
        name = letter.fields[static_cast<std::size_t>(RecipientField)].trimmed();
    QString safe;
    for (const QChar c : name.simplified())
        safe += IsUnsafeInFileName(c) ? QChar(QLatin1Char('_')) : c;
    // Halves of broken characters have no file-name form; they become U+FFFD.
    safe = CutToBytes(QString::fromUtf8(safe.toUtf8()), StemBytes);
    // A name that ends in a dot or a space is refused by some systems, and a dot would
    // run into the extension's.
    while (safe.endsWith(QLatin1Char('.')) || safe.endsWith(QLatin1Char(' ')))
        safe.chop(1);
    const QString number = QStringLiteral("%1").arg(letter.line, digits, 10, QLatin1Char('0'));
    return safe.isEmpty() ? number : number + QLatin1Char('-') + safe;
}
