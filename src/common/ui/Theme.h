#pragma once

#include <QColor>
#include <QPalette>
#include <QString>

class QWidget;

// The platform's button-face colour, which follows the user's desktop colour scheme.
QColor ButtonFaceColour();

// "x/o.cjs" beside the executable, else in the data folder.
QString SkinFile();

// Gives a widget its own background colour.
void SetBackColour(QWidget& widget, const QColor& colour);

// Text on a background the design fixes (the white of the data-entry window and of the push
// buttons) takes the design's own text colours in palette's role: black, and the platform's
// grey where disabled, so that it reads the same under every desktop theme. Text on the
// theme's colours follows the theme.
void SetDesignText(QPalette& palette, QPalette::ColorRole role);

// Gives a widget a background colour of the design, with the design's text on it.
void SetDesignBackColour(QWidget& widget, const QColor& colour);

// When the skin file is there (and not hidden): the window and its group boxes, labels,
// option buttons, check boxes and picture boxes take the button-face colour (and the
// theme's button text on it), and the file is applied to the window as a Qt style sheet.
// A file that cannot be read only leaves the colours. Without the file nothing happens.
void ApplySkin(QWidget& window);

// The window and its option buttons, check boxes, group boxes and labels take the
// button-face colour, and the theme's button text on it.
void ApplyTheme(QWidget& window);
