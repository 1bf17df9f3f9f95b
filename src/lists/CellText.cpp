#include "CellText.h"

#include "core/AppError.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace {

// The languages and countries of the Windows locale ids (LCIDs) that number formats name
// ("[$-407]", "[$\u20AC-407]"), for the locales spreadsheets are commonly kept in.
struct LocaleId {
    int id;
    QLocale::Language language;
    QLocale::Territory territory;
};
constexpr LocaleId LocaleIds[] = {
    {0x0401, QLocale::Arabic, QLocale::SaudiArabia},   {0x0402, QLocale::Bulgarian, QLocale::Bulgaria},
    {0x0403, QLocale::Catalan, QLocale::Spain},        {0x0404, QLocale::Chinese, QLocale::Taiwan},
    {0x0405, QLocale::Czech, QLocale::CzechRepublic},  {0x0406, QLocale::Danish, QLocale::Denmark},
    {0x0407, QLocale::German, QLocale::Germany},       {0x0408, QLocale::Greek, QLocale::Greece},
    {0x0409, QLocale::English, QLocale::UnitedStates}, {0x040A, QLocale::Spanish, QLocale::Spain},
    {0x040B, QLocale::Finnish, QLocale::Finland},      {0x040C, QLocale::French, QLocale::France},
    {0x040D, QLocale::Hebrew, QLocale::Israel},        {0x040E, QLocale::Hungarian, QLocale::Hungary},
    {0x040F, QLocale::Icelandic, QLocale::Iceland},    {0x0410, QLocale::Italian, QLocale::Italy},
    {0x0411, QLocale::Japanese, QLocale::Japan},       {0x0412, QLocale::Korean, QLocale::SouthKorea},
    {0x0413, QLocale::Dutch, QLocale::Netherlands},    {0x0414, QLocale::NorwegianBokmal, QLocale::Norway},
    {0x0415, QLocale::Polish, QLocale::Poland},        {0x0416, QLocale::Portuguese, QLocale::Brazil},
    {0x0418, QLocale::Romanian, QLocale::Romania},     {0x0419, QLocale::Russian, QLocale::Russia},
    {0x041A, QLocale::Croatian, QLocale::Croatia},     {0x041B, QLocale::Slovak, QLocale::Slovakia},
    {0x041D, QLocale::Swedish, QLocale::Sweden},       {0x041F, QLocale::Turkish, QLocale::Turkey},
    {0x0422, QLocale::Ukrainian, QLocale::Ukraine},    {0x0424, QLocale::Slovenian, QLocale::Slovenia},
    {0x0425, QLocale::Estonian, QLocale::Estonia},     {0x0426, QLocale::Latvian, QLocale::Latvia},
    {0x0427, QLocale::Lithuanian, QLocale::Lithuania}, {0x0804, QLocale::Chinese, QLocale::China},
    {0x0807, QLocale::German, QLocale::Switzerland},   {0x0809, QLocale::English, QLocale::UnitedKingdom},
    {0x080A, QLocale::Spanish, QLocale::Mexico},       {0x080C, QLocale::French, QLocale::Belgium},
    {0x0810, QLocale::Italian, QLocale::Switzerland},  {0x0813, QLocale::Dutch, QLocale::Belgium},
    {0x0814, QLocale::NorwegianNynorsk, QLocale::Norway}, {0x0816, QLocale::Portuguese, QLocale::Portugal},
    {0x0C07, QLocale::German, QLocale::Austria},       {0x0C09, QLocale::English, QLocale::Australia},
    {0x0C0A, QLocale::Spanish, QLocale::Spain},        {0x0C0C, QLocale::French, QLocale::Canada},
    {0x1007, QLocale::German, QLocale::Luxembourg},    {0x1009, QLocale::English, QLocale::Canada},
    {0x100C, QLocale::French, QLocale::Switzerland},   {0x1407, QLocale::German, QLocale::Liechtenstein},
    {0x1409, QLocale::English, QLocale::NewZealand},   {0x140C, QLocale::French, QLocale::Luxembourg},
    {0x1809, QLocale::English, QLocale::Ireland},      {0x1C09, QLocale::English, QLocale::SouthAfrica},
    {0x2C0A, QLocale::Spanish, QLocale::Argentina},    {0x4009, QLocale::English, QLocale::India},
};

// Excel's "system" date and time formats ([$-F800] long date, [$-F400] time), which show
// as the system's locale shows them.
constexpr int SystemLongDate = 0xF800;
constexpr int SystemTime = 0xF400;

// What a format's locale decides: the characters of numbers, the names of months and days.
struct Shown {
    QLocale locale;
    // What "/" in a date format shows.
    QString dateSeparator;
};

QString DateSeparatorOf(const QLocale& locale)
{
    if (locale.language() == QLocale::C)
        return QStringLiteral("/");
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    const auto separator = std::find_if(format.begin(), format.end(), [](QChar c) { return !c.isLetter(); });
    return separator == format.end() ? QStringLiteral("/") : QString(*separator);
}

// The locale a bracketed "[$...-ID]" names, by LCID ("407") or by name ("de-DE"); nothing
// for an id this table lacks or a name no locale has.
std::optional<QLocale> NamedLocale(const QString& id)
{
    bool hex = false;
    const int lcid = id.toInt(&hex, 16) & 0xFFFF;
    if (hex) {
        if (lcid == SystemLongDate || lcid == SystemTime || lcid == 0)
            return QLocale::system();
        const auto known = std::find_if(std::begin(LocaleIds), std::end(LocaleIds), [lcid](const LocaleId& each) { return each.id == lcid; });
        if (known == std::end(LocaleIds))
            return std::nullopt;
        return QLocale(known->language, known->territory);
    }
    const QLocale named(QString(id).replace(QLatin1Char('-'), QLatin1Char('_')));
    if (named.language() == QLocale::C)
        return std::nullopt;
    return named;
}

// The locale a format code names in its brackets, else the system's, as a spreadsheet
// program shows it; throws AppError for a locale that cannot be told.
Shown ShownIn(const QString& code)
{
    static const QRegularExpression named(QStringLiteral("\\[\\$[^\\]-]*-([0-9A-Za-z-]+)\\]"));
    QLocale locale = QLocale::system();
    if (const QRegularExpressionMatch match = named.match(code); match.hasMatch()) {
        const std::optional<QLocale> found = NamedLocale(match.captured(1));
        if (!found)
            throw AppError(QStringLiteral("the number format \"%1\" names the locale %2, whose way of writing numbers "
                                          "and dates is not known here")
                               .arg(code, match.captured(1)));
        locale = *found;
    }
    return {locale, DateSeparatorOf(locale)};
}

enum class Part { Literal, DateSeparator, Year, Month, MonthName, Day, WeekdayName, Hour, Minute, Second, AmPm };

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
    if (const std::optional<QString> literal = FormatCodeLiteral(code, i)) {
        AddLiteral(tokens, *literal);
    } else if (code.at(i) == QLatin1Char('[')) {
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
        if (c == QLatin1Char('/')) {
            tokens.push_back({Part::DateSeparator, 0, QString()});
            ++i;
            continue;
        }
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
        if (token.part == Part::Literal || token.part == Part::DateSeparator)
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

QString DateText(const QDateTime& moment, const std::vector<Token>& tokens, const Shown& shown)
{
    const bool twelveHours = std::any_of(tokens.begin(), tokens.end(), [](const Token& t) { return t.part == Part::AmPm; });
    const QDate date = moment.date();
    const QTime time = moment.time();
    const QLocale& locale = shown.locale;
    QString text;
    for (const Token& token : tokens) {
        switch (token.part) {
        case Part::Literal: text += token.text; break;
        case Part::DateSeparator: text += shown.dateSeparator; break;
        case Part::Year: text += token.width <= 2 ? Padded(date.year() % 100, 2) : QString::number(date.year()); break;
        case Part::Month: text += Padded(date.month(), token.width); break;
        case Part::MonthName:
            text += token.width == 3 ? locale.monthName(date.month(), QLocale::ShortFormat)
                                     : locale.monthName(date.month()).left(token.width == 5 ? 1 : -1);
            break;
        case Part::Day: text += Padded(date.day(), token.width); break;
        case Part::WeekdayName:
            text += locale.dayName(date.dayOfWeek(), token.width == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
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
    return std::any_of(tokens.begin(), tokens.end(),
                       [](const Token& t) { return t.part != Part::Literal && t.part != Part::DateSeparator; });
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

QString Grouped(const QString& digits, const QString& separator)
{
    QString text;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += separator;
        text += digits.at(i);
    }
    return text;
}

QString NumberText(double value, const NumberPattern& pattern, bool negativeSection, const QLocale& locale)
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
    QString text = pattern.grouped ? Grouped(integer, locale.groupSeparator()) : integer;
    if (!fraction.isEmpty() || pattern.minDecimals > 0)
        text += locale.decimalPoint() + fraction;
    const bool nonZero = std::any_of(digits.begin(), digits.end(), [](QChar c) { return c >= QLatin1Char('1') && c <= QLatin1Char('9'); });
    const bool minus = value < 0 && !negativeSection && nonZero;
    return (minus ? QStringLiteral("-") : QString()) + pattern.prefix + text + pattern.suffix;
}
}

QString GeneralNumber(double value, const QLocale& locale)
{
    if (std::isfinite(value) && std::abs(value) < 1e15 && value == std::trunc(value))
        return QString::number(static_cast<qint64>(value));
    QString text = QString::number(value, 'g', 15).toUpper();
    text.replace(QStringLiteral("E+0"), QStringLiteral("E+")).replace(QStringLiteral("E-0"), QStringLiteral("E-"));
    return text.replace(QLatin1Char('.'), locale.decimalPoint());
}

std::optional<QString> FormatCodeLiteral(const QString& code, qsizetype& at)
{
    const QChar c = code.at(at);
    if (c == QLatin1Char('"')) {
        const qsizetype end = code.indexOf(QLatin1Char('"'), at + 1);
        const QString text = code.mid(at + 1, (end < 0 ? code.size() : end) - at - 1);
        at = end < 0 ? code.size() : end + 1;
        return text;
    }
    if (at + 1 >= code.size())
        return std::nullopt;
    if (c == QLatin1Char('\\')) {
        at += 2;
        return code.mid(at - 1, 1);
    }
    if (c == QLatin1Char('_') || c == QLatin1Char('*')) {
        at += 2;
        return c == QLatin1Char('_') ? QStringLiteral(" ") : QString();
    }
    return std::nullopt;
}

QString ShownNumber(double value, const QString& formatCode, QDate origin)
{
    const Shown shown = ShownIn(formatCode);
    const QString section = SectionFor(formatCode, value);
    if (section.isEmpty() || section.contains(QLatin1String("general"), Qt::CaseInsensitive) ||
        section == QLatin1String("@") || !std::isfinite(value))
        return GeneralNumber(value, shown.locale);
    std::vector<Token> tokens = DateTokens(section);
    if (IsDateCode(tokens)) {
        ResolveMinutes(tokens);
        const QDateTime moment = MomentOf(value, origin);
        return moment.isValid() ? DateText(moment, tokens, shown) : GeneralNumber(value, shown.locale);
    }
    const NumberPattern pattern = NumberPatternOf(section);
    if (pattern.scientific)
        return GeneralNumber(value, shown.locale);
    const bool negativeSection = value < 0 && section != SectionFor(formatCode, -value);
    return NumberText(value, pattern, negativeSection, shown.locale);
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
