#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// An entry of a zip archive as its central directory lists it.
struct ZipEntry {
    QString name;
    // What the archive says it unpacks to, before anything is unpacked: what a reader of a
    // file from someone else weighs before it unpacks a part.
    quint64 unpackedBytes = 0;
};

// The entries of the zip archive held in bytes; nothing when it is not a zip archive whose
// directory can be read.
std::optional<QList<ZipEntry>> ZipDirectory(const QByteArray& bytes);
