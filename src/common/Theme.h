#pragma once

#include <QColor>
#include <QString>

class QWidget;

// The platform's button-face colour, which follows the user's desktop colour scheme.
QColor ButtonFaceColour();

// "x/o.cjs" beside the executable, else in the data folder.
QString SkinFile();

// Gives a widget its own background colour.
void SetBackColor(QWidget& widget, const QColor& colour);

// When the skin file is there (and not hidden): the window and its group boxes, labels,
// option buttons, check boxes and picture boxes take the button-face colour, and the
// file is applied to the window as a Qt style sheet. A file that cannot be read only
// leaves the colours. Without the file nothing happens.
void ApplySkin(QWidget& window);

// The window and its option buttons, check boxes, group boxes and labels take the
// button-face colour.
void ApplyTheme(QWidget& window);
