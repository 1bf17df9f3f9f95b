#include "LetterText.h"

LetterText ToLetterText(const QString& fieldText)
{
    LetterText result;
    QString& text = result.text;
    text.reserve(fieldText.size());
    const qsizetype length = fieldText.size();
    const auto replace = [&result] {
        result.text += QChar(QChar::ReplacementCharacter);
        result.replaced = true;
    };
    for (qsizetype i = 0; i < length; ++i) {
        const QChar c = fieldText.at(i);
        const char16_t code = c.unicode();
        if (code == u'\r' && i + 1 < length && fieldText.at(i + 1) == u'\n')
            continue; // the line feed that follows stands for both
        if (code == u'\r' || code == u'\n' || code == u'\v' || code == u'\f') {
            text += QLatin1Char('\n');
        } else if (c.isHighSurrogate() && i + 1 < length && fieldText.at(i + 1).isLowSurrogate()) {
            const QChar low = fieldText.at(++i);
            if (QChar::isNonCharacter(QChar::surrogateToUcs4(c, low))) {
                replace();
            } else {
                text += c;
                text += low;
            }
        } else if (c.isSurrogate() || QChar::isNonCharacter(code) || (code < 0x20 && code != u'\t')) {
            replace();
        } else {
            text += c;
        }
    }
    return result;
}
