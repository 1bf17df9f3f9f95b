#pragma once

#include "WordModel.h"

#include <memory>

// The real office engine for the tests that drive the windows and the run end to end;
// they see it only as the word-processor model, as the windows do.
std::unique_ptr<Word::ApplicationFactory> MakeOfficeEngine();

// Offices started ahead of need over engine, the way the application keeps them: prestart
// instances begin at once, spares are kept once the first has been taken.
std::unique_ptr<Word::ApplicationFactory> MakePrestartingEngine(Word::ApplicationFactory& engine, int spares,
                                                                int prestart);
