#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

// An entry of a zip archive as its central directory lists it.
struct ZipEntry {
    QString name;
    // What the archive says it unpacks to, before anything is unpacked.
    quint64 unpackedBytes = 0;
};

// A zip archive held in memory (a spreadsheet, a word processor's template) from someone
// else: its directory is read first, so that what it would unpack to can be weighed before
// any part is unpacked; parts are unpacked by liborcus's zip reader.
class ZipArchive {
public:
    // what names the file in messages ("spreadsheet", "template"). Throws AppError ("The
    // spreadsheet cannot be read: its zip archive is damaged.") when the directory cannot be read.
    ZipArchive(QByteArray bytes, const QString& what);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    const QList<ZipEntry>& Entries() const { return mEntries; }
    // What the entries for which counts holds (all without it) say they unpack to, added up.
    quint64 UnpackedBytes(const std::function<bool(const QString& name)>& counts = {}) const;
    // The part of that name unpacked; empty when there is none. Throws AppError, naming the
    // file, when the archive cannot be unpacked.
    QByteArray Read(const QString& name) const;

private:
    struct Unpacker;

    QByteArray mBytes;
    QString mWhat;
    QList<ZipEntry> mEntries;
    // Made at the first Read, once the caller has weighed the entries.
    mutable std::unique_ptr<Unpacker> mUnpacker;
};
