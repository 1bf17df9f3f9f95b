#pragma once

#include "WordModel.h"
#include "core/Dialogs.h"

// Shown when no word processor can be started.
inline constexpr char WordMissingMessage[] =
    "Word is not installed on this computer. You need to have it installed to use this software.";

// Starts a word-processor instance once and quits it again; when none can be started,
// tells the user (WordMissingMessage, captioned with the application title, and after an
// empty line what failed, on one line, so the user knows what to install). Every other
// error is absorbed, and no instance is left running.
void CheckWordInstalled(Word::ApplicationFactory& word, Dialogs& dialogs);
