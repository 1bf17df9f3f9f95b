#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// Writes one PDF at output that holds every page of the PDFs at inputs, in that order, with
// libqpdf: the pages of the others are added to the first, which keeps what it says of
// itself (title, PDF/A metadata, structure), copied as they are (nothing is drawn again), and
// the files are read one at a time, so that any number of them can be merged. Throws
// AppError naming the file that cannot be read or written, with the library's reason.
void MergePdfFiles(const std::vector<QString>& inputs, const QString& output);

// The largest PDF taken to follow every letter, in bytes.
inline constexpr qint64 AppendedPdfLimit = 64 * 1024 * 1024;

// The bytes of the PDF at path, read once, for its pages to follow every letter's. Throws
// AppError naming path when it cannot be: a file that cannot be read (not the user's to read,
// a link, no regular file), is no PDF qpdf reads whole, is encrypted, or has no page; and,
// when the letters are PDF/A (archive), one with a font it does not hold, which no PDF/A may
// show.
QByteArray ReadAppendedPdf(const QString& path, bool archive);

// Where the PDF at path shows a font it does not hold, as "page 2 shows the font Helvetica";
// empty when it holds every font it shows. Throws AppError when it cannot be read.
QString FontNotHeldIn(const QString& path);
