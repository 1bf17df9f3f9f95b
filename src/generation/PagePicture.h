#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <memory>

namespace Poppler {
class Document;
}

// The most pages a picture of a document shows: a letter of any length the fields allow
// (some 650 pages) would otherwise take gigabytes of memory, once for every copy of its
// picture.
inline constexpr int PicturePageLimit = 30;
// The text of a picture that holds the number of pages of the whole document.
inline constexpr char PicturePageCountKey[] = "PageCount";

// A PDF document read for drawing its pages smooth (antialiased shapes and text); nullptr
// when it cannot be read or is locked.
std::unique_ptr<Poppler::Document> ReadPdfForRendering(const QByteArray& pdf);

// Renders the first pages of a PDF document, at most pageLimit of them, at 96 dots per inch
// (15 twips per pixel) into one picture: the pages one below the other, each as tall as it
// is, on white, as wide as the widest page. The picture's text countKey holds the number of
// pages of the whole document. Throws AppError when the document cannot be read, has no
// page, or the picture would be too large to hold.
QImage RenderPdfPages(const QByteArray& pdf, int pageLimit, const QString& countKey);
