#pragma once

#include "generation/WordModel.h"

#include <QString>

#include <memory>

// The real office engine for the tests that drive the windows and the run end to end;
// they see it only as the word-processor model, as the windows do.
std::unique_ptr<Word::ApplicationFactory> MakeOfficeEngine();
// The same engine whose offices run outside the sandbox, and so see every folder, with
// their own folders in folder: for tests that change TEMP from run to run (and remove it
// afterwards) while their offices, started earlier, go on serving.
std::unique_ptr<Word::ApplicationFactory> MakeUnsandboxedOfficeEngine(const QString& folder);

// Offices started ahead of need over engine, the way the application keeps them: prestart
// instances begin at once, spares are kept once the first has been taken.
std::unique_ptr<Word::ApplicationFactory> MakePrestartingEngine(Word::ApplicationFactory& engine, int spares,
                                                                int prestart);
