#include "WindowCommand.h"

#include "core/CommandLine.h"
#include "resources/Resources.h"

#include <QCommandLineParser>

#include <cstdio>

namespace {
void Describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Fills a business-proposal letter with the sender's and the recipient's details, shows\n"
        "it page by page and saves it as a Word 97-2003 document. LibreOffice Writer fills and\n"
        "lays out the letter in the background. Qt's own options, such as -platform and\n"
        "-style, are taken as well."));
    parser.addOption(HelpOption());
    parser.addOption(VersionOption());
}

QString Program()
{
    return QLatin1String(WindowProgram);
}
}

WindowRequest ParseWindowCommand(const QStringList& arguments, QString& error)
{
    QCommandLineParser parser;
    Describe(parser);
    if (!parser.parse(QStringList(Program()) + arguments))
        error = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        error = QStringLiteral("The window takes no file or other argument: '%1'.").arg(parser.positionalArguments().first());
    if (parser.isSet(HelpOption()))
        return WindowRequest::Help;
    return parser.isSet(VersionOption()) ? WindowRequest::Version : WindowRequest::Run;
}

int AnswerWindowRequest(WindowRequest request)
{
    QCommandLineParser parser;
    Describe(parser);
    const QString text = request == WindowRequest::Help ? CommandLineHelp(parser, Program() + QStringLiteral(" [OPTION]..."))
                                                        : VersionText(Program());
    QString reason;
    if (WriteText(stdout, text, reason))
        return 0;
    WriteText(stderr, QStringLiteral("%1: standard output cannot be written: %2\n").arg(Program(), reason), reason);
    return 1;
}

int WindowUsageError(const QString& error)
{
    QString reason;
    WriteText(stderr, UsageErrorText(Program(), error), reason);
    return 2;
}

QString NoDisplayMessage(const QString& x11Display, const QString& waylandDisplay)
{
    const QString instead = QStringLiteral("start it from a desktop session, or make letters without a window "
                                           "with inkhaven-batch (see 'inkhaven-batch --help').");
    if (x11Display.isEmpty() && waylandDisplay.isEmpty())
        return QStringLiteral("%1: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not set); %2")
            .arg(Program(), instead);
    return QStringLiteral("%1: the display '%2' cannot be opened; %3")
        .arg(Program(), x11Display.isEmpty() ? waylandDisplay : x11Display, instead);
}
