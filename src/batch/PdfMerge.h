#pragma once

#include <QString>

#include <vector>

// Writes one PDF at output that holds every page of the PDFs at inputs, in that order, with
// libqpdf: the pages are copied as they are (nothing is drawn again), and the files are read
// one at a time, so that any number of them can be merged. Throws AppError naming the file
// that cannot be read or written, with the library's reason.
void MergePdfFiles(const std::vector<QString>& inputs, const QString& output);
