#pragma once

#include <QCursor>
#include <QString>

#include <optional>

class QWidget;

// True when path names an existing file (or folder); never throws, false for "".
bool FileExists(const QString& path);

// Moves the window so that its frame is centred on the whole primary screen; a window
// larger than the screen gets a negative position and is not moved back.
void CenterForm(QWidget& window);

// "HAND-M.CUR" in the application folder.
QString HandCursorFile();

// Reads a Windows cursor file (.cur) with its hotspot; std::nullopt when the file is
// missing or is not a cursor Qt can read.
std::optional<QCursor> LoadCursorFile(const QString& path);

// The hand cursor beside the executable, when there is one that can be read.
std::optional<QCursor> LoadHandCursor();

// Shows a window's pointer setting on the window: 11 the hourglass, 99 the hand cursor
// (the standard pointer when none was loaded), anything else the standard pointer.
void ApplyMousePointer(QWidget& window, int pointer, const std::optional<QCursor>& handCursor);
