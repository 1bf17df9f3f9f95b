#include "ListReader.h"

#include "SpreadsheetReader.h"
#include "core/AppError.h"

#include <QDir>
#include <QLocale>

#include <algorithm>
#include <vector>

namespace {
// Whether a list that begins with these bytes may be a spreadsheet, read whole.
bool MayBeSpreadsheet(const QByteArray& start)
{
    return start.startsWith("PK\x03\x04") || start.startsWith("\xD0\xCF\x11\xE0") || start.contains("<?xml");
}

// The records of a list held whole, one at a time; each record's values go once given.
RecordSource Given(std::vector<CsvRecord> records)
{
    auto held = std::make_shared<std::vector<CsvRecord>>(std::move(records));
    auto at = std::make_shared<std::size_t>(0);
    return [held, at]() -> std::optional<CsvRecord> {
        if (*at >= held->size())
            return std::nullopt;
        return std::move((*held)[(*at)++]);
    };
}
}

QStringList ListSheets(int fd)
{
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly) || !file.seek(0) || !MayBeSpreadsheet(file.peek(512)))
        return {};
    const QByteArray bytes = file.read(MaxSpreadsheetBytes + 1);
    const ListFormat format = FormatOfList(bytes);
    if (bytes.size() > MaxSpreadsheetBytes || (format != ListFormat::Xlsx && format != ListFormat::Ods))
        return {};
    return SheetNames(bytes, format);
}

ListReader::ListReader(const QString& path, int fd, const QString& encoding, QChar separator, const QString& sheet)
    : mPath(path), mSheet(sheet)
{
    if (!mFile.open(fd, QIODevice::ReadOnly) || !mFile.seek(0))
        throw AppError(QStringLiteral("The list %1 cannot be read: %2").arg(Name(), mFile.errorString()));
    if (MayBeSpreadsheet(mFile.peek(512)))
        OpenWhole(encoding, separator);
    else
        OpenText(encoding, separator);
}

ListReader::~ListReader() = default;

void ListReader::OpenText(const QString& encoding, QChar separator)
{
    mText = std::make_unique<ListTextReader>(mFile, encoding);
    mRecords = std::make_unique<CsvStream>(*mText, separator);
    mSeparator = mRecords->Separator();
    if (mRecords->OneColumn())
        throw OneColumnRefusal();
}

// A spreadsheet, or a text that starts as one might, is read whole, up to one byte past
// the most a spreadsheet may hold.
void ListReader::OpenWhole(const QString& encoding, QChar separator)
{
    QByteArray bytes;
    while (bytes.size() <= MaxSpreadsheetBytes) {
        const QByteArray chunk = mFile.read(std::min<qint64>(1024 * 1024, MaxSpreadsheetBytes + 1 - bytes.size()));
        if (chunk.isEmpty())
            break;
        bytes += chunk;
    }
    if (mFile.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("The list %1 cannot be read: %2").arg(Name(), mFile.errorString()));
    if (bytes.size() > MaxSpreadsheetBytes)
        throw AppError(QStringLiteral("The spreadsheet %1 is larger than %2 MB, more than a list takes; save it as CSV.")
                           .arg(Name())
                           .arg(MaxSpreadsheetBytes / (1024 * 1024)));
    switch (const ListFormat format = FormatOfList(bytes)) {
    case ListFormat::Text: {
        const ListText text = DecodeListText(bytes, encoding);
        mGuessedEncoding = text.guessedEncoding;
        mSeparator = separator.isNull() ? ChooseSeparator(text.text) : separator;
        if (separator.isNull() && ReadsAsOneColumn(text.text, mSeparator))
            throw OneColumnRefusal();
        mWhole = Given(ParseCsv(text.text, mSeparator));
        return;
    }
    case ListFormat::BinaryXls:
    case ListFormat::ExcelXml:
        throw AppError(QStringLiteral("The list is an %1 workbook, which cannot be read; save it as an Excel "
                                      "workbook (.xlsx), an OpenDocument spreadsheet (.ods) or CSV.")
                           .arg(format == ListFormat::BinaryXls ? QStringLiteral("Excel 97-2003 (.xls)")
                                                                : QStringLiteral("Excel 2003 XML")));
    case ListFormat::OtherArchive:
        throw AppError(QStringLiteral("The list is a zip archive, but not a spreadsheet (.xlsx or .ods)."));
    default: mWhole = ReadSpreadsheet(bytes, format, mSheet);
    }
}

std::optional<CsvRecord> ListReader::Next()
{
    if (mWhole)
        return mWhole();
    std::optional<CsvRecord> record = mRecords->Next();
    if (mFile.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("The list %1 cannot be read: %2").arg(Name(), mFile.errorString()));
    // Every row is planned before the first letter: a standard input that does not end
    // would take all the memory there is.
    if (mPath == QLatin1String("-") && record && (++mRecordsRead > MaxStandardInputRecords || mText->BytesRead() > MaxStandardInputBytes))
        throw AppError(QStringLiteral("The list on standard input is longer than %1 rows or %2 MB; save it to a file and "
                                      "name the file instead.")
                           .arg(QLocale::system().toString(MaxStandardInputRecords))
                           .arg(MaxStandardInputBytes / (1024 * 1024)));
    return record;
}

QStringList ListReader::Notes() const
{
    QStringList notes;
    const QString guessed = mText ? mText->GuessedEncoding() : mGuessedEncoding;
    if (!guessed.isEmpty())
        notes << QStringLiteral("The list is not UTF-8 text; it is read as %1 (--encoding names another).").arg(guessed);
    if (!mSeparator.isNull() && mSeparator != QLatin1Char(','))
        notes << QStringLiteral("The list's values are separated by %1s.").arg(SeparatorName(mSeparator));
    return notes;
}

AppError ListReader::OneColumnRefusal() const
{
    return AppError(QStringLiteral("The list %1 reads as one column: no separator splits its first lines alike. Name its "
                                   "separator with --separator comma, semicolon or tab.")
                        .arg(Name()));
}

QString ListReader::Name() const
{
    return mPath == QLatin1String("-") ? QStringLiteral("on standard input")
                                       : QStringLiteral("\"%1\"").arg(QDir::toNativeSeparators(mPath));
}
