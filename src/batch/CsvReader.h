#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// One record of a comma-separated list.
struct CsvRecord {
    // The line of the file on which the record begins, counting from 1.
    int line = 0;
    QStringList values;
    // Why the record cannot be read as it stands; empty when it can.
    QString problem;
};

// Splits comma-separated text into records: values are separated by commas, records by
// line breaks (LF, CR LF or CR); a value in double quotes may hold commas, line breaks and
// quotes written twice. A record that holds nothing at all (an empty line) is left out.
// A quote inside an unquoted value is taken as it is; text after the closing quote of a
// value, and a quote that is never closed, make the record a problem.
std::vector<CsvRecord> ParseCsv(const QString& text);

// The text of a list file: UTF-8, with or without a byte-order mark. Throws AppError
// naming the first line that is not UTF-8.
QString DecodeListText(const QByteArray& bytes);
