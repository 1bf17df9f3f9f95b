#pragma once

#include "BatchRun.h"
#include "LetterList.h"
#include "LetterSelection.h"
#include "LineItems.h"

#include <QString>
#include <QSet>
#include <QStringList>

#include <memory>
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

// The file formats --format names, comma-separated ("doc,pdf"), each once in the order
// given; throws AppError with a one-line message for a name that is not one.
std::vector<LetterFormat> ParseFormats(const QString& text);

struct BatchCommand {
    BatchRequest request = BatchRequest::Run;
    // "-" for standard input.
    QString listPath;
    // The encoding of a text list; empty to tell it from the bytes.
    QString encoding;
    // The separator of a text list; null to choose it from the first line.
    QChar separator;
    // A template of the user's instead of the embedded letter; empty for none.
    QString templatePath;
    // The folder whose pictures the template may link to, embedded in the letters
    // (--embed-links); empty when the template may link to nothing.
    QString embedLinksFolder;
    // The --name pattern of the file names; empty for the line number and company.
    QString namePattern;
    // Only the rows within these (--lines); all when empty.
    std::vector<RowRange> lines;
    // Only this part of those (--shard).
    std::optional<Shard> shard;
    // Only the rows that meet every one of these (--where), before --lines and --shard.
    std::vector<RowCondition> where;
    // options.offices is one per core, options.date today and options.language the user's
    // locale, when the command line does not say.
    BatchOptions options;
    // --map COLUMN=TAG, in the order given.
    ColumnMap map;
    // The fields or tags (by ColumnKey) that may be empty in every letter (--allow-empty).
    QSet<QString> allowedEmpty;
    // A settings file to take the sender and the other saved fields from (--sender),
    // instead of the window's; empty for the window's.
    QString senderFile;
    // Only tell what a run would make (--dry-run): no office, no folder, no file.
    bool dryRun = false;
    // The line items (--items): a sheet of the list's workbook, or a list of their own; none
    // when empty. Which columns tie them to the letters (--items-key), and whether a letter
    // may have none (--allow-no-items).
    QString itemsSource;
    std::optional<ItemsKey> itemsKey;
    bool allowNoItems = false;
};

// The command from its arguments (without the program name); throws AppError with a
// one-line message when they are not a command.
BatchCommand ParseBatchCommand(const QStringList& arguments);

// How the command is used, as --help prints it.
QString BatchHelp();

// What a list asks for.
struct BatchPlan {
    // The letters to make, in the order of the list.
    std::vector<LetterJob> jobs;
    // The lines that cannot make a letter, with their problems.
    std::vector<LetterLine> unusable;
    // How many rows hold nothing but blanks.
    int emptyRows = 0;
    // What the user should know about how the list was read: its encoding when that was
    // guessed, its separator when not a comma, the columns that are not used.
    QStringList notes;
    // For the built-in letter, which column fills which field, one line each, as the run
    // tells it before any letter.
    QStringList columnPlan;
    // How many rows the whole list has, empty ones included; the selection's lines are
    // a part of them with --lines or --shard.
    qsizetype listRows = 0;
    // Fields the letters show that some (not all) of this run's letters leave empty:
    // "3 letters without the recipient's company ([CompanyName])". For a template of the
    // user's, known once the office has read it.
    std::shared_ptr<QStringList> partlyEmpty = std::make_shared<QStringList>();
    // For a template of the user's, what each of its tags takes, one line each: "[Plan]
    // takes the column "PLAN"". Known once the office (or a dry run) has read it.
    std::shared_ptr<QStringList> tagPlan = std::make_shared<QStringList>();
    // What every letter starts from.
    LetterTemplate letterTemplate;
    // The tags of a template of the user's as read from its file without an office; nothing
    // for the built-in letter and for a Word 97-2003 template, which only the office reads.
    std::optional<QStringList> tagsWithoutOffice;
    // For a template of the user's: the list's columns that none of its tags takes, known
    // once the office has read it, before any letter is begun.
    std::shared_ptr<QStringList> columnsNoTagTakes = std::make_shared<QStringList>();
    // With --items: the items of the run's letters, and each letter's [SUM …] texts by its
    // key, known once the template's tags are.
    std::shared_ptr<const LetterItems> items;
    std::shared_ptr<QHash<QString, std::vector<TagText>>> totals = std::make_shared<QHash<QString, std::vector<TagText>>>();
};

// Reads the list (a text list or a spreadsheet, by its content), takes the fields it has
// no column for from settings and the date from date, and names every letter; makes the
// output folder when it does not exist and the list asks for any letter (not on a dry run).
// Throws AppError when the list or the folder cannot be used at all, or when a field the
// letter shows would be empty in every letter of the list and command does not allow it.
// The list is read twice as a stream and only the lines this run makes are held, so that a
// part of a long list (--lines, --shard) costs memory by the part; a list on standard input,
// a pipe or a device is first copied to a private file without a name.
BatchPlan PlanBatch(const BatchCommand& command, SettingsStore& settings, const QString& date);
