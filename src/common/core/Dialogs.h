#pragma once

#include <QString>

// Title of message boxes that give none of their own.
inline constexpr char ApplicationTitle[] = "Inkhaven";

// The message boxes and the save-file dialog the system shows. The real ones are
// Qt's; tests use a double that records what was asked and answers as told.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // The standard error report: title "Application Error", warning icon, OK only.
    virtual void ShowErrorReport(const QString& text) = 0;
    // A message with an OK button only and no icon.
    virtual void ShowMessage(const QString& text, const QString& caption) = 0;
    // A question with the buttons Yes and No and no icon; true for Yes.
    virtual bool AskYesNo(const QString& text, const QString& caption) = 0;
    // The save dialog; returns the chosen path, or "" when the user cancelled.
    virtual QString GetSaveFileName(const QString& title, const QString& filter, const QString& fileName) = 0;
};
