#include "DocumentText.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

namespace {
QString Read(const QString& program, const QStringList& arguments)
{
    QProcess reader;
    reader.start(program, arguments);
    if (!reader.waitForFinished(60000) || reader.exitStatus() != QProcess::NormalExit || reader.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>").arg(program, QString::fromLocal8Bit(reader.readAllStandardError()));
    return DecodeReaderOutput(reader.readAllStandardOutput());
}
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString AntiwordText(const QString& path)
{
    return Read(QStringLiteral("antiword"), {QStringLiteral("-w"), QStringLiteral("0"), QStringLiteral("-m"),
                                             QStringLiteral("UTF-8.txt"), path});
}

QString CatdocText(const QString& path)
{
    return Read(QStringLiteral("catdoc"), {QStringLiteral("-w"), QStringLiteral("-d"), QStringLiteral("utf-8"), path});
}

QString ZipMemberXml(const QString& path, const QString& member)
{
    return Read(QStringLiteral("unzip"), {QStringLiteral("-p"), path, member});
}

QString ZipMemberText(const QString& path, const QString& member)
{
    static const QRegularExpression markup(QStringLiteral("<[^>]*>"));
    return ZipMemberXml(path, member).replace(markup, QString());
}

QString Odt2txtText(const QString& path)
{
    return Read(QStringLiteral("odt2txt"), {QStringLiteral("--width=-1"), QStringLiteral("--encoding=UTF-8"), path});
}

QString PdftotextText(const QString& path, bool layout)
{
    QStringList arguments{QStringLiteral("-enc"), QStringLiteral("UTF-8"), path, QStringLiteral("-")};
    if (layout)
        arguments.prepend(QStringLiteral("-layout"));
    return Read(QStringLiteral("pdftotext"), arguments);
}

QString PdfinfoLinks(const QString& path)
{
    return Read(QStringLiteral("pdfinfo"), {QStringLiteral("-url"), path});
}

int PdfimagesCount(const QString& path)
{
    // Two heading lines, then one line per picture.
    const QString listed = Read(QStringLiteral("pdfimages"), {QStringLiteral("-list"), path});
    return listed.startsWith(QLatin1Char('<')) ? -1 : static_cast<int>(listed.trimmed().count(QLatin1Char('\n'))) - 1;
}

int PdfinfoPages(const QString& path)
{
    static const QRegularExpression pages(QStringLiteral("^Pages:\\s+(\\d+)$"), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = pages.match(Read(QStringLiteral("pdfinfo"), {path}));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

QString DecodeReaderOutput(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const int length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || i + length > bytes.size()) {
            text += QChar(QChar::ReplacementCharacter);
            ++i;
            continue;
        }
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
        if (code > 0xFFFF) {
            text += QChar(QChar::highSurrogate(code));
            text += QChar(QChar::lowSurrogate(code));
        } else {
            // A surrogate half stays as it is and pairs with the half that follows.
            text += QChar(static_cast<char16_t>(code));
        }
        i += length;
    }
    return text;
}
