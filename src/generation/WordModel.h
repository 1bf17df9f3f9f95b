#pragma once

#include "core/AppError.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

// The word-processor automation model the system drives: the members it calls and
// nothing more. Each object lives in an office process of its own; every call may
// throw AppError with a description for the user.
namespace Word {

// wdFindContinue, the one Wrap value in use.
inline constexpr int wdFindContinue = 1;
// The Replace values in use: wdReplaceOne replaces the first match in the range, wdReplaceAll every one.
inline constexpr int wdReplaceOne = 1;
inline constexpr int wdReplaceAll = 2;
// wdDoNotSaveChanges for Close.
inline constexpr int wdDoNotSaveChanges = 0;
// The WdStatistic values ComputeStatistics takes: words, characters (spaces included) and
// paragraphs of the main text.
inline constexpr int wdStatisticWords = 0;
inline constexpr int wdStatisticParagraphs = 4;
inline constexpr int wdStatisticCharactersWithSpaces = 5;
// Values of Field.Type: the kinds of field a letter holds; wdFieldEmpty for any other.
inline constexpr int wdFieldEmpty = -1;
inline constexpr int wdFieldCreateDate = 21;
inline constexpr int wdFieldPage = 33;
inline constexpr int wdFieldMacroButton = 51;
// The WdSaveFormat values SaveAs takes: Word 97-2003 (.doc), Word (.docx) and
// OpenDocument text (.odt).
inline constexpr int wdFormatDocument97 = 0;
inline constexpr int wdFormatXMLDocument = 12;
inline constexpr int wdFormatOpenDocumentText = 23;
// The WdBuiltInProperty values in use: the document's author, and who saved it last.
inline constexpr int wdPropertyAuthor = 3;
inline constexpr int wdPropertyLastAuthor = 7;

template <class T>
class Collection {
public:
    virtual ~Collection() = default;
    virtual int Count() = 0;
    // 0-based.
    virtual std::shared_ptr<T> Item(int index) = 0;
};

// A collection whose members are known when it is made.
template <class T>
class ListCollection : public Collection<T> {
public:
    explicit ListCollection(std::vector<std::shared_ptr<T>> items) : mItems(std::move(items)) {}
    int Count() override { return static_cast<int>(mItems.size()); }
    std::shared_ptr<T> Item(int index) override
    {
        if (index < 0 || index >= Count())
            throw AppError(QStringLiteral("The requested member of the collection does not exist."));
        return mItems[static_cast<std::size_t>(index)];
    }

private:
    std::vector<std::shared_ptr<T>> mItems;
};

// Arguments of Find.Execute; an argument left empty is omitted, and the search then
// uses what the object's properties hold.
struct ExecuteArguments {
    std::optional<QString> FindText;
    std::optional<QString> ReplaceWith;
    std::optional<int> Replace;
};

class Replacement {
public:
    virtual ~Replacement() = default;
    virtual void ClearFormatting() = 0;
    virtual void SetText(const QString& text) = 0;
};

// A search object; its settings persist between accesses through the same range.
class Find {
public:
    virtual ~Find() = default;
    virtual void ClearFormatting() = 0;
    virtual std::shared_ptr<Word::Replacement> Replacement() = 0;
    virtual void SetText(const QString& text) = 0;
    virtual void SetForward(bool value) = 0;
    virtual void SetWrap(int value) = 0;
    virtual void SetFormat(bool value) = 0;
    virtual void SetMatchCase(bool value) = 0;
    virtual void SetMatchWholeWord(bool value) = 0;
    virtual void SetMatchWildcards(bool value) = 0;
    virtual void SetMatchSoundsLike(bool value) = 0;
    virtual void SetMatchAllWordForms(bool value) = 0;
    // With Replace = wdReplaceAll every match in the range is replaced once and the
    // inserted text is not searched again. Returns whether anything was found.
    virtual bool Execute(const ExecuteArguments& arguments) = 0;
};

class Field;
class Paragraph;

class Range {
public:
    virtual ~Range() = default;
    virtual std::shared_ptr<Word::Find> Find() = 0;
    // The text of the range, its tables' included; a paragraph's ends with its paragraph
    // mark, "\r". A field stands there as the text it shows.
    virtual QString Text() = 0;
    // Removes the range's text: a paragraph goes with its mark, so the paragraphs after
    // it move up.
    virtual void Delete() = 0;
    // The fields in the range, in reading order.
    virtual std::shared_ptr<Collection<Word::Field>> Fields() = 0;
    // The paragraphs of the range, outside tables; a paragraph's range is its only one.
    virtual std::shared_ptr<Collection<Word::Paragraph>> Paragraphs() = 0;
    // The pages the range spans, every one of them, as a PDF document: the caller draws
    // them at the scale it needs and decides where the picture goes (the clipboard, a file).
    virtual QByteArray PagesAsPdf() = 0;
};

class Field {
public:
    virtual ~Field() = default;
    // A wdField value.
    virtual int Type() = 0;
    // Field.Code.Text: the field's instruction, such as ` CREATEDATE \@ "MMMM d, yyyy" `.
    virtual QString Code() = 0;
    // What Field.Result.Text = text followed by Field.Unlink does: the field gives way to
    // text as it is, which no later update of fields changes.
    virtual void UnlinkAs(const QString& text) = 0;
};

class Paragraph {
public:
    virtual ~Paragraph() = default;
    virtual std::shared_ptr<Word::Range> Range() = 0;
};

class TextFrame {
public:
    virtual ~TextFrame() = default;
    virtual bool HasText() = 0;
    virtual std::shared_ptr<Word::Range> TextRange() = 0;
};

class Shape {
public:
    virtual ~Shape() = default;
    virtual std::shared_ptr<Word::TextFrame> TextFrame() = 0;
};

// Tags and the texts they give way to, in order: ("[Pos]", "1"), ("[Betrag]", "12,50 €").
using TagReplacements = std::vector<std::pair<QString, QString>>;

// A row of a table.
class Row {
public:
    virtual ~Row() = default;
    // The paragraphs of the row's cells, cell after cell (a table inside a cell is not the
    // row's): its Text, and the text its Find searches and replaces in.
    virtual std::shared_ptr<Word::Range> Range() = 0;
    // What Rows.Add after this row, the row's FormattedText and a replace-all in each copy do,
    // for each of items: the row written once for each, in order (the row itself the first),
    // each copy with the row's cells' formatting, borders and shading and its tags (matched
    // ignoring case) giving way to its item's texts; a text put in is not searched again.
    // Without items, what Rows(i).Delete does: the rows below move up.
    virtual void Repeat(const std::vector<TagReplacements>& items) = 0;
};

class Table {
public:
    virtual ~Table() = default;
    // From the top.
    virtual std::shared_ptr<Collection<Word::Row>> Rows() = 0;
};

// What ExportAsFixedFormat's further arguments ask of a PDF.
struct FixedFormatOptions {
    // DocStructureTags: the PDF is tagged, its structure there for screen readers.
    bool docStructureTags = true;
    // UseISO19005_1, for the part of PDF/A given (2: PDF/A-2b, 3: PDF/A-3b); 0 for none.
    int archivePart = 0;
    // A text across every page, such as "DRAFT"; none when empty.
    QString watermark;
    // The PDF's title when the document has none of its own; none when empty.
    QString titleIfNone;
};

class Document {
public:
    virtual ~Document() = default;
    // One range per story: the main text, every non-empty header and footer, text frames.
    virtual std::shared_ptr<Collection<Word::Range>> StoryRanges() = 0;
    virtual std::shared_ptr<Collection<Word::Shape>> Shapes() = 0;
    // Writes the document there in fileFormat (a WdSaveFormat above), with only a file
    // name as a Word 97-2003 document.
    virtual void SaveAs(const QString& fileName, std::optional<int> fileFormat = std::nullopt) = 0;
    // ExportAsFixedFormat with ExportFormat wdExportFormatPDF: writes a PDF of the
    // document there, as options ask; the document itself stays as it is.
    virtual void ExportAsFixedFormat(const QString& outputFileName, const FixedFormatOptions& options = {}) = 0;
    // Without a value the document closes as Word would; wdDoNotSaveChanges discards changes.
    virtual void Close(std::optional<int> saveChanges = std::nullopt) = 0;
    // Where each picture linked to a file rather than held in the document leads: a picture's
    // LinkFormat.SourceFullName, as an absolute URL.
    virtual QStringList LinkedPictures() = 0;
    // What LinkFormat.SourceFullName and then LinkFormat.BreakLink do to every picture
    // linked to link (one of LinkedPictures): it holds picture, the bytes of a picture file,
    // from now on, linked to nothing.
    virtual void EmbedLinkedPicture(const QString& link, const QByteArray& picture) = 0;
    // Everything else the document takes from outside itself while it is open or laid out,
    // as the word processor lists it (the Fields' and Shapes' LinkFormat, the sections'
    // and objects' links): a section or text included from a file, an object linked to a
    // file, a dynamic data exchange (DDE) link, a picture of a drawing shape linked to a
    // file. Each described for a message: "a section linked to "file:///srv/x.odt"".
    virtual QStringList OtherLinks() = 0;
    // The text of each object embedded in the document that holds text of its own (an
    // embedded text document), by the object's name: none of it is a story of the document,
    // so none of it is searched or replaced.
    virtual std::vector<std::pair<QString, QString>> EmbeddedObjectTexts() = 0;
    // What Application.UndoRecord.StartCustomRecord and EndCustomRecord do for this
    // document: every change made between them is one, which one Undo takes back whole.
    virtual void StartCustomRecord(const QString& name) = 0;
    virtual void EndCustomRecord() = 0;
    // Takes back the latest change; false when there is none to take back.
    virtual bool Undo() = 0;
    // What BuiltInDocumentProperties(property).Value = value does, for wdPropertyAuthor and
    // wdPropertyLastAuthor: the document's files say so from then on.
    virtual void SetBuiltInDocumentProperty(int property, const QString& value) = 0;
    // How many words, paragraphs or characters (a WdStatistic above) the main text holds, as
    // it is now.
    virtual int ComputeStatistics(int statistic) = 0;
    // The whole main text.
    virtual std::shared_ptr<Word::Range> Range() = 0;
    // The paragraphs of the main text, outside tables.
    virtual std::shared_ptr<Collection<Word::Paragraph>> Paragraphs() = 0;
    // Every table of the document, in whichever story it stands (the main text, a header or
    // footer, a text frame, a cell of another table), in the word processor's order.
    virtual std::shared_ptr<Collection<Word::Table>> Tables() = 0;
};

class Documents {
public:
    virtual ~Documents() = default;
    // Opens the file itself (a template as the template, not a new document made from it).
    virtual std::shared_ptr<Document> Open(const QString& fileName, std::optional<bool> readOnly = std::nullopt) = 0;
};

class Application {
public:
    virtual ~Application() = default;
    virtual std::shared_ptr<Word::Documents> Documents() = 0;
    virtual void SetDisplayAlerts(bool value) = 0;
    virtual std::shared_ptr<Document> ActiveDocument() = 0;
    // Ends the office instance; the object is useless afterwards.
    virtual void Quit() = 0;
};

// Creates a new, invisible application instance: "Word.Application".
class ApplicationFactory {
public:
    virtual ~ApplicationFactory() = default;
    virtual std::shared_ptr<Application> CreateApplication() = 0;
};

} // namespace Word
