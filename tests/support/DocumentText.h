#pragma once

#include <QByteArray>
#include <QString>

// Reads the text of saved documents with independent readers (antiword and catdoc for Word
// 97-2003, unzip for the parts of .docx and .odt files, odt2txt, pdftotext, pdfimages and pdfinfo),
// for tests that check what a letter holds without the office that wrote it.

// The bytes of the file at path; empty when it cannot be read.
QByteArray FileBytes(const QString& path);

// The text as antiword prints it without line wrapping and in UTF-8; a message starting
// with "<antiword failed" when antiword cannot read the file.
QString AntiwordText(const QString& path);

// The text as catdoc prints it in UTF-8; a message starting with "<catdoc failed" when
// catdoc cannot read the file.
QString CatdocText(const QString& path);

// The XML of a member of a zip archive (a .docx or .odt file) as unzip -p gives it, and
// the same without its markup; a message starting with "<unzip failed" when unzip fails.
QString ZipMemberXml(const QString& path, const QString& member);
QString ZipMemberText(const QString& path, const QString& member);

// The text of an OpenDocument text as odt2txt prints it, lines unwrapped.
QString Odt2txtText(const QString& path);

// The text of every page of a PDF as pdftotext prints it, and its number of pages as
// pdfinfo tells it (-1 when it cannot).
QString PdftotextText(const QString& path, bool layout = false);
int PdfinfoPages(const QString& path);
// How many pictures a PDF shows, as pdfimages lists them (-1 when it cannot).
int PdfimagesCount(const QString& path);
// The links of a PDF's pages, one line each, as pdfinfo lists them.
QString PdfinfoLinks(const QString& path);

// Both readers write a character outside the Basic Multilingual Plane (an emoji) as its two
// UTF-16 halves, each encoded like a character of its own (CESU-8); this decodes such
// output and plain UTF-8 alike.
QString DecodeReaderOutput(const QByteArray& bytes);
