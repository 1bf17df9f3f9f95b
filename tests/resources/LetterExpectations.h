#pragma once

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// What the tests of the letter template share: where the committed template lies and the
// placeholders its main story must carry, in reading order and letter case.

inline QString CommittedTemplatePath()
{
    return QDir(QStringLiteral(INKHAVEN_RESOURCES_DIR)).filePath(QStringLiteral("letter/letter.dot"));
}

inline QByteArray CommittedTemplateBytes()
{
    QFile file(CommittedTemplatePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline QStringList ExpectedPlaceholders()
{
    return {
        "[YourName]", "[StreetAddress]", "[City]", "[ST]", "[ZIPCode]", "[CurrentDate]",
        "[RecipientName]", "[Title]", "[CompanyName]", "[StreetAddress2]", "[City2]", "[ST2]",
        "[ZIPCode2]", "[RecipientName]", "[YourName]", "[YourTitle]", "[COMPANYNAME]",
        "[STREETADDRESS2]", "[CITY2]", "[ST2]", "[ZIPCode2]", "[CurrentDate]", "[RecipientName]",
    };
}

// Every bracketed token of a text, in order.
inline QStringList BracketedTokens(const QString& text)
{
    static const QRegularExpression token(QStringLiteral("\\[[^\\]\\[]*\\]"));
    QStringList tokens;
    for (const auto& match : token.globalMatch(text))
        tokens.append(match.captured());
    return tokens;
}
