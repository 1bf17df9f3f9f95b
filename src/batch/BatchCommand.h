#pragma once

#include "BatchRun.h"
#include "LetterList.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class SettingsStore;

// Exit statuses of inkhaven-batch.
inline constexpr int ExitAllMade = 0;
// Some line gave no letter: it could not be used, its letter failed or was in the way.
inline constexpr int ExitLinesNotMade = 1;
// What the program prints could not be written to standard output (a full disk, a closed
// pipe); the same status as a line without a letter, as neither undoes the letters made.
inline constexpr int ExitOutputLost = 1;
// The command line or the list as a whole could not be used; no letter was made.
inline constexpr int ExitUnusable = 2;
// Stopped by a signal (as a shell reports Ctrl+C).
inline constexpr int ExitStopped = 130;

// What the program calls itself in its messages.
inline constexpr char BatchProgram[] = "inkhaven-batch";

// What the command line asks for.
enum class BatchRequest { Run, Help, Version };

struct BatchCommand {
    BatchRequest request = BatchRequest::Run;
    QString listPath;
    // options.offices is 0 when the command line does not say.
    BatchOptions options;
};

// The command from its arguments (without the program name); nothing, with a one-line
// error, when they are not a command.
std::optional<BatchCommand> ParseBatchCommand(const QStringList& arguments, QString& error);

// How the command is used, as --help prints it.
QString BatchHelp();

// What a list asks for.
struct BatchPlan {
    // The letters to make, in the order of the list.
    std::vector<LetterJob> jobs;
    // The lines that cannot make a letter, with their problems.
    std::vector<LetterLine> unusable;
};

// Reads the list, takes the fields it has no column for from settings and the date from
// date, and names every letter; makes the output folder when it does not exist. Throws
// AppError when the list or the folder cannot be used at all.
BatchPlan PlanBatch(const BatchCommand& command, SettingsStore& settings, const QString& date);
