#pragma once

#include <QImage>
#include <QString>

// Renders the first pages of a PDF file, at most pageLimit of them, at 96 dots per inch (15
// twips per pixel) into one picture: the pages one below the other, each as tall as it is,
// on white, as wide as the widest page. The picture's text countKey holds the number of
// pages of the whole file. Throws AppError when the file cannot be read or the picture
// would be too large to hold.
QImage RenderPdfPages(const QString& pdfPath, int pageLimit, const QString& countKey);

// The bytes of the PDF file at pdfPath; throws AppError when it cannot be read.
QByteArray ReadPdf(const QString& pdfPath);
