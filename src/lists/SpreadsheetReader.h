#pragma once

#include "CsvReader.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// What a list file holds, told from its content. Excel 2003 XML workbooks and Excel 97-2003
// (.xls) ones are told apart only to be refused: liborcus reads no .xls, and reads the
// former without its number formats (a ZIP code would lose its leading zero).
enum class ListFormat { Text, Xlsx, Ods, ExcelXml, BinaryXls, OtherArchive };

ListFormat FormatOfList(const QByteArray& bytes);

// The largest spreadsheet taken, in bytes, as a file and unpacked: a spreadsheet is read
// whole, and this keeps reading it within a modest amount of memory. A text list has no
// such limit, being read as a stream.
inline constexpr qint64 MaxSpreadsheetBytes = 24 * 1024 * 1024;

// The rows of a sheet of a spreadsheet (Xlsx or Ods: the one named sheet, else its first),
// one at a time, from its first
// row that holds text, which names the columns, to its last that holds text in one of
// them: each cell as the spreadsheet shows it (a date cell as its date, a number in its
// number format and locale, a formula as its last result), each row with the values of the
// first row's named columns alone (a column without a name is not read), numbered as the
// sheet numbers them; a row that shows nothing in them has no values. Each record has the
// format codes of its number cells (CsvRecord::formats). Throws AppError when the file
// cannot be read, holds more than a list takes once unpacked, has no sheet of that name, or
// has a cell that cannot be shown as the spreadsheet shows it.
RecordSource ReadSpreadsheet(const QByteArray& bytes, ListFormat format, const QString& sheet = QString());

// The names of a spreadsheet's sheets, in order. Throws AppError as ReadSpreadsheet does.
QStringList SheetNames(const QByteArray& bytes, ListFormat format);
