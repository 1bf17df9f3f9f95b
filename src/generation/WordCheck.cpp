#include "WordCheck.h"

#include "core/AppError.h"

#include <exception>

void CheckWordInstalled(Word::ApplicationFactory& word, Dialogs& dialogs)
{
    std::shared_ptr<Word::Application> application;
    QString failure;
    try {
        application = word.CreateApplication();
    } catch (...) {
        application.reset();
        // What failed, on one line.
        failure = DescribeException(std::current_exception()).simplified();
    }
    try {
        if (!application)
            dialogs.ShowMessage(QLatin1String(WordMissingMessage) + QStringLiteral("\r\n\r\n") + failure,
                                QLatin1String(ApplicationTitle));
        else
            application->Quit();
    } catch (...) {
        // Nothing but the message above ever reaches the user; an instance whose Quit
        // failed is ended when the object is released.
    }
}
