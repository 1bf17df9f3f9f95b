#pragma once

#include <QString>

// The longest text of one field that goes into the letter. The office needs seconds to
// save and to open again every paragraph much longer than this (the time grows with the
// square of its length), and every few thousand characters add a page to the preview; a
// megabyte would hold the application for many minutes. A longer text is reported and
// left out of the letter; the window keeps it.
inline constexpr qsizetype LetterFieldLimit = 10000;

// A field's text as a Word document can hold it.
struct LetterText {
    QString text;
    // Whether characters were replaced by U+FFFD.
    bool replaced = false;
};

// Word documents hold text, tabs and line breaks but no other control characters: the
// office silently drops a replacement that holds one, and half of a broken surrogate pair
// ends the connection to it. So a carriage return, a line feed, the pair of them, a
// vertical tab (Word's own line break) and a form feed each become one line feed, a new
// line in the letter; every other control character below U+0020 except the tab, every
// unpaired surrogate and every non-character (U+FDD0-U+FDEF and the last two code points
// of each plane) becomes U+FFFD. Everything else is kept as it is.
LetterText ToLetterText(const QString& fieldText);
