#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>

// The texts of a sheet's cells by row and column, counting from 0; cells without text are left out.
using CellTexts = std::map<int, std::map<int, QString>>;

// The most rows and columns a sheet has.
inline constexpr int MaxSheetRows = 1048576;
inline constexpr int MaxSheetColumns = 16384;

// The cells of a table of an OpenDocument spreadsheet's content.xml (the one named sheet, or
// the first when sheet is empty; none when there is no such table), each as the text it
// shows (its paragraphs, one line each; a comment on the cell is not its text), or, for a
// value cell saved without one, its value as "General" shows it. With formats, each number
// cell's number format goes there as a spreadsheet's format code of its grouping and
// decimals ("#,##0.00", "General"), its style taken from the content or from commonStyles,
// styles.xml. Throws AppError when the XML is not well formed or the table is larger than a
// sheet can be.
CellTexts OdsCellTexts(const QByteArray& content, const QString& sheet = QString(), CellTexts* formats = nullptr,
                       const QByteArray& commonStyles = QByteArray());

// The names of the tables of content.xml, in order.
QStringList OdsSheetNames(const QByteArray& content);
