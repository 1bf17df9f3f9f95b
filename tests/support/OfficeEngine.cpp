#include "OfficeEngine.h"

#include "office/LibreOfficeFactory.h"
#include "office/PrestartingFactory.h"

std::unique_ptr<Word::ApplicationFactory> MakeOfficeEngine()
{
    return std::make_unique<LibreOfficeFactory>();
}

std::unique_ptr<Word::ApplicationFactory> MakeUnsandboxedOfficeEngine(const QString& folder)
{
    return std::make_unique<LibreOfficeFactory>(OfficeTimeouts{}, folder, OfficeSandboxing::Off);
}

std::unique_ptr<Word::ApplicationFactory> MakePrestartingEngine(Word::ApplicationFactory& engine, int spares,
                                                                int prestart)
{
    auto factory = std::make_unique<PrestartingFactory>(engine, spares);
    factory->Prestart(prestart);
    return factory;
}
