#include "SpreadsheetFiles.h"

#include <QtEndian>

#include <map>
#include <zlib.h>

namespace {

void Put16(QByteArray& bytes, quint16 value)
{
    char le[2];
    qToLittleEndian(value, le);
    bytes.append(le, 2);
}

void Put32(QByteArray& bytes, quint32 value)
{
    char le[4];
    qToLittleEndian(value, le);
    bytes.append(le, 4);
}

QByteArray RawDeflate(const QByteArray& data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<qsizetype>(deflateBound(&stream, static_cast<uLong>(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(static_cast<qsizetype>(stream.total_out));
    deflateEnd(&stream);
    return out;
}

QString Escaped(const QString& text)
{
    return text.toHtmlEscaped();
}

QString ColumnName(qsizetype column)
{
    QString name;
    for (qsizetype n = column + 1; n > 0; n = (n - 1) / 26)
        name.prepend(QChar(u'A' + static_cast<char16_t>((n - 1) % 26)));
    return name;
}

constexpr char XlsxMain[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr char Relationships[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";


// The sheet's cells; shared strings and number formats are collected on the way.
QString XlsxSheet(const SheetRows& rows, QStringList& strings, std::map<QString, int>& styles)
{
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<worksheet xmlns=\"%1\"><sheetData>")
                      .arg(QLatin1String(XlsxMain));
    for (qsizetype r = 0; r < rows.size(); ++r) {
        if (rows[r].isEmpty())
            continue;
        xml += QStringLiteral("<row r=\"%1\">").arg(r + 1);
        for (qsizetype c = 0; c < rows[r].size(); ++c) {
            const SheetCell& cell = rows[r][c];
            const QString ref = ColumnName(c) + QString::number(r + 1);
            if (cell.kind == SheetCell::Kind::Text) {
                strings << cell.text;
                xml += QStringLiteral("<c r=\"%1\" t=\"s\"><v>%2</v></c>").arg(ref).arg(strings.size() - 1);
                continue;
            }
            if (cell.kind == SheetCell::Kind::Empty)
                continue;
            const int xf = cell.formatCode.isEmpty()
                               ? 0
                               : styles.emplace(cell.formatCode, static_cast<int>(styles.size()) + 1).first->second;
            const QString formula = cell.kind == SheetCell::Kind::Formula ? QStringLiteral("<f>%1</f>").arg(Escaped(cell.text)) : QString();
            xml += QStringLiteral("<c r=\"%1\"%2>%3<v>%4</v></c>")
                       .arg(ref, xf ? QStringLiteral(" s=\"%1\"").arg(xf) : QString(), formula, QString::number(cell.number, 'g', 17));
        }
        xml += QStringLiteral("</row>");
    }
    return xml + QStringLiteral("</sheetData></worksheet>");
}

QString XlsxStyles(const std::map<QString, int>& styles)
{
    QString formats;
    QString cellFormats = QStringLiteral("<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>");
    std::map<int, QString> byIndex;
    for (const auto& [style, index] : styles)
        byIndex[index] = style;
    int custom = 164;
    for (const auto& [index, style] : byIndex) {
        const int id = custom++;
        formats += QStringLiteral("<numFmt numFmtId=\"%1\" formatCode=\"%2\"/>").arg(id).arg(Escaped(style));
        cellFormats += QStringLiteral("<xf numFmtId=\"%1\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>").arg(id);
    }
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<styleSheet xmlns=\"%1\">"
                          "<numFmts count=\"%2\">%3</numFmts><fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
                          "<fills count=\"1\"><fill><patternFill patternType=\"none\"/></fill></fills><borders count=\"1\"><border/></borders>"
                          "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
                          "<cellXfs count=\"%4\">%5</cellXfs></styleSheet>")
        .arg(QLatin1String(XlsxMain))
        .arg(custom - 164)
        .arg(formats)
        .arg(byIndex.size() + 1)
        .arg(cellFormats);
}

QString SharedStrings(const QStringList& strings)
{
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<sst xmlns=\"%1\" count=\"%2\" uniqueCount=\"%2\">")
                      .arg(QLatin1String(XlsxMain))
                      .arg(strings.size());
    for (const QString& text : strings)
        xml += QStringLiteral("<si><t xml:space=\"preserve\">%1</t></si>").arg(Escaped(text));
    return xml + QStringLiteral("</sst>");
}

QString OdsCell(const SheetCell& cell)
{
    const QString shown = QStringLiteral("<text:p>%1</text:p>");
    switch (cell.kind) {
    case SheetCell::Kind::Empty: return QStringLiteral("<table:table-cell/>");
    case SheetCell::Kind::Text:
        return QStringLiteral("<table:table-cell office:value-type=\"string\">") + shown.arg(Escaped(cell.text)) +
               QStringLiteral("</table:table-cell>");
    case SheetCell::Kind::Formula:
    case SheetCell::Kind::Number: break;
    }
    const QString formula = cell.kind == SheetCell::Kind::Formula ? QStringLiteral(" table:formula=\"of:=%1\"").arg(Escaped(cell.text)) : QString();
    if (cell.date.isValid())
        return QStringLiteral("<table:table-cell office:value-type=\"date\" office:date-value=\"%1\">").arg(cell.date.toString(Qt::ISODate)) +
               shown.arg(Escaped(cell.shown)) + QStringLiteral("</table:table-cell>");
    const QString text = cell.shown.isEmpty() ? QString::number(cell.number, 'g', 17) : cell.shown;
    const QString comment = cell.comment.isEmpty() ? QString()
                                                   : QStringLiteral("<office:annotation><dc:creator>Ann</dc:creator>") +
                                                         shown.arg(Escaped(cell.comment)) + QStringLiteral("</office:annotation>");
    return QStringLiteral("<table:table-cell%1 office:value-type=\"float\" office:value=\"%2\">").arg(formula, QString::number(cell.number, 'g', 17)) +
           comment + shown.arg(Escaped(text)) + QStringLiteral("</table:table-cell>");
}
}

SheetCell TextCell(const QString& text)
{
    SheetCell cell;
    cell.kind = SheetCell::Kind::Text;
    cell.text = text;
    return cell;
}

SheetCell NumberCell(double number, const QString& formatCode, const QString& shown)
{
    SheetCell cell;
    cell.kind = SheetCell::Kind::Number;
    cell.number = number;
    cell.formatCode = formatCode;
    cell.shown = shown;
    return cell;
}

SheetCell DateCell(QDate date, const QString& formatCode, const QString& shown)
{
    SheetCell cell = NumberCell(static_cast<double>(QDate(1899, 12, 30).daysTo(date)), formatCode, shown);
    cell.date = date;
    return cell;
}

SheetCell FormulaCell(const QString& formula, double number)
{
    SheetCell cell = NumberCell(number);
    cell.kind = SheetCell::Kind::Formula;
    cell.text = formula;
    return cell;
}

QByteArray ZipFile(const QList<std::pair<QString, QByteArray>>& entries, bool deflated)
{
    QByteArray archive;
    QByteArray directory;
    for (const auto& [name, data] : entries) {
        const QByteArray packed = deflated ? RawDeflate(data) : data;
        const auto crc = static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), static_cast<uInt>(data.size())));
        const QByteArray fileName = name.toUtf8();
        const auto offset = static_cast<quint32>(archive.size());
        for (QByteArray* header : {&archive, &directory}) {
            const bool central = header == &directory;
            Put32(*header, central ? 0x02014b50 : 0x04034b50);
            if (central)
                Put16(*header, 20);
            for (const quint16 value : {quint16(20), quint16(0), quint16(deflated ? 8 : 0), quint16(0), quint16(0x5A21)})
                Put16(*header, value);
            for (const quint32 value : {crc, static_cast<quint32>(packed.size()), static_cast<quint32>(data.size())})
                Put32(*header, value);
            Put16(*header, static_cast<quint16>(fileName.size()));
            Put16(*header, 0);
            if (central) {
                for (int i = 0; i < 3; ++i)
                    Put16(*header, 0);
                Put32(*header, 0);
                Put32(*header, offset);
            }
            header->append(fileName);
        }
        archive.append(packed);
    }
    const auto directoryAt = static_cast<quint32>(archive.size());
    archive.append(directory);
    Put32(archive, 0x06054b50);
    for (const quint16 value : {quint16(0), quint16(0), static_cast<quint16>(entries.size()), static_cast<quint16>(entries.size())})
        Put16(archive, value);
    Put32(archive, static_cast<quint32>(directory.size()));
    Put32(archive, directoryAt);
    Put16(archive, 0);
    return archive;
}

QByteArray XlsxFile(const SheetRows& rows)
{
    QStringList strings;
    std::map<QString, int> styles;
    const QString sheet = XlsxSheet(rows, strings, styles);
    const QString second = XlsxSheet({{TextCell(QStringLiteral("not the list"))}}, strings, styles);
    const QString header = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n");
    const QString rel = QStringLiteral("<Relationship Id=\"%1\" Type=\"%2/%3\" Target=\"%4\"/>");
    const QString types = QStringLiteral("<Override PartName=\"/xl/%1\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.%2+xml\"/>");
    return ZipFile({
        {QStringLiteral("[Content_Types].xml"),
         (header + QStringLiteral("<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                                  "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                                  "<Default Extension=\"xml\" ContentType=\"application/xml\"/>") +
          types.arg(QStringLiteral("workbook.xml"), QStringLiteral("sheet.main")) +
          types.arg(QStringLiteral("worksheets/sheet1.xml"), QStringLiteral("worksheet")) +
          types.arg(QStringLiteral("worksheets/sheet2.xml"), QStringLiteral("worksheet")) +
          types.arg(QStringLiteral("styles.xml"), QStringLiteral("styles")) +
          types.arg(QStringLiteral("sharedStrings.xml"), QStringLiteral("sharedStrings")) + QStringLiteral("</Types>"))
             .toUtf8()},
        {QStringLiteral("_rels/.rels"),
         (header + QStringLiteral("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">") +
          rel.arg(QStringLiteral("rId1"), QLatin1String(Relationships), QStringLiteral("officeDocument"), QStringLiteral("xl/workbook.xml")) +
          QStringLiteral("</Relationships>"))
             .toUtf8()},
        {QStringLiteral("xl/workbook.xml"),
         (header + QStringLiteral("<workbook xmlns=\"%1\" xmlns:r=\"%2\"><sheets><sheet name=\"Prospects\" sheetId=\"1\" r:id=\"rId1\"/>"
                                  "<sheet name=\"Notes\" sheetId=\"2\" r:id=\"rId2\"/></sheets></workbook>")
                      .arg(QLatin1String(XlsxMain), QLatin1String(Relationships)))
             .toUtf8()},
        {QStringLiteral("xl/_rels/workbook.xml.rels"),
         (header + QStringLiteral("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">") +
          rel.arg(QStringLiteral("rId1"), QLatin1String(Relationships), QStringLiteral("worksheet"), QStringLiteral("worksheets/sheet1.xml")) +
          rel.arg(QStringLiteral("rId2"), QLatin1String(Relationships), QStringLiteral("worksheet"), QStringLiteral("worksheets/sheet2.xml")) +
          rel.arg(QStringLiteral("rId3"), QLatin1String(Relationships), QStringLiteral("styles"), QStringLiteral("styles.xml")) +
          rel.arg(QStringLiteral("rId4"), QLatin1String(Relationships), QStringLiteral("sharedStrings"), QStringLiteral("sharedStrings.xml")) +
          QStringLiteral("</Relationships>"))
             .toUtf8()},
        {QStringLiteral("xl/styles.xml"), XlsxStyles(styles).toUtf8()},
        {QStringLiteral("xl/sharedStrings.xml"), SharedStrings(strings).toUtf8()},
        {QStringLiteral("xl/worksheets/sheet1.xml"), sheet.toUtf8()},
        {QStringLiteral("xl/worksheets/sheet2.xml"), second.toUtf8()},
    });
}

QByteArray OdsFile(const SheetRows& rows, bool deflated)
{
    QString tables;
    for (const SheetRows& table : {rows, SheetRows{{TextCell(QStringLiteral("not the list"))}}}) {
        tables += QStringLiteral("<table:table table:name=\"%1\">").arg(tables.isEmpty() ? QStringLiteral("Prospects") : QStringLiteral("Notes"));
        for (const QList<SheetCell>& row : table) {
            tables += QStringLiteral("<table:table-row>");
            for (const SheetCell& cell : row)
                tables += OdsCell(cell);
            if (row.isEmpty())
                tables += QStringLiteral("<table:table-cell table:number-columns-repeated=\"4\"/>");
            tables += QStringLiteral("</table:table-row>");
        }
        tables += QStringLiteral("</table:table>");
    }
    const QString content =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content "
                       "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                       "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
                       "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
                       "xmlns:of=\"urn:oasis:names:tc:opendocument:xmlns:of:1.2\" "
                       "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" office:version=\"1.2\">"
                       "<office:body><office:spreadsheet>%1</office:spreadsheet></office:body></office:document-content>")
            .arg(tables);
    const QByteArray manifest =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" "
        "manifest:version=\"1.2\"><manifest:file-entry manifest:full-path=\"/\" "
        "manifest:media-type=\"application/vnd.oasis.opendocument.spreadsheet\"/><manifest:file-entry "
        "manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/></manifest:manifest>";
    return ZipFile({{QStringLiteral("mimetype"), "application/vnd.oasis.opendocument.spreadsheet"},
                    {QStringLiteral("content.xml"), content.toUtf8()},
                    {QStringLiteral("META-INF/manifest.xml"), manifest}},
                   deflated);
}
