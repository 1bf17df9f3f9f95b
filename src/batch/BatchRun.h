#pragma once

#include "LetterList.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <atomic>
#include <functional>
#include <vector>

namespace Word {
class ApplicationFactory;
}

struct BatchOptions {
    QString outputFolder;
    // A PDF of each letter beside it.
    bool pdf = false;
    // Files already at a letter's names are replaced instead of the line being skipped.
    bool force = false;
    // How many offices make letters side by side.
    int offices = 1;
    // The letter's date, for the header's date; the date field's text, made from it when
    // the list is read, comes with the fields.
    QDate date = QDate::currentDate();
    // A fresh office for every letter instead of one kept for the whole list; only for
    // measuring what keeping them saves.
    bool freshOfficePerLetter = false;
};

// A letter to make: its line and the name its files take in the output folder.
struct LetterJob {
    LetterLine letter;
    // The file name without extension (see LetterFileStem).
    QString stem;
};

enum class LetterOutcome { Made, Skipped, Failed };

struct LetterReport {
    int line = 0;
    // The name of the letter's Word file in the output folder.
    QString fileName;
    LetterOutcome outcome = LetterOutcome::Failed;
    // Why the letter was skipped or not made; for a letter made, what the reader should
    // know about it (characters replaced), or nothing.
    QString message;
};

// Makes the letters of jobs with the offices of word: each office is started once and
// makes letter after letter (open the template, fill it as a letter sent as made, save,
// close the document), the
// offices side by side, each on a thread of its own that starts and ends it. Every file
// is written in a private folder first and then placed in the output folder under its
// name complete, never over an existing file unless options.force. report is called on
// the calling thread once for each letter, as letters are finished. Once stop is set no
// further letter is begun; the letters under way are finished. Returns how many jobs were
// not begun. templateBytes is the letter template every letter starts from.
int MakeLetters(const std::vector<LetterJob>& jobs, const BatchOptions& options, Word::ApplicationFactory& word,
                const QByteArray& templateBytes, const std::atomic<bool>& stop,
                const std::function<void(const LetterReport&)>& report);
