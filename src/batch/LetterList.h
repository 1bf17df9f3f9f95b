#pragma once

#include "CsvReader.h"
#include "Fields.h"

#include <QString>

#include <array>
#include <vector>

class SettingsStore;

// The texts of the fourteen fields for one letter, by field index.
using FieldTexts = std::array<QString, FieldCount>;

// One data line of a list: the letter it asks for, or why it cannot be made.
struct LetterLine {
    // The line of the list on which the data line begins.
    int line = 0;
    FieldTexts fields;
    // Empty when the letter can be made.
    QString problem;
};

// The field a column of a list fills: its name is the field's tag without the brackets,
// in any letter case ("CompanyName" fills "[CompanyName]"); -1 for any other name. The
// date field has no column.
int FieldOfColumn(const QString& name);

// The letters a list asks for. The first record names the columns; every later record is
// one letter. A field without a column takes the value saved in settings by the data-entry
// window; the date field takes date. A line whose number of values differs from the number
// of columns, or that holds a value longer than a letter takes, is kept with its problem.
// Throws AppError when the list has no column line, or a column that is unknown, unnamed
// or named twice.
std::vector<LetterLine> ReadLetterList(const std::vector<CsvRecord>& records, SettingsStore& settings,
                                       const QString& date);

// The file name (without extension) of a line's letter: the line number, with leading
// zeros to digits places, a hyphen and the recipient's company, or name when the company
// is empty, or the line number alone when both are. Characters that are unsafe in a file
// name (path separators, control characters, characters Windows refuses) become "_";
// runs of white space become one space; dots and spaces at the end go; the name is cut to
// a length every file system takes.
QString LetterFileStem(const LetterLine& letter, int digits);
