#pragma once

#include <QString>
#include <QStringList>

// The folder that holds the executable.
QString ApplicationFolder();

// The application's data folder in the installation the executable belongs to: the
// "inkhaven" folder of the shared-data folder beside its program folder, so
// /usr/share/inkhaven for /usr/bin/inkhaven. Nothing is installed there; it holds the
// optional look files an administrator sets for every user.
QString DataFolder();

// relativePath below the first of folders that holds it (a file or a folder of that name);
// below the first folder when none does.
QString FirstHolding(const QStringList& folders, const QString& relativePath);

// An optional item of the look ("HAND-M.CUR", "x/o.cjs", "Splash"): beside the executable
// when it is there, else in the data folder. A copy beside the executable thus overrides
// the one set for the whole system.
QString OptionalItemPath(const QString& relativePath);

// The folder for working files: the variable TEMP, else TMPDIR, else the system's
// temporary folder. Never the root of the file system because a variable is unset.
QString TempFolder();

// folder + separator + name.
QString JoinPath(const QString& folder, const QString& name);

// The file URL url ("file:///a/b/pictures/x.png") as it reads from folder to instead of
// from folder from ("/a/b" to "/c": "file:///c/pictures/x.png"); url itself when it does
// not lead into from.
QString MovedFileUrl(const QString& url, const QString& from, const QString& to);

// True when path names an existing file (or folder); never throws, false for "".
bool FileExists(const QString& path);
