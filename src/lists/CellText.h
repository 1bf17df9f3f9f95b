#pragma once

#include <QDate>
#include <QLocale>
#include <QString>

#include <optional>

// The text a spreadsheet shows for a number in a cell whose number format has the code
// formatCode, as a spreadsheet writes it in its files ("General", "0.00", "#,##0",
// "00000", "m/d/yyyy", "d mmmm yyyy h:mm AM/PM", "0%", "\"$\"#,##0.00"). Dates are days
// since origin. What the code does not say is shown as "General" shows it: 62701, 0.1.
// Numbers, month and day names and the "/" of dates are written as the locale the code
// names writes them ("[$-407]", "[$\u20AC-407]", "[$-de-DE]": German, "1.234,50"), else as
// the system's locale does, as a spreadsheet program shows them. Throws AppError, saying
// why, when the code names a locale that is not known here.
QString ShownNumber(double value, const QString& formatCode, QDate origin);

// The literal text at code[at] of a number format code, as a spreadsheet or the office shows
// it: a quoted text as it stands, the character after a backslash, a space for "_" and the
// character after it, nothing for "*" and the character after it; at moves past it. Nothing,
// with at unchanged, when code[at] begins none of them.
std::optional<QString> FormatCodeLiteral(const QString& code, qsizetype& at);

// The code of a built-in number format of an .xlsx file by its id; "General" for 0 and
// for ids without one. Id 14, the short date, follows the system's short date, with the
// year in four digits.
QString BuiltinNumberFormat(int id);

// A number as "General" shows it: no needless zeros or exponent ("62701", "0.1", "1E+20"),
// with the decimal point of locale.
QString GeneralNumber(double value, const QLocale& locale = QLocale::system());
