#include "OdsContent.h"

#include "CellText.h"
#include "core/AppError.h"

#include <QDateTime>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

constexpr char TableNamespace[] = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr char TextNamespace[] = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
constexpr char OfficeNamespace[] = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";

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

// Reads a row, its start element read, into texts at row, as many times as it is repeated.
void ReadRow(QXmlStreamReader& reader, qint64 row, qint64 repeats, CellTexts& texts)
{
    qint64 column = 0;
    while (reader.readNextStartElement()) {
        const bool cell = Is(reader, TableNamespace, u"table-cell") || Is(reader, TableNamespace, u"covered-table-cell");
        if (!cell) {
            reader.skipCurrentElement();
            continue;
        }
        const qint64 columns = Repeats(reader, "number-columns-repeated");
        const QString text = CellText(reader);
        if (!text.isEmpty() && (column + columns > MaxSheetColumns || row + repeats > MaxSheetRows || columns * repeats > MaxRepeatedCells))
            throw AppError(QStringLiteral("The spreadsheet's first sheet repeats a cell over more rows or columns than a list takes."));
        for (qint64 r = 0; !text.isEmpty() && r < repeats; ++r) {
            for (qint64 c = 0; c < columns; ++c)
                texts[static_cast<int>(row + r)][static_cast<int>(column + c)] = text;
        }
        column += columns;
    }
}
}

CellTexts OdsCellTexts(const QByteArray& content)
{
    QXmlStreamReader reader(content);
    CellTexts texts;
    qint64 row = 0;
    int tables = 0;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && Is(reader, TableNamespace, u"table")) {
            if (++tables > 1)
                break;
        } else if (reader.isStartElement() && tables == 1 && Is(reader, TableNamespace, u"table-row")) {
            const qint64 repeats = Repeats(reader, "number-rows-repeated");
            ReadRow(reader, row, repeats, texts);
            row += repeats;
        }
    }
    if (reader.hasError())
        throw AppError(QStringLiteral("The spreadsheet cannot be read: %1.").arg(reader.errorString()));
    return texts;
}
