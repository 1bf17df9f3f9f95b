#pragma once

#include <QByteArray>
#include <QString>

// Reads the text of a saved Word 97-2003 document with the independent readers antiword
// and catdoc, for tests that check what a letter holds without the office that wrote it.

// The bytes of the file at path; empty when it cannot be read.
QByteArray FileBytes(const QString& path);

// The text as antiword prints it without line wrapping and in UTF-8; a message starting
// with "<antiword failed" when antiword cannot read the file.
QString AntiwordText(const QString& path);

// The text as catdoc prints it in UTF-8; a message starting with "<catdoc failed" when
// catdoc cannot read the file.
QString CatdocText(const QString& path);

// Both readers write a character outside the Basic Multilingual Plane (an emoji) as its two
// UTF-16 halves, each encoded like a character of its own (CESU-8); this decodes such
// output and plain UTF-8 alike.
QString DecodeReaderOutput(const QByteArray& bytes);
