#include "XlsxContent.h"

#include "CellText.h"
#include "core/AppError.h"

#include <QDateTime>
#include <QXmlStreamReader>

#include <map>
#include <vector>

namespace {

void CheckWellFormed(const QXmlStreamReader& reader, const char* part)
{
    if (reader.hasError())
        throw AppError(QStringLiteral("The spreadsheet cannot be read: %1 are damaged (%2).")
                           .arg(QLatin1String(part), reader.errorString()));
}

// The text of an element that holds text runs (<si>, <is>), its start read; reads to its
// end. Phonetic guides (<rPh>) are not part of the text a cell shows.
QString RunsText(QXmlStreamReader& reader)
{
    QString text;
    while (reader.readNextStartElement()) {
        if (reader.name() == u"t")
            text += reader.readElementText(QXmlStreamReader::IncludeChildElements);
        else if (reader.name() == u"r")
            text += RunsText(reader);
        else
            reader.skipCurrentElement();
    }
    return text;
}

std::vector<QString> SharedStrings(const QByteArray& xml)
{
    std::vector<QString> strings;
    QXmlStreamReader reader(xml);
    while (!xml.isEmpty() && !reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == u"si")
            strings.push_back(RunsText(reader));
    }
    CheckWellFormed(reader, "its shared strings");
    return strings;
}

// The number format code of each cell format, by the cell format's index.
std::vector<QString> CellFormatCodes(const QByteArray& xml)
{
    std::map<int, QString> custom;
    std::vector<int> ids;
    QXmlStreamReader reader(xml);
    bool inCellFormats = false;
    while (!xml.isEmpty() && !reader.atEnd()) {
        reader.readNext();
        if (reader.isEndElement() && reader.name() == u"cellXfs")
            inCellFormats = false;
        if (!reader.isStartElement())
            continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        if (reader.name() == u"numFmt")
            custom[attributes.value(QLatin1String("numFmtId")).toInt()] = attributes.value(QLatin1String("formatCode")).toString();
        else if (reader.name() == u"cellXfs")
            inCellFormats = true;
        else if (inCellFormats && reader.name() == u"xf")
            ids.push_back(attributes.value(QLatin1String("numFmtId")).toInt());
    }
    CheckWellFormed(reader, "its styles");
    std::vector<QString> codes;
    for (const int id : ids) {
        const auto found = custom.find(id);
        codes.push_back(found != custom.end() ? found->second : BuiltinNumberFormat(id));
    }
    return codes;
}

// The day serial 0 counts from: 1899-12-30, or 1904-01-01 in a workbook that says so.
QDate Origin(const QByteArray& workbook)
{
    QXmlStreamReader reader(workbook);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == u"workbookPr") {
            const QStringView date1904 = reader.attributes().value(QLatin1String("date1904"));
            return date1904 == u"1" || date1904 == u"true" ? QDate(1904, 1, 1) : QDate(1899, 12, 30);
        }
    }
    return QDate(1899, 12, 30);
}

// "B12" as a column and a row from 0; false when it is not a cell's address.
bool ParseAddress(QStringView address, int& column, int& row)
{
    qsizetype at = 0;
    column = 0;
    for (; at < address.size() && address.at(at).isLetter(); ++at) {
        column = column * 26 + (address.at(at).toUpper().unicode() - 'A' + 1);
        if (column > MaxSheetColumns)
            return false;
    }
    bool ok = false;
    row = address.mid(at).toInt(&ok);
    --column;
    --row;
    return ok && at > 0 && column >= 0 && row >= 0 && row < MaxSheetRows;
}

QString ColumnName(int column)
{
    QString name;
    for (int rest = column + 1; rest > 0; rest = (rest - 1) / 26)
        name.prepend(QChar(u'A' + (rest - 1) % 26));
    return name;
}

// What the sheet's cells are read with.
struct SheetContext {
    std::vector<QString> strings;
    std::vector<QString> codes;
    QDate origin;
};

// One <c> element as it stands in the sheet.
struct CellElement {
    QString type;
    int format = 0;
    QString value;
    bool hasValue = false;
    QString inlineText;
};

CellElement ReadCellElement(QXmlStreamReader& reader)
{
    CellElement cell;
    cell.type = reader.attributes().value(QLatin1String("t")).toString();
    cell.format = reader.attributes().value(QLatin1String("s")).toInt();
    while (reader.readNextStartElement()) {
        if (reader.name() == u"v") {
            cell.value = reader.readElementText();
            cell.hasValue = true;
        } else if (reader.name() == u"is") {
            cell.inlineText = RunsText(reader);
            cell.hasValue = true;
        } else {
            reader.skipCurrentElement();
        }
    }
    return cell;
}

// The number format code of a cell.
QString CodeOf(const CellElement& cell, const SheetContext& context)
{
    return cell.format >= 0 && static_cast<std::size_t>(cell.format) < context.codes.size()
               ? context.codes[static_cast<std::size_t>(cell.format)]
               : QStringLiteral("General");
}

// Whether a cell holds a number (not a text, a truth value, an error or a date).
bool HoldsNumber(const CellElement& cell)
{
    return cell.type.isEmpty() || cell.type == u"n";
}

// What a cell shows.
QString Shown(const CellElement& cell, const SheetContext& context)
{
    const QString code = CodeOf(cell, context);
    if (cell.type == u"inlineStr")
        return cell.inlineText;
    if (cell.type == u"s") {
        const auto index = static_cast<std::size_t>(cell.value.toLongLong());
        return index < context.strings.size() ? context.strings[index] : QString();
    }
    if (cell.type == u"str" || cell.type == u"e")
        return cell.value;
    if (cell.type == u"b")
        return cell.value.trimmed() == u"1" ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    if (cell.type == u"d") {
        const QDateTime moment = QDateTime::fromString(cell.value.trimmed(), Qt::ISODate);
        if (!moment.isValid())
            return cell.value;
        const double serial = static_cast<double>(context.origin.daysTo(moment.date())) +
                              moment.time().msecsSinceStartOfDay() / 86400000.0;
        const bool general = code.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0;
        return ShownNumber(serial, general ? BuiltinNumberFormat(moment.time().msecsSinceStartOfDay() ? 22 : 14) : code,
                           context.origin);
    }
    bool number = false;
    const double value = cell.value.trimmed().toDouble(&number);
    return number ? ShownNumber(value, code, context.origin) : cell.value;
}

// Reads one <row>, its start read, into texts, and the format codes of its number cells
// into formats when it is given.
void ReadRow(QXmlStreamReader& reader, int row, const SheetContext& context, CellTexts& texts, CellTexts* formats)
{
    int column = -1;
    while (reader.readNextStartElement()) {
        if (reader.name() != u"c") {
            reader.skipCurrentElement();
            continue;
        }
        const QStringView address = reader.attributes().value(QLatin1String("r"));
        int cellRow = row;
        if (address.isEmpty() ? ++column >= MaxSheetColumns : !ParseAddress(address, column, cellRow))
            throw AppError(QStringLiteral("The spreadsheet cannot be read: a cell of row %1 has no place on a sheet.").arg(row + 1));
        const CellElement cell = ReadCellElement(reader);
        if (!cell.hasValue)
            continue;
        try {
            QString text = Shown(cell, context);
            if (formats && !text.isEmpty() && HoldsNumber(cell))
                (*formats)[cellRow][column] = CodeOf(cell, context);
            if (!text.isEmpty())
                texts[cellRow][column] = std::move(text);
        } catch (const AppError& error) {
            throw AppError(QStringLiteral("The spreadsheet's cell %1%2 cannot be shown as the spreadsheet shows it: %3. "
                                          "Give it a number format without a locale, or save the list as CSV.")
                               .arg(ColumnName(column))
                               .arg(cellRow + 1)
                               .arg(error.Description()));
        }
    }
}
}

CellTexts XlsxCellTexts(const XlsxParts& parts, CellTexts* formats)
{
    const SheetContext context{SharedStrings(parts.sharedStrings), CellFormatCodes(parts.styles), Origin(parts.workbook)};
    CellTexts texts;
    QXmlStreamReader reader(parts.sheet);
    int row = -1;
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement() || reader.name() != u"row")
            continue;
        const QStringView number = reader.attributes().value(QLatin1String("r"));
        bool ok = !number.isEmpty();
        row = ok ? number.toInt(&ok) - 1 : row + 1;
        if (!ok || row < 0 || row >= MaxSheetRows)
            throw AppError(QStringLiteral("The spreadsheet cannot be read: a row has no place on a sheet."));
        ReadRow(reader, row, context, texts, formats);
    }
    CheckWellFormed(reader, "its sheet's cells");
    return texts;
}
