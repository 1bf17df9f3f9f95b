#include "BatchCommand.h"

#include "AppError.h"
#include "CommandLine.h"
#include "CsvReader.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <functional>

namespace {
// The largest number of offices the command takes.
constexpr int MaxOffices = 64;

// Puts an option's value (empty for an option without one) into the command; false, with
// a one-line error, when the value cannot be used.
using ReadOption = std::function<bool(const QString& value, BatchCommand& command, QString& error)>;

// An option of the command: how it is written and described, and where its value goes.
struct CommandOption {
    QCommandLineOption option;
    ReadOption read;
};

// An option without a value, which sets flag.
ReadOption SetFlag(bool BatchOptions::*flag)
{
    return [flag](const QString&, BatchCommand& command, QString&) {
        command.options.*flag = true;
        return true;
    };
}

bool ReadOffices(const QString& value, BatchCommand& command, QString& error)
{
    bool ok = false;
    command.options.offices = value.toInt(&ok);
    if (!ok || command.options.offices < 1 || command.options.offices > MaxOffices) {
        error = QStringLiteral("--offices takes a number from 1 to %1, not '%2'.").arg(MaxOffices).arg(value);
        return false;
    }
    return true;
}

// Every option the command takes, in the order --help lists them; an option is added here
// and nowhere else.
const std::vector<CommandOption>& CommandOptions()
{
    static const std::vector<CommandOption> options = {
        {QCommandLineOption(QStringLiteral("pdf"), QStringLiteral("a PDF of each letter beside it as well")),
         SetFlag(&BatchOptions::pdf)},
        {QCommandLineOption(QStringLiteral("force"),
                            QStringLiteral("replace files that are already there (else the line is skipped)")),
         SetFlag(&BatchOptions::force)},
        {QCommandLineOption(QStringLiteral("offices"),
                            QStringLiteral("how many offices make letters side by side (default: one per core)"),
                            QStringLiteral("N")),
         ReadOffices},
    };
    return options;
}

// The parser of the command's options and arguments, with their descriptions for --help.
void Describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Makes the letter for every line of LIST and saves each as a Word 97-2003 document\n"
        "in OUTPUT-FOLDER, named after the line number and the recipient's company or name.\n"
        "The first line of the list names the columns: YourName, YourTitle, StreetAddress,\n"
        "City, ST, ZIPCode, RecipientName, Title, CompanyName, StreetAddress2, City2, ST2,\n"
        "ZIPCode2, in any order; a field without a column takes the value saved by\n"
        "Inkhaven's window."));
    for (const CommandOption& option : CommandOptions())
        parser.addOption(option.option);
    parser.addOption(HelpOption());
    parser.addOption(VersionOption());
    parser.addPositionalArgument(QStringLiteral("LIST"), QStringLiteral("the list of recipients, a CSV file"));
    parser.addPositionalArgument(QStringLiteral("OUTPUT-FOLDER"), QStringLiteral("where the letters go; made when missing"));
}

QByteArray ReadList(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("The list \"%1\" cannot be read: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("The list \"%1\" cannot be read: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    return bytes;
}

void MakeOutputFolder(const QString& folder)
{
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir())
        throw AppError(QStringLiteral("\"%1\" is a file, not a folder for the letters.").arg(QDir::toNativeSeparators(folder)));
    if (!info.exists() && !QDir().mkpath(folder))
        throw AppError(QStringLiteral("The folder \"%1\" cannot be made.").arg(QDir::toNativeSeparators(folder)));
}
}

std::optional<BatchCommand> ParseBatchCommand(const QStringList& arguments, QString& error)
{
    QCommandLineParser parser;
    Describe(parser);
    if (!parser.parse(QStringList(QLatin1String(BatchProgram)) + arguments)) {
        error = parser.errorText();
        return std::nullopt;
    }
    BatchCommand command;
    if (parser.isSet(HelpOption()) || parser.isSet(VersionOption())) {
        command.request = parser.isSet(HelpOption()) ? BatchRequest::Help : BatchRequest::Version;
        return command;
    }
    for (const CommandOption& option : CommandOptions()) {
        if (parser.isSet(option.option) && !option.read(parser.value(option.option), command, error))
            return std::nullopt;
    }
    const QStringList paths = parser.positionalArguments();
    if (paths.size() != 2) {
        error = paths.size() < 2 ? QStringLiteral("A list and an output folder are needed.")
                                 : QStringLiteral("Only one list and one output folder are taken.");
        return std::nullopt;
    }
    command.listPath = paths[0];
    command.options.outputFolder = paths[1];
    return command;
}

QString BatchHelp()
{
    QCommandLineParser parser;
    Describe(parser);
    return CommandLineHelp(parser, QStringLiteral("%1 [OPTION]... LIST OUTPUT-FOLDER").arg(QLatin1String(BatchProgram)));
}

BatchPlan PlanBatch(const BatchCommand& command, SettingsStore& settings, const QString& date)
{
    const std::vector<LetterLine> lines =
        ReadLetterList(ParseCsv(DecodeListText(ReadList(command.listPath))), settings, date).lines;
    MakeOutputFolder(command.options.outputFolder);
    int lastLine = 0;
    for (const LetterLine& line : lines)
        lastLine = std::max(lastLine, line.line);
    const auto digits = static_cast<int>(QString::number(lastLine).size());
    BatchPlan plan;
    for (const LetterLine& line : lines) {
        if (line.problem.isEmpty())
            plan.jobs.push_back({line, LetterFileStem(line, digits)});
        else
            plan.unusable.push_back(line);
    }
    return plan;
}
