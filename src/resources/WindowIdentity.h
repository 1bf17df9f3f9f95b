#pragma once

#include <QIcon>

// The window's side of the product identity.

// The application icon: the 32, 256, 128 and 48 pixel images of icons/inkhaven.ico.
// Needs a QGuiApplication.
QIcon ApplicationIcon();

// A fully transparent 32 x 32 icon, so that a window's title bar shows no visible icon.
// Needs a QGuiApplication.
QIcon PreviewWindowIcon();

// SetApplicationIdentity, and the desktop entry the window system finds the window's
// application by: "inkhaven".
void SetWindowIdentity();
