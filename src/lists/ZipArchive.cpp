#include "ZipArchive.h"

#include "core/AppError.h"

#include <QtEndian>

#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>

#include <exception>
#include <vector>

struct ZipArchive::Unpacker {
    explicit Unpacker(const QByteArray& bytes)
        : stream(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())), archive(&stream)
    {
        archive.load();
    }

    orcus::zip_archive_stream_blob stream;
    orcus::zip_archive archive;
};

namespace {
// The entries the central directory of the archive in bytes lists; false when it cannot be read.
bool ReadDirectory(const QByteArray& bytes, QList<ZipEntry>& entries)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype end = bytes.lastIndexOf(QByteArrayView("PK\x05\x06", 4));
    if (end < 0 || end + 22 > bytes.size())
        return false;
    const quint16 count = qFromLittleEndian<quint16>(data + end + 10);
    qsizetype at = qFromLittleEndian<quint32>(data + end + 16);
    for (int entry = 0; entry < count; ++entry) {
        if (at < 0 || at + 46 > bytes.size() || qFromLittleEndian<quint32>(data + at) != 0x02014b50)
            return false;
        const quint16 nameLength = qFromLittleEndian<quint16>(data + at + 28);
        if (at + 46 + nameLength > bytes.size())
            return false;
        entries.append({QString::fromUtf8(bytes.constData() + at + 46, nameLength), qFromLittleEndian<quint32>(data + at + 24)});
        at += 46 + nameLength + qFromLittleEndian<quint16>(data + at + 30) + qFromLittleEndian<quint16>(data + at + 32);
    }
    return true;
}
}

ZipArchive::ZipArchive(QByteArray bytes, const QString& what) : mBytes(std::move(bytes)), mWhat(what)
{
    if (!ReadDirectory(mBytes, mEntries))
        throw AppError(QStringLiteral("The %1 cannot be read: its zip archive is damaged.").arg(mWhat));
}

ZipArchive::~ZipArchive() = default;

quint64 ZipArchive::UnpackedBytes(const std::function<bool(const QString& name)>& counts) const
{
    quint64 total = 0;
    for (const ZipEntry& entry : mEntries)
        total += !counts || counts(entry.name) ? entry.unpackedBytes : 0;
    return total;
}

QByteArray ZipArchive::Read(const QString& name) const
{
    std::vector<unsigned char> part;
    try {
        if (!mUnpacker)
            mUnpacker = std::make_unique<Unpacker>(mBytes);
        if (!mUnpacker->archive.read_file_entry(name.toStdString(), part))
            return QByteArray();
    } catch (const std::exception& error) {
        throw AppError(QStringLiteral("The %1 cannot be read: %2.").arg(mWhat, QString::fromUtf8(error.what())));
    }
    QByteArray bytes(reinterpret_cast<const char*>(part.data()), static_cast<qsizetype>(part.size()));
    // liborcus ends a stored (not deflated) entry with a NUL, which no XML part holds.
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return bytes;
}
