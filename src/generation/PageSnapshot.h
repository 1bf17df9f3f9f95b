#pragma once

#include "Dialogs.h"
#include "WordModel.h"

#include <QByteArray>
#include <QString>

// Name of the snapshot file in the temporary folder.
inline constexpr char SnapshotFileName[] = "temp.bmp";

// Renders the working document inFile into the snapshot file TEMP/temp.bmp (a BMP picture
// of every page, one below the other) in an office instance of its own, and leaves the
// picture on the system clipboard. A guarded procedure: each failing step is reported
// (location SnapshotLocation, steps 116 to 126) and the next one runs; no
// error reaches the caller. The document is closed without saving. When no picture could
// be made, an older snapshot file is removed rather than left to stand for this document.
// A letter longer than the picture shows (Word::PicturePageLimit) is reported in a plain
// message that gives both page counts.
// Returns the same pages as a PDF document, for drawing them at other scales; empty when
// the word processor gave none or no picture was written.
QByteArray SaveDocAsJPG(const QString& inFile, Word::ApplicationFactory& word, Dialogs& dialogs);
