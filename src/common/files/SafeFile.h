#pragma once

#include "FileDescriptor.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <vector>

// Working files are handed to the office by path, so they live in a folder that no one
// but the user can write. These helpers never follow a symbolic link, never block on what
// stands at a name (a FIFO), only create files in a private folder of the user's own and
// only ever write into a regular file that belongs to the user. The files they write or
// create are noted as leftovers until they are deleted, so that they go with the
// application however it ends.

// Which file a name stood for when it was written: the same name may later stand for
// another file.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The folder for the working files: TempFolder() when it is a real folder of the user's own
// that no other user can read, write or enter; otherwise the user's folder "inkhaven-<uid>"
// inside it, made with mode 0700 when missing (and made 0700 again when it is the user's own
// folder). A TempFolder() that others may write without the sticky bit, where they could
// rename that folder away, holds none: "inkhaven-<uid>" in the user's closed runtime folder
// (XDG_RUNTIME_DIR) serves instead, and the user is told once. When that name is taken by anything else (a link, another user's folder, a
// file), it is left as it is, and a fresh private folder made beside it ("inkhaven-<uid>-"
// and six characters) serves instead for as long as it lasts; it goes with the application
// and is journalled as a leftover. Whether the folder may be used is checked by each helper
// below at each use.
QString WorkingFolder();

// What the user is to be told about the working folder, once: what was found at the taken
// name and where the working files go instead. Empty when nothing is left to tell.
QString TakeWorkingFolderNotice();

// Writes exactly these bytes to path, creating the file or replacing the whole content of
// an existing one (mode 0600 in either case), and returns which file that is. Throws
// AppError with a description on failure; a file that could not be written whole is removed.
FileIdentity WriteBytesToFile(const QByteArray& bytes, const QString& path);

// The content of the file at path when it is still the one written; throws AppError
// otherwise, leaving whatever stands there alone.
QByteArray ReadWrittenFile(const QString& path, FileIdentity written);

// Deletes the file at path when it is still the one written; throws AppError otherwise,
// leaving whatever stands there alone.
void DeleteWrittenFile(const QString& path, FileIdentity written);

// Creates path as a new, empty file of the user's own; false when anything exists there.
// Throws AppError for other failures (a missing folder, no permission, a folder that is not
// private).
bool CreateNewFile(const QString& path);

// True when a regular file of the user's own stands at path (a link is not followed).
bool OwnFileAt(const QString& path);

// True when anything at all exists at path, a dangling symbolic link included.
bool PathTaken(const QString& path);

// Whose a file opened once must be: the user's own (what the application or its office
// wrote), or anyone's (what the user names: a template, a list, a picture).
enum class FileOwner { Own, Anyone };

// Opens the regular file at path for reading, once, so that what is read is the file that
// was checked, whatever the name stands for later: a symbolic link at its name is not
// followed (with noLinkOnTheWay, nor one at any step of the path), a FIFO is not waited
// for, and with FileOwner::Own another user's file is refused. Throws AppError naming path
// when it cannot be opened or is none of these.
FileDescriptor OpenFileOnce(const QString& path, FileOwner owner, bool noLinkOnTheWay = false);

// The whole content of the file OpenFileOnce opens; one longer than limit bytes is refused.
QByteArray ReadFileOnce(const QString& path, FileOwner owner, qint64 limit, bool noLinkOnTheWay = false);

// Deletes the file at path; throws AppError with a description when it cannot.
void DeleteFile(const QString& path);

// Copies source, the user's own regular file opened once (OpenFileOnce), to target so that
// target is either the old file or the complete copy:
// the bytes go to a new file beside target, which is then renamed over it (with the mode
// PlaceCopy gives it). A failure is described with the system's reason ("No space left on
// device").
void ReplaceFileWithCopy(const QString& source, const QString& target);

// Gives target the complete file at source, replacing what is there: copied from the file
// opened once as ReplaceFileWithCopy does, never renamed, since source lies where another
// process (the office) could put a link in its place; source is removed once target holds
// the copy, and left where the copy fails. Throws AppError when it cannot.
void MoveFileOver(const QString& source, const QString& target);

// Copies source (the user's own regular file, opened once) to target through a hidden file beside target, so that target never holds
// part of the copy: it appears complete or not at all. When replace is false an existing
// target of any kind stays as it is and the result is false; when true it is replaced. The
// copy has the mode the user gives new files, or the mode of the file it replaces when
// that is the user's own.
// Throws AppError for other failures, leaving nothing of the copy behind.
bool PlaceCopy(const QString& source, const QString& target, bool replace);

// A file to copy and where the copy goes.
struct FileCopy {
    QString source;
    QString target;
};

// Copies each source to its target so that the targets appear all or none, each complete:
// every copy is written under a hidden name beside its target first, and only once all are
// complete do they take their names. When replace is false and something stands at a
// target, every target stays as it was and the result is false; when true, the files there
// are replaced, and given back should a later copy fail. Throws AppError for other
// failures, leaving the targets as they were and nothing of the copies behind.
bool PlaceCopies(const std::vector<FileCopy>& copies, bool replace);
