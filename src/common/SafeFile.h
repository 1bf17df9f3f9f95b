#pragma once

#include <QByteArray>
#include <QString>

// Working files live in a folder that other users share. These helpers never follow a
// symbolic link and only ever write into a regular file that belongs to the user. The
// files they write or create are noted as leftovers until DeleteFile removes them, so
// that they go with the application however it ends.

// Writes exactly these bytes to path, creating the file (mode 0600) or replacing the
// whole content of an existing one. Throws AppError with a description on failure; a
// file that could not be written whole is removed.
void WriteBytesToFile(const QByteArray& bytes, const QString& path);

// Creates path as a new, empty file of the user's own; false when anything exists there.
// Throws AppError for other failures (a missing folder, no permission).
bool CreateNewFile(const QString& path);

// True when anything at all exists at path, a dangling symbolic link included.
bool PathTaken(const QString& path);

// Deletes the file at path; throws AppError with a description when it cannot.
void DeleteFile(const QString& path);

// Copies source to target so that target is either the old file or the complete copy:
// the bytes go to a new file beside target, which is then renamed over it.
void ReplaceFileWithCopy(const QString& source, const QString& target);

// Copies source to target through a hidden file beside target, so that target never holds
// part of the copy: it appears complete or not at all. When replace is false an existing
// target of any kind stays as it is and the result is false; when true it is replaced.
// Throws AppError for other failures, leaving nothing of the copy behind.
bool PlaceCopy(const QString& source, const QString& target, bool replace);
