#include "CommandLine.h"

#include <QCommandLineParser>

#include <cerrno>
#include <cstring>

const QCommandLineOption& HelpOption()
{
    static const QCommandLineOption option({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("show this help and end"));
    return option;
}

const QCommandLineOption& VersionOption()
{
    static const QCommandLineOption option(QStringLiteral("version"), QStringLiteral("show the version and end"));
    return option;
}

QString CommandLineHelp(const QCommandLineParser& parser, const QString& usage)
{
    const QString help = parser.helpText();
    return QStringLiteral("Usage: ") + usage + QStringLiteral("\n\n") + help.mid(help.indexOf(QLatin1Char('\n')) + 1);
}

QString UsageErrorText(const QString& program, const QString& error)
{
    return QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(program, error);
}

bool WriteText(std::FILE* stream, const QString& text, QString& reason)
{
    errno = 0;
    if (std::fputs(text.toUtf8().constData(), stream) >= 0 && std::fflush(stream) == 0)
        return true;
    reason = QString::fromLocal8Bit(std::strerror(errno != 0 ? errno : EIO));
    return false;
}
