#pragma once

#include <QString>

#include <optional>
#include <vector>

// A number as a cell shows it ("1.259,97 €", "$12,500.00", "-3", "(4.50)", "12,5 %"), read
// back exactly: its value in decimal, and how it is written, so that a sum of such cells
// can be shown as they are.
struct ShownDecimal {
    // The value is units / 10^scale, scale being the decimals shown.
    __int128 units = 0;
    int scale = 0;
    // What stands before and after the digits, a sign with it ("€ ", " €", "-", "(" and ")").
    QString prefix;
    QString suffix;
    bool negative = false;
    // The separators seen: of the decimals, and of the thousands; null when none shows.
    QChar decimalSeparator;
    QChar groupSeparator;
};

// What a cell's number format says of its numbers, read from its code in a spreadsheet's
// form ("#,##0.00 [$€-407]", "0.0%", "General"): whether they are grouped in thousands,
// and how many decimals they show. An empty code (a text list's cell) says nothing.
struct NumberLook {
    bool known = false;
    bool general = false;
    bool grouped = false;
    int minDecimals = 0;
    int maxDecimals = 0;
};
NumberLook LookOfFormat(const QString& formatCode);

// The number shown reads as, given its cell's format code (empty for a text list); nothing
// when it is no number (a date, a text, digits with letters between them), or when which of
// its separators marks the decimals cannot be told from the text and the format alone.
// decimalHint, when not null, is the decimal separator the column shows elsewhere.
std::optional<ShownDecimal> ReadShownNumber(const QString& shown, const QString& formatCode, QChar decimalHint = QChar());

// The sum of one column's numbers in the items of one letter, added exactly, and shown as
// those cells show their numbers.
class ShownTotal {
public:
    // Adds a cell's number (see ReadShownNumber) with its format code.
    void Add(const ShownDecimal& number, const QString& formatCode);
    // The sum as the cells show theirs: with their decimals (the same for every cell, else, or
    // in "General", as few as the sum needs), their separators, currency and sign, and thousands grouped when
    // a cell or its format groups them. Nothing with why, when the cells show their numbers
    // in more than one way (another currency, other separators).
    std::optional<QString> Shown(QString* why = nullptr) const;
    int Count() const { return mCount; }

private:
    __int128 mUnits = 0;
    int mScale = 0;
    int mCount = 0;
    std::vector<ShownDecimal> mLooks;
    bool mGroupedByFormat = false;
    bool mSameDecimals = true;
    int mDecimals = -1;
};
