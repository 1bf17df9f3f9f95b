#pragma once

#include "OdsContent.h"

#include <QByteArray>

// The parts of an .xlsx workbook that a sheet's cells are read from, unpacked.
struct XlsxParts {
    // xl/workbook.xml: whether dates count from 1900 or 1904.
    QByteArray workbook;
    // xl/sharedStrings.xml; empty when the workbook has none.
    QByteArray sharedStrings;
    // xl/styles.xml: the number format of each cell format.
    QByteArray styles;
    // The sheet's part.
    QByteArray sheet;
};

// The cells of the sheet, each as the spreadsheet shows it: shared strings, text kept in
// the cell itself (inline strings, as streaming exporters write them), a formula's last
// result, TRUE/FALSE, and every number and date in its cell's number format and the locale
// that format names (see ShownNumber). A cell without a value shows nothing, however it is
// formatted. Throws AppError, naming the cell, when a part is not well formed or a value
// cannot be shown as the spreadsheet shows it. With formats, the number format code of each
// number cell (not of a date's) goes there, by row and column as well.
CellTexts XlsxCellTexts(const XlsxParts& parts, CellTexts* formats = nullptr);
