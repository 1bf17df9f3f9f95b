#include "CompoundFile.h"

#include <QSet>

#include <stdexcept>

namespace {

constexpr quint32 kLastRegularSector = 0xFFFFFFF9;
constexpr int kHeaderSize = 512;
constexpr int kDirectoryEntrySize = 128;
constexpr int kHeaderDifatEntries = 109;
constexpr char kSignature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

[[noreturn]] void Fail(const char* what)
{
    throw std::runtime_error(what);
}

} // namespace

quint16 ReadU16(const QByteArray& data, qint64 offset)
{
    if (offset < 0 || offset + 2 > data.size())
        Fail("read past the end of the data");
    const auto* p = reinterpret_cast<const uchar*>(data.constData() + offset);
    return quint16(p[0] | (p[1] << 8));
}

quint32 ReadU32(const QByteArray& data, qint64 offset)
{
    if (offset < 0 || offset + 4 > data.size())
        Fail("read past the end of the data");
    const auto* p = reinterpret_cast<const uchar*>(data.constData() + offset);
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

CompoundFile::CompoundFile(QByteArray data)
    : mData(std::move(data))
{
    if (mData.size() < kHeaderSize || !mData.startsWith(QByteArray(kSignature, 8)))
        Fail("not an OLE2 compound file");
    mMajorVersion = ReadU16(mData, 26);
    const quint16 sectorShift = ReadU16(mData, 30);
    const quint16 miniSectorShift = ReadU16(mData, 32);
    if (sectorShift < 7 || sectorShift > 16 || miniSectorShift > sectorShift)
        Fail("impossible sector size");
    mSectorSize = 1 << sectorShift;
    mMiniSectorSize = 1 << miniSectorShift;
    const quint32 fatSectorCount = ReadU32(mData, 44);
    const quint32 directoryStart = ReadU32(mData, 48);
    mMiniStreamCutoff = ReadU32(mData, 56);
    const quint32 miniFatStart = ReadU32(mData, 60);
    const quint32 difatStart = ReadU32(mData, 68);

    // The sectors of the allocation table: 109 listed in the header, the rest in a chain
    // of DIFAT sectors whose last entry points to the next one.
    QList<quint32> fatSectors;
    for (int i = 0; i < kHeaderDifatEntries; ++i)
        fatSectors.append(ReadU32(mData, 76 + 4 * i));
    const int perSector = mSectorSize / 4;
    QSet<quint32> seenDifat;
    for (quint32 sector = difatStart; sector <= kLastRegularSector;) {
        if (seenDifat.contains(sector))
            Fail("DIFAT chain runs in a loop");
        seenDifat.insert(sector);
        const QByteArray bytes = SectorBytes(sector);
        for (int i = 0; i < perSector - 1; ++i)
            fatSectors.append(ReadU32(bytes, 4 * i));
        sector = ReadU32(bytes, 4 * (perSector - 1));
    }
    if (fatSectorCount > quint32(fatSectors.size()))
        Fail("allocation table larger than its index");
    for (quint32 i = 0; i < fatSectorCount; ++i) {
        const QByteArray bytes = SectorBytes(fatSectors[int(i)]);
        for (int j = 0; j < perSector; ++j)
            mFat.append(ReadU32(bytes, 4 * j));
    }

    for (quint32 sector : Chain(miniFatStart, mFat)) {
        const QByteArray bytes = SectorBytes(sector);
        for (int j = 0; j < perSector; ++j)
            mMiniFat.append(ReadU32(bytes, 4 * j));
    }

    QByteArray directory;
    for (quint32 sector : Chain(directoryStart, mFat))
        directory += SectorBytes(sector);
    for (qint64 at = 0; at + kDirectoryEntrySize <= directory.size(); at += kDirectoryEntrySize) {
        const quint16 nameBytes = ReadU16(directory, at + 64);
        const int type = uchar(directory[at + 66]);
        if (type == 0)
            continue;
        if (nameBytes > 64 || nameBytes % 2)
            Fail("malformed directory entry name");
        const QString name = QString::fromUtf16(
            reinterpret_cast<const char16_t*>(directory.constData() + at), qMax(0, nameBytes / 2 - 1));
        Entry entry;
        entry.start = ReadU32(directory, at + 116);
        entry.size = ReadU32(directory, at + 120);
        if (mMajorVersion == 4)
            entry.size |= quint64(ReadU32(directory, at + 124)) << 32;
        if (type == 5) {
            mMiniStream = ReadChain(entry.start, mFat, mSectorSize, mData, kHeaderSize);
            if (quint64(mMiniStream.size()) < entry.size)
                Fail("mini stream shorter than stated");
            mMiniStream.truncate(qsizetype(entry.size));
        } else if (type == 2) {
            mStreams.insert(name, entry);
            mStreamOrder.append(name);
        }
    }
}

QByteArray CompoundFile::Stream(const QString& name) const
{
    const auto it = mStreams.constFind(name);
    if (it == mStreams.constEnd())
        throw std::runtime_error("no stream named " + name.toStdString());
    QByteArray bytes = it->size < mMiniStreamCutoff
        ? ReadChain(it->start, mMiniFat, mMiniSectorSize, mMiniStream, 0)
        : ReadChain(it->start, mFat, mSectorSize, mData, kHeaderSize);
    if (quint64(bytes.size()) < it->size)
        Fail("stream shorter than its directory entry states");
    bytes.truncate(qsizetype(it->size));
    return bytes;
}

QByteArray CompoundFile::SectorBytes(quint32 sector) const
{
    const qint64 offset = kHeaderSize + qint64(sector) * mSectorSize;
    if (offset + mSectorSize > mData.size())
        Fail("sector beyond the end of the file");
    return mData.mid(offset, mSectorSize);
}

QList<quint32> CompoundFile::Chain(quint32 start, const QList<quint32>& table) const
{
    QList<quint32> sectors;
    for (quint32 sector = start; sector <= kLastRegularSector; sector = table[int(sector)]) {
        if (sector >= quint32(table.size()) || sectors.size() > table.size())
            Fail("broken sector chain");
        sectors.append(sector);
    }
    return sectors;
}

QByteArray CompoundFile::ReadChain(quint32 start, const QList<quint32>& table, int unit,
                                   const QByteArray& source, qint64 sourceOffset) const
{
    QByteArray bytes;
    for (quint32 sector : Chain(start, table)) {
        const qint64 offset = sourceOffset + qint64(sector) * unit;
        if (offset + unit > source.size())
            Fail("sector beyond the end of its container");
        bytes += source.mid(offset, unit);
    }
    return bytes;
}
