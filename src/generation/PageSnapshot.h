#pragma once

#include "WordModel.h"
#include "core/Dialogs.h"
#include "files/SafeFile.h"

#include <QByteArray>
#include <QString>

#include <stop_token>

// Where the snapshot's error report says a failure was.
inline constexpr char SnapshotLocation[] = "Tallowmere.Form1.SaveDocAsJPG";

// What a snapshot made: the pages as a PDF document, for drawing them at other scales (empty
// when no picture was written), and which file the picture was written to (none when it was
// not).
struct Snapshot {
    QByteArray pages;
    FileIdentity picture;
};

// Has an office instance of its own export the working document inFile's pages as a PDF,
// renders them (RenderPdfPages) into the snapshot file SnapshotFileName of WorkingFolder() (a
// BMP picture of every page, one below the other), and leaves the picture on the system
// clipboard. A guarded procedure: each failing step is reported (location SnapshotLocation,
// steps 116 to 126) and the next one runs; no error reaches the caller;
// once stop is requested on ending, no further step runs. The document is closed without
// saving. When no picture could be made, an older snapshot file is removed rather than left to
// stand for this document. A letter longer than the picture shows (PicturePageLimit) is
// reported in a plain message that gives both page counts. The report's location names a
// JPG, yet the picture is written uncompressed as a BMP: it only carries the page to the
// preview on the same machine, where encoding a compressed picture would cost far more time
// than the smaller file saves.
Snapshot TakePageSnapshot(const QString& inFile, Word::ApplicationFactory& word, Dialogs& dialogs, std::stop_token ending);
