#pragma once

#include <QString>
#include <QStringList>

// The office runs in a bubblewrap sandbox wherever the kernel allows one. It starts from an
// empty file system and is shown only what it needs to run and lay out a letter, read-only:
// its installation and the libraries it loads, fonts and their configuration, locale and
// time-zone data and a few files of /etc. It writes only its own folder, which is its /tmp as
// well, so that the sockets it listens on are made there and not in the shared /tmp, where
// another user could take their names. It has no network, no bus and no socket but its own
// pipe: whatever a document links to, the office finds nothing there.

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

// What a sandbox shows of the file system, each at its own path.
struct SandboxView {
    // Folders and files the office may read.
    QStringList readable;
    // The system's program and library folders at the root, as it has them: the bwrap
    // arguments that bind them or, on a merged /usr, make the links to it.
    QStringList programRoots;
    // The office's own folder, the one it may write.
    QString writable;
    // The folder the office sees as /tmp, inside writable.
    QString temporary;
};

// The view for an office working in officeFolder and installed in programFolder, for the
// user whose home is home; only what exists is named.
SandboxView OfficeSandboxView(const QString& officeFolder, const QString& programFolder, const QString& home);

// The bwrap arguments that run a command in that view, up to and including the "--" that
// comes before the command.
QStringList SandboxArguments(const SandboxView& view);
