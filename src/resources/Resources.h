#pragma once

#include <QByteArray>
#include <QString>

// What the executable carries besides its code: the letter template, the icons and the
// product identity. The template and the icon file are compiled in as Qt resources.

// The Word 97-2003 letter template, byte for byte as built by letter/make-template.
// Throws AppError when the resource cannot be read.
QByteArray LetterTemplateBytes();

// The resource path of the compiled-in icon file, icons/inkhaven.ico.
QString ApplicationIconFile();

// Names the application for the settings store and the platform: "Inkhaven" by
// "Kestrelworks", version "1.00".
void SetApplicationIdentity();

// What --version prints for program: its name, the version, the copyright and the licence.
QString VersionText(const QString& program);
