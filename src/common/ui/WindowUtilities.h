#pragma once

#include "core/PointerShape.h"

#include <QCursor>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

class QWidget;

// Where a window's frame of size outer goes: centred on the whole screen, except that
// along an axis where it is larger than the available area (the screen less its panels)
// its left or top edge is kept on that area.
QPoint CentredPosition(const QRect& screen, const QRect& available, const QSize& outer);

// Moves the window to CentredPosition on the primary screen.
void CentreWindow(QWidget& window);

// "HAND-M.CUR" beside the executable, else in the data folder.
QString HandCursorFile();

// Reads a Windows cursor file (.cur) with its hotspot; std::nullopt when the file is
// missing or is not a cursor Qt can read.
std::optional<QCursor> LoadCursorFile(const QString& path);

// The hand cursor of HandCursorFile(), when there is one that can be read.
std::optional<QCursor> LoadHandCursor();

// Shows a window's pointer setting on the window: the hand cursor for the custom pointer
// (the standard pointer when none was loaded).
void ApplyMousePointer(QWidget& window, PointerShape pointer, const std::optional<QCursor>& handCursor);
