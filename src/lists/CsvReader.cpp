#include "CsvReader.h"

#include "core/AppError.h"

#include <QBuffer>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace {

// How much of a swallowed text a message shows.
constexpr qsizetype ExcerptLength = 60;

// Reads the text one record at a time. Unless final, the text may go on past its end: a
// record that reaches the end is then incomplete, to be read again with more text.
class CsvScanner {
public:
    CsvScanner(const QString& text, QChar separator, qsizetype at = 0, int line = 1, int row = 1, bool final = true)
        : mText(text), mSeparator(separator), mFinal(final), mAt(at), mLine(line), mRow(row)
    {
    }

    bool AtEnd() const { return mAt >= mText.size(); }
    qsizetype At() const { return mAt; }
    int Line() const { return mLine; }
    int Row() const { return mRow; }
    bool Incomplete() const { return mIncomplete; }

    CsvRecord NextRecord()
    {
        CsvRecord record;
        record.line = mLine;
        record.row = mRow++;
        for (;;) {
            record.values << NextValue(record);
            if (AtEnd()) {
                mIncomplete = !mFinal;
                return record;
            }
            const QChar separator = mText.at(mAt++);
            if (separator != mSeparator) {
                EndLine(separator);
                return record;
            }
        }
    }

private:
    // Moves past a line break whose first character has just been read.
    void EndLine(QChar first)
    {
        // A CR at the end may be the first half of a CR LF that the next text finishes.
        mIncomplete = mIncomplete || (first == QLatin1Char('\r') && AtEnd() && !mFinal);
        if (first == QLatin1Char('\r') && !AtEnd() && mText.at(mAt) == QLatin1Char('\n'))
            ++mAt;
        ++mLine;
    }

    static bool IsLineBreak(QChar c) { return c == QLatin1Char('\n') || c == QLatin1Char('\r'); }

    bool AtValueEnd() const { return AtEnd() || mText.at(mAt) == mSeparator || IsLineBreak(mText.at(mAt)); }

    // A value up to the separator or line break after it, which is left for the caller.
    QString NextValue(CsvRecord& record)
    {
        if (AtEnd() || mText.at(mAt) != QLatin1Char('"')) {
            const qsizetype start = mAt;
            while (!AtValueEnd())
                ++mAt;
            return mText.mid(start, mAt - start);
        }
        const QString value = QuotedValue(record);
        if (!AtValueEnd()) {
            if (record.problem.isEmpty())
                record.problem = QStringLiteral("text follows the closing quote of value %1").arg(record.values.size() + 1);
            while (!AtValueEnd())
                ++mAt;
        }
        return value;
    }

    // The value between quotes, the opening one at mAt; moves past the closing one.
    QString QuotedValue(CsvRecord& record)
    {
        QString value;
        const int opened = mLine;
        ++mAt;
        while (!AtEnd()) {
            const QChar c = mText.at(mAt++);
            if (c == QLatin1Char('"')) {
                if (AtEnd() || mText.at(mAt) != QLatin1Char('"'))
                    return value;
                ++mAt;
            } else if (IsLineBreak(c)) {
                // A line break inside a value is one new line, whichever way it is written.
                EndLine(c);
                value += QLatin1Char('\n');
                continue;
            }
            value += c;
        }
        if (mFinal)
            record.problem = UnclosedQuote(record.values.size() + 1, opened, value);
        mIncomplete = !mFinal;
        return value;
    }

    QString UnclosedQuote(qsizetype valueNumber, int opened, const QString& value) const
    {
        QString excerpt = QStringView(value).chopped(value.endsWith(QLatin1Char('\n')) ? 1 : 0).left(ExcerptLength).toString();
        excerpt.replace(QLatin1Char('\n'), QStringLiteral(" / "));
        if (value.size() > ExcerptLength)
            excerpt += QStringLiteral("...");
        const int last = value.endsWith(QLatin1Char('\n')) ? mLine - 1 : mLine;
        const QString taken = last > opened ? QStringLiteral("lines %1 to %2").arg(opened).arg(last)
                                            : QStringLiteral("the rest of line %1").arg(opened);
        return QStringLiteral("the quote that opens value %1 on line %2 is never closed, so it takes in %3 "
                              "(\"%4\") and no letter is made from them; close the quote, or write it twice (\"\") "
                              "where it is part of the value")
            .arg(valueNumber)
            .arg(opened)
            .arg(taken, excerpt);
    }

    const QString& mText;
    const QChar mSeparator;
    const bool mFinal;
    qsizetype mAt;
    int mLine;
    int mRow;
    bool mIncomplete = false;
};

bool IsEmptyLine(const CsvRecord& record)
{
    return record.problem.isEmpty() && record.values.size() == 1 && record.values.first().isEmpty();
}

// Windows-1252 from 0x80 to 0x9F; the five bytes it leaves out stand for themselves.
constexpr char16_t Windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString FromWindows1252(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        text[i] = byte >= 0x80 && byte < 0xA0 ? QChar(Windows1252High[byte - 0x80]) : QChar(byte);
    }
    return text;
}

// The length of the UTF-8 sequence at bytes[at]: 0 when none begins there, -1 when the
// bytes end inside it.
int SequenceAt(QByteArrayView bytes, qsizetype at)
{
    const auto lead = static_cast<uchar>(bytes[at]);
    const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || lead == 0xC0 || lead == 0xC1 || lead > 0xF4)
        return 0;
    for (int i = 1; i < length; ++i) {
        if (at + i >= bytes.size())
            return -1;
        if ((static_cast<uchar>(bytes[at + i]) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

class Iconv {
public:
    explicit Iconv(const QString& encoding) : mHandle(iconv_open("UTF-8", encoding.toLatin1().constData())) {}
    ~Iconv()
    {
        if (IsOpen())
            iconv_close(mHandle);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool IsOpen() const { return mHandle != reinterpret_cast<iconv_t>(-1); }

    // The bytes in UTF-8, as far as they are whole characters; consumed tells how far that
    // is, and invalid whether the bytes there are not text in the encoding at all.
    QByteArray Convert(QByteArrayView bytes, qsizetype& consumed, bool& invalid)
    {
        QByteArray out(bytes.size() * 4 + 16, Qt::Uninitialized);
        char* in = const_cast<char*>(bytes.data());
        std::size_t inLeft = static_cast<std::size_t>(bytes.size());
        char* to = out.data();
        std::size_t outLeft = static_cast<std::size_t>(out.size());
        invalid = iconv(mHandle, &in, &inLeft, &to, &outLeft) == static_cast<std::size_t>(-1) && errno == EILSEQ;
        consumed = in - bytes.data();
        out.truncate(out.size() - static_cast<qsizetype>(outLeft));
        return out;
    }

private:
    iconv_t mHandle;
};

QString FirstLine(const QString& text)
{
    qsizetype at = 0;
    while (at < text.size() && (text.at(at) == QLatin1Char('\n') || text.at(at) == QLatin1Char('\r')))
        ++at;
    qsizetype end = at;
    while (end < text.size() && text.at(end) != QLatin1Char('\n') && text.at(end) != QLatin1Char('\r'))
        ++end;
    return text.mid(at, end - at);
}
}

std::vector<CsvRecord> ParseCsv(const QString& text, QChar separator)
{
    std::vector<CsvRecord> records;
    CsvScanner scanner(text, separator);
    while (!scanner.AtEnd()) {
        CsvRecord record = scanner.NextRecord();
        if (!IsEmptyLine(record))
            records.push_back(std::move(record));
    }
    return records;
}

QChar ChooseSeparator(const QString& text)
{
    // The first records only: a long list is told by its start.
    qsizetype end = 0;
    for (int lines = 0; end < text.size() && lines <= SeparatorSampleRecords; ++end) {
        if (text.at(end) == QLatin1Char('\n'))
            ++lines;
    }
    const QString sample = text.left(end);
    QChar best = QLatin1Char(',');
    qsizetype bestAgreeing = 0;
    qsizetype bestFields = 1;
    for (const QChar separator : {QLatin1Char(','), QLatin1Char(';'), QLatin1Char('\t')}) {
        std::vector<CsvRecord> records = ParseCsv(sample, separator);
        if (records.size() > static_cast<std::size_t>(SeparatorSampleRecords))
            records.resize(static_cast<std::size_t>(SeparatorSampleRecords));
        // The last record of a sample cut short may be cut short itself.
        if (records.size() > 1 && end < text.size())
            records.pop_back();
        if (records.empty() || !records.front().problem.isEmpty())
            continue;
        const qsizetype fields = records.front().values.size();
        const qsizetype agreeing = std::count_if(records.begin(), records.end(), [fields](const CsvRecord& record) {
            return record.problem.isEmpty() && record.values.size() == fields;
        });
        if (fields > 1 && (agreeing > bestAgreeing || (agreeing == bestAgreeing && fields > bestFields))) {
            best = separator;
            bestAgreeing = agreeing;
            bestFields = fields;
        }
    }
    return best;
}

bool ReadsAsOneColumn(const QString& text, QChar separator)
{
    const QString header = FirstLine(text);
    const std::vector<CsvRecord> records = ParseCsv(header, separator);
    return !records.empty() && records.front().values.size() == 1
        && (header.contains(QLatin1Char(';')) || header.contains(QLatin1Char('\t')));
}

QString SeparatorName(QChar separator)
{
    if (separator == QLatin1Char(','))
        return QStringLiteral("comma");
    if (separator == QLatin1Char(';'))
        return QStringLiteral("semicolon");
    if (separator == QLatin1Char('\t'))
        return QStringLiteral("tab");
    return QStringLiteral("\"%1\"").arg(separator);
}

ListText DecodeListText(const QByteArray& bytes, const QString& encoding)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    ListTextReader reader(buffer, encoding);
    QString text;
    for (QString piece = reader.Next(); !piece.isEmpty(); piece = reader.Next())
        text += piece;
    return {text, reader.GuessedEncoding()};
}

// How the bytes of a list become text.
enum class TextMode { Undecided, Utf8, Utf16, Windows1252, Named };

struct ListTextReader::State {
    TextMode mode = TextMode::Undecided;
    std::unique_ptr<QStringDecoder> utf16;
    std::unique_ptr<Iconv> named;
    QString encodingName;
    // Bytes read but not yet text: the start of a character the next bytes finish.
    QByteArray pending;
    // Line breaks in the text so far, for telling where bytes are not text.
    int lines = 0;
    bool started = false;
    bool ended = false;
};

ListTextReader::ListTextReader(QIODevice& device, const QString& encoding) : mDevice(device), mState(std::make_unique<State>())
{
    if (encoding.isEmpty())
        return;
    mState->named = std::make_unique<Iconv>(encoding);
    if (!mState->named->IsOpen())
        throw AppError(QStringLiteral("The encoding \"%1\" is not known; name one such as UTF-8, Windows-1252, "
                                      "ISO-8859-15 or UTF-16LE.")
                           .arg(encoding));
    mState->mode = TextMode::Named;
    mState->encodingName = encoding;
}

ListTextReader::~ListTextReader() = default;

const QString& ListTextReader::GuessedEncoding() const
{
    return mGuessed;
}

QString ListTextReader::Next()
{
    while (!mState->ended) {
        QByteArray bytes = mDevice.read(ReadBytes);
        mState->ended = bytes.isEmpty();
        // The byte-order mark is looked for once the first three bytes are there.
        while (!mState->started && bytes.size() < 3 && !mState->ended) {
            const QByteArray more = mDevice.read(ReadBytes);
            mState->ended = more.isEmpty();
            bytes += more;
        }
        mBytesRead += bytes.size();
        if (!mState->started)
            bytes = TakeByteOrderMark(bytes);
        QString text = Decode(mState->pending + bytes);
        mState->lines += static_cast<int>(text.count(QLatin1Char('\n')));
        if (!text.isEmpty())
            return text;
    }
    return QString();
}

QByteArray ListTextReader::TakeByteOrderMark(const QByteArray& bytes)
{
    mState->started = true;
    if (mState->mode == TextMode::Named)
        return bytes;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        mState->mode = TextMode::Utf8;
        return bytes.mid(3);
    }
    const bool little = bytes.startsWith("\xFF\xFE");
    if (little || bytes.startsWith("\xFE\xFF")) {
        mState->mode = TextMode::Utf16;
        mState->utf16 = std::make_unique<QStringDecoder>(little ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
        return bytes.mid(2);
    }
    return bytes;
}

void ListTextReader::NotText(QByteArrayView decoded, const QString& encoding) const
{
    throw AppError(QStringLiteral("Line %1 of the list is not %2 text.")
                       .arg(mState->lines + static_cast<int>(decoded.count('\n')) + 1)
                       .arg(encoding));
}

QString ListTextReader::Decode(const QByteArray& bytes)
{
    State& state = *mState;
    state.pending.clear();
    if (state.mode == TextMode::Undecided)
        DecideMode(bytes);
    switch (state.mode) {
    case TextMode::Undecided: {
        // Only ASCII so far: the same text in every encoding this reader tells.
        const qsizetype ascii = std::find_if(bytes.begin(), bytes.end(), [](char c) { return static_cast<uchar>(c) >= 0x80; }) - bytes.begin();
        state.pending = bytes.mid(ascii);
        return QString::fromLatin1(bytes.first(ascii));
    }
    case TextMode::Windows1252: return FromWindows1252(bytes);
    case TextMode::Utf16: return state.utf16->decode(bytes);
    case TextMode::Named: {
        qsizetype consumed = 0;
        bool invalid = false;
        const QByteArray utf8 = state.named->Convert(bytes, consumed, invalid);
        if (invalid || (state.ended && consumed < bytes.size()))
            NotText(utf8, state.encodingName);
        state.pending = bytes.mid(consumed);
        return QString::fromUtf8(utf8);
    }
    case TextMode::Utf8: break;
    }
    qsizetype at = 0;
    while (at < bytes.size()) {
        const int length = SequenceAt(bytes, at);
        if (length == 0 || (length < 0 && state.ended))
            NotText(QByteArrayView(bytes).first(at), QStringLiteral("UTF-8"));
        if (length < 0)
            break;
        at += length;
    }
    state.pending = bytes.mid(at);
    return QString::fromUtf8(bytes.first(at));
}

// The first byte that is not ASCII decides: the start of a UTF-8 character makes the list
// UTF-8, anything else Windows-1252. Until then the text is the same in both.
void ListTextReader::DecideMode(const QByteArray& bytes)
{
    const auto first = std::find_if(bytes.begin(), bytes.end(), [](char c) { return static_cast<uchar>(c) >= 0x80; });
    if (first == bytes.end())
        return;
    const int length = SequenceAt(bytes, first - bytes.begin());
    if (length < 0 && !mState->ended)
        return;
    if (length > 0) {
        mState->mode = TextMode::Utf8;
        return;
    }
    mState->mode = TextMode::Windows1252;
    mGuessed = QStringLiteral("Windows-1252");
}

CsvStream::CsvStream(ListTextReader& text, QChar separator) : mText(text), mSeparator(separator)
{
    if (!mSeparator.isNull())
        return;
    // The first records decide, once they are read whole (or all there is, or as much as a record may be).
    while (!mEnded && mBuffer.count(QLatin1Char('\n')) <= SeparatorSampleRecords && mBuffer.size() <= MaxRecordChars)
        ReadMore();
    mSeparator = ChooseSeparator(mBuffer);
    mOneColumn = ReadsAsOneColumn(mBuffer, mSeparator);
}

// Reads on until the record being read has at least twice as much text (or a good deal
// more for a short one), so that a long record is scanned again only a few times.
void CsvStream::ReadMore()
{
    if (mAt > MaxRecordChars) {
        mBuffer.remove(0, mAt);
        mAt = 0;
    }
    const qsizetype target = mBuffer.size() + std::max<qsizetype>(64 * 1024, mBuffer.size() - mAt);
    while (!mEnded && mBuffer.size() < target) {
        const QString piece = mText.Next();
        mEnded = piece.isEmpty();
        mBuffer += piece;
    }
}

std::optional<CsvRecord> CsvStream::Next()
{
    for (;;) {
        if (mAt >= mBuffer.size() && mEnded)
            return std::nullopt;
        CsvScanner scanner(mBuffer, mSeparator, mAt, mLine, mRow, mEnded);
        CsvRecord record = mAt < mBuffer.size() ? scanner.NextRecord() : CsvRecord{};
        if (mAt >= mBuffer.size() || scanner.Incomplete()) {
            if (mBuffer.size() - mAt > MaxRecordChars)
                throw AppError(QStringLiteral("Row %1 of the list, from its line %2, goes on for more than %3 characters "
                                              "without ending%4; no letters were read from the list.")
                                   .arg(mRow)
                                   .arg(mLine)
                                   .arg(MaxRecordChars)
                                   .arg(mBuffer.indexOf(QLatin1Char('"'), mAt) >= 0 ? QStringLiteral(" (a quote in it may never be closed)") : QString()));
            ReadMore();
            continue;
        }
        mAt = scanner.At();
        mLine = scanner.Line();
        mRow = scanner.Row();
        if (!IsEmptyLine(record))
            return record;
    }
}
