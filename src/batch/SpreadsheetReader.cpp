#include "SpreadsheetReader.h"

#include "AppError.h"
#include "CellText.h"
#include "OdsContent.h"

#include <QDateTime>
#include <QXmlStreamReader>
#include <QtEndian>

#include <orcus/format_detection.hpp>
#include <orcus/orcus_xlsx.hpp>
#include <orcus/spreadsheet/import_interface.hpp>
#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace ss = orcus::spreadsheet;
namespace iface = orcus::spreadsheet::iface;

namespace {

QString Text(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// One cell as the file gives it; its text is known once the number formats are read.
struct Cell {
    std::optional<QString> text;
    double number = 0;
    std::size_t format = 0;
};

using Grid = std::map<int, std::map<int, Cell>>;

// The texts of the file's shared strings.
class Strings : public iface::import_shared_strings {
public:
    const QString& At(std::size_t index) const
    {
        static const QString none;
        return index < mTexts.size() ? mTexts[index] : none;
    }

    std::size_t append(std::string_view s) override { return Add(Text(s)); }
    std::size_t add(std::string_view s) override { return Add(Text(s)); }
    void set_segment_font(std::size_t) override {}
    void set_segment_bold(bool) override {}
    void set_segment_italic(bool) override {}
    void set_segment_font_name(std::string_view) override {}
    void set_segment_font_size(double) override {}
    void set_segment_font_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t) override {}
    void append_segment(std::string_view s) override { mSegments += Text(s); }
    std::size_t commit_segments() override
    {
        const std::size_t index = Add(mSegments);
        mSegments.clear();
        return index;
    }

private:
    std::size_t Add(const QString& text)
    {
        mTexts.push_back(text);
        return mTexts.size() - 1;
    }

    std::vector<QString> mTexts;
    QString mSegments;
};

// The number formats of the cell formats; everything else a style holds is of no use here.
class Styles : public iface::import_styles {
public:
    QString CodeOf(std::size_t cellFormat) const
    {
        if (cellFormat >= mCellFormats.size())
            return QStringLiteral("General");
        const std::size_t id = mCellFormats[cellFormat];
        const auto custom = mCodes.find(id);
        return custom != mCodes.end() ? custom->second : BuiltinNumberFormat(static_cast<int>(id));
    }

    void set_number_format_count(std::size_t) override {}
    void set_number_format_identifier(std::size_t id) override { mId = id; }
    void set_number_format_code(std::string_view s) override { mCode = Text(s); }
    std::size_t commit_number_format() override
    {
        if (mId)
            mCodes[*mId] = mCode;
        mId.reset();
        mCode.clear();
        return mCodes.size();
    }
    void set_xf_number_format(std::size_t index) override { mXfFormat = index; }
    std::size_t commit_cell_xf() override
    {
        mCellFormats.push_back(mXfFormat);
        mXfFormat = 0;
        return mCellFormats.size() - 1;
    }

    void set_font_count(std::size_t) override {}
    void set_font_bold(bool) override {}
    void set_font_italic(bool) override {}
    void set_font_name(std::string_view) override {}
    void set_font_size(double) override {}
    void set_font_underline(ss::underline_t) override {}
    void set_font_underline_width(ss::underline_width_t) override {}
    void set_font_underline_mode(ss::underline_mode_t) override {}
    void set_font_underline_type(ss::underline_type_t) override {}
    void set_font_underline_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t) override {}
    void set_font_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t) override {}
    void set_strikethrough_style(ss::strikethrough_style_t) override {}
    void set_strikethrough_type(ss::strikethrough_type_t) override {}
    void set_strikethrough_width(ss::strikethrough_width_t) override {}
    void set_strikethrough_text(ss::strikethrough_text_t) override {}
    std::size_t commit_font() override { return 0; }
    void set_fill_count(std::size_t) override {}
    void set_fill_pattern_type(ss::fill_pattern_t) override {}
    void set_fill_fg_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t) override {}
    void set_fill_bg_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t) override {}
    std::size_t commit_fill() override { return 0; }
    void set_border_count(std::size_t) override {}
    void set_border_style(ss::border_direction_t, ss::border_style_t) override {}
    void set_border_color(ss::border_direction_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t,
                          ss::color_elem_t) override {}
    void set_border_width(ss::border_direction_t, double, orcus::length_unit_t) override {}
    std::size_t commit_border() override { return 0; }
    void set_cell_hidden(bool) override {}
    void set_cell_locked(bool) override {}
    void set_cell_print_content(bool) override {}
    void set_cell_formula_hidden(bool) override {}
    std::size_t commit_cell_protection() override { return 0; }
    void set_cell_xf_count(std::size_t) override {}
    void set_cell_style_xf_count(std::size_t) override {}
    void set_dxf_count(std::size_t) override {}
    void set_xf_font(std::size_t) override {}
    void set_xf_fill(std::size_t) override {}
    void set_xf_border(std::size_t) override {}
    void set_xf_protection(std::size_t) override {}
    void set_xf_style_xf(std::size_t) override {}
    void set_xf_apply_alignment(bool) override {}
    void set_xf_horizontal_alignment(ss::hor_alignment_t) override {}
    void set_xf_vertical_alignment(ss::ver_alignment_t) override {}
    std::size_t commit_cell_style_xf() override { return 0; }
    std::size_t commit_dxf() override { return 0; }
    void set_cell_style_count(std::size_t) override {}
    void set_cell_style_name(std::string_view) override {}
    void set_cell_style_xf(std::size_t) override {}
    void set_cell_style_builtin(std::size_t) override {}
    void set_cell_style_parent_name(std::string_view) override {}
    std::size_t commit_cell_style() override { return 0; }

private:
    std::map<std::size_t, QString> mCodes;
    std::vector<std::size_t> mCellFormats;
    std::optional<std::size_t> mId;
    QString mCode;
    std::size_t mXfFormat = 0;
};

// The last result a formula cell was saved with.
class FormulaResults : public iface::import_formula {
public:
    explicit FormulaResults(Grid& grid) : mGrid(grid) {}

    void set_position(ss::row_t row, ss::col_t col) override
    {
        mRow = row;
        mCol = col;
    }
    void set_formula(ss::formula_grammar_t, std::string_view) override {}
    void set_shared_formula_index(std::size_t) override {}
    void set_result_string(std::string_view value) override { Cell().text = Text(value); }
    void set_result_value(double value) override
    {
        Cell().number = value;
        Cell().text.reset();
    }
    void set_result_bool(bool value) override { Cell().text = value ? QStringLiteral("TRUE") : QStringLiteral("FALSE"); }
    void set_result_empty() override { Cell().text = QString(); }
    void commit() override {}

private:
    struct Cell& Cell() { return mGrid[mRow][mCol]; }

    Grid& mGrid;
    int mRow = 0;
    int mCol = 0;
};

// The cells of a sheet; only the first sheet's are kept.
class Sheet : public iface::import_sheet {
public:
    Sheet(Grid* grid, Strings& strings) : mGrid(grid), mStrings(strings)
    {
        if (grid)
            mFormulas = std::make_unique<FormulaResults>(*grid);
    }

    iface::import_formula* get_formula() override { return mFormulas.get(); }
    void set_auto(ss::row_t row, ss::col_t col, std::string_view s) override { SetText(row, col, Text(s)); }
    void set_string(ss::row_t row, ss::col_t col, ss::string_id_t id) override
    {
        SetText(row, col, mStrings.At(id));
    }
    void set_value(ss::row_t row, ss::col_t col, double value) override
    {
        if (Cell* cell = At(row, col)) {
            cell->number = value;
            cell->text.reset();
        }
    }
    void set_bool(ss::row_t row, ss::col_t col, bool value) override
    {
        SetText(row, col, value ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
    }
    void set_date_time(ss::row_t row, ss::col_t col, int year, int month, int day, int hour, int minute,
                       double second) override
    {
        const QDateTime moment(QDate(year, month, day), QTime(hour, minute, static_cast<int>(second)));
        const QString code = hour || minute || second ? BuiltinNumberFormat(22) : BuiltinNumberFormat(14);
        const double serial = static_cast<double>(QDate(1899, 12, 30).daysTo(moment.date())) +
                              moment.time().msecsSinceStartOfDay() / 86400000.0;
        SetText(row, col, ShownNumber(serial, code, QDate(1899, 12, 30)));
    }
    void set_format(ss::row_t row, ss::col_t col, std::size_t xf) override
    {
        if (Cell* cell = At(row, col))
            cell->format = xf;
    }
    void set_format(ss::row_t, ss::col_t, ss::row_t, ss::col_t, std::size_t) override {}
    void fill_down_cells(ss::row_t, ss::col_t, ss::row_t) override {}
    ss::range_size_t get_sheet_size() const override { return {1048576, 16384}; }

private:
    Cell* At(ss::row_t row, ss::col_t col) { return mGrid ? &(*mGrid)[row][col] : nullptr; }

    void SetText(ss::row_t row, ss::col_t col, const QString& text)
    {
        if (Cell* cell = At(row, col))
            cell->text = text;
    }

    Grid* mGrid;
    Strings& mStrings;
    std::unique_ptr<FormulaResults> mFormulas;
};

class Origin : public iface::import_global_settings {
public:
    QDate date = QDate(1899, 12, 30);

    void set_origin_date(int year, int month, int day) override { date = QDate(year, month, day); }
    void set_default_formula_grammar(ss::formula_grammar_t) override {}
    ss::formula_grammar_t get_default_formula_grammar() const override { return ss::formula_grammar_t::xlsx; }
    void set_character_set(orcus::character_set_t) override {}
};

// Cell addresses in the A1 style, which .xlsx files use.
class A1Addresses : public iface::import_reference_resolver {
public:
    ss::src_address_t resolve_address(std::string_view address) override
    {
        ss::src_address_t result{};
        std::size_t at = 0;
        int column = 0;
        for (; at < address.size() && std::isalpha(static_cast<unsigned char>(address[at])); ++at)
            column = column * 26 + (std::toupper(static_cast<unsigned char>(address[at])) - 'A' + 1);
        int row = 0;
        for (; at < address.size() && std::isdigit(static_cast<unsigned char>(address[at])); ++at)
            row = row * 10 + (address[at] - '0');
        result.row = row - 1;
        result.column = column - 1;
        return result;
    }
    ss::src_range_t resolve_range(std::string_view range) override
    {
        const std::size_t colon = range.find(':');
        ss::src_range_t result{};
        result.first = resolve_address(range.substr(0, colon));
        result.last = colon == std::string_view::npos ? result.first : resolve_address(range.substr(colon + 1));
        return result;
    }
};

class Factory : public iface::import_factory {
public:
    Grid grid;
    Strings strings;
    Styles styles;
    Origin origin;

    iface::import_global_settings* get_global_settings() override { return &origin; }
    iface::import_shared_strings* get_shared_strings() override { return &strings; }
    iface::import_styles* get_styles() override { return &styles; }
    iface::import_reference_resolver* get_reference_resolver(ss::formula_ref_context_t) override { return &mAddresses; }
    iface::import_sheet* append_sheet(ss::sheet_t index, std::string_view name) override
    {
        mSheets.push_back(std::make_unique<Sheet>(index == 0 ? &grid : nullptr, strings));
        mNames.emplace_back(name);
        return mSheets.back().get();
    }
    iface::import_sheet* get_sheet(std::string_view name) override
    {
        for (std::size_t i = 0; i < mNames.size(); ++i) {
            if (mNames[i] == name)
                return mSheets[i].get();
        }
        return nullptr;
    }
    iface::import_sheet* get_sheet(ss::sheet_t index) override
    {
        return index >= 0 && static_cast<std::size_t>(index) < mSheets.size() ? mSheets[static_cast<std::size_t>(index)].get()
                                                                                : nullptr;
    }
    void finalize() override {}

private:
    A1Addresses mAddresses;
    std::vector<std::unique_ptr<Sheet>> mSheets;
    std::vector<std::string> mNames;
};

// The sizes a zip archive says its entries unpack to, added up; nothing when it is not
// a zip archive that can be read.
std::optional<quint64> UnpackedSize(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype end = bytes.lastIndexOf(QByteArrayView("PK\x05\x06", 4));
    if (end < 0 || end + 22 > bytes.size())
        return std::nullopt;
    const quint16 entries = qFromLittleEndian<quint16>(data + end + 10);
    qsizetype at = qFromLittleEndian<quint32>(data + end + 16);
    quint64 total = 0;
    for (int entry = 0; entry < entries; ++entry) {
        if (at < 0 || at + 46 > bytes.size() || qFromLittleEndian<quint32>(data + at) != 0x02014b50)
            return std::nullopt;
        total += qFromLittleEndian<quint32>(data + at + 24);
        at += 46 + qFromLittleEndian<quint16>(data + at + 28) + qFromLittleEndian<quint16>(data + at + 30) +
              qFromLittleEndian<quint16>(data + at + 32);
    }
    return total;
}

// Whether a worksheet holds cells that the .xlsx import filter leaves out: text kept in
// the cell itself (t="inlineStr", or t="str" with a value and no formula) or a date
// written as text (t="d"), as some programs write them.
bool HoldsSkippedCells(QByteArrayView sheet)
{
    if (sheet.contains(QByteArrayView("t=\"inlineStr\"")) || sheet.contains(QByteArrayView("t=\"d\"")))
        return true;
    for (qsizetype at = sheet.indexOf(QByteArrayView("t=\"str\"")); at >= 0;
         at = sheet.indexOf(QByteArrayView("t=\"str\""), at + 1)) {
        qsizetype next = sheet.indexOf('>', at);
        if (next < 0 || sheet.at(next - 1) == '/')
            continue;
        ++next;
        while (next < sheet.size() && QChar::isSpace(static_cast<uchar>(sheet.at(next))))
            ++next;
        if (sheet.sliced(next).startsWith(QByteArrayView("<v")))
            return true;
    }
    return false;
}

QByteArray Entry(const orcus::zip_archive& archive, std::string_view name)
{
    std::vector<unsigned char> part;
    if (!archive.read_file_entry(name, part))
        return QByteArray();
    QByteArray bytes(reinterpret_cast<const char*>(part.data()), static_cast<qsizetype>(part.size()));
    // liborcus ends a stored (not deflated) entry with a NUL, which no XML part holds.
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return bytes;
}

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

// The part that holds the workbook's first sheet, the one the list is read from.
std::string FirstSheetPart(const orcus::zip_archive& archive)
{
    const QString id = FirstAttribute(Entry(archive, "xl/workbook.xml"), u"sheet", u"id");
    const QString target = FirstAttribute(Entry(archive, "xl/_rels/workbook.xml.rels"), u"Relationship", u"Target",
                                          [&](const QXmlStreamAttributes& attributes) {
                                              return attributes.value(QLatin1String("Id")) == id;
                                          });
    return (target.startsWith(QLatin1Char('/')) ? target.mid(1) : QStringLiteral("xl/") + target).toStdString();
}

void CheckXlsxCells(const QByteArray& bytes)
{
    orcus::zip_archive_stream_blob stream(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                          static_cast<std::size_t>(bytes.size()));
    orcus::zip_archive archive(&stream);
    archive.load();
    if (HoldsSkippedCells(Entry(archive, FirstSheetPart(archive))))
        throw AppError(QStringLiteral("The spreadsheet holds cells written in a way it cannot be read in (text "
                                      "or dates kept in the cell itself); open it in a spreadsheet program and "
                                      "save it again as .xlsx, or save it as CSV."));
}

// The cells of an .xlsx workbook's first sheet, through liborcus's import filter, each
// number shown in its number format.
CellTexts XlsxCellTexts(const QByteArray& bytes)
{
    CheckXlsxCells(bytes);
    Factory factory;
    orcus::orcus_xlsx filter(&factory);
    filter.read_stream(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    CellTexts texts;
    for (const auto& [row, cells] : factory.grid) {
        for (const auto& [column, cell] : cells) {
            QString text = cell.text ? *cell.text
                                     : ShownNumber(cell.number, factory.styles.CodeOf(cell.format), factory.origin.date);
            if (!text.isEmpty())
                texts[row][column] = std::move(text);
        }
    }
    return texts;
}

// The cells of an .ods spreadsheet's first table, as it shows them: liborcus's zip reader
// unpacks it, and its cells are read with their shown text, which the import filter leaves out.
CellTexts OdsTexts(const QByteArray& bytes)
{
    orcus::zip_archive_stream_blob stream(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                          static_cast<std::size_t>(bytes.size()));
    orcus::zip_archive archive(&stream);
    archive.load();
    return OdsCellTexts(Entry(archive, "content.xml"));
}

bool HoldsText(const std::map<int, QString>& row)
{
    return std::any_of(row.begin(), row.end(), [](const auto& cell) { return !cell.second.trimmed().isEmpty(); });
}

std::vector<CsvRecord> Records(const CellTexts& texts)
{
    std::vector<CsvRecord> records;
    auto first = texts.begin();
    while (first != texts.end() && !HoldsText(first->second))
        ++first;
    auto last = texts.end();
    while (last != first && !HoldsText(std::prev(last)->second))
        --last;
    if (first == last)
        return records;
    int width = 0;
    for (auto row = first; row != last; ++row)
        width = std::max(width, row->second.rbegin()->first + 1);
    for (int row = first->first; row <= std::prev(last)->first; ++row) {
        CsvRecord record{row + 1, QStringList(width, QString()), QString()};
        if (const auto cells = texts.find(row); cells != texts.end()) {
            for (const auto& [column, text] : cells->second)
                record.values[column] = text;
        }
        records.push_back(std::move(record));
    }
    return records;
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

std::vector<CsvRecord> ReadSpreadsheet(const QByteArray& bytes, ListFormat format)
{
    const std::optional<quint64> unpacked = UnpackedSize(bytes);
    if (!unpacked)
        throw AppError(QStringLiteral("The spreadsheet cannot be read: its zip archive is damaged."));
    if (*unpacked > static_cast<quint64>(MaxSpreadsheetBytes))
        throw AppError(QStringLiteral("The spreadsheet unpacks to %1 MB, more than a list takes (%2 MB); "
                                      "save the list as CSV, or split it.")
                           .arg(*unpacked / (1024 * 1024))
                           .arg(static_cast<quint64>(MaxSpreadsheetBytes) / (1024 * 1024)));
    try {
        return Records(format == ListFormat::Xlsx ? XlsxCellTexts(bytes) : OdsTexts(bytes));
    } catch (const AppError&) {
        throw;
    } catch (const std::exception& error) {
        throw AppError(QStringLiteral("The spreadsheet cannot be read: %1.").arg(QString::fromUtf8(error.what())));
    }
}
