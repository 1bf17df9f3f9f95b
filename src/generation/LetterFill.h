#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class Clock;
class QDate;
class GuardedProcedure;
namespace Word {
class Document;
class Range;
}

// Today's date as a letter shows it: the short date of the user's locale.
QString LetterDate(const Clock& clock);
// date as a letter shows it: in format (a QDate format, "d MMMM yyyy") with the month and
// day names of locale, or the short date of locale when format is empty.
QString LetterDate(const QDate& date, const QString& format = QString(), const QLocale& locale = QLocale::system());

// A tag of a letter template and the text that takes its place.
struct TagText {
    QString tag;
    QString text;
};

// What becomes of the separator beside a tag whose text is empty: kept as the template
// writes it, or, in a letter sent as it is made, taken out with the tag ("Stuttgart, [ST2]
// 70173" gives "Stuttgart 70173", "of [Company], Main St" gives "of Main St"): a ", " after
// the tag, else one before it, else a space before it, else one after it.
enum class EmptySeparators { Kept, Removed };

// Steps PlanField to NextShape of a generation run, on a document open in the word processor:
// every tag takes the text of its field, text(i) for field i, field after field, first in every
// story, then in every shape with text. The letter receives exactly those texts: a text that
// holds the tag of a later field keeps it (the later field does not replace it there),
// characters a Word document cannot hold are replaced (ToLetterText), and a text longer than
// LetterFieldLimit is reported at step PlanField and left out. Returns the tags of the fields
// that had characters replaced.
QStringList FillFields(GuardedProcedure& run, const std::shared_ptr<Word::Document>& document,
                       const std::function<QString(int field)>& text, EmptySeparators separators = EmptySeparators::Kept);

// The fields' tags, each with text(field).
std::vector<TagText> TagsOfFields(const std::function<QString(int field)>& text);

// A text of a document: one of its stories (the first is the main text) or the text of a shape.
struct DocumentText {
    std::shared_ptr<Word::Range> range;
    bool shape = false;
    // From 1, among the stories or among the shapes.
    int number = 0;
};

// Every story of the document, then the text of every shape that holds text.
std::vector<DocumentText> DocumentTexts(Word::Document& document);

// Where text is in a document, for messages: "the main text of the template", "part 2 of the
// template", "shape 1 of the template" for of = "template".
QString PlaceOf(const DocumentText& text, const QString& of);

// A letter sent as it is made, with nobody to finish it in a word processor, is filled by
// FillFields between these two.

// Whether a paragraph of the letter (as Range.Text gives it) is left out of a letter sent as
// made: it holds tags, the text of every one of them is empty or white space, and besides
// them it holds nothing but white space and punctuation (the ", " between a city and a
// state). An office's mail merge leaves out such an address line in the same way.
bool ParagraphLeftOut(const QString& paragraph, const std::vector<TagText>& tags);

// Before the fill: removes the paragraphs of the main text that ParagraphLeftOut, from
// letter after letter opened from one template. Reading every paragraph from the office
// takes longer than the rest of the fill, so the template's paragraphs are read from the
// first letter, and a later letter whose texts leave none of them out is not read again.
class EmptyParagraphRemover {
public:
    // Whether a paragraph was removed.
    bool Remove(const std::shared_ptr<Word::Document>& document, const std::vector<TagText>& tags);

private:
    // The texts of the template's paragraphs; nothing before the first letter.
    std::optional<QStringList> mTemplate;
};

// The date as a date field with this code shows it: in the picture of its \@ switch
// (` CREATEDATE \@ "MMMM d, yyyy" ` shows "December 7, 2026"), in locale's language; in
// the short date of locale when the code has no picture.
QString FieldDate(const QString& code, const QDate& date, const QLocale& locale = QLocale::system());

// As FillFields, for a template of the user's: each tag, in this order, takes its text.
QStringList FillTags(GuardedProcedure& run, const std::shared_ptr<Word::Document>& document, const std::vector<TagText>& tags,
                     EmptySeparators separators = EmptySeparators::Kept);

// After the fill: the fields the template shows in place of a letter's own data give way to
// it, as plain text, in letter after letter opened from one template. Each field's kind and
// code are read from the first letter whose fields are the template's; a later such letter
// finds the same fields where they were, in the stories that hold them, and reads nothing
// else. Fields are the template's (asInTemplate) while nothing but text has been replaced
// since the template was opened or taken back: a removed paragraph may have taken a field
// with it, and that letter's fields are read one by one.
class TemplateFieldUnlinker {
public:
    // The built-in letter: the button "[Recipient Name]" in the header gives way to recipient,
    // a creation date to date in that field's own picture, or in dateFormat when one is given,
    // in locale's language. The recipient is taken as FillFields takes a field's text
    // (ToLetterText).
    void UnlinkLetterFields(const std::shared_ptr<Word::Document>& document, bool asInTemplate, const QString& recipient,
                            const QDate& date, const QString& dateFormat = QString(),
                            const QLocale& locale = QLocale::system());
    // After FillTags: a button field that shows one of the tags ("MACROBUTTON NoMacro [Region]",
    // which the search does not reach) gives way to the tag's text.
    void UnlinkTagButtons(const std::shared_ptr<Word::Document>& document, bool asInTemplate, const std::vector<TagText>& tags);

private:
    // The text a field of this kind and code gives way to, or nothing where it stays.
    using TextOf = std::function<std::optional<QString>(int type, const QString& code)>;
    void Unlink(const std::shared_ptr<Word::Document>& document, bool asInTemplate, const TextOf& textOf);

    // A field that may give way: a date or a button.
    struct KnownField {
        int index;
        int type;
        QString code;
    };
    // A story that holds such fields, and how many fields it holds in all.
    struct StoryFields {
        int story;
        int count;
        std::vector<KnownField> fields;
    };
    struct Known {
        int stories = 0;
        std::vector<StoryFields> holding;
    };
    // What the template holds; nothing before the first letter.
    std::optional<Known> mTemplate;
};
