#include "SpreadsheetReader.h"

#include "OdsContent.h"
#include "XlsxContent.h"
#include "ZipArchive.h"
#include "core/AppError.h"

#include <QStringList>
#include <QXmlStreamReader>

#include <orcus/format_detection.hpp>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace {

// The value of attribute name (in any namespace) of the first element called element.
QString FirstAttribute(const QByteArray& xml, QStringView element, QStringView name,
                       const std::function<bool(const QXmlStreamAttributes&)>& matches = {})
{
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement() || reader.name() != element || (matches && !matches(reader.attributes())))
            continue;
        for (const QXmlStreamAttribute& attribute : reader.attributes()) {
            if (attribute.name() == name)
                return attribute.value().toString();
        }
    }
    return QString();
}

// The names of an .xlsx workbook's sheets, in order.
QStringList XlsxSheetNames(const ZipArchive& archive)
{
    QXmlStreamReader reader(archive.Read(QStringLiteral("xl/workbook.xml")));
    QStringList names;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == u"sheet")
            names << reader.attributes().value(QLatin1String("name")).toString();
    }
    return names;
}

// The part that holds the workbook's sheet of that name, or its first sheet when the name
// is empty.
QString SheetPart(const ZipArchive& archive, const QString& sheet)
{
    const QString id = FirstAttribute(archive.Read(QStringLiteral("xl/workbook.xml")), u"sheet", u"id", [&](const QXmlStreamAttributes& attributes) {
        return sheet.isEmpty() || attributes.value(QLatin1String("name")) == sheet;
    });
    const QString target = FirstAttribute(archive.Read(QStringLiteral("xl/_rels/workbook.xml.rels")), u"Relationship", u"Target",
                                          [&](const QXmlStreamAttributes& attributes) {
                                              return attributes.value(QLatin1String("Id")) == id;
                                          });
    return target.startsWith(QLatin1Char('/')) ? target.mid(1) : QStringLiteral("xl/") + target;
}

// The cells of an .xlsx workbook's sheet, as it shows them.
CellTexts XlsxTexts(const ZipArchive& archive, const QString& sheet, CellTexts& formats)
{
    return XlsxCellTexts({archive.Read(QStringLiteral("xl/workbook.xml")), archive.Read(QStringLiteral("xl/sharedStrings.xml")),
                          archive.Read(QStringLiteral("xl/styles.xml")), archive.Read(SheetPart(archive, sheet))},
                         &formats);
}

bool HoldsText(const std::map<int, QString>& row)
{
    return std::any_of(row.begin(), row.end(), [](const auto& cell) { return !cell.second.trimmed().isEmpty(); });
}

// The records of a sheet, from its first row that holds text, which names the columns, to
// its last row that holds text in one of those named columns, each with the values of the
// named columns alone: a column without a name is not part of the list, however far right.
// The rows between that hold nothing are given as records without values, one at a time,
// so that a sheet whose last cell lies far down holds no more in memory than its cells.
RecordSource Records(CellTexts texts, CellTexts formats)
{
    auto first = texts.begin();
    while (first != texts.end() && !HoldsText(first->second))
        ++first;
    if (first == texts.end())
        return [] { return std::optional<CsvRecord>(); };
    std::vector<int> named;
    for (const auto& [column, text] : first->second) {
        if (!text.trimmed().isEmpty())
            named.push_back(column);
    }
    const auto inList = [named](const std::map<int, QString>& row) {
        return std::any_of(named.begin(), named.end(), [&row](int column) {
            const auto cell = row.find(column);
            return cell != row.end() && !cell->second.trimmed().isEmpty();
        });
    };
    auto last = std::prev(texts.end());
    while (last != first && !inList(last->second))
        --last;
    const int lastRow = last->first;
    auto cells = std::make_shared<CellTexts>(std::move(texts));
    auto codes = std::make_shared<CellTexts>(std::move(formats));
    auto next = std::make_shared<int>(first->first);
    return [cells, codes, next, named, inList, lastRow]() -> std::optional<CsvRecord> {
        if (*next > lastRow)
            return std::nullopt;
        const int row = (*next)++;
        CsvRecord record;
        record.line = record.row = row + 1;
        const auto found = cells->find(row);
        if (found == cells->end() || !inList(found->second))
            return record;
        const auto rowCodes = codes->find(row);
        for (const int column : named) {
            const auto cell = found->second.find(column);
            record.values << (cell != found->second.end() ? std::move(cell->second) : QString());
            if (rowCodes != codes->end()) {
                const auto code = rowCodes->second.find(column);
                record.formats << (code != rowCodes->second.end() ? code->second : QString());
            }
        }
        if (rowCodes != codes->end()) {
            codes->erase(rowCodes);
            while (record.formats.size() < record.values.size())
                record.formats << QString();
        }
        cells->erase(found);
        return record;
    };
}
}

ListFormat FormatOfList(const QByteArray& bytes)
{
    if (bytes.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
        return ListFormat::BinaryXls;
    const bool zip = bytes.startsWith("PK\x03\x04");
    const bool xml = bytes.left(256).contains("<?xml");
    if (!zip && !xml)
        return ListFormat::Text;
    switch (orcus::detect(reinterpret_cast<const unsigned char*>(bytes.constData()), static_cast<std::size_t>(bytes.size()))) {
    case orcus::format_t::xlsx: return ListFormat::Xlsx;
    case orcus::format_t::ods: return ListFormat::Ods;
    case orcus::format_t::xls_xml: return ListFormat::ExcelXml;
    default: return zip ? ListFormat::OtherArchive : ListFormat::Text;
    }
}

// A workbook is read only while it unpacks within MaxSpreadsheetBytes.
void CheckUnpacked(const ZipArchive& archive)
{
    const quint64 unpacked = archive.UnpackedBytes();
    if (unpacked > static_cast<quint64>(MaxSpreadsheetBytes))
        throw AppError(QStringLiteral("The spreadsheet unpacks to %1 MB, more than a list takes (%2 MB); "
                                      "save the list as CSV, or split it.")
                           .arg(unpacked / (1024 * 1024))
                           .arg(static_cast<quint64>(MaxSpreadsheetBytes) / (1024 * 1024)));
}

QStringList SheetNames(const QByteArray& bytes, ListFormat format)
{
    const ZipArchive archive(bytes, QStringLiteral("spreadsheet"));
    CheckUnpacked(archive);
    return format == ListFormat::Xlsx ? XlsxSheetNames(archive) : OdsSheetNames(archive.Read(QStringLiteral("content.xml")));
}

RecordSource ReadSpreadsheet(const QByteArray& bytes, ListFormat format, const QString& sheet)
{
    const ZipArchive archive(bytes, QStringLiteral("spreadsheet"));
    CheckUnpacked(archive);
    if (!sheet.isEmpty()) {
        const QStringList names = format == ListFormat::Xlsx ? XlsxSheetNames(archive) : OdsSheetNames(archive.Read(QStringLiteral("content.xml")));
        if (!names.contains(sheet))
            throw AppError(QStringLiteral("The spreadsheet has no sheet \"%1\"; its sheets are %2.")
                               .arg(sheet, QLatin1Char('"') + names.join(QStringLiteral("\", \"")) + QLatin1Char('"')));
    }
    CellTexts formats;
    CellTexts texts = format == ListFormat::Xlsx ? XlsxTexts(archive, sheet, formats)
                                                 : OdsCellTexts(archive.Read(QStringLiteral("content.xml")), sheet, &formats,
                                                                archive.Read(QStringLiteral("styles.xml")));
    return Records(std::move(texts), std::move(formats));
}
