#pragma once

#include <QString>

#include <optional>

// How long the letters not yet made will take, from the pace since the first was done
// (secondsSinceFirst ago): the offices' start-up lies before it and would make the first
// estimates far too long. Nothing before the second letter is done.
std::optional<double> SecondsLeft(int done, int total, double secondsSinceFirst);

// "about 40 s left", "about 3 min left", "about 1 h 5 min left"; "" for nothing.
QString TimeLeftText(std::optional<double> seconds);

// The line a terminal shows while letters are made, rewritten in place: letters done of
// the total, the name of the latest and the time left, cut to width characters so that it
// never wraps (a wrapped line could not be rewritten).
QString TerminalProgressLine(int done, int total, const QString& current, std::optional<double> secondsLeft, int width);

// One line per letter when the output is not a terminal: "[12/50] 012-Acme.doc".
QString PlainProgressLine(int done, int total, const QString& fileName);
