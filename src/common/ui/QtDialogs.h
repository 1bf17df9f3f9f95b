#pragma once

#include "core/Dialogs.h"

#include <stop_token>

// Qt's message boxes and Qt's own file dialog (the same on every platform). Once ending is
// requested (the application is ending) nothing is shown or asked: a dialog would return
// at once anyway, and the answer of a dialog never shown is No or Cancel.
class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(std::stop_token ending) : mEnding(std::move(ending)) {}

    void ShowErrorReport(const QString& text) override;
    void ShowMessage(const QString& text, const QString& caption) override;
    bool AskYesNo(const QString& text, const QString& caption) override;
    QString GetSaveFileName(const QString& title, const QString& filter, const QString& fileName) override;

private:
    std::stop_token mEnding;
};
