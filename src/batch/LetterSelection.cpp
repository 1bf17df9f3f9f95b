#include "LetterSelection.h"

#include "core/AppError.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QtEndian>
#include <QSet>

#include <algorithm>
#include <climits>

namespace {
// A line number of a range; 0 when text is not one.
int LineNumber(const QString& text)
{
    bool ok = false;
    const int number = text.trimmed().toInt(&ok);
    return ok && number >= 1 ? number : 0;
}

std::optional<RowRange> ParseRange(const QString& part)
{
    const qsizetype dash = part.indexOf(QLatin1Char('-'));
    const int first = LineNumber(dash < 0 ? part : part.left(dash));
    const QString end = dash < 0 ? part : part.mid(dash + 1);
    const int last = dash >= 0 && end.trimmed().isEmpty() ? INT_MAX : LineNumber(end);
    if (first == 0 || last == 0 || last < first)
        return std::nullopt;
    return RowRange{first, last};
}

// The digest of a name by which UniqueStems remembers it: the first 64 bits of its SHA-1,
// the same on every machine.
quint64 NameDigest(const QString& name)
{
    const QByteArray utf8 = name.toUtf8();
    return qFromLittleEndian<quint64>(QCryptographicHash::hash(utf8, QCryptographicHash::Sha1).constData());
}
}

bool InRanges(int row, const std::vector<RowRange>& ranges)
{
    if (ranges.empty())
        return true;
    return std::any_of(ranges.begin(), ranges.end(), [row](const RowRange& range) { return row >= range.first && row <= range.last; });
}

std::vector<RowRange> ParseRowRanges(const QString& text)
{
    std::vector<RowRange> ranges;
    for (const QString& part : text.split(QLatin1Char(','))) {
        const std::optional<RowRange> range = ParseRange(part);
        if (!range)
            throw AppError(QStringLiteral("--lines takes row numbers and ranges such as 2-50,75,100- , not '%1'.").arg(part.trimmed()));
        ranges.push_back(*range);
    }
    return ranges;
}

Shard ParseShard(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^\\s*(\\d{1,6})\\s*/\\s*(\\d{1,6})\\s*$"));
    const QRegularExpressionMatch match = form.match(text);
    const Shard shard{match.hasMatch() ? match.captured(1).toInt() : 0, match.hasMatch() ? match.captured(2).toInt() : 0};
    if (shard.index < 1 || shard.index > shard.count)
        throw AppError(QStringLiteral("--shard takes K/N, the K-th of N parts of the list (1 <= K <= N), not '%1'.").arg(text));
    return shard;
}

std::optional<RowCondition> RowConditionOf(const QString& text)
{
    static const QRegularExpression emptiness(QStringLiteral("^\\s*(.*\\S)\\s+is\\s+(not\\s+)?empty\\s*$"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression comparison(QStringLiteral("^\\s*([^=!]*[^=!\\s])\\s*(!=|=)(.*)$"));
    if (const QRegularExpressionMatch match = emptiness.match(text); match.hasMatch())
        return RowCondition{match.captured(1), match.captured(2).isEmpty() ? RowCondition::Test::IsEmpty : RowCondition::Test::IsNotEmpty, {}};
    if (const QRegularExpressionMatch match = comparison.match(text); match.hasMatch())
        return RowCondition{match.captured(1), match.captured(2) == QLatin1String("=") ? RowCondition::Test::Equals : RowCondition::Test::DiffersFrom,
                            match.captured(3).trimmed()};
    return std::nullopt;
}

std::function<bool(const LetterLine&)> RowConditions(const std::vector<RowCondition>& conditions, const QSet<QString>& columnKeys)
{
    std::vector<std::pair<ValueOf, RowCondition>> tests;
    QStringList unknown;
    for (const RowCondition& condition : conditions) {
        if (ValueOf value = ValueNamed(condition.name, columnKeys))
            tests.emplace_back(std::move(value), condition);
        else
            unknown << condition.name;
    }
    if (!unknown.isEmpty())
        throw AppError(QStringLiteral("--where names %1, which %2 no column of the list and no field of the letter.")
                           .arg(unknown.join(QStringLiteral(", ")), unknown.size() == 1 ? QStringLiteral("is") : QStringLiteral("are")));
    return [tests = std::move(tests)](const LetterLine& line) {
        return std::all_of(tests.begin(), tests.end(), [&line](const auto& test) {
            const QString value = test.first(line).trimmed();
            switch (test.second.test) {
            case RowCondition::Test::Equals:
                return value.compare(test.second.value, Qt::CaseInsensitive) == 0;
            case RowCondition::Test::DiffersFrom:
                return value.compare(test.second.value, Qt::CaseInsensitive) != 0;
            case RowCondition::Test::IsEmpty:
                return value.isEmpty();
            case RowCondition::Test::IsNotEmpty:
                return !value.isEmpty();
            }
            return false;
        });
    };
}

LineSelection::LineSelection(std::vector<RowRange> ranges, std::optional<Shard> shard, qint64 total)
    : mRanges(std::move(ranges)), mShard(shard), mTotal(total)
{
}

bool LineSelection::Takes(int row)
{
    if (!InRanges(row, mRanges))
        return false;
    // Line i of n goes to shard i * count / n: runs in list order, as long as one another within one.
    const qint64 within = mWithin++;
    return !mShard || (mTotal > 0 && within * mShard->count / mTotal == mShard->index - 1);
}

namespace {
// A piece of a --name pattern: text as it stands, or the name between braces.
struct PatternPiece {
    bool named = false;
    QString text;
};

// The pieces of pattern in order; throws AppError for an unclosed brace.
std::vector<PatternPiece> PatternPieces(const QString& pattern)
{
    std::vector<PatternPiece> pieces;
    qsizetype at = 0;
    while (at < pattern.size()) {
        const qsizetype open = pattern.indexOf(QLatin1Char('{'), at);
        const QString text = pattern.mid(at, open < 0 ? -1 : open - at);
        if (!text.isEmpty())
            pieces.push_back({false, text});
        if (open < 0)
            break;
        const qsizetype close = pattern.indexOf(QLatin1Char('}'), open);
        if (close < 0)
            throw AppError(QStringLiteral("The --name pattern \"%1\" opens a brace it never closes.").arg(pattern));
        pieces.push_back({true, pattern.mid(open + 1, close - open - 1)});
        at = close + 1;
    }
    return pieces;
}
}

QStringList NamePatternNames(const QString& pattern)
{
    QStringList names;
    for (const PatternPiece& piece : PatternPieces(pattern)) {
        if (piece.named)
            names << piece.text;
    }
    return names;
}

std::function<QString(const LetterLine&)> NamePattern(const QString& pattern, const QSet<QString>& columnKeys)
{
    std::vector<std::function<QString(const LetterLine&)>> parts;
    QStringList unknown;
    for (const PatternPiece& piece : PatternPieces(pattern)) {
        const QString text = piece.text;
        if (!piece.named)
            parts.push_back([text](const LetterLine&) { return text; });
        else if (ValueOf part = ValueNamed(text, columnKeys))
            parts.push_back(std::move(part));
        else
            unknown << QLatin1Char('{') + text + QLatin1Char('}');
    }
    if (!unknown.isEmpty())
        throw AppError(QStringLiteral("The --name pattern names %1, which no column of the list fills and no field of the "
                                      "letter stands for.")
                           .arg(unknown.join(QStringLiteral(", "))));
    return [parts](const LetterLine& line) {
        QString name;
        for (const auto& part : parts)
            name += part(line);
        return name;
    };
}

QString UniqueStems::Next(const LetterLine& line)
{
    QString stem = SafeFileName(mName(line));
    // A name that starts with a dot would be hidden, one of dots alone a folder's, and one
    // that starts with a hyphen is taken for an option by command-line tools.
    while (stem.startsWith(QLatin1Char('.')) || stem.startsWith(QLatin1Char(' ')) || stem.startsWith(QLatin1Char('-')))
        stem.remove(0, 1);
    if (stem.isEmpty())
        stem = QString::number(line.row);
    quint64 digest = NameDigest(stem.toCaseFolded());
    while (mTaken.contains(digest)) {
        stem += QLatin1Char('-') + QString::number(line.row);
        digest = NameDigest(stem.toCaseFolded());
    }
    mTaken.insert(digest);
    return stem;
}
