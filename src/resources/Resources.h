#pragma once

#include <QByteArray>
#include <QIcon>

// What the executable carries besides its code: the letter template, the icons and the
// product identity. The template and the icon file are compiled in as Qt resources.

// The Word 97-2003 letter template, byte for byte as built by letter/make-template.
// Throws AppError when the resource cannot be read.
QByteArray LetterTemplateBytes();

// The application icon: the 32, 256, 128 and 48 pixel images of icons/inkhaven.ico.
// Needs a QGuiApplication.
QIcon ApplicationIcon();

// A fully transparent 32 x 32 icon, so that a window's title bar shows no visible icon.
// Needs a QGuiApplication.
QIcon PreviewWindowIcon();

// Names the application for the settings store and the platform: "Inkhaven" by
// "Kestrelworks", version "1.00", desktop entry "inkhaven".
void SetApplicationIdentity();

// What --version prints for program: its name, the version, the copyright and the licence.
QString VersionText(const QString& program);
