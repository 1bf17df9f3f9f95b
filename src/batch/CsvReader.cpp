#include "CsvReader.h"

#include "AppError.h"

#include <QStringDecoder>

namespace {

// Reads the text one record at a time.
class CsvScanner {
public:
    explicit CsvScanner(const QString& text) : mText(text) {}

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
            if (separator != QLatin1Char(',')) {
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

    // A value up to the comma or line break after it, which is left for the caller.
    QString NextValue(CsvRecord& record)
    {
        if (AtEnd() || mText.at(mAt) != QLatin1Char('"')) {
            const qsizetype start = mAt;
            while (!AtEnd() && mText.at(mAt) != QLatin1Char(',') && !IsLineBreak(mText.at(mAt)))
                ++mAt;
            return mText.mid(start, mAt - start);
        }
        const QString value = QuotedValue(record);
        if (!AtEnd() && mText.at(mAt) != QLatin1Char(',') && !IsLineBreak(mText.at(mAt))) {
            if (record.problem.isEmpty())
                record.problem = QStringLiteral("text follows the closing quote of value %1").arg(record.values.size() + 1);
            while (!AtEnd() && mText.at(mAt) != QLatin1Char(',') && !IsLineBreak(mText.at(mAt)))
                ++mAt;
        }
        return value;
    }

    // The value between quotes, the opening one at mAt; moves past the closing one.
    QString QuotedValue(CsvRecord& record)
    {
        QString value;
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
        record.problem = QStringLiteral("the quote that opens value %1 is never closed").arg(record.values.size() + 1);
        return value;
    }

    const QString& mText;
    qsizetype mAt = 0;
    int mLine = 1;
};

bool IsEmptyLine(const CsvRecord& record)
{
    return record.problem.isEmpty() && record.values.size() == 1 && record.values.first().isEmpty();
}

constexpr char ByteOrderMark[] = "\xEF\xBB\xBF";
}

std::vector<CsvRecord> ParseCsv(const QString& text)
{
    std::vector<CsvRecord> records;
    CsvScanner scanner(text);
    while (!scanner.AtEnd()) {
        CsvRecord record = scanner.NextRecord();
        if (!IsEmptyLine(record))
            records.push_back(std::move(record));
    }
    return records;
}

QString DecodeListText(const QByteArray& bytes)
{
    const QByteArray body = bytes.startsWith(ByteOrderMark) ? bytes.mid(3) : bytes;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(body);
    if (!decoder.hasError())
        return text;
    const QList<QByteArray> lines = body.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QStringDecoder line(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        // The decoder converts when its result becomes a string.
        const QString decoded = line.decode(lines[i]);
        if (line.hasError())
            throw AppError(QStringLiteral("Line %1 of the list is not UTF-8 text; save the list as UTF-8 (\"CSV UTF-8\").")
                               .arg(i + 1));
    }
    throw AppError(QStringLiteral("The list is not UTF-8 text; save the list as UTF-8 (\"CSV UTF-8\")."));
}
