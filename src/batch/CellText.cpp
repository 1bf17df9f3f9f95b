#include "CellText.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

enum class Part { Literal, Year, Month, MonthName, Day, WeekdayName, Hour, Minute, Second, AmPm };

struct Token {
    Part part = Part::Literal;
    int width = 0;
    QString text;
};

// The section of a code for value: "positive;negative;zero;text".
QString SectionFor(const QString& code, double value)
{
    QStringList sections;
    QString current;
    bool quoted = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code.at(i);
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (c == QLatin1Char('\\') && i + 1 < code.size()) {
            current += c;
            current += code.at(++i);
            continue;
        }
        if (c == QLatin1Char(';') && !quoted) {
            sections << current;
            current.clear();
            continue;
        }
        current += c;
    }
    sections << current;
    if (value < 0 && sections.size() > 1)
        return sections[1];
    if (value == 0 && sections.size() > 2)
        return sections[2];
    return sections[0];
}

// A bracketed part: "[$€-407]" shows "€"; "[Red]", "[$-409]" show nothing; "[h]" is hours.
QString Bracketed(const QString& inside, std::vector<Token>& tokens)
{
    if (inside.startsWith(QLatin1Char('$')))
        return inside.mid(1).section(QLatin1Char('-'), 0, 0);
    const QString lower = inside.toLower();
    if (!lower.isEmpty() && (lower.count(lower.front()) == lower.size()) &&
        QStringLiteral("hms").contains(lower.front())) {
        const Part part = lower.front() == QLatin1Char('h') ? Part::Hour
                          : lower.front() == QLatin1Char('m') ? Part::Minute
                                                               : Part::Second;
        tokens.push_back({part, static_cast<int>(lower.size()), QString()});
    }
    return QString();
}

Part DatePart(QChar letter)
{
    switch (letter.toLower().unicode()) {
    case 'y': return Part::Year;
    case 'm': return Part::Month;
    case 'd': return Part::Day;
    case 'h': return Part::Hour;
    case 's': return Part::Second;
    default: return Part::Literal;
    }
}

void AddLiteral(std::vector<Token>& tokens, const QString& text)
{
    if (text.isEmpty())
        return;
    if (!tokens.empty() && tokens.back().part == Part::Literal)
        tokens.back().text += text;
    else
        tokens.push_back({Part::Literal, 0, text});
}

// Reads one literal at code[i] (quoted text, an escaped or skipped character, a bracket);
// returns false when code[i] is none.
bool ReadLiteral(const QString& code, qsizetype& i, std::vector<Token>& tokens)
{
    const QChar c = code.at(i);
    if (c == QLatin1Char('"')) {
        const qsizetype end = code.indexOf(QLatin1Char('"'), i + 1);
        AddLiteral(tokens, code.mid(i + 1, (end < 0 ? code.size() : end) - i - 1));
        i = end < 0 ? code.size() : end + 1;
    } else if (c == QLatin1Char('\\') && i + 1 < code.size()) {
        AddLiteral(tokens, code.mid(i + 1, 1));
        i += 2;
    } else if ((c == QLatin1Char('_') || c == QLatin1Char('*')) && i + 1 < code.size()) {
        AddLiteral(tokens, c == QLatin1Char('_') ? QStringLiteral(" ") : QString());
        i += 2;
    } else if (c == QLatin1Char('[')) {
        const qsizetype end = code.indexOf(QLatin1Char(']'), i + 1);
        AddLiteral(tokens, Bracketed(code.mid(i + 1, (end < 0 ? code.size() : end) - i - 1), tokens));
        i = end < 0 ? code.size() : end + 1;
    } else {
        return false;
    }
    return true;
}

std::vector<Token> DateTokens(const QString& section)
{
    std::vector<Token> tokens;
    qsizetype i = 0;
    while (i < section.size()) {
        if (ReadLiteral(section, i, tokens))
            continue;
        if (section.mid(i, 5).compare(QLatin1String("AM/PM"), Qt::CaseInsensitive) == 0 ||
            section.mid(i, 3).compare(QLatin1String("A/P"), Qt::CaseInsensitive) == 0) {
            tokens.push_back({Part::AmPm, 0, QString()});
            i += section.at(i + 1) == QLatin1Char('/') ? 3 : 5;
            continue;
        }
        const QChar c = section.at(i);
        const Part part = DatePart(c);
        if (part == Part::Literal) {
            AddLiteral(tokens, QString(c));
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < section.size() && section.at(end).toLower() == c.toLower())
            ++end;
        tokens.push_back({part, static_cast<int>(end - i), QString()});
        i = end;
    }
    return tokens;
}

// "m" and "mm" are minutes after hours or before seconds; "mmm" and more are month names.
void ResolveMinutes(std::vector<Token>& tokens)
{
    Part previous = Part::Literal;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        Token& token = tokens[i];
        if (token.part == Part::Literal)
            continue;
        if (token.part == Part::Month && token.width >= 3) {
            token.part = Part::MonthName;
        } else if (token.part == Part::Month) {
            auto next = std::find_if(tokens.begin() + static_cast<std::ptrdiff_t>(i) + 1, tokens.end(),
                                     [](const Token& t) { return t.part != Part::Literal; });
            if (previous == Part::Hour || (next != tokens.end() && next->part == Part::Second))
                token.part = Part::Minute;
        } else if (token.part == Part::Day && token.width >= 3) {
            token.part = Part::WeekdayName;
        }
        previous = token.part;
    }
}

QString Padded(int number, int width)
{
    return QStringLiteral("%1").arg(number, std::min(width, 2), 10, QLatin1Char('0'));
}

QString DateText(const QDateTime& moment, const std::vector<Token>& tokens)
{
    const bool twelveHours = std::any_of(tokens.begin(), tokens.end(), [](const Token& t) { return t.part == Part::AmPm; });
    const QDate date = moment.date();
    const QTime time = moment.time();
    const QLocale english(QLocale::English);
    QString text;
    for (const Token& token : tokens) {
        switch (token.part) {
        case Part::Literal: text += token.text; break;
        case Part::Year: text += token.width <= 2 ? Padded(date.year() % 100, 2) : QString::number(date.year()); break;
        case Part::Month: text += Padded(date.month(), token.width); break;
        case Part::MonthName:
            text += token.width == 3 ? english.monthName(date.month(), QLocale::ShortFormat)
                                     : english.monthName(date.month()).left(token.width == 5 ? 1 : -1);
            break;
        case Part::Day: text += Padded(date.day(), token.width); break;
        case Part::WeekdayName:
            text += english.dayName(date.dayOfWeek(), token.width == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
            break;
        case Part::Hour: text += Padded(twelveHours ? (time.hour() + 11) % 12 + 1 : time.hour(), token.width); break;
        case Part::Minute: text += Padded(time.minute(), token.width); break;
        case Part::Second: text += Padded(time.second(), token.width); break;
        case Part::AmPm: text += time.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"); break;
        }
    }
    return text;
}

bool IsDateCode(const std::vector<Token>& tokens)
{
    return std::any_of(tokens.begin(), tokens.end(), [](const Token& t) { return t.part != Part::Literal; });
}

QDateTime MomentOf(double value, QDate origin)
{
    const double days = std::floor(value);
    const auto seconds = static_cast<qint64>(std::llround((value - days) * 86400));
    return QDateTime(origin.addDays(static_cast<qint64>(days)), QTime(0, 0)).addSecs(seconds);
}

// The pattern of a number code: the literal text around it and how its digits are shown.
struct NumberPattern {
    QString prefix;
    QString suffix;
    int integerDigits = 0;
    int decimals = 0;
    int minDecimals = 0;
    bool grouped = false;
    bool percent = false;
    bool scientific = false;
};

bool IsDigitPlaceholder(QChar c)
{
    return c == QLatin1Char('0') || c == QLatin1Char('#') || c == QLatin1Char('?');
}

void ReadNumberChar(QChar c, bool& afterPoint, NumberPattern& pattern)
{
    if (c == QLatin1Char('.')) {
        afterPoint = true;
    } else if (c == QLatin1Char(',')) {
        pattern.grouped = pattern.grouped || !afterPoint;
    } else if (afterPoint) {
        ++pattern.decimals;
        pattern.minDecimals += c != QLatin1Char('#') ? 1 : 0;
    } else if (c == QLatin1Char('0')) {
        ++pattern.integerDigits;
    }
}

NumberPattern NumberPatternOf(const QString& section)
{
    NumberPattern pattern;
    bool inNumber = false;
    bool numberDone = false;
    bool afterPoint = false;
    qsizetype i = 0;
    while (i < section.size()) {
        std::vector<Token> literal;
        if (!ReadLiteral(section, i, literal)) {
            const QChar c = section.at(i++);
            const bool numberChar =
                IsDigitPlaceholder(c) || (inNumber && (c == QLatin1Char('.') || c == QLatin1Char(',')));
            if (numberChar && !numberDone) {
                inNumber = true;
                ReadNumberChar(c, afterPoint, pattern);
                continue;
            }
            const bool exponent = (c == QLatin1Char('E') || c == QLatin1Char('e')) && i < section.size() &&
                                  (section.at(i) == QLatin1Char('+') || section.at(i) == QLatin1Char('-'));
            pattern.scientific = pattern.scientific || (inNumber && !numberDone && exponent);
            pattern.percent = pattern.percent || c == QLatin1Char('%');
            literal.push_back({Part::Literal, 0, QString(c)});
        }
        numberDone = numberDone || inNumber;
        for (const Token& token : literal)
            (inNumber ? pattern.suffix : pattern.prefix) += token.text;
    }
    return pattern;
}

QString Grouped(const QString& digits)
{
    QString text;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += QLatin1Char(',');
        text += digits.at(i);
    }
    return text;
}

QString NumberText(double value, const NumberPattern& pattern, bool negativeSection)
{
    const double shown = std::abs(pattern.percent ? value * 100 : value);
    QString digits = QString::number(shown, 'f', pattern.decimals);
    QString integer = digits.section(QLatin1Char('.'), 0, 0);
    QString fraction = digits.section(QLatin1Char('.'), 1);
    while (fraction.size() > pattern.minDecimals && fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    if (integer == QLatin1String("0") && pattern.integerDigits == 0)
        integer.clear();
    while (integer.size() < pattern.integerDigits)
        integer.prepend(QLatin1Char('0'));
    QString text = pattern.grouped ? Grouped(integer) : integer;
    if (!fraction.isEmpty() || pattern.minDecimals > 0)
        text += QLatin1Char('.') + fraction;
    const bool nonZero = std::any_of(digits.begin(), digits.end(), [](QChar c) { return c >= QLatin1Char('1') && c <= QLatin1Char('9'); });
    const bool minus = value < 0 && !negativeSection && nonZero;
    return (minus ? QStringLiteral("-") : QString()) + pattern.prefix + text + pattern.suffix;
}
}

QString GeneralNumber(double value)
{
    if (std::isfinite(value) && std::abs(value) < 1e15 && value == std::trunc(value))
        return QString::number(static_cast<qint64>(value));
    QString text = QString::number(value, 'g', 15).toUpper();
    return text.replace(QStringLiteral("E+0"), QStringLiteral("E+")).replace(QStringLiteral("E-0"), QStringLiteral("E-"));
}

QString ShownNumber(double value, const QString& formatCode, QDate origin)
{
    const QString section = SectionFor(formatCode, value);
    if (section.isEmpty() || section.contains(QLatin1String("general"), Qt::CaseInsensitive) ||
        section == QLatin1String("@") || !std::isfinite(value))
        return GeneralNumber(value);
    std::vector<Token> tokens = DateTokens(section);
    if (IsDateCode(tokens)) {
        ResolveMinutes(tokens);
        const QDateTime moment = MomentOf(value, origin);
        return moment.isValid() ? DateText(moment, tokens) : GeneralNumber(value);
    }
    const NumberPattern pattern = NumberPatternOf(section);
    if (pattern.scientific)
        return GeneralNumber(value);
    const bool negativeSection = value < 0 && section != SectionFor(formatCode, -value);
    return NumberText(value, pattern, negativeSection);
}

QString BuiltinNumberFormat(int id)
{
    switch (id) {
    case 1: return QStringLiteral("0");
    case 2: return QStringLiteral("0.00");
    case 3: return QStringLiteral("#,##0");
    case 4: return QStringLiteral("#,##0.00");
    case 9: return QStringLiteral("0%");
    case 10: return QStringLiteral("0.00%");
    case 14: {
        QString code = QLocale::system().dateFormat(QLocale::ShortFormat).toLower();
        if (!code.contains(QLatin1String("yyyy")))
            code.replace(QLatin1String("yy"), QLatin1String("yyyy"));
        return code;
    }
    case 15: return QStringLiteral("d-mmm-yy");
    case 16: return QStringLiteral("d-mmm");
    case 17: return QStringLiteral("mmm-yy");
    case 18: return QStringLiteral("h:mm AM/PM");
    case 19: return QStringLiteral("h:mm:ss AM/PM");
    case 20: return QStringLiteral("h:mm");
    case 21: return QStringLiteral("h:mm:ss");
    case 22: return BuiltinNumberFormat(14) + QStringLiteral(" h:mm");
    case 37: return QStringLiteral("#,##0 ;(#,##0)");
    case 38: return QStringLiteral("#,##0 ;(#,##0)");
    case 39: return QStringLiteral("#,##0.00;(#,##0.00)");
    case 40: return QStringLiteral("#,##0.00;(#,##0.00)");
    case 45: return QStringLiteral("mm:ss");
    case 46: return QStringLiteral("[h]:mm:ss");
    default: return QStringLiteral("General");
    }
}
