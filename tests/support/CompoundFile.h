#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <QHash>

// Reads an OLE2 compound file (the container of Word 97-2003 documents) held in memory:
// the header fields and the streams, regular and mini. Every offset is checked, so a
// truncated or damaged file raises std::runtime_error instead of reading out of bounds.
class CompoundFile {
public:
    explicit CompoundFile(QByteArray data);

    quint16 MajorVersion() const { return mMajorVersion; }
    int SectorSize() const { return mSectorSize; }
    int MiniSectorSize() const { return mMiniSectorSize; }
    quint32 MiniStreamCutoff() const { return mMiniStreamCutoff; }

    // Names of all streams, in directory order (storages are not listed).
    QStringList StreamNames() const { return mStreamOrder; }
    bool HasStream(const QString& name) const { return mStreams.contains(name); }
    // The bytes of a stream; throws std::runtime_error when there is none of that name.
    QByteArray Stream(const QString& name) const;

private:
    struct Entry {
        quint32 start = 0;
        quint64 size = 0;
    };

    QByteArray SectorBytes(quint32 sector) const;
    QList<quint32> Chain(quint32 start, const QList<quint32>& table) const;
    QByteArray ReadChain(quint32 start, const QList<quint32>& table, int unit,
                         const QByteArray& source, qint64 sourceOffset) const;

    QByteArray mData;
    quint16 mMajorVersion = 0;
    int mSectorSize = 0;
    int mMiniSectorSize = 0;
    quint32 mMiniStreamCutoff = 0;
    QList<quint32> mFat;
    QList<quint32> mMiniFat;
    QByteArray mMiniStream;
    QHash<QString, Entry> mStreams;
    QStringList mStreamOrder;
};

// Little-endian reads with bounds checks, shared by the readers of the compound file and
// of the Word binary format; they throw std::runtime_error past the end.
quint16 ReadU16(const QByteArray& data, qint64 offset);
quint32 ReadU32(const QByteArray& data, qint64 offset);
