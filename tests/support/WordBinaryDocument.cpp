#include "WordBinaryDocument.h"

#include <stdexcept>

namespace {

[[noreturn]] void Fail(const char* what)
{
    throw std::runtime_error(what);
}

// Positions of fc/lcb pairs in FibRgFcLcb97.
constexpr int kPlcfSed = 6;
constexpr int kPlcfHdd = 11;
constexpr int kClx = 33;

// Operand size of a property modifier, by its spra bits; 0 for a variable size.
int OperandSize(quint16 sprm)
{
    switch (sprm >> 13) {
    case 0:
    case 1:
        return 1;
    case 2:
    case 4:
    case 5:
        return 2;
    case 3:
        return 4;
    case 7:
        return 3;
    default:
        return 0;
    }
}

} // namespace

WordBinaryDocument::WordBinaryDocument(const CompoundFile& file)
    : mWord(file.Stream(QStringLiteral("WordDocument")))
{
    mIdent = ReadU16(mWord, 0);
    mFormatNumber = ReadU16(mWord, 2);
    mLanguage = ReadU16(mWord, 6);
    mFlags = ReadU16(mWord, 10);
    mTableName = (mFlags & 0x0200) ? QStringLiteral("1Table") : QStringLiteral("0Table");
    mTable = file.Stream(mTableName);

    // The block after FibBase is a run of counted arrays: 16-bit words, 32-bit words (which
    // hold the story lengths), then the fc/lcb pairs.
    qint64 at = 32;
    at += 2 + 2 * qint64(ReadU16(mWord, at));
    const quint16 longCount = ReadU16(mWord, at);
    const qint64 longs = at + 2;
    if (longCount < 11)
        Fail("file information block without story lengths");
    auto storyLength = [&](int index) { return qint32(ReadU32(mWord, longs + 4 * index)); };
    mLengths.main = storyLength(3);
    mLengths.footnotes = storyLength(4);
    mLengths.headers = storyLength(5);
    mLengths.comments = storyLength(7);
    mLengths.endnotes = storyLength(8);
    mLengths.textboxes = storyLength(9);
    mLengths.headerTextboxes = storyLength(10);
    at = longs + 4 * qint64(longCount);
    mFcLcbCount = ReadU16(mWord, at);
    mFcLcbOffset = at + 2;
    if (mFcLcbCount <= 41)
        Fail("file information block too short for Word 97");

    ReadPieces();
    ReadSections();
}

QPair<quint32, quint32> WordBinaryDocument::FcLcb(int index) const
{
    if (index >= mFcLcbCount)
        Fail("no such fc/lcb pair");
    return {ReadU32(mWord, mFcLcbOffset + 8 * index), ReadU32(mWord, mFcLcbOffset + 8 * index + 4)};
}

void WordBinaryDocument::ReadPieces()
{
    const auto [fc, lcb] = FcLcb(kClx);
    if (qint64(fc) + lcb > mTable.size())
        Fail("piece table beyond the table stream");
    const QByteArray clx = mTable.mid(fc, lcb);
    qint64 at = 0;
    while (at < clx.size() && clx[at] == 0x01)
        at += 3 + qint16(ReadU16(clx, at + 1));
    if (at >= clx.size() || clx[at] != 0x02)
        Fail("no piece table in the complex part");
    const quint32 size = ReadU32(clx, at + 1);
    const QByteArray plc = clx.mid(at + 5, size);
    if (plc.size() != qsizetype(size) || size < 4 || (size - 4) % 12)
        Fail("malformed piece table");
    const int count = int((size - 4) / 12);
    for (int i = 0; i < count; ++i) {
        Piece piece;
        piece.startCp = qint32(ReadU32(plc, 4 * i));
        piece.endCp = qint32(ReadU32(plc, 4 * (i + 1)));
        const quint32 raw = ReadU32(plc, 4 * (count + 1) + 8 * i + 2);
        piece.compressed = raw & 0x40000000;
        piece.fc = piece.compressed ? (raw & ~0x40000000u) / 2 : raw;
        if (piece.endCp < piece.startCp)
            Fail("piece runs backwards");
        mPieces.append(piece);
    }
}

QString WordBinaryDocument::TextRange(qint32 startCp, qint32 endCp) const
{
    QString text;
    for (const Piece& piece : mPieces) {
        const qint32 from = qMax(startCp, piece.startCp);
        const qint32 to = qMin(endCp, piece.endCp);
        if (from >= to)
            continue;
        const qint64 offset = qint64(piece.fc) + qint64(from - piece.startCp) * (piece.compressed ? 1 : 2);
        const qint64 bytes = qint64(to - from) * (piece.compressed ? 1 : 2);
        if (offset + bytes > mWord.size())
            Fail("text beyond the WordDocument stream");
        const QByteArray raw = mWord.mid(offset, bytes);
        if (piece.compressed) {
            // Code page 1252 for the compressed pieces of an English document.
            for (char c : raw)
                text += QChar(uchar(c));
        } else {
            text += QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData()), raw.size() / 2);
        }
    }
    return text;
}

QString WordBinaryDocument::MainStory() const
{
    return TextRange(0, mLengths.main);
}

QString WordBinaryDocument::HeaderStory(int section, HeaderRole role) const
{
    const auto [fc, lcb] = FcLcb(kPlcfHdd);
    const int cps = int(lcb / 4);
    const int story = 6 + 6 * section + int(role);
    if (story + 1 >= cps)
        return QString();
    const qint32 base = mLengths.main + mLengths.footnotes;
    const qint32 from = qint32(ReadU32(mTable, fc + 4 * story));
    const qint32 to = qint32(ReadU32(mTable, fc + 4 * (story + 1)));
    if (from < 0 || to < from || to > mLengths.headers + 1)
        Fail("header story outside the header text");
    return TextRange(base + from, base + to);
}

void WordBinaryDocument::ReadSections()
{
    const auto [fc, lcb] = FcLcb(kPlcfSed);
    if (lcb < 4 || (lcb - 4) % 16)
        Fail("malformed section table");
    const int count = int((lcb - 4) / 16);
    for (int i = 0; i < count; ++i) {
        Section section;
        section.startCp = qint32(ReadU32(mTable, fc + 4 * i));
        section.endCp = qint32(ReadU32(mTable, fc + 4 * (i + 1)));
        const quint32 sepx = ReadU32(mTable, fc + 4 * (count + 1) + 12 * i + 2);
        if (sepx != 0xFFFFFFFF) {
            const qint16 size = qint16(ReadU16(mWord, sepx));
            if (size < 0 || qint64(sepx) + 2 + size > mWord.size())
                Fail("section properties beyond the WordDocument stream");
            const QByteArray grpprl = mWord.mid(sepx + 2, size);
            qint64 at = 0;
            while (at + 2 <= grpprl.size()) {
                const quint16 sprm = ReadU16(grpprl, at);
                at += 2;
                int operand = OperandSize(sprm);
                if (operand == 0) {
                    if (at >= grpprl.size())
                        Fail("truncated section property");
                    operand = uchar(grpprl[at]);
                    ++at;
                }
                if (at + operand > grpprl.size())
                    Fail("truncated section property");
                section.properties.append({sprm, grpprl.mid(at, operand)});
                at += operand;
            }
        }
        mSections.append(section);
    }
}

int WordBinaryDocument::Section::Value(quint16 sprm, int defaultValue) const
{
    for (const auto& [code, operand] : properties) {
        if (code != sprm)
            continue;
        switch (operand.size()) {
        case 1:
            return qint8(operand[0]);
        case 2:
            return qint16(ReadU16(operand, 0));
        case 4:
            return qint32(ReadU32(operand, 0));
        default:
            Fail("property operand of unexpected size");
        }
    }
    return defaultValue;
}

QList<int> WordBinaryDocument::FieldTypes(int fcLcbIndex) const
{
    const auto [fc, lcb] = FcLcb(fcLcbIndex);
    QList<int> types;
    if (lcb == 0)
        return types;
    if (lcb < 4 || (lcb - 4) % 6)
        Fail("malformed field table");
    const int count = int((lcb - 4) / 6);
    const qint64 fields = qint64(fc) + 4 * (count + 1);
    if (fields + 2 * count > mTable.size())
        Fail("field table beyond the table stream");
    for (int i = 0; i < count; ++i) {
        const uchar ch = uchar(mTable[fields + 2 * i]) & 0x1F;
        if (ch == 0x13)
            types.append(uchar(mTable[fields + 2 * i + 1]));
    }
    return types;
}
