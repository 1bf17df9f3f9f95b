#include "BatchCommand.h"

#include "AppError.h"
#include "CsvReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
// The largest number of offices the command takes.
constexpr int MaxOffices = 64;

bool ReadOffices(const QString& value, BatchOptions& options, QString& error)
{
    bool ok = false;
    options.offices = value.toInt(&ok);
    if (!ok || options.offices < 1 || options.offices > MaxOffices) {
        error = QStringLiteral("--offices takes a number from 1 to %1, not \"%2\".").arg(MaxOffices).arg(value);
        return false;
    }
    return true;
}

// Reads one option at arguments[at]; moves at past a value it takes.
bool ReadOption(const QStringList& arguments, qsizetype& at, BatchCommand& command, QString& error)
{
    const QString& argument = arguments[at];
    if (argument == QLatin1String("--pdf"))
        command.options.pdf = true;
    else if (argument == QLatin1String("--force"))
        command.options.force = true;
    else if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
        command.help = true;
    else if (argument.startsWith(QLatin1String("--offices=")))
        return ReadOffices(argument.mid(10), command.options, error);
    else if (argument == QLatin1String("--offices")) {
        if (++at >= arguments.size()) {
            error = QStringLiteral("--offices needs a number.");
            return false;
        }
        return ReadOffices(arguments[at], command.options, error);
    } else {
        error = QStringLiteral("Unknown option \"%1\".").arg(argument);
        return false;
    }
    return true;
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
    BatchCommand command;
    QStringList paths;
    bool optionsEnded = false;
    for (qsizetype at = 0; at < arguments.size(); ++at) {
        const QString& argument = arguments[at];
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-"))
            paths << argument;
        else if (argument == QLatin1String("--"))
            optionsEnded = true;
        else if (!ReadOption(arguments, at, command, error))
            return std::nullopt;
    }
    if (command.help)
        return command;
    if (paths.size() != 2) {
        error = paths.size() < 2 ? QStringLiteral("A list and an output folder are needed.")
                                 : QStringLiteral("Only one list and one output folder are taken.");
        return std::nullopt;
    }
    command.listPath = paths[0];
    command.options.outputFolder = paths[1];
    return command;
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
