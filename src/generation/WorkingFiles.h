#pragma once

#include <QString>

// The working files of the run behind "Start Creating Template", in the working folder
// (WorkingFolder()): the template copy, the page picture, and the working letters, named by
// this prefix, eight digits 1-9 and ".doc".
inline constexpr char TemplateCopyName[] = "template.dot";
inline constexpr char SnapshotFileName[] = "temp.bmp";
inline constexpr char WorkingLetterPrefix[] = "varnel";

// Whether name is that of a working file (above).
bool IsWorkingFileName(const QString& name);
