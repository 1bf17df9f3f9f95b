#pragma once

#include "ItemRows.h"
#include "LetterList.h"
#include "LetterSelection.h"
#include "UserTemplate.h"
#include "generation/LetterFill.h"

#include <QByteArray>
#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

namespace Word {
class ApplicationFactory;
}

// The files a letter can be written as, each by the office's own export filter.
enum class LetterFormat { Doc, Docx, Odt, Pdf };

// The extension of a format's files, without the dot: "doc", "docx", "odt", "pdf".
QString FormatExtension(LetterFormat format);

// A PDF whose pages follow every letter's: where the user named it, and its bytes.
struct AppendedPdf {
    QString path;
    QByteArray bytes;
};

struct BatchOptions {
    QString outputFolder;
    // The files of each letter, in this order; a Word 97-2003 document alone by default.
    std::vector<LetterFormat> formats{LetterFormat::Doc};
    // Where every letter made goes as well, in list order, in one PDF; none when empty.
    QString merged;
    // Files already at a letter's names are replaced instead of the line being skipped.
    bool force = false;
    // How many offices make letters side by side.
    int offices = 1;
    // The letter's date, for the header's date; the date field's text, made from it when
    // the list is read, comes with the fields.
    QDate date = QDate::currentDate();
    // How the letter writes its date: a QDate format ("d MMMM yyyy"), or, when empty, the
    // short date of language in the body and the template's own picture in the header.
    QString dateFormat;
    // Whose month and day names and short date the letter's dates take (--language).
    QLocale language = QLocale::system();
    // Paragraphs of nothing but empty tags are kept (--keep-empty-paragraphs) instead of
    // being left out of the letter.
    bool keepEmptyParagraphs = false;
    // What every PDF of a letter is: PDF/A of this part (2 or 3; 0 for a plain PDF), and the
    // text across its own pages (--watermark; none when empty). Every PDF is tagged.
    int archivePart = 0;
    QString watermark;
    // PDFs whose pages follow each letter's own in its PDF and in the merged file (--append),
    // as read and checked once before any letter.
    std::vector<AppendedPdf> appended;
    // A fresh office for every letter instead of one kept for the whole list; only for
    // measuring what keeping them saves.
    bool freshOfficePerLetter = false;
    // The template opened for every letter and closed after it, instead of kept open and
    // every letter taken back from it; only for measuring what keeping it open saves.
    bool templatePerLetter = false;
};

// A letter to make: its line and the name its files take in the output folder.
struct LetterJob {
    LetterLine letter;
    // The file name without extension (see LetterFileStem).
    QString stem;
};

// Where a letter's files go: one in the output folder for each of options.formats, in that order.
QStringList LetterFilePaths(const LetterJob& job, const BatchOptions& options);

// Made now; there already (every file of the letter stands as a file, from an earlier
// run, and is kept); skipped (something else stands at one of its names, and is kept); or
// failed.
enum class LetterOutcome { Made, AlreadyThere, Skipped, Failed };

struct LetterReport {
    int row = 0;
    // The name of the letter's first file in the output folder.
    QString fileName;
    LetterOutcome outcome = LetterOutcome::Failed;
    // Why the letter was skipped or not made; for a letter made, what the reader should
    // know about it (characters replaced), or nothing.
    QString message;
};

// What each letter takes of a template of the user's: the text of each tag, and whether
// each condition of its conditional texts holds.
struct LineTags {
    std::function<std::vector<TagText>(const LetterLine&)> texts;
    std::function<bool(const LetterLine&, const RowCondition&)> holds;
    // The conditions of its conditional texts, each once.
    std::vector<RowCondition> conditions;
    // With line items: each item's texts for the tags of the items' columns, in the line's
    // items' order, and the rows that repeat for them (which the office's reading finds).
    std::function<std::vector<std::vector<TagText>>(const LetterLine&)> items;
    std::vector<ItemRowPlace> itemRows;
};

// The template every letter starts from.
struct LetterTemplate {
    QByteArray bytes;
    // The name it is opened under; its extension tells the office its format.
    QString fileName;
    // Where the user's template came from, for messages; empty for the embedded letter.
    QString path;
    // The pictures it links to, which the letters hold instead.
    std::vector<LinkedPicture> pictures;
    // The folder of --embed-links: a picture linked to a file inside it that only the office
    // finds (as in a Word 97-2003 file) is held by the letters too.
    QString embedFolder;
    // Empty for the embedded letter, whose fields are filled as the window fills them. For a
    // template of the user's: given the bracketed tags the office finds in it (every story,
    // and the text of every shape; each tag once, in the order found), what each letter's
    // tags take; throws AppError to refuse the template before any letter is begun.
    std::function<LineTags(const QStringList& tags)> tags;
    // Whether a condition's name is a column or a field, for a template of the user's; a
    // condition on any other name is refused with its place in the template.
    std::function<bool(const QString& name)> knows;
    // With line items: whether a tag names a column of the items (its table row repeats for
    // each item), and whether it names nothing else (it may stand nowhere but in such a row).
    std::function<bool(const QString& tag)> itemTag;
    std::function<bool(const QString& tag)> onlyItemTag;
};

// The merged PDF of a run.
struct MergeReport {
    // Empty once it is in place; otherwise why there is none.
    QString problem;
    // The rows whose letters it holds, in its order.
    std::vector<int> rows;
    // How long merging and placing it took, and its size.
    double seconds = 0;
    qint64 bytes = 0;
};

struct BatchResult {
    // How many jobs were not begun.
    int notBegun = 0;
    // How often an office's open template was put aside and opened again after a letter that
    // failed or did not leave it as it had been.
    int templateReopened = 0;
    // Only when options.merged names a file.
    std::optional<MergeReport> merged;
};

// Makes the letters of jobs with the offices of word: each office is started once, opens the
// template once and makes letter after letter from it (fill it as a letter sent as made, save
// it in every format, take the letter back), the offices side by side, each on a thread of its
// own that starts and ends it. A template of the user's is read by the first office before any
// letter is begun; begin is called once it is accepted (at once for the embedded letter), and a
// template refused ends the run with the AppError its tags function threw. Every file is
// written in a private folder first; a letter's files are then placed in the output folder
// together, all or none, each complete under its name, never over an existing file unless
// options.force. report is called on the calling thread once for each letter, as letters are
// finished. Once stop is requested on stop, no further letter is begun (the first signal);
// the letters under way are finished; once stop is requested on ending as well (its offices
// are being killed), their fills run no further step. With options.merged, the letters made
// are then merged in the order of jobs, unless stop was requested.
BatchResult MakeLetters(const std::vector<LetterJob>& jobs, const BatchOptions& options, Word::ApplicationFactory& word,
                        const LetterTemplate& letterTemplate, std::stop_token stop, std::stop_token ending,
                        const std::function<void(const LetterReport&)>& report, const std::function<void()>& begin = {});
