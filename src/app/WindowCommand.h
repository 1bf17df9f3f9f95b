#pragma once

#include <QString>
#include <QStringList>

// The command line of the window application, which takes no arguments of its own besides
// --help and --version (and Qt's, such as -platform and -style, which QApplication takes).

inline constexpr char WindowProgram[] = "inkhaven";

enum class WindowRequest { Run, Help, Version };

// What the arguments (without the program name) ask for; error tells in one line what else
// there is that the window does not take. Before QApplication has taken Qt's own options,
// only Help and Version are to be believed.
WindowRequest ParseWindowCommand(const QStringList& arguments, QString& error);

// Prints the help or the version on standard output; returns the exit status: 1, with the
// reason on standard error, when standard output cannot be written.
int AnswerWindowRequest(WindowRequest request);

// Tells a usage error in one line and where the help is; returns the exit status, 2.
int WindowUsageError(const QString& error);

// The one line told when no display can be opened, with what to do instead, from the
// display variables (DISPLAY, WAYLAND_DISPLAY) the process was given.
QString NoDisplayMessage(const QString& x11Display, const QString& waylandDisplay);
