#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <climits>
#include <functional>

class QPainter;

// The pages of a saved document rendered without the application's own code: a headless
// LibreOffice of its own (a throw-away profile) converts the document to PDF, and Poppler
// renders the pages at 96 dots per inch, one below the other on white. Tests compare what
// the preview shows with it, so that a blank, stale or foreign page is caught.

// Converts document into a PDF in folder, which also takes the office's profile and
// temporary files; returns the PDF's path, or a message starting with "<conversion failed"
// when the office could not convert it.
QString ConvertToPdf(const QString& document, const QString& folder);

// The first pageLimit pages of document as described above; a null picture when they cannot
// be had. pageCount, when given, takes the number of pages the document has.
QImage ReferencePages(const QString& document, int pageLimit = INT_MAX, int* pageCount = nullptr);

// The first pageLimit pages of a PDF document rendered by Poppler at dotsPerInch, one below
// the other on white; a null picture when they cannot be had.
QImage RenderPdf(const QByteArray& pdf, double dotsPerInch, int pageLimit = INT_MAX, int* pageCount = nullptr);

// Empty when shown is the rendering of the first pageLimit pages of document (the same
// size, and at most a tenth of a percent of the reference's printed pixels differing); else
// what differs. pageCount, when given, takes the number of pages the document has.
QString DifferenceFromDocument(const QImage& shown, const QString& document, int pageLimit = INT_MAX,
                               int* pageCount = nullptr);

// count US Letter pages as a PDF document, as the office exports a letter; paint draws page
// (from 0) in points, 612 x 792 of them to a page.
QByteArray LetterPdf(int count, const std::function<void(QPainter& painter, int page)>& paint);
