#pragma once

#include <QString>

#include <cstdio>

class QCommandLineOption;
class QCommandLineParser;

// -h, --help and --version, which every program takes.
const QCommandLineOption& HelpOption();
const QCommandLineOption& VersionOption();

// The conventions both programs keep on their command line, as other command-line tools do:
// help on standard output, one line for a usage error, every message under the program's name.

// The parser's help under a usage line of the program's own ("Usage: " + usage): the parser
// would name the executable by the path it was started with.
QString CommandLineHelp(const QCommandLineParser& parser, const QString& usage);

// What a usage error prints on standard error: the error under the program's name and
// where the help is.
QString UsageErrorText(const QString& program, const QString& error);

// Writes text to stream and flushes it; false, with the system's reason, when it could not
// be written (a full disk, a closed pipe).
bool WriteText(std::FILE* stream, const QString& text, QString& reason);
