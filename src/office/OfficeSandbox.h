#pragma once

#include <QString>
#include <QStringList>

// The office runs in a bubblewrap sandbox wherever the kernel allows one: it has no network,
// the system is read-only, the user's home and the shared temporary folders are out of
// sight, and only the private folder of the user's working files is there to write. The
// office's own folder is its /tmp as well, so that the sockets it listens on are made in
// that private folder and not in the shared /tmp, where another user could take their names.

// Whether offices are started in the sandbox.
enum class OfficeSandboxing { WhereAllowed, Off };

// What this machine allows, found out once per process by starting bwrap once.
struct SandboxSupport {
    // The bwrap program; empty when offices run without a sandbox.
    QString program;
    // Why they do, as the user is told it: "bubblewrap (bwrap) is not installed".
    QString missing;
};
const SandboxSupport& OfficeSandboxSupport();

// What a sandbox leaves of the file system: the folders out of sight, the folders the
// office may only read although they lie inside those (its own installation, the user's
// fonts), and the folder it may write, at its own path.
struct SandboxView {
    QStringList hidden;
    QStringList readable;
    QString writable;
    // The folder the office sees as /tmp, inside writable.
    QString temporary;
};

// The view for an office working in officeFolder (inside privateFolder) and installed in
// programFolder, for the user whose home is home; only folders that exist are named.
SandboxView OfficeSandboxView(const QString& privateFolder, const QString& officeFolder, const QString& programFolder,
                              const QString& home);

// The bwrap arguments that run a command in that view, up to and including the "--" that
// comes before the command.
QStringList SandboxArguments(const SandboxView& view);
