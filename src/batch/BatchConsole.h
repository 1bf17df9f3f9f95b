#pragma once

#include "BatchCommand.h"

#include <QString>

#include <cstdio>
#include <functional>

// What inkhaven-batch tells its user. Progress goes to standard output: on a terminal one
// line rewritten in place, otherwise one plain line per letter made. Every line that gives
// no letter is told on standard error, with its line number and why. Every message begins
// with the program's name; once standard output cannot be written, nothing more is written
// to it, the reason is told and the exit status says so.
class BatchConsole {
public:
    // terminal: standard output is a terminal, width columns wide (asked at every update,
    // so that a resized window is followed).
    BatchConsole(bool terminal, std::function<int()> width, std::FILE* out = stdout, std::FILE* err = stderr);

    // Returns ExitUnusable after telling in one line what is wrong with the command line.
    int Usage(const QString& error);
    // Print how the command is used and the version; return the exit status.
    int Help();
    int Version();
    // Returns ExitUnusable after telling why nothing could be made.
    int Fatal(const QString& description);

    // Returns ExitStopped after telling that a signal stopped the run before any letter.
    int StoppedBeforeLetters();
    // Returns ExitLinesNotMade after telling that the list asks for no letter at all.
    int NothingToMake(const BatchPlan& plan);

    // How the list was read, which column fills which field, the lines of the list that
    // give no letter, and the number of letters to make.
    void Begin(const BatchPlan& plan);
    // What a run of plan would do, on standard output (--dry-run): the rows, which column
    // fills which field, the texts some letters leave empty, every letter's files (those in
    // the way of one) and the rows that give none; tagsRead: whether a template of the
    // user's had its tags read. Returns the status the run would end with.
    int DryRun(const BatchPlan& plan, const BatchOptions& options, bool tagsRead);
    // Tells something the user should know of the run on standard error, in one message.
    void Notice(const QString& text);
    // A letter is finished; now is the clock's time in seconds.
    void Letter(const LetterReport& report, double now);
    // Sums up, counting every row of the list: made, already there, skipped, empty, failed (not begun
    // when stopped), and tells of the merged PDF; returns the exit status, ExitAllMade when
    // every row selected has its letter, made now or already there.
    int Finish(const BatchPlan& plan, const BatchOptions& options, const BatchResult& result, bool stopped);

private:
    // Tells where the merged PDF is and which letters it lacks, or why there is none;
    // false when it lacks any.
    bool Merged(const BatchPlan& plan, const QString& path, const MergeReport& merged);
    void Out(const QString& text);
    // text under the program's name.
    void Err(const QString& text);
    // status, or ExitOutputLost when it was ExitAllMade and standard output failed.
    int Status(int status) const;
    void ClearProgress();
    void ShowProgress(const QString& current, double now);

    bool mTerminal;
    std::function<int()> mWidth;
    std::FILE* mOut;
    std::FILE* mErr;
    bool mProgressShown = false;
    bool mOutLost = false;
    int mTotal = 0;
    int mDone = 0;
    int mMade = 0;
    int mAlreadyThere = 0;
    int mSkipped = 0;
    int mFailed = 0;
    // When the first letter was done.
    double mFirstDone = 0;
};
