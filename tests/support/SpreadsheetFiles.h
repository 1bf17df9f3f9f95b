#pragma once

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

#include <utility>

// Spreadsheet files made by tests, written the way spreadsheet programs write them: an
// .xlsx as Excel does (shared strings, number formats in styles, numbers and date serials
// in the cells, a formula with its last result), an .ods as LibreOffice does (every cell
// with the text it shows). Each has a second sheet after the first.

struct SheetCell {
    enum class Kind { Empty, Text, Number, Formula };
    Kind kind = Kind::Empty;
    QString text;
    double number = 0;
    // The .xlsx number format's code; General when empty.
    QString formatCode;
    // What the cell shows, as an .ods file gives it; a date for an .ods date cell.
    QString shown;
    QDate date;
    // A comment on the cell, which an .ods file keeps inside the cell, before its text.
    QString comment;
};

SheetCell TextCell(const QString& text);
SheetCell NumberCell(double number, const QString& formatCode = QString(), const QString& shown = QString());
// A date: in an .xlsx its serial in the number format formatCode, in an .ods a date cell showing shown.
SheetCell DateCell(QDate date, const QString& formatCode, const QString& shown);
// A formula whose last result is number.
SheetCell FormulaCell(const QString& formula, double number);

using SheetRows = QList<QList<SheetCell>>;

QByteArray XlsxFile(const SheetRows& rows);
// deflated: its parts deflated, else stored as they are.
QByteArray OdsFile(const SheetRows& rows, bool deflated = true);

// A zip archive of the entries, each deflated, or stored as it is.
QByteArray ZipFile(const QList<std::pair<QString, QByteArray>>& entries, bool deflated = true);
