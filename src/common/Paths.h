#pragma once

#include <QString>

// The folder that holds the executable.
QString ApplicationFolder();

// The folder for working files: the variable TEMP, else TMPDIR, else the system's
// temporary folder. Never the root of the file system because a variable is unset.
QString TempFolder();

// folder + separator + name.
QString JoinPath(const QString& folder, const QString& name);
