#include "ZipDirectory.h"

#include <QtEndian>

std::optional<QList<ZipEntry>> ZipDirectory(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype end = bytes.lastIndexOf(QByteArrayView("PK\x05\x06", 4));
    if (end < 0 || end + 22 > bytes.size())
        return std::nullopt;
    const quint16 count = qFromLittleEndian<quint16>(data + end + 10);
    qsizetype at = qFromLittleEndian<quint32>(data + end + 16);
    QList<ZipEntry> entries;
    for (int entry = 0; entry < count; ++entry) {
        if (at < 0 || at + 46 > bytes.size() || qFromLittleEndian<quint32>(data + at) != 0x02014b50)
            return std::nullopt;
        const quint16 nameLength = qFromLittleEndian<quint16>(data + at + 28);
        if (at + 46 + nameLength > bytes.size())
            return std::nullopt;
        entries.append({QString::fromUtf8(bytes.constData() + at + 46, nameLength), qFromLittleEndian<quint32>(data + at + 24)});
        at += 46 + nameLength + qFromLittleEndian<quint16>(data + at + 30) + qFromLittleEndian<quint16>(data + at + 32);
    }
    return entries;
}
