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
// The command line or the list as a whole could not be used; no letter was made.
inline constexpr int ExitUnusable = 2;
// Stopped by a signal (as a shell reports Ctrl+C).
inline constexpr int ExitStopped = 130;

inline constexpr char BatchUsage[] =
    "Usage: inkhaven-batch [--pdf] [--force] [--offices N] LIST.csv OUTPUT-FOLDER\n"
    "\n"
    "Makes the letter for every line of LIST.csv and saves each as a Word 97-2003\n"
    "document in OUTPUT-FOLDER, named after the line number and the recipient's\n"
    "company or name. The first line of the list names the columns: YourName,\n"
    "YourTitle, StreetAddress, City, ST, ZIPCode, RecipientName, Title, CompanyName,\n"
    "StreetAddress2, City2, ST2, ZIPCode2, in any order; a field without a column\n"
    "takes the value saved by Inkhaven's window.\n"
    "\n"
    "  --pdf         a PDF of each letter beside it as well\n"
    "  --force       replace files that are already there (else the line is skipped)\n"
    "  --offices N   how many offices make letters side by side (default: one per core)\n"
    "  --help        this text\n";

struct BatchCommand {
    QString listPath;
    // options.offices is 0 when the command line does not say.
    BatchOptions options;
    bool help = false;
};

// The command from its arguments (without the program name); nothing, with error set,
// when they are not a command.
std::optional<BatchCommand> ParseBatchCommand(const QStringList& arguments, QString& error);

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
