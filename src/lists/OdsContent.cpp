#include "OdsContent.h"

#include "CellText.h"
#include "core/AppError.h"

#include <QDateTime>
#include <QHash>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

constexpr char TableNamespace[] = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr char TextNamespace[] = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
constexpr char OfficeNamespace[] = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
constexpr char StyleNamespace[] = "urn:oasis:names:tc:opendocument:xmlns:style:1.0";
constexpr char NumberNamespace[] = "urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0";

// The most cells one repeated cell with text may stand for.
constexpr qint64 MaxRepeatedCells = 100000;

bool Is(const QXmlStreamReader& reader, const char* space, QStringView name)
{
    return reader.namespaceUri() == QLatin1String(space) && reader.name() == name;
}

qint64 Repeats(const QXmlStreamReader& reader, const char* attribute)
{
    const QStringView value = reader.attributes().value(QLatin1String(TableNamespace), QLatin1String(attribute));
    bool ok = false;
    const qint64 count = value.toLongLong(&ok);
    return ok && count > 0 ? count : 1;
}

// How many spaces a text:s element stands for.
qsizetype SpaceCount(const QXmlStreamReader& reader)
{
    const qint64 count = reader.attributes().value(QLatin1String(TextNamespace), QLatin1String("c")).toLongLong();
    return static_cast<qsizetype>(std::clamp<qint64>(count, 1, 1000));
}

// The text of a paragraph at its start element, through its spans, links, spaces, tabs and line breaks.
QString ParagraphText(QXmlStreamReader& reader)
{
    QString text;
    int depth = 1;
    while (depth > 0 && !reader.atEnd()) {
        reader.readNext();
        if (reader.isCharacters()) {
            text += reader.text();
        } else if (reader.isEndElement()) {
            --depth;
        } else if (reader.isStartElement()) {
            ++depth;
            if (Is(reader, TextNamespace, u"s"))
                text += QString(SpaceCount(reader), QLatin1Char(' '));
            else if (Is(reader, TextNamespace, u"tab"))
                text += QLatin1Char('\t');
            else if (Is(reader, TextNamespace, u"line-break"))
                text += QLatin1Char('\n');
            else if (Is(reader, OfficeNamespace, u"annotation") || Is(reader, TextNamespace, u"note")) {
                reader.skipCurrentElement();
                --depth;
            }
        }
    }
    return text;
}

// A value cell's value as "General" shows it, for a cell saved without its shown text.
QString ValueText(const QXmlStreamAttributes& attributes)
{
    const QLatin1String office(OfficeNamespace);
    const QStringView type = attributes.value(office, QLatin1String("value-type"));
    if (type == QLatin1String("float") || type == QLatin1String("percentage") || type == QLatin1String("currency"))
        return GeneralNumber(attributes.value(office, QLatin1String("value")).toDouble());
    if (type == QLatin1String("boolean"))
        return attributes.value(office, QLatin1String("boolean-value")) == QLatin1String("true") ? QStringLiteral("TRUE")
                                                                                                : QStringLiteral("FALSE");
    if (type == QLatin1String("date")) {
        const QDateTime moment = QDateTime::fromString(attributes.value(office, QLatin1String("date-value")).toString(), Qt::ISODate);
        const QDate origin(1899, 12, 30);
        return moment.isValid() ? ShownNumber(static_cast<double>(origin.daysTo(moment.date())), BuiltinNumberFormat(14), origin)
                                : QString();
    }
    return attributes.value(office, QLatin1String("string-value")).toString();
}

// The text a cell shows, its start element read; reads to its end.
QString CellText(QXmlStreamReader& reader)
{
    const QXmlStreamAttributes attributes = reader.attributes();
    QStringList paragraphs;
    while (reader.readNextStartElement()) {
        if (Is(reader, TextNamespace, u"p") || Is(reader, TextNamespace, u"h"))
            paragraphs << ParagraphText(reader);
        else
            reader.skipCurrentElement();
    }
    return paragraphs.isEmpty() ? ValueText(attributes) : paragraphs.join(QLatin1Char('\n'));
}

// What the sheet's styles say of its number cells: the number format of each data style, as
// a spreadsheet's format code of its grouping and decimals ("#,##0.00"), the data style of
// each cell style, and the cell style of each column whose cells name none.
struct NumberStyles {
    QHash<QString, QString> codes;
    QHash<QString, QString> dataStyles;
    std::vector<QString> columnStyles;
    // Where the formats go; none when they are not asked for.
    CellTexts* formats = nullptr;

    QString CodeOf(const QXmlStreamAttributes& attributes, qint64 column) const
    {
        QString style = attributes.value(QLatin1String(TableNamespace), QLatin1String("style-name")).toString();
        if (style.isEmpty() && column >= 0 && static_cast<std::size_t>(column) < columnStyles.size())
            style = columnStyles[static_cast<std::size_t>(column)];
        return codes.value(dataStyles.value(style), QStringLiteral("General"));
    }
};

// A number, currency or percentage style, its start element read, as a format code; reads
// to its end.
QString DataStyleCode(QXmlStreamReader& reader)
{
    QString code = QStringLiteral("General");
    int depth = 1;
    while (depth > 0 && !reader.atEnd()) {
        reader.readNext();
        if (reader.isEndElement()) {
            --depth;
        } else if (reader.isStartElement()) {
            ++depth;
            if (!Is(reader, NumberNamespace, u"number"))
                continue;
            const QLatin1String number(NumberNamespace);
            const QXmlStreamAttributes attributes = reader.attributes();
            const int places = std::clamp(attributes.value(number, QLatin1String("decimal-places")).toInt(), 0, 30);
            const QStringView least = attributes.value(number, QLatin1String("min-decimal-places"));
            const int required = least.isEmpty() ? places : std::clamp(least.toInt(), 0, places);
            code = attributes.value(number, QLatin1String("grouping")) == u"true" ? QStringLiteral("#,##0") : QStringLiteral("0");
            if (places > 0)
                code += QLatin1Char('.') + QString(required, QLatin1Char('0')) + QString(places - required, QLatin1Char('#'));
        }
    }
    return code;
}

// Takes a data style or a cell style into styles, its start element read (a data style then
// read to its end); false for any other element.
bool TakeStyle(QXmlStreamReader& reader, NumberStyles& styles)
{
    if (Is(reader, NumberNamespace, u"number-style") || Is(reader, NumberNamespace, u"currency-style")
        || Is(reader, NumberNamespace, u"percentage-style")) {
        const QString name = reader.attributes().value(QLatin1String(StyleNamespace), QLatin1String("name")).toString();
        styles.codes.insert(name, DataStyleCode(reader));
        return true;
    }
    if (!Is(reader, StyleNamespace, u"style"))
        return false;
    const QXmlStreamAttributes attributes = reader.attributes();
    const QLatin1String style(StyleNamespace);
    if (attributes.hasAttribute(style, QLatin1String("data-style-name")))
        styles.dataStyles.insert(attributes.value(style, QLatin1String("name")).toString(),
                                 attributes.value(style, QLatin1String("data-style-name")).toString());
    return true;
}

// Reads a row, its start element read, into texts at row, as many times as it is repeated,
// and the format codes of its number cells as styles asks.
void ReadRow(QXmlStreamReader& reader, qint64 row, qint64 repeats, CellTexts& texts, const NumberStyles& styles)
{
    qint64 column = 0;
    while (reader.readNextStartElement()) {
        const bool cell = Is(reader, TableNamespace, u"table-cell") || Is(reader, TableNamespace, u"covered-table-cell");
        if (!cell) {
            reader.skipCurrentElement();
            continue;
        }
        const qint64 columns = Repeats(reader, "number-columns-repeated");
        const QXmlStreamAttributes attributes = reader.attributes();
        const QStringView type = attributes.value(QLatin1String(OfficeNamespace), QLatin1String("value-type"));
        const bool number = type == u"float" || type == u"currency" || type == u"percentage";
        const QString code = styles.formats && number ? styles.CodeOf(attributes, column) : QString();
        const QString text = CellText(reader);
        if (!text.isEmpty() && (column + columns > MaxSheetColumns || row + repeats > MaxSheetRows || columns * repeats > MaxRepeatedCells))
            throw AppError(QStringLiteral("The spreadsheet's sheet repeats a cell over more rows or columns than a list takes."));
        for (qint64 r = 0; !text.isEmpty() && r < repeats; ++r) {
            for (qint64 c = 0; c < columns; ++c) {
                texts[static_cast<int>(row + r)][static_cast<int>(column + c)] = text;
                if (!code.isEmpty())
                    (*styles.formats)[static_cast<int>(row + r)][static_cast<int>(column + c)] = code;
            }
        }
        column += columns;
    }
}
}

CellTexts OdsCellTexts(const QByteArray& content, const QString& sheet, CellTexts* formats, const QByteArray& commonStyles)
{
    CellTexts texts;
    NumberStyles styles;
    styles.formats = formats;
    // The styles a user named are in styles.xml; those of single cells with the content.
    for (QXmlStreamReader common(formats ? commonStyles : QByteArray()); !common.atEnd();) {
        common.readNext();
        if (common.isStartElement())
            TakeStyle(common, styles);
    }
    QXmlStreamReader reader(content);
    qint64 row = 0;
    bool inSheet = false;
    bool found = false;
    while (!reader.atEnd() && !(found && !inSheet)) {
        reader.readNext();
        if (reader.isEndElement() && inSheet && Is(reader, TableNamespace, u"table")) {
            inSheet = false;
        } else if (!reader.isStartElement()) {
            continue;
        } else if (TakeStyle(reader, styles)) {
            continue;
        } else if (Is(reader, TableNamespace, u"table") && !found) {
            const QStringView name = reader.attributes().value(QLatin1String(TableNamespace), QLatin1String("name"));
            inSheet = found = sheet.isEmpty() || name == sheet;
        } else if (inSheet && Is(reader, TableNamespace, u"table-column")) {
            const qint64 repeats = std::min<qint64>(Repeats(reader, "number-columns-repeated"), MaxSheetColumns);
            const QString style = reader.attributes().value(QLatin1String(TableNamespace), QLatin1String("default-cell-style-name")).toString();
            for (qint64 i = 0; i < repeats && styles.columnStyles.size() < static_cast<std::size_t>(MaxSheetColumns); ++i)
                styles.columnStyles.push_back(style);
        } else if (inSheet && Is(reader, TableNamespace, u"table-row")) {
            const qint64 repeats = Repeats(reader, "number-rows-repeated");
            ReadRow(reader, row, repeats, texts, styles);
            row += repeats;
        }
    }
    if (reader.hasError())
        throw AppError(QStringLiteral("The spreadsheet cannot be read: %1.").arg(reader.errorString()));
    return texts;
}

QStringList OdsSheetNames(const QByteArray& content)
{
    QXmlStreamReader reader(content);
    QStringList names;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && Is(reader, TableNamespace, u"table")) {
            names << reader.attributes().value(QLatin1String(TableNamespace), QLatin1String("name")).toString();
            reader.skipCurrentElement();
        }
    }
    if (reader.hasError())
        throw AppError(QStringLiteral("The spreadsheet cannot be read: %1.").arg(reader.errorString()));
    return names;
}
