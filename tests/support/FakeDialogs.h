#pragma once

#include "core/Dialogs.h"

#include <QString>
#include <QStringList>

#include <deque>

// Records every dialog the code under test shows and answers from a script.
class FakeDialogs : public Dialogs {
public:
    struct Shown {
        QString kind; // "error", "message", "question", "save"
        QString text;
        QString caption;
    };

    void ShowErrorReport(const QString& text) override;
    void ShowMessage(const QString& text, const QString& caption) override;
    bool AskYesNo(const QString& text, const QString& caption) override;
    QString GetSaveFileName(const QString& title, const QString& filter, const QString& fileName) override;

    // Texts of the error reports, in order.
    QStringList ErrorReports() const;
    // The step numbers ("at line N") of the error reports, in order.
    QList<int> FailedSteps() const;

    std::deque<bool> answers;       // answers to AskYesNo, in order (default No)
    std::deque<QString> savePaths;  // answers to GetSaveFileName, in order (default "")
    QList<Shown> shown;
    QString lastSaveFilter;
    QString lastSaveFileName;
};
