#pragma once

#include <QString>

// What this instance of the application must not leave behind on disk, whichever way it
// ends: its working files, the private folders of its offices and the sockets its offices
// listen on (its offices themselves are in ProcessGroups.h). While a LeftoverJournal exists, the files, folders and
// sockets noted here are written to a journal of this instance as well, so that the next
// start removes what an instance that was killed outright (SIGKILL, power loss) left. Every
// function here may be called from any thread.

// Whether a name is this instance's alone (made exclusively, such as a drawn name) or one
// that every instance uses in turn. Only names of an instance's own go into its journal:
// removing a shared name after the instance's death could hit a running instance's file.
enum class LeftoverName { Own, Shared };

// A working file or a private folder this instance made; forgotten once it is gone. Once
// RemoveLeftovers has begun, it is removed at once instead.
void NoteLeftoverFile(const QString& path, LeftoverName name);
void NoteLeftoverFolder(const QString& path);
// A socket an office of this instance listens on, by a name of that office's own; the office
// leaves it behind when it is killed.
void NoteLeftoverSocket(const QString& path);
// Removes such a socket now (only a socket of the user's own) and forgets it.
void RemoveLeftoverSocket(const QString& path);
void ForgetLeftover(const QString& path);

// A private folder (mode 0700) of this instance, made from a pattern that ends in XXXXXX and
// noted in one step that the ending's removal cannot come between: once RemoveLeftovers has
// begun, none is made. Removed and forgotten with the object.
class LeftoverFolder {
public:
    explicit LeftoverFolder(const QString& pattern);
    ~LeftoverFolder() { Remove(); }
    LeftoverFolder(const LeftoverFolder&) = delete;
    LeftoverFolder& operator=(const LeftoverFolder&) = delete;

    bool IsValid() const { return !mPath.isEmpty(); }
    const QString& Path() const { return mPath; }
    // Why no folder was made.
    const QString& ErrorString() const { return mError; }
    // Removes the folder with what it holds, and forgets it.
    void Remove();

private:
    QString mPath;
    QString mError;
};

// The application ends now: removes the noted files and sockets (only regular files and
// sockets of the user's own) and folders (only real folders of the user's own, never
// through a link). What is noted from then on is removed at once, and no LeftoverFolder is
// made. Its offices must be ended first (EndProcessGroups), so that none writes into a folder
// while it is removed.
void RemoveLeftovers();

// The journal of this instance. Creating it first removes what dead instances left, never
// what a running instance uses: every running instance holds a lock on its journal, which
// ends with the process however it ends. Destroying it removes what is still noted and the
// journal. There is at most one at a time, made in main.
class LeftoverJournal {
public:
    // The journals live in folder, which is made (mode 0700) when missing; without a folder
    // the notes are kept in memory only.
    explicit LeftoverJournal(const QString& folder = LeftoverJournalFolder());
    ~LeftoverJournal();
    LeftoverJournal(const LeftoverJournal&) = delete;
    LeftoverJournal& operator=(const LeftoverJournal&) = delete;

    // The folder of the journals: in the user's cache folder, which outlives a power loss
    // as the working files may.
    static QString LeftoverJournalFolder();

private:
    QString mPath;
};
