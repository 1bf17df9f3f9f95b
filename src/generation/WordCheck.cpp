#include "WordCheck.h"

void CheckWordInstalled(Word::ApplicationFactory& word, Dialogs& dialogs)
{
    std::shared_ptr<Word::Application> application;
    try {
        application = word.CreateApplication();
    } catch (...) {
        application.reset();
    }
    try {
        if (!application)
            dialogs.ShowMessage(QLatin1String(WordMissingMessage), QLatin1String(ApplicationTitle));
        else
            application->Quit();
    } catch (...) {
        // Nothing but the message above ever reaches the user; an instance whose Quit
        // failed is ended when the object is released.
    }
}
