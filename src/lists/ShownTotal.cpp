#include "ShownTotal.h"

#include "CellText.h"

#include <QLocale>

#include <algorithm>

namespace {

// The most digits a number read or a sum may have: far beyond any price, and well within
// the 38 digits the sum is kept in.
constexpr int MostDigits = 30;

__int128 PowerOfTen(int exponent)
{
    __int128 power = 1;
    for (int i = 0; i < exponent; ++i)
        power *= 10;
    return power;
}

// What may stand between the digits of a number: its decimal separator, and the
// separators of thousands that locales write (a space, a no-break space, a narrow one, an
// apostrophe).
bool IsSeparator(QChar c)
{
    return c == QLatin1Char('.') || c == QLatin1Char(',') || c == QLatin1Char(' ') || c == QChar(0x00A0) || c == QChar(0x202F)
        || c == QLatin1Char('\'') || c == QChar(0x2019);
}

bool IsMinus(QChar c)
{
    return c == QLatin1Char('-') || c == QChar(0x2212);
}

// The first section of a format code (the one for positive numbers), without its quoted
// texts, escaped characters and bracketed parts ("[$€-407]", "[Red]").
QString NumberPart(const QString& code)
{
    QString part;
    for (qsizetype at = 0; at < code.size();) {
        if (code[at] == QLatin1Char(';'))
            break;
        if (code[at] == QLatin1Char('[')) {
            const qsizetype end = code.indexOf(QLatin1Char(']'), at);
            at = end < 0 ? code.size() : end + 1;
            continue;
        }
        if (FormatCodeLiteral(code, at))
            continue;
        part += code[at++];
    }
    return part;
}

QString Digits(__int128 value)
{
    if (value == 0)
        return QStringLiteral("0");
    QString digits;
    for (; value > 0; value /= 10)
        digits.prepend(QChar(QLatin1Char('0' + static_cast<int>(value % 10))));
    return digits;
}
}

NumberLook LookOfFormat(const QString& formatCode)
{
    NumberLook look;
    if (formatCode.isEmpty())
        return look;
    look.known = true;
    const QString part = NumberPart(formatCode);
    if (part.isEmpty() || part.contains(QLatin1String("general"), Qt::CaseInsensitive)) {
        look.general = true;
        return look;
    }
    const qsizetype point = part.indexOf(QLatin1Char('.'));
    const QString whole = point < 0 ? part : part.left(point);
    // A comma between digit placeholders groups thousands; one after them scales the number.
    for (qsizetype at = 1; at + 1 < whole.size(); ++at) {
        const auto placeholder = [](QChar c) { return c == QLatin1Char('0') || c == QLatin1Char('#') || c == QLatin1Char('?'); };
        if (whole[at] == QLatin1Char(',') && placeholder(whole[at - 1]) && placeholder(whole[at + 1]))
            look.grouped = true;
    }
    for (qsizetype at = point + 1; point >= 0 && at < part.size(); ++at) {
        if (part[at] == QLatin1Char('0'))
            ++look.minDecimals;
        if (part[at] == QLatin1Char('0') || part[at] == QLatin1Char('#') || part[at] == QLatin1Char('?'))
            ++look.maxDecimals;
        else
            break;
    }
    return look;
}

std::optional<ShownDecimal> ReadShownNumber(const QString& shown, const QString& formatCode, QChar decimalHint)
{
    const QString text = shown.trimmed();
    const auto isDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    const auto first = std::find_if(text.begin(), text.end(), isDigit);
    if (first == text.end())
        return std::nullopt;
    const qsizetype start = first - text.begin();
    qsizetype end = text.size();
    while (!isDigit(text[end - 1]))
        --end;
    ShownDecimal number;
    number.prefix = text.left(start);
    number.suffix = text.mid(end);
    const QString core = text.mid(start, end - start);
    const qsizetype minus = std::count_if(number.prefix.begin(), number.prefix.end(), IsMinus);
    const bool bracketed = number.prefix.startsWith(QLatin1Char('(')) && number.suffix.endsWith(QLatin1Char(')'));
    if (minus > 1 || (minus == 1 && bracketed) || std::any_of(number.suffix.begin(), number.suffix.end(), IsMinus))
        return std::nullopt;
    number.negative = minus == 1 || bracketed;

    // The separators between the digits, none next to another.
    std::vector<qsizetype> separators;
    for (qsizetype at = 0; at < core.size(); ++at) {
        if (isDigit(core[at]))
            continue;
        if (!IsSeparator(core[at]) || (!separators.empty() && separators.back() == at - 1))
            return std::nullopt;
        separators.push_back(at);
    }
    qsizetype decimalAt = -1;
    if (!separators.empty()) {
        const QChar last = core[separators.back()];
        const auto countOf = [&](QChar c) { return std::count_if(separators.begin(), separators.end(), [&](qsizetype at) { return core[at] == c; }); };
        const bool oneKind = countOf(last) == static_cast<qsizetype>(separators.size());
        const NumberLook look = LookOfFormat(formatCode);
        const qsizetype digitsAfter = core.size() - separators.back() - 1;
        bool decimal = false;
        if (!oneKind) {
            // Of two kinds, the last marks the decimals, and stands once.
            if (countOf(last) > 1 || countOf(core[separators.front()]) + 1 != static_cast<qsizetype>(separators.size()))
                return std::nullopt;
            decimal = true;
        } else if (separators.size() > 1) {
            decimal = false;
        } else if (look.known) {
            // A format that never groups, or always shows decimals, tells; so does one
            // without decimals.
            decimal = look.general || (look.maxDecimals > 0 && (!look.grouped || look.minDecimals > 0 || digitsAfter != 3));
        } else if (digitsAfter != 3) {
            decimal = true;
        } else if (!decimalHint.isNull()) {
            decimal = last == decimalHint;
        } else {
            return std::nullopt;
        }
        if (decimal) {
            if (last != QLatin1Char('.') && last != QLatin1Char(','))
                return std::nullopt;
            decimalAt = separators.back();
            number.decimalSeparator = last;
            separators.pop_back();
        }
        // The thousands: groups of three from the decimals back, the first of one to three.
        qsizetype groupEnd = decimalAt < 0 ? core.size() : decimalAt;
        for (auto at = separators.rbegin(); at != separators.rend(); ++at) {
            if (core[*at] != core[separators.front()] || groupEnd - *at - 1 != 3)
                return std::nullopt;
            groupEnd = *at;
        }
        if (!separators.empty()) {
            if (groupEnd > 3)
                return std::nullopt;
            number.groupSeparator = core[separators.front()];
            if (number.groupSeparator == number.decimalSeparator)
                return std::nullopt;
        }
    }
    QString digits;
    for (const QChar c : core) {
        if (isDigit(c))
            digits += c;
    }
    if (digits.size() > MostDigits)
        return std::nullopt;
    for (const QChar c : digits)
        number.units = number.units * 10 + (c.unicode() - '0');
    number.scale = decimalAt < 0 ? 0 : static_cast<int>(core.size() - decimalAt - 1);
    return number;
}

void ShownTotal::Add(const ShownDecimal& number, const QString& formatCode)
{
    ++mCount;
    __int128 units = number.units;
    if (number.scale > mScale) {
        mUnits *= PowerOfTen(number.scale - mScale);
        mScale = number.scale;
    } else {
        units *= PowerOfTen(mScale - number.scale);
    }
    mUnits += number.negative ? -units : units;
    const NumberLook look = LookOfFormat(formatCode);
    // "General" shows as few decimals as each number needs, whatever the cells happen to show.
    if ((mDecimals >= 0 && mDecimals != number.scale) || look.general)
        mSameDecimals = false;
    mDecimals = number.scale;
    mGroupedByFormat = mGroupedByFormat || look.grouped;
    const bool seen = std::any_of(mLooks.begin(), mLooks.end(), [&](const ShownDecimal& look) {
        return look.prefix == number.prefix && look.suffix == number.suffix && look.negative == number.negative
            && look.decimalSeparator == number.decimalSeparator && look.groupSeparator == number.groupSeparator;
    });
    if (!seen)
        mLooks.push_back(number);
}

std::optional<QString> ShownTotal::Shown(QString* why) const
{
    const auto refuse = [why](const QString& reason) -> std::optional<QString> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    if (Digits(mUnits < 0 ? -mUnits : mUnits).size() > MostDigits)
        return refuse(QStringLiteral("the sum has more digits than a number can show"));
    // The separators every cell agrees on, and the look of the sum's sign.
    QChar decimal;
    QChar group;
    const ShownDecimal* signLook = nullptr;
    const bool negative = mUnits < 0;
    for (const ShownDecimal& look : mLooks) {
        if (!look.decimalSeparator.isNull() && !decimal.isNull() && look.decimalSeparator != decimal)
            return refuse(QStringLiteral("its cells mark decimals with both \"%1\" and \"%2\"").arg(decimal, look.decimalSeparator));
        if (!look.groupSeparator.isNull() && !group.isNull() && look.groupSeparator != group)
            return refuse(QStringLiteral("its cells group thousands with both \"%1\" and \"%2\"").arg(group, look.groupSeparator));
        decimal = look.decimalSeparator.isNull() ? decimal : look.decimalSeparator;
        group = look.groupSeparator.isNull() ? group : look.groupSeparator;
        if (look.negative != negative)
            continue;
        if (signLook && (signLook->prefix != look.prefix || signLook->suffix != look.suffix))
            return refuse(QStringLiteral("its cells show their numbers in more than one way (\"%1…%2\" and \"%3…%4\")")
                              .arg(signLook->prefix, signLook->suffix, look.prefix, look.suffix));
        signLook = signLook ? signLook : &look;
    }
    for (const ShownDecimal& look : mLooks) {
        if (look.negative == negative || !signLook)
            continue;
        // The other sign's cells must show the same unit ("12,00 €" and "-3,00 €").
        QString own = look.prefix + look.suffix;
        QString total = signLook->prefix + signLook->suffix;
        for (QString* text : {&own, &total})
            text->remove(QLatin1Char('-')).remove(QChar(0x2212)).remove(QLatin1Char('(')).remove(QLatin1Char(')'));
        if (own.trimmed() != total.trimmed())
            return refuse(QStringLiteral("its cells show their numbers in more than one way (\"%1…%2\" and \"%3…%4\")")
                              .arg(signLook->prefix, signLook->suffix, look.prefix, look.suffix));
    }
    if (!signLook)
        return refuse(QStringLiteral("none of its cells shows how a %1 number looks").arg(negative ? QStringLiteral("negative") : QStringLiteral("positive")));
    if (group.isNull() && mGroupedByFormat)
        group = decimal == QLatin1Char(',') ? QLatin1Char('.') : decimal == QLatin1Char('.') ? QLatin1Char(',') : QLocale::system().groupSeparator().front();

    // As many decimals as every cell shows, else as few as the sum needs ("General").
    __int128 units = negative ? -mUnits : mUnits;
    int scale = mScale;
    const int decimals = mSameDecimals ? std::max(mDecimals, 0) : 0;
    while (scale > decimals && units % 10 == 0) {
        units /= 10;
        --scale;
    }
    const QString digits = Digits(units).rightJustified(scale + 1, QLatin1Char('0'));
    QString whole = digits.left(digits.size() - scale);
    if (!group.isNull()) {
        for (qsizetype at = whole.size() - 3; at > 0; at -= 3)
            whole.insert(at, group);
    }
    QString number = whole;
    if (scale > 0)
        number += (decimal.isNull() ? QLatin1Char('.') : decimal) + digits.right(scale);
    return signLook->prefix + number + signLook->suffix;
}
