#include "CsvReader.h"

#include "AppError.h"

#include <QStringDecoder>

#include <cerrno>
#include <iconv.h>

namespace {

// How much of a swallowed text a message shows.
constexpr qsizetype ExcerptLength = 60;

// Reads the text one record at a time.
class CsvScanner {
public:
    CsvScanner(const QString& text, QChar separator) : mText(text), mSeparator(separator) {}

    bool AtEnd() const { return mAt >= mText.size(); }

    CsvRecord NextRecord()
    {
        CsvRecord record;
        record.line = mLine;
        for (;;) {
            record.values << NextValue(record);
            if (AtEnd())
                return record;
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
        record.problem = UnclosedQuote(record.values.size() + 1, opened, value);
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
    qsizetype mAt = 0;
    int mLine = 1;
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

// The line of bytes on which offset lies, counting from 1.
int LineAt(const QByteArray& bytes, qsizetype offset)
{
    return static_cast<int>(QByteArrayView(bytes).first(offset).count('\n')) + 1;
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

    // The bytes in UTF-8; where they stop being text in the encoding, the offset of the first byte that is not.
    QByteArray Convert(const QByteArray& bytes, qsizetype& failedAt)
    {
        QByteArray out(bytes.size() * 4 + 16, Qt::Uninitialized);
        char* in = const_cast<char*>(bytes.constData());
        std::size_t inLeft = static_cast<std::size_t>(bytes.size());
        char* to = out.data();
        std::size_t outLeft = static_cast<std::size_t>(out.size());
        failedAt = -1;
        if (iconv(mHandle, &in, &inLeft, &to, &outLeft) == static_cast<std::size_t>(-1))
            failedAt = in - bytes.constData();
        out.truncate(out.size() - static_cast<qsizetype>(outLeft));
        return out;
    }

private:
    iconv_t mHandle;
};

QString DecodeNamed(const QByteArray& bytes, const QString& encoding)
{
    Iconv converter(encoding);
    if (!converter.IsOpen())
        throw AppError(QStringLiteral("The encoding \"%1\" is not known; name one such as UTF-8, Windows-1252, "
                                      "ISO-8859-15 or UTF-16LE.")
                           .arg(encoding));
    qsizetype failedAt = -1;
    const QByteArray utf8 = converter.Convert(bytes, failedAt);
    if (failedAt >= 0)
        throw AppError(QStringLiteral("Line %1 of the list is not %2 text.").arg(LineAt(bytes, failedAt)).arg(encoding));
    QString text = QString::fromUtf8(utf8);
    if (text.startsWith(QChar(QChar::ByteOrderMark)))
        text.remove(0, 1);
    return text;
}

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

QChar ChooseSeparator(const QString& text, const std::function<bool(const QString&)>& isName)
{
    const QString header = FirstLine(text);
    QChar best = QLatin1Char(',');
    qsizetype bestNames = 0;
    for (const QChar separator : {QLatin1Char(','), QLatin1Char(';'), QLatin1Char('\t')}) {
        const std::vector<CsvRecord> records = ParseCsv(header, separator);
        if (records.empty())
            continue;
        const QStringList& names = records.front().values;
        const auto count = std::count_if(names.begin(), names.end(), isName);
        if (count > bestNames) {
            best = separator;
            bestNames = count;
        }
    }
    return best;
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
    if (!encoding.isEmpty())
        return {DecodeNamed(bytes, encoding), QString()};
    if (bytes.startsWith("\xFF\xFE"))
        return {QStringDecoder(QStringDecoder::Utf16LE).decode(bytes.mid(2)), QString()};
    if (bytes.startsWith("\xFE\xFF"))
        return {QStringDecoder(QStringDecoder::Utf16BE).decode(bytes.mid(2)), QString()};
    const QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(body);
    if (!decoder.hasError())
        return {text, QString()};
    return {FromWindows1252(body), QStringLiteral("Windows-1252")};
}
