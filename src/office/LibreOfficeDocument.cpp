#include "LibreOfficeUno.h"

#include "files/Paths.h"
#include "files/SafeFile.h"
#include "lists/CellText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QUrl>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/beans/XPropertySetInfo.hpp>
#include <com/sun/star/beans/PropertyAttribute.hpp>
#include <com/sun/star/beans/XMultiPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/document/XDocumentProperties.hpp>
#include <com/sun/star/document/XEmbeddedObjectSupplier.hpp>
#include <com/sun/star/document/XEmbeddedObjectSupplier2.hpp>
#include <com/sun/star/drawing/XDrawPage.hpp>
#include <com/sun/star/embed/XLinkageSupport.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/io/SequenceInputStream.hpp>
#include <com/sun/star/document/XDocumentPropertiesSupplier.hpp>
#include <com/sun/star/document/XUndoManagerSupplier.hpp>
#include <com/sun/star/drawing/XDrawPageSupplier.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/graphic/GraphicProvider.hpp>
#include <com/sun/star/graphic/XGraphic.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/style/XStyle.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/text/XEndnotesSupplier.hpp>
#include <com/sun/star/text/XFootnotesSupplier.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextField.hpp>
#include <com/sun/star/text/XTextFieldsSupplier.hpp>
#include <com/sun/star/text/XTextFrame.hpp>
#include <com/sun/star/text/XTextFramesSupplier.hpp>
#include <com/sun/star/text/XTextGraphicObjectsSupplier.hpp>
#include <com/sun/star/text/SectionFileLink.hpp>
#include <com/sun/star/text/XTextEmbeddedObjectsSupplier.hpp>
#include <com/sun/star/text/XTextRangeCompare.hpp>
#include <com/sun/star/text/XTextSectionsSupplier.hpp>
#include <com/sun/star/text/XTextCopy.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/text/XTextTableCursor.hpp>
#include <com/sun/star/text/XTextTablesSupplier.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/table/XTableRows.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XNumberFormats.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>
#include <com/sun/star/util/XReplaceable.hpp>
#include <com/sun/star/util/XReplaceDescriptor.hpp>
#include <com/sun/star/util/XSearchable.hpp>

#include <algorithm>
#include <limits>
#include <map>
#include <tuple>

#include <sys/statvfs.h>

namespace LibreOffice {
namespace {

using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using css::text::XText;
using css::text::XTextField;
using css::text::XTextRange;
using Fields = std::vector<Reference<XTextField>>;

// What one Execute asks for, with the Find object's settings already applied.
struct Search {
    QString findText;
    QString replaceWith;
    bool matchCase = false;
    bool matchWholeWord = false;
    int replace = Word::wdReplaceAll;

    bool operator==(const Search&) const = default;
};

// Puts replacement in the place of the length characters that follow start in text, with the
// formatting of the first of them, as a word processor's replace does: a tag whose halves
// were formatted apart ("[Company" bold, "Name]" italic, as a word processor saves it after
// an edit) gives its text the first half's formatting. The replacement goes in after the
// first character, which gives it that character's formatting (text put in place of a
// selection would take the formatting before it); then the characters around it go.
void ReplaceKeepingFirstFormat(const Reference<XText>& text, const Reference<XTextRange>& start, sal_Int32 length,
                               const rtl::OUString& replacement)
{
    const Reference<css::text::XTextCursor> cursor = text->createTextCursorByRange(start);
    if (length <= 0) {
        cursor->setString(replacement);
        return;
    }
    cursor->goRight(1, false);
    text->insertString(Reference<XTextRange>(cursor.get()), replacement, false);
    for (sal_Int32 left = length - 1; left > 0; left -= SAL_MAX_INT16)
        cursor->goRight(static_cast<sal_Int16>(std::min<sal_Int32>(left, SAL_MAX_INT16)), true);
    cursor->setString(rtl::OUString());
    const Reference<css::text::XTextCursor> first = text->createTextCursorByRange(start);
    first->goRight(1, true);
    first->setString(rtl::OUString());
}

// wdReplaceNone, the other value of Execute's Replace.
constexpr int wdReplaceNone = 0;

// A text that StoryRanges lists, with what searching it needs: the text's own interface
// for comparing positions and its start, to tell which of the document's matches are its own.
struct StoryText {
    Reference<XText> text;
    Reference<css::text::XTextRangeCompare> compare;
    Reference<XTextRange> start;
    // Headers and footers are listed only while they hold text.
    bool listedWhileNotEmpty = false;
    // The main text, listed first (see WriterStory::Execute).
    bool main = false;
};

// What the backend keeps of an open document between calls.
struct DocumentCache {
    // The stories, from the first listing on. Replacing text adds or removes no story, but
    // it may empty a header or footer: a replacement in one of those drops the list.
    std::optional<std::vector<StoryText>> stories;
    // A descriptor for each text searched, with its options, made on its first search: a
    // letter made after another from the same document then only sets each replacement.
    std::map<std::tuple<QString, bool, bool>, Reference<css::util::XReplaceDescriptor>> descriptors;
    // The text of every story but the main text, from when it is first needed until a change
    // may have changed it.
    std::optional<QString> otherStoriesText;
    // The replace-all the main text made in the whole document at once, while nothing else
    // has changed the document since: the other stories held nothing it found.
    std::optional<Search> replacedEverywhere;
    // What was known of the stories as the latest custom record began, while that record is
    // the latest change: its undo brings them back.
    std::optional<std::vector<StoryText>> storiesAtRecordStart;
    std::optional<QString> otherStoriesTextAtRecordStart;
    bool recordIsLatest = false;

    // Called before each change to the document.
    void Changing()
    {
        otherStoriesText.reset();
        replacedEverywhere.reset();
        recordIsLatest = false;
    }
    // What each cell of a table's row (by the table's name and the row) holds, from its first
    // repeat on: whether plain text, and in which character style.
    std::map<std::pair<QString, int>, std::vector<std::optional<rtl::OUString>>> plainCells;
    // Every paragraph and portion of a shape's text handed out, held until the document
    // closes. The office hands out again a paragraph or portion object it still holds; one
    // whose last reference the bridge is letting go at that moment comes back as nothing
    // (the search then fails now and then). Held, none is ever let go during a listing.
    std::vector<Reference<css::uno::XInterface>> shapeTextObjects;
};

// Runs a call that has the office write a file into folder; when it fails while that
// folder's file system is full, the failure says so, in place of the office's own code
// for it (a bare input/output error).
template <class F>
void WritingInto(const QString& folder, const QString& what, F&& write)
{
    try {
        write();
    } catch (const AppError&) {
        struct statvfs space {};
        constexpr unsigned long long LeastRoom = 1024 * 1024;
        if (::statvfs(QFile::encodeName(folder).constData(), &space) == 0
            && static_cast<unsigned long long>(space.f_bavail) * space.f_frsize < LeastRoom)
            throw AppError(QStringLiteral("%1: there is no space left in the working folder \"%2\".")
                               .arg(what, QDir::toNativeSeparators(folder)));
        throw;
    }
}

// A document open in the office, shared by every object obtained from it.
struct OpenDocument {
    std::shared_ptr<Connection> connection;
    Reference<css::lang::XComponent> component;
    std::shared_ptr<DocumentCache> cache;

    // The connection for a call; fails once the document has been closed.
    Connection& Use() const
    {
        const auto& open = connection->openDocuments;
        if (!connection->Ended() && std::find(open.begin(), open.end(), component) == open.end())
            throw AppError(QStringLiteral("The document has been closed."));
        return *connection;
    }

    // Writes a PDF of the document into the office's own folder, as options ask, and returns
    // its path there; what describes a failure. The view's controllers are locked again, and
    // a title given for the export taken back, however the export ends.
    QString StorePdf(const QString& what, const Word::FixedFormatOptions& options = {}) const
    {
        Connection& office = Use();
        const QString path = QDir(office.WorkFolder()).filePath(QStringLiteral("pages.pdf"));
        WritingInto(office.WorkFolder(), what, [&] { Call(office, what, [&] {
            std::vector<css::beans::PropertyValue> settings;
            const auto set = [&settings](const char* name, const css::uno::Any& value) {
                css::beans::PropertyValue setting;
                setting.Name = rtl::OUString::createFromAscii(name);
                setting.Value = value;
                settings.push_back(setting);
            };
            set("UseTaggedPDF", css::uno::Any(options.docStructureTags));
            // The export filter's numbers for PDF/A-2b and PDF/A-3b are the parts themselves.
            if (options.archivePart > 0)
                set("SelectPdfVersion", css::uno::Any(static_cast<sal_Int32>(options.archivePart)));
            if (!options.watermark.isEmpty()) {
                set("Watermark", css::uno::Any(ToUno(options.watermark)));
                // Light grey: readable, and the letter's text shows through it.
                set("WatermarkColor", css::uno::Any(static_cast<sal_Int32>(0xC8C8C8)));
            }
            css::beans::PropertyValue filter[2];
            filter[0].Name = "FilterName";
            filter[0].Value <<= rtl::OUString("writer_pdf_Export");
            filter[1].Name = "FilterData";
            filter[1].Value <<= css::uno::Sequence<css::beans::PropertyValue>(settings.data(), static_cast<sal_Int32>(settings.size()));
            const Reference<css::document::XDocumentProperties> properties =
                Reference<css::document::XDocumentPropertiesSupplier>(component, UNO_QUERY_THROW)->getDocumentProperties();
            const bool titled = !options.titleIfNone.isEmpty() && properties->getTitle().isEmpty();
            if (titled)
                properties->setTitle(ToUno(options.titleIfNone));
            const auto untitle = qScopeGuard([&] {
                if (titled)
                    properties->setTitle(rtl::OUString());
            });
            // The PDF's links are made from the document's view: with the view's controllers
            // locked, as they are while text is replaced, the PDF would have none.
            const Reference<css::frame::XModel> model(component, UNO_QUERY_THROW);
            model->unlockControllers();
            const auto relock = qScopeGuard([&] { model->lockControllers(); });
            Reference<css::frame::XStorable>(component, UNO_QUERY_THROW)
                ->storeToURL(FileUrl(path), css::uno::Sequence<css::beans::PropertyValue>(filter, 2));
        }, Limit::Render); });
        return path;
    }

    // Every page of the document as a PDF, exported into the office's work folder and read
    // back once, as the office's own file; the file goes however that ends.
    QByteArray Pages() const
    {
        // Drawn, not read by anyone: no structure is needed.
        Word::FixedFormatOptions drawn;
        drawn.docStructureTags = false;
        const QString path = StorePdf(QStringLiteral("The document's pages could not be rendered"), drawn);
        const auto removeFile = qScopeGuard([&] { QFile::remove(path); });
        return ReadFileOnce(path, FileOwner::Own, std::numeric_limits<qint64>::max());
    }
};

// The texts of the headers and footers of the page styles in use, and of the styles that
// follow them (a first-page style is in use; the style of the pages after it only follows).
std::vector<Reference<XText>> HeaderAndFooterTexts(const Reference<css::lang::XComponent>& component)
{
    const Reference<css::container::XNameAccess> styles(
        Reference<css::style::XStyleFamiliesSupplier>(component, UNO_QUERY_THROW)->getStyleFamilies()->getByName("PageStyles"),
        UNO_QUERY_THROW);
    std::vector<rtl::OUString> used;
    for (const rtl::OUString& name : styles->getElementNames()) {
        if (Reference<css::style::XStyle>(styles->getByName(name), UNO_QUERY_THROW)->isInUse())
            used.push_back(name);
    }
    for (std::size_t i = 0; i < used.size(); ++i) {
        const Reference<css::beans::XPropertySet> style(styles->getByName(used[i]), UNO_QUERY_THROW);
        rtl::OUString follow;
        style->getPropertyValue("FollowStyle") >>= follow;
        if (!follow.isEmpty() && styles->hasByName(follow) && std::find(used.begin(), used.end(), follow) == used.end())
            used.push_back(follow);
    }

    static const char* const parts[] = {"HeaderTextFirst", "HeaderText", "HeaderTextLeft",
                                       "FooterTextFirst", "FooterText", "FooterTextLeft"};
    std::vector<Reference<XText>> texts;
    for (const rtl::OUString& name : used) {
        const Reference<css::beans::XPropertySet> style(styles->getByName(name), UNO_QUERY_THROW);
        const Reference<css::beans::XPropertySetInfo> info = style->getPropertySetInfo();
        for (const char* part : parts) {
            const rtl::OUString property = rtl::OUString::createFromAscii(part);
            if (!info->hasPropertyByName(property))
                continue;
            const Reference<XText> text(style->getPropertyValue(property), UNO_QUERY);
            if (text.is() && !text->getString().isEmpty() && std::find(texts.begin(), texts.end(), text) == texts.end())
                texts.push_back(text);
        }
    }
    return texts;
}

StoryText MakeStoryText(const Reference<XText>& text, bool listedWhileNotEmpty)
{
    return StoryText{text, Reference<css::text::XTextRangeCompare>(text, UNO_QUERY_THROW), text->getStart(), listedWhileNotEmpty};
}

std::vector<Reference<XText>> NoteTexts(const Reference<css::container::XIndexAccess>& notes)
{
    std::vector<Reference<XText>> texts;
    for (sal_Int32 i = 0; i < notes->getCount(); ++i)
        texts.emplace_back(notes->getByIndex(i), UNO_QUERY_THROW);
    return texts;
}

// The stories of the document, as StoryRanges lists them: the main text, the footnotes and
// endnotes, every non-empty header and footer, and the text frames.
std::vector<StoryText> ListStories(const Reference<css::lang::XComponent>& component)
{
    std::vector<StoryText> all;
    const auto append = [&all](const std::vector<Reference<XText>>& texts, bool listedWhileNotEmpty) {
        for (const Reference<XText>& text : texts)
            all.push_back(MakeStoryText(text, listedWhileNotEmpty));
    };
    append({Reference<css::text::XTextDocument>(component, UNO_QUERY_THROW)->getText()}, false);
    all.front().main = true;
    append(NoteTexts(Reference<css::text::XFootnotesSupplier>(component, UNO_QUERY_THROW)->getFootnotes()), false);
    append(NoteTexts(Reference<css::text::XEndnotesSupplier>(component, UNO_QUERY_THROW)->getEndnotes()), false);
    append(HeaderAndFooterTexts(component), true);
    const Reference<css::container::XIndexAccess> frames(
        Reference<css::text::XTextFramesSupplier>(component, UNO_QUERY_THROW)->getTextFrames(), UNO_QUERY_THROW);
    for (sal_Int32 i = 0; i < frames->getCount(); ++i)
        append({Reference<css::text::XTextFrame>(frames->getByIndex(i), UNO_QUERY_THROW)->getText()}, false);
    return all;
}

// The text a range of the model stands for, and how a search replaces in it.
class Story {
public:
    virtual ~Story() = default;
    // Finds every match of the search in this story (all of them before anything is
    // replaced, so inserted text is not searched again) and replaces as asked; returns
    // whether there was a match.
    virtual bool Execute(const Search& search) = 0;
    // What the model's Range.Text, Range.Delete and Range.Fields give and do.
    virtual QString Text() = 0;
    virtual void Delete() = 0;
    virtual Fields TextFields() = 0;
    // The text that holds the story, and the story's paragraphs in it, outside tables.
    virtual Reference<XText> OwnText() = 0;
    virtual std::vector<Reference<XTextRange>> Paragraphs() = 0;
};

// The paragraphs of text, outside its tables, in order.
std::vector<Reference<XTextRange>> ParagraphsOf(const Reference<XText>& text)
{
    std::vector<Reference<XTextRange>> found;
    const Reference<css::container::XEnumeration> parts =
        Reference<css::container::XEnumerationAccess>(text, UNO_QUERY_THROW)->createEnumeration();
    while (parts->hasMoreElements()) {
        const Reference<css::lang::XServiceInfo> part(parts->nextElement(), UNO_QUERY_THROW);
        if (part->supportsService("com.sun.star.text.Paragraph"))
            found.emplace_back(part, UNO_QUERY_THROW);
    }
    return found;
}

// The kind of a portion of a paragraph: "Text", "TextField" and so on.
rtl::OUString PortionType(const Reference<XTextRange>& portion)
{
    const Reference<css::beans::XPropertySet> properties(portion, UNO_QUERY);
    rtl::OUString type;
    if (properties.is() && properties->getPropertySetInfo()->hasPropertyByName("TextPortionType"))
        properties->getPropertyValue("TextPortionType") >>= type;
    return type;
}

// Calls each for every portion of a paragraph, in order.
void ForEachPortion(const Reference<XTextRange>& paragraph, const std::function<void(const Reference<XTextRange>&)>& each)
{
    const Reference<css::container::XEnumeration> portions =
        Reference<css::container::XEnumerationAccess>(paragraph, UNO_QUERY_THROW)->createEnumeration();
    while (portions->hasMoreElements())
        each(Reference<XTextRange>(portions->nextElement(), UNO_QUERY_THROW));
}

// The text of every paragraph of text, those in its tables (cell by cell, row by row)
// included, each ending with its paragraph mark, "\r", as the model's Range.Text gives them.
QString ParagraphsText(const Reference<XText>& text)
{
    QString all;
    const Reference<css::container::XEnumeration> elements =
        Reference<css::container::XEnumerationAccess>(text, UNO_QUERY_THROW)->createEnumeration();
    while (elements->hasMoreElements()) {
        const css::uno::Any element = elements->nextElement();
        const Reference<css::text::XTextTable> table(element, UNO_QUERY);
        if (table.is()) {
            for (const rtl::OUString& name : table->getCellNames())
                all += ParagraphsText(Reference<XText>(table->getCellByName(name), UNO_QUERY_THROW));
            continue;
        }
        const Reference<XTextRange> paragraph(element, UNO_QUERY);
        if (paragraph.is())
            all += FromUno(paragraph->getString()) + QLatin1Char('\r');
    }
    return all;
}

// The text of every story of the document but the main text, read once until a change may
// have changed it.
const QString& OtherStoriesText(const OpenDocument& document)
{
    DocumentCache& cache = *document.cache;
    if (!cache.otherStoriesText) {
        if (!cache.stories)
            cache.stories = ListStories(document.component);
        QString text;
        for (const StoryText& story : *cache.stories) {
            if (!story.main)
                text += ParagraphsText(story.text);
        }
        cache.otherStoriesText = text;
    }
    return *cache.otherStoriesText;
}

// A story of the word processor itself: the main text, a header or footer, a footnote,
// a text frame. The document's search covers all of them; of its matches, those that this
// story's text holds (in its paragraphs or its tables) are this story's.
class WriterStory : public Story {
public:
    WriterStory(OpenDocument document, StoryText story)
        : mDocument(std::move(document)), mStory(std::move(story))
    {
    }

    // A replace-all in the main text whose text no other story holds is the office's own
    // replace-all, which covers the whole document at once: one call, which keeps the
    // formatting of each match's first character and leaves nothing behind that taking it
    // back would miss. The other stories then have nothing to replace.
    bool Execute(const Search& search) override
    {
        DocumentCache& cache = *mDocument.cache;
        const bool replaceAll = search.replace == Word::wdReplaceAll;
        if (replaceAll && !mStory.main && cache.replacedEverywhere == search)
            return false;
        return Call(mDocument.Use(), QStringLiteral("The search in the document failed"), [&] {
            const Reference<css::util::XReplaceable> searchable(mDocument.component, UNO_QUERY_THROW);
            const Reference<css::util::XReplaceDescriptor> replace = Descriptor(searchable, search);
            const bool everywhere = replaceAll && mStory.main && !OtherStoriesHold(search);
            if (search.replace != wdReplaceNone) {
                // A change to the main text leaves the other stories' text as it was.
                const std::optional<QString> others = mStory.main ? cache.otherStoriesText : std::nullopt;
                cache.Changing();
                cache.otherStoriesText = others;
            }
            if (everywhere) {
                replace->setReplaceString(ToUno(search.replaceWith));
                const sal_Int32 replaced = searchable->replaceAll(Reference<css::util::XSearchDescriptor>(replace.get()));
                cache.replacedEverywhere = search;
                return replaced > 0;
            }
            const Reference<css::util::XSearchDescriptor> descriptor(replace.get());
            std::vector<Reference<XTextRange>> matches;
            if (search.replace == Word::wdReplaceOne) {
                // The first match in this story: the document's matches in order until one is.
                Reference<css::uno::XInterface> found = searchable->findFirst(descriptor);
                while (found.is() && matches.empty()) {
                    const Reference<XTextRange> match(found, UNO_QUERY_THROW);
                    if (Holds(match))
                        matches.push_back(match);
                    else
                        found = searchable->findNext(match->getEnd(), descriptor);
                }
            } else {
                const Reference<css::container::XIndexAccess> found = searchable->findAll(descriptor);
                const sal_Int32 count = found.is() ? found->getCount() : 0;
                for (sal_Int32 i = 0; i < count; ++i) {
                    const Reference<XTextRange> match(found->getByIndex(i), UNO_QUERY_THROW);
                    if (Holds(match))
                        matches.push_back(match);
                }
            }
            if (matches.empty())
                return false;
            if (search.replace != wdReplaceNone) {
                // Setting a range's text inserts it as it is: nothing in it is special.
                const rtl::OUString replacement = ToUno(search.replaceWith);
                for (const Reference<XTextRange>& match : matches)
                    ReplaceKeepingFirstFormat(match->getText(), match->getStart(), match->getString().getLength(), replacement);
                if (mStory.listedWhileNotEmpty)
                    mDocument.cache->stories.reset();
            }
            return true;
        });
    }

    QString Text() override
    {
        return Call(mDocument.Use(), QStringLiteral("The text of the document could not be read"),
                    [&] { return ParagraphsText(mStory.text); });
    }

    void Delete() override
    {
        mDocument.cache->Changing();
        Call(mDocument.Use(), QStringLiteral("The text could not be removed"), [&] { mStory.text->setString(rtl::OUString()); });
        if (mStory.listedWhileNotEmpty)
            mDocument.cache->stories.reset();
    }

    Reference<XText> OwnText() override { return mStory.text; }

    std::vector<Reference<XTextRange>> Paragraphs() override
    {
        return Call(mDocument.Use(), QStringLiteral("The paragraphs of the document could not be listed"),
                    [&] { return ParagraphsOf(mStory.text); });
    }

    // The document's fields that this story's text holds, in reading order.
    Fields TextFields() override
    {
        return Call(mDocument.Use(), QStringLiteral("The fields of the document could not be listed"), [&] {
            // Each field's anchor is asked for once: every call goes to the office.
            std::vector<std::pair<Reference<XTextRange>, Reference<XTextField>>> held;
            const Reference<css::container::XEnumeration> all =
                Reference<css::text::XTextFieldsSupplier>(mDocument.component, UNO_QUERY_THROW)->getTextFields()->createEnumeration();
            while (all->hasMoreElements()) {
                const Reference<XTextField> field(all->nextElement(), UNO_QUERY_THROW);
                const Reference<XTextRange> anchor = field->getAnchor();
                if (Holds(anchor))
                    held.emplace_back(anchor, field);
            }
            std::sort(held.begin(), held.end(), [this](const auto& a, const auto& b) {
                return mStory.compare->compareRegionStarts(a.first, b.first) > 0;
            });
            Fields fields;
            for (const auto& [anchor, field] : held)
                fields.push_back(field);
            return fields;
        });
    }

private:
    // Whether a story other than the main text may hold a match of the search.
    bool OtherStoriesHold(const Search& search) const
    {
        return OtherStoriesText(mDocument).contains(search.findText, search.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive);
    }

    // The document's search descriptor for this search, made on its first use.
    Reference<css::util::XReplaceDescriptor> Descriptor(const Reference<css::util::XReplaceable>& searchable,
                                                       const Search& search) const
    {
        Reference<css::util::XReplaceDescriptor>& descriptor =
            mDocument.cache->descriptors[{search.findText, search.matchCase, search.matchWholeWord}];
        if (!descriptor.is()) {
            const Reference<css::util::XReplaceDescriptor> made = searchable->createReplaceDescriptor();
            const Reference<css::beans::XPropertySet> options(made, UNO_QUERY_THROW);
            options->setPropertyValue("SearchRegularExpression", css::uno::Any(false));
            options->setPropertyValue("SearchSimilarity", css::uno::Any(false));
            options->setPropertyValue("SearchStyles", css::uno::Any(false));
            options->setPropertyValue("SearchBackwards", css::uno::Any(false));
            options->setPropertyValue("SearchCaseSensitive", css::uno::Any(search.matchCase));
            options->setPropertyValue("SearchWords", css::uno::Any(search.matchWholeWord));
            made->setSearchString(ToUno(search.findText));
            descriptor = made;
        }
        return descriptor;
    }

    // The office compares positions only within one text, tables in it included, and
    // refuses a range of another text.
    bool Holds(const Reference<XTextRange>& range) const
    {
        try {
            mStory.compare->compareRegionStarts(range, mStory.start);
            return true;
        } catch (const css::lang::DisposedException&) {
            throw;
        } catch (const css::lang::IllegalArgumentException&) {
            return false;
        } catch (const css::uno::RuntimeException&) {
            return false;
        }
    }

    OpenDocument mDocument;
    StoryText mStory;
};

// The text of a drawing shape, or one paragraph of a text. The document's search does not
// reach a shape, and a paragraph is no story of its own, so they are searched here,
// paragraph by paragraph. A paragraph is read portion by portion: a field counts as one
// position (as the office's cursor counts it), so that a match is replaced exactly where it
// was found, and a match never runs through a field.
class PortionStory : public Story {
public:
    // The whole of text, or only paragraph of it when that is given.
    PortionStory(OpenDocument document, Reference<XText> text, Reference<XTextRange> paragraph = {})
        : mDocument(std::move(document)), mText(std::move(text)), mParagraph(std::move(paragraph))
    {
    }

    bool Execute(const Search& search) override
    {
        const QString what = mParagraph.is() ? QStringLiteral("The search in the paragraph failed")
                                             : QStringLiteral("The search in the shape failed");
        mDocument.cache->Changing();
        return Call(mDocument.Use(), what, [&] {
            std::vector<Match> matches = FindMatches(search);
            if (matches.empty())
                return false;
            if (search.replace == Word::wdReplaceOne)
                matches.resize(1);
            if (search.replace != wdReplaceNone)
                ReplaceMatches(matches, search);
            return true;
        });
    }

    // A paragraph's text ends with its mark, as the model's does.
    QString Text() override
    {
        return Call(mDocument.Use(), QStringLiteral("The text could not be read"), [&] {
            return mParagraph.is() ? FromUno(mParagraph->getString()) + QLatin1Char('\r') : FromUno(mText->getString());
        });
    }

    // A paragraph is removed whole, its mark with it. The word processor's own paragraph goes
    // when it is disposed of, whatever is next to it (a table); disposing of a paragraph of a
    // shape's text leaves it, so its text goes with the mark after it, or for the last
    // paragraph the mark before it, and the only paragraph is emptied.
    void Delete() override
    {
        mDocument.cache->Changing();
        Call(mDocument.Use(), QStringLiteral("The text could not be removed"), [&] {
            if (!mParagraph.is()) {
                mText->setString(rtl::OUString());
                return;
            }
            if (Reference<css::lang::XServiceInfo>(mParagraph, UNO_QUERY_THROW)->getImplementationName() == "SwXParagraph") {
                Reference<css::lang::XComponent>(mParagraph, UNO_QUERY_THROW)->dispose();
                return;
            }
            Reference<css::text::XTextCursor> cursor = mText->createTextCursorByRange(mParagraph->getStart());
            cursor->gotoRange(mParagraph->getEnd(), true);
            if (!cursor->goRight(1, true)) {
                cursor = mText->createTextCursorByRange(mParagraph->getStart());
                cursor->goLeft(1, false);
                cursor->gotoRange(mParagraph->getEnd(), true);
            }
            cursor->setString(rtl::OUString());
        });
    }

    Reference<XText> OwnText() override { return mText; }

    // A shape's text holds nothing but paragraphs.
    std::vector<Reference<XTextRange>> Paragraphs() override
    {
        return Call(mDocument.Use(), QStringLiteral("The paragraphs of the text could not be listed"), [&] {
            std::vector<Reference<XTextRange>> paragraphs;
            ForEachParagraph([&](const Reference<XTextRange>& paragraph) { paragraphs.push_back(paragraph); });
            return paragraphs;
        });
    }

    Fields TextFields() override
    {
        return Call(mDocument.Use(), QStringLiteral("The fields of the text could not be listed"), [&] {
            Fields fields;
            ForEachParagraph([&](const Reference<XTextRange>& paragraph) {
                ForEachHeldPortion(paragraph, [&](const Reference<XTextRange>& portion) {
                    if (PortionType(portion) != "TextField")
                        return;
                    Reference<XTextField> field;
                    Reference<css::beans::XPropertySet>(portion, UNO_QUERY_THROW)->getPropertyValue("TextField") >>= field;
                    if (field.is())
                        fields.push_back(field);
                });
            });
            return fields;
        });
    }

private:
    struct Match {
        Reference<XTextRange> paragraph;
        qsizetype position;
    };

    void ForEachParagraph(const std::function<void(const Reference<XTextRange>&)>& each) const
    {
        if (mParagraph.is()) {
            each(mParagraph);
            return;
        }
        const Reference<css::container::XEnumeration> paragraphs =
            Reference<css::container::XEnumerationAccess>(mText, UNO_QUERY_THROW)->createEnumeration();
        while (paragraphs->hasMoreElements()) {
            const Reference<XTextRange> paragraph(paragraphs->nextElement(), UNO_QUERY_THROW);
            mDocument.cache->shapeTextObjects.push_back(paragraph);
            each(paragraph);
        }
    }

    // The portions of paragraph, each held (see DocumentCache::shapeTextObjects).
    void ForEachHeldPortion(const Reference<XTextRange>& paragraph, const std::function<void(const Reference<XTextRange>&)>& each) const
    {
        ForEachPortion(paragraph, [&](const Reference<XTextRange>& portion) {
            mDocument.cache->shapeTextObjects.push_back(portion);
            each(portion);
        });
    }

    // Every occurrence of the search text, paragraph by paragraph, in reading order.
    std::vector<Match> FindMatches(const Search& search) const
    {
        std::vector<Match> matches;
        const Qt::CaseSensitivity sensitivity = search.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
        ForEachParagraph([&](const Reference<XTextRange>& paragraph) {
            const QString text = ParagraphText(paragraph);
            for (qsizetype at = text.indexOf(search.findText, 0, sensitivity); at >= 0;
                 at = text.indexOf(search.findText, at, sensitivity)) {
                if (!search.matchWholeWord || IsWholeWord(text, at, search.findText.size())) {
                    matches.push_back({paragraph, at});
                    at += search.findText.size();
                } else {
                    ++at;
                }
            }
        });
        return matches;
    }

    // From the last match back, so that earlier positions stay valid.
    void ReplaceMatches(const std::vector<Match>& matches, const Search& search) const
    {
        const rtl::OUString replacement = ToUno(search.replaceWith);
        for (auto match = matches.rbegin(); match != matches.rend(); ++match) {
            const Reference<css::text::XTextCursor> cursor = mText->createTextCursorByRange(match->paragraph->getStart());
            Move(cursor, match->position, false);
            ReplaceKeepingFirstFormat(mText, cursor->getStart(), static_cast<sal_Int32>(search.findText.size()), replacement);
        }
    }

    QString ParagraphText(const Reference<XTextRange>& paragraph) const
    {
        QString text;
        ForEachHeldPortion(paragraph, [&text](const Reference<XTextRange>& portion) {
            const rtl::OUString type = PortionType(portion);
            if (type.isEmpty() || type == "Text")
                text += FromUno(portion->getString());
            else
                text += QChar::ObjectReplacementCharacter;
        });
        return text;
    }

    static bool IsWholeWord(const QString& text, qsizetype at, qsizetype length)
    {
        const auto isWordCharacter = [](QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); };
        return (at == 0 || !isWordCharacter(text[at - 1]))
            && (at + length >= text.size() || !isWordCharacter(text[at + length]));
    }

    // The cursor moves at most 32767 positions at a time.
    static void Move(const Reference<css::text::XTextCursor>& cursor, qsizetype count, bool expand)
    {
        while (count > 0) {
            const auto step = static_cast<sal_Int16>(std::min<qsizetype>(count, SAL_MAX_INT16));
            cursor->goRight(step, expand);
            count -= step;
        }
    }

    OpenDocument mDocument;
    Reference<XText> mText;
    Reference<XTextRange> mParagraph;
};

class ReplacementImpl : public Word::Replacement {
public:
    // The model's replacement has no formatting criteria of its own to clear.
    void ClearFormatting() override {}
    void SetText(const QString& text) override { mText = text; }
    const QString& Text() const { return mText; }

private:
    QString mText;
};

// The settings of a search, kept between calls as the model promises.
class FindImpl : public Word::Find {
public:
    explicit FindImpl(std::shared_ptr<Story> story) : mStory(std::move(story)) {}

    // Formatting is never part of a search here, so there is nothing to clear.
    void ClearFormatting() override {}
    std::shared_ptr<Word::Replacement> Replacement() override { return mReplacement; }
    void SetText(const QString& text) override { mText = text; }
    // A replace-all covers the whole story whatever the direction and the wrap, and
    // with no formatting criteria a search for formatting is a search for the text.
    void SetForward(bool) override {}
    void SetWrap(int) override {}
    void SetFormat(bool) override {}
    void SetMatchCase(bool value) override { mMatchCase = value; }
    void SetMatchWholeWord(bool value) override { mMatchWholeWord = value; }
    void SetMatchWildcards(bool value) override { mMatchWildcards = value; }
    void SetMatchSoundsLike(bool value) override { mMatchSoundsLike = value; }
    void SetMatchAllWordForms(bool value) override { mMatchAllWordForms = value; }

    bool Execute(const Word::ExecuteArguments& arguments) override
    {
        if (mMatchWildcards || mMatchSoundsLike || mMatchAllWordForms)
            throw AppError(QStringLiteral(
                "The office engine (LibreOffice) cannot search with wildcards, for similar sounds or for word forms."));
        Search search;
        search.findText = arguments.FindText.value_or(mText);
        search.replaceWith = arguments.ReplaceWith.value_or(mReplacement->Text());
        search.matchCase = mMatchCase;
        search.matchWholeWord = mMatchWholeWord;
        search.replace = arguments.Replace.value_or(wdReplaceNone);
        if (search.replace < wdReplaceNone || search.replace > Word::wdReplaceAll)
            throw AppError(QStringLiteral("The value %1 is not a valid way to replace.").arg(search.replace));
        if (search.findText.isEmpty())
            return false;
        return mStory->Execute(search);
    }

private:
    std::shared_ptr<Story> mStory;
    std::shared_ptr<ReplacementImpl> mReplacement = std::make_shared<ReplacementImpl>();
    QString mText;
    bool mMatchCase = false;
    bool mMatchWholeWord = false;
    bool mMatchWildcards = false;
    bool mMatchSoundsLike = false;
    bool mMatchAllWordForms = false;
};

// The Word picture of the date part of an office number format: "MMMM D, YYYY" becomes
// "MMMM d, yyyy". Literal text (FormatCodeLiteral) stays text, quoted; a bracketed part (a
// language or a colour) has no picture.
QString WordDatePicture(const QString& format)
{
    QString picture;
    for (qsizetype at = 0; at < format.size(); ++at) {
        const QChar c = format[at];
        qsizetype next = at;
        if (const std::optional<QString> literal = FormatCodeLiteral(format, next)) {
            if (!literal->isEmpty())
                picture += QLatin1Char('\'') + *literal + QLatin1Char('\'');
            at = next - 1;
        } else if (c == QLatin1Char('[')) {
            at = std::max(format.indexOf(QLatin1Char(']'), at), at);
        } else if (c == QLatin1Char('N')) {
            qsizetype run = 1;
            while (at + run < format.size() && format[at + run] == QLatin1Char('N'))
                ++run;
            picture += run > 2 ? QStringLiteral("dddd") : QStringLiteral("ddd");
            at += run - 1;
        } else {
            picture += c == QLatin1Char('D') || c == QLatin1Char('Y') ? c.toLower() : c;
        }
    }
    return picture;
}

class FieldImpl : public Word::Field {
public:
    FieldImpl(OpenDocument document, Reference<XTextField> field) : mDocument(std::move(document)), mField(std::move(field)) {}

    int Type() override
    {
        return Call(mDocument.Use(), QStringLiteral("The field could not be read"), [&] { return TypeOf(Info()); });
    }

    // The office keeps no field code: it is written as Word writes it, from what the field holds.
    QString Code() override
    {
        return Call(mDocument.Use(), QStringLiteral("The field could not be read"), [&] {
            const Reference<css::beans::XPropertySet> properties(mField, UNO_QUERY_THROW);
            switch (TypeOf(Info())) {
            case Word::wdFieldCreateDate:
                return QStringLiteral(" CREATEDATE \\@ \"%1\" ").arg(WordDatePicture(NumberFormat(properties)));
            case Word::wdFieldMacroButton:
                return QStringLiteral(" MACROBUTTON %1 %2 ").arg(String(properties, "MacroName"), String(properties, "Hint"));
            case Word::wdFieldPage:
                return QStringLiteral(" PAGE ");
            default:
                return QString();
            }
        });
    }

    // The field's place in the text takes the text.
    void UnlinkAs(const QString& text) override
    {
        mDocument.cache->Changing();
        Call(mDocument.Use(), QStringLiteral("The field could not be replaced"), [&] { mField->getAnchor()->setString(ToUno(text)); });
        mDocument.cache->stories.reset();
    }

private:
    Reference<css::lang::XServiceInfo> Info() const { return {mField, UNO_QUERY_THROW}; }

    // The services are asked for in one call.
    static int TypeOf(const Reference<css::lang::XServiceInfo>& info)
    {
        const css::uno::Sequence<rtl::OUString> services = info->getSupportedServiceNames();
        const auto supports = [&services](const char* name) {
            return std::find(services.begin(), services.end(), rtl::OUString::createFromAscii(name)) != services.end();
        };
        if (supports("com.sun.star.text.textfield.docinfo.CreateDateTime"))
            return Word::wdFieldCreateDate;
        if (supports("com.sun.star.text.textfield.Macro"))
            return Word::wdFieldMacroButton;
        if (supports("com.sun.star.text.textfield.PageNumber"))
            return Word::wdFieldPage;
        return Word::wdFieldEmpty;
    }

    static QString String(const Reference<css::beans::XPropertySet>& properties, const char* name)
    {
        rtl::OUString value;
        properties->getPropertyValue(rtl::OUString::createFromAscii(name)) >>= value;
        return FromUno(value);
    }

    // The format code of the field's number format, such as "MMMM D, YYYY".
    QString NumberFormat(const Reference<css::beans::XPropertySet>& properties) const
    {
        sal_Int32 key = 0;
        properties->getPropertyValue("NumberFormat") >>= key;
        const Reference<css::beans::XPropertySet> format =
            Reference<css::util::XNumberFormatsSupplier>(mDocument.component, UNO_QUERY_THROW)->getNumberFormats()->getByKey(key);
        return String(format, "FormatString");
    }

    OpenDocument mDocument;
    Reference<XTextField> mField;
};

class RangeImpl : public Word::Range {
public:
    RangeImpl(OpenDocument document, std::shared_ptr<Story> story)
        : mDocument(std::move(document)), mStory(story), mFind(std::make_shared<FindImpl>(std::move(story)))
    {
    }

    std::shared_ptr<Word::Find> Find() override { return mFind; }
    QString Text() override { return mStory->Text(); }
    void Delete() override { mStory->Delete(); }

    std::shared_ptr<Word::Collection<Word::Field>> Fields() override
    {
        std::vector<std::shared_ptr<Word::Field>> fields;
        for (const Reference<XTextField>& field : mStory->TextFields())
            fields.push_back(std::make_shared<FieldImpl>(mDocument, field));
        return std::make_shared<Word::ListCollection<Word::Field>>(std::move(fields));
    }

    std::shared_ptr<Word::Collection<Word::Paragraph>> Paragraphs() override;

    // Every page of the document: the main text spans them all, and headers, frames and
    // shapes are seen on the pages that hold them.
    QByteArray PagesAsPdf() override { return mDocument.Pages(); }

private:
    OpenDocument mDocument;
    std::shared_ptr<Story> mStory;
    std::shared_ptr<FindImpl> mFind;
};

class ParagraphImpl : public Word::Paragraph {
public:
    ParagraphImpl(OpenDocument document, Reference<XText> text, Reference<XTextRange> paragraph)
        : mDocument(std::move(document)), mText(std::move(text)), mParagraph(std::move(paragraph))
    {
    }

    std::shared_ptr<Word::Range> Range() override
    {
        mDocument.Use();
        return std::make_shared<RangeImpl>(mDocument, std::make_shared<PortionStory>(mDocument, mText, mParagraph));
    }

private:
    OpenDocument mDocument;
    Reference<XText> mText;
    Reference<XTextRange> mParagraph;
};

std::shared_ptr<Word::Collection<Word::Paragraph>> RangeImpl::Paragraphs()
{
    std::vector<std::shared_ptr<Word::Paragraph>> list;
    const Reference<XText> text = mStory->OwnText();
    for (const Reference<XTextRange>& paragraph : mStory->Paragraphs())
        list.push_back(std::make_shared<ParagraphImpl>(mDocument, text, paragraph));
    return std::make_shared<Word::ListCollection<Word::Paragraph>>(std::move(list));
}

// The cells of a table's row, from its left: a cell's name is its column's letters and its
// row's number, from 1, and for a cell split in two, the parts' numbers after it ("B3.1.2").
std::vector<rtl::OUString> RowCellNames(const Reference<css::text::XTextTable>& table, sal_Int32 row)
{
    std::vector<rtl::OUString> names;
    const QString number = QString::number(row + 1);
    for (const rtl::OUString& name : table->getCellNames()) {
        const QString cell = FromUno(name);
        qsizetype digits = 0;
        while (digits < cell.size() && cell[digits].isLetter())
            ++digits;
        const qsizetype end = cell.indexOf(QLatin1Char('.'), digits);
        if (cell.mid(digits, end < 0 ? -1 : end - digits) == number)
            names.push_back(name);
    }
    return names;
}

// The name of cell in another row of its table.
rtl::OUString CellInRow(const rtl::OUString& cell, sal_Int32 row)
{
    QString name = FromUno(cell);
    qsizetype letters = 0;
    while (letters < name.size() && name[letters].isLetter())
        ++letters;
    qsizetype digits = letters;
    while (digits < name.size() && name[digits].isDigit())
        ++digits;
    return ToUno(name.replace(letters, digits - letters, QString::number(row + 1)));
}

// A row of a table: the paragraphs of its cells, each cell searched as a shape's text is,
// paragraph by paragraph, so that a match is replaced exactly where it was found.
class RowStory : public Story {
public:
    RowStory(OpenDocument document, Reference<css::text::XTextTable> table, sal_Int32 row)
        : mDocument(std::move(document)), mTable(std::move(table)), mRow(row)
    {
    }

    // Only a cell whose text holds the search's is searched portion by portion: most of a
    // row's cells hold none of a search's text.
    bool Execute(const Search& search) override
    {
        bool found = false;
        const Qt::CaseSensitivity sensitivity = search.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
        for (Cell& cell : Cells()) {
            if (!cell.text.contains(search.findText, sensitivity))
                continue;
            if (search.replace == Word::wdReplaceAll && !search.matchWholeWord && ReplacedInPlace(cell, search)) {
                found = true;
                continue;
            }
            found = PortionStory(mDocument, cell.text_).Execute(search) || found;
            if (search.replace != wdReplaceNone)
                cell.text = Call(mDocument.Use(), QStringLiteral("The text of the table's row could not be read"),
                                 [&] { return FromUno(cell.text_->getString()); });
            if (found && search.replace == Word::wdReplaceOne)
                break;
        }
        return found;
    }

    QString Text() override
    {
        return Call(mDocument.Use(), QStringLiteral("The text of the table's row could not be read"), [&] {
            QString text;
            for (const Cell& cell : Cells()) {
                for (const Reference<XTextRange>& paragraph : ParagraphsOf(cell.text_))
                    text += FromUno(paragraph->getString()) + QLatin1Char('\r');
            }
            return text;
        });
    }

    void Delete() override
    {
        mDocument.cache->Changing();
        mCells.reset();
        Call(mDocument.Use(), QStringLiteral("The table's row could not be removed"),
             [&] { mTable->getRows()->removeByIndex(mRow, 1); });
    }

    Fields TextFields() override
    {
        Fields fields;
        for (const Cell& cell : Cells()) {
            const Fields own = PortionStory(mDocument, cell.text_).TextFields();
            fields.insert(fields.end(), own.begin(), own.end());
        }
        return fields;
    }

    // A row is no one text: its paragraphs are its cells'.
    Reference<XText> OwnText() override { return {}; }
    std::vector<Reference<XTextRange>> Paragraphs() override { return {}; }

    // The row once for each of items (see Word::Row::Repeat). The cells of plain text (one
    // paragraph in one character style) are given every copy's texts at once, as a block of
    // the table, and their character style: a new row's cells take the paragraph formatting of
    // the row they follow. Any other cell is copied with its formatting and its tags replaced
    // in place. The row itself is the first copy, filled last, as the others are copied from it.
    // Each call to the office counts: a letter has many such cells.
    void Repeat(const std::vector<Word::TagReplacements>& items)
    {
        if (items.empty()) {
            Delete();
            return;
        }
        std::vector<Cell>& cells = Cells();
        const std::vector<std::optional<rtl::OUString>>& plain = PlainCells();
        mDocument.cache->Changing();
        const auto copies = static_cast<sal_Int32>(items.size());
        const QString what = QStringLiteral("The table's row could not be repeated");
        if (copies > 1)
            Call(mDocument.Use(), what, [&] { mTable->getRows()->insertByIndex(mRow + 1, copies - 1); });
        // The plain cells, in runs of neighbours, each run one block of every copy.
        for (std::size_t first = 0; first < cells.size();) {
            std::size_t end = first;
            while (end < cells.size() && plain[end])
                ++end;
            if (end == first) {
                ++first;
                continue;
            }
            Call(mDocument.Use(), what, [&] {
                css::uno::Sequence<css::uno::Sequence<css::uno::Any>> block(copies);
                for (sal_Int32 copy = 0; copy < copies; ++copy) {
                    css::uno::Sequence<css::uno::Any> row(static_cast<sal_Int32>(end - first));
                    for (std::size_t c = first; c < end; ++c)
                        row.getArray()[c - first] <<= ToUno(Replaced(cells[c].text, items[static_cast<std::size_t>(copy)]));
                    block.getArray()[copy] = row;
                }
                Reference<css::sheet::XCellRangeData>(Reference<css::table::XCellRange>(mTable, UNO_QUERY_THROW)
                                                          ->getCellRangeByName(CellInRow(cells[first].name, mRow) + ":" +
                                                                               CellInRow(cells[end - 1].name, mRow + copies - 1)),
                                                      UNO_QUERY_THROW)
                    ->setDataArray(block);
                // A column's character style, given to its cells through a table cursor over them.
                for (std::size_t c = first; c < end; ++c) {
                    if (plain[c]->isEmpty())
                        continue;
                    const Reference<css::text::XTextTableCursor> column = mTable->createCursorByCellName(CellInRow(cells[c].name, mRow));
                    column->gotoCellByName(CellInRow(cells[c].name, mRow + copies - 1), true);
                    Reference<css::beans::XPropertySet>(column, UNO_QUERY_THROW)->setPropertyValue("CharStyleName", css::uno::Any(*plain[c]));
                }
            });
            first = end;
        }
        for (sal_Int32 copy = copies - 1; copy >= 0; --copy) {
            for (std::size_t c = 0; c < cells.size(); ++c) {
                if (plain[c])
                    continue;
                Cell target = copy == 0 ? cells[c] : Cell{cells[c].name, {}, cells[c].text};
                if (copy > 0) {
                    Call(mDocument.Use(), what, [&] {
                        target.text_.set(mTable->getCellByName(CellInRow(cells[c].name, mRow + copy)), UNO_QUERY);
                        if (!target.text_.is())
                            throw AppError(QStringLiteral("The table's row %1 has cells that a copy of it does not have.").arg(mRow + 1));
                        Reference<css::text::XTextCopy>(target.text_, UNO_QUERY_THROW)
                            ->copyText(Reference<css::text::XTextCopy>(cells[c].text_, UNO_QUERY_THROW));
                    });
                }
                for (const auto& [find, with] : items[static_cast<std::size_t>(copy)]) {
                    const Search search{find, with, false, false, Word::wdReplaceAll};
                    if (!target.text.contains(find, Qt::CaseInsensitive) || ReplacedInPlace(target, search))
                        continue;
                    PortionStory(mDocument, target.text_).Execute(search);
                    target.text = Call(mDocument.Use(), what, [&] { return FromUno(target.text_->getString()); });
                }
            }
        }
        mCells.reset();
    }

private:
    // A cell of the row, and its text as it was last read.
    struct Cell {
        rtl::OUString name;
        Reference<XText> text_;
        QString text;
    };

    // text with each of the replacements made in turn, matched ignoring case; no replacement
    // searches the text another put in.
    static QString Replaced(const QString& text, const Word::TagReplacements& replacements)
    {
        QString done;
        for (qsizetype at = 0; at < text.size();) {
            const auto match = std::find_if(replacements.begin(), replacements.end(), [&](const auto& each) {
                return !each.first.isEmpty() && QStringView(text).mid(at).startsWith(each.first, Qt::CaseInsensitive);
            });
            if (match == replacements.end()) {
                done += text[at++];
                continue;
            }
            done += match->second;
            at += match->first.size();
        }
        return done;
    }

    // The character style of each cell of plain text: one paragraph of text portions in one
    // character style (none: empty) without formatting or a link of their own, in a table
    // whose cells are not split (and whose table cursor takes a character style, for a cell in
    // one); nothing for any other cell. Read once for the row of the open document: a letter taken back leaves it
    // as it was.
    const std::vector<std::optional<rtl::OUString>>& PlainCells()
    {
        const QString table = Call(mDocument.Use(), QStringLiteral("The table could not be read"), [&] {
            return FromUno(Reference<css::container::XNamed>(mTable, UNO_QUERY_THROW)->getName());
        });
        std::vector<std::optional<rtl::OUString>>& plain = mDocument.cache->plainCells[{table, mRow}];
        if (!plain.empty())
            return plain;
        // Whether the table's cells are not split, and whether its table cursor takes a character style.
        const auto [simple, takesStyle] = Call(mDocument.Use(), QStringLiteral("The table could not be read"), [&] {
            const css::uno::Sequence<rtl::OUString> names = mTable->getCellNames();
            const bool unsplit = names.getLength() > 0
                && std::none_of(names.begin(), names.end(), [](const rtl::OUString& name) { return name.indexOf('.') >= 0; });
            return std::pair(unsplit, unsplit && Reference<css::beans::XPropertySet>(mTable->createCursorByCellName(names[0]), UNO_QUERY_THROW)
                                                     ->getPropertySetInfo()->hasPropertyByName("CharStyleName"));
        });
        for (const Cell& cell : Cells()) {
            std::optional<rtl::OUString> style;
            if (simple)
                style = Call(mDocument.Use(), QStringLiteral("The table's cells could not be read"), [&] { return CharacterStyleOfPlain(cell.text_); });
            plain.push_back(style && (style->isEmpty() || takesStyle) ? style : std::nullopt);
        }
        return plain;
    }

    // The character style of a cell of plain text (empty for none); nothing for another cell.
    // A text portion set in the row's copies by its text alone keeps only what its paragraph
    // gives it: each of its character properties must be its paragraph's, but for those of
    // a character style, which the copies are given; and it may be no link.
    static std::optional<rtl::OUString> CharacterStyleOfPlain(const Reference<XText>& cell)
    {
        const Reference<css::container::XEnumeration> parts =
            Reference<css::container::XEnumerationAccess>(cell, UNO_QUERY_THROW)->createEnumeration();
        if (!parts->hasMoreElements())
            return std::nullopt;
        const Reference<XTextRange> paragraph(parts->nextElement(), UNO_QUERY);
        if (!paragraph.is() || parts->hasMoreElements()
            || !Reference<css::lang::XServiceInfo>(paragraph, UNO_QUERY_THROW)->supportsService("com.sun.star.text.Paragraph"))
            return std::nullopt;
        const Reference<css::beans::XMultiPropertySet> paragraphProperties(paragraph, UNO_QUERY);
        std::optional<rtl::OUString> style;
        bool plain = paragraphProperties.is();
        ForEachPortion(paragraph, [&](const Reference<XTextRange>& portion) {
            const Reference<css::beans::XMultiPropertySet> properties(portion, UNO_QUERY);
            if (!plain || !properties.is() || PortionType(portion) != "Text") {
                plain = false;
                return;
            }
            rtl::OUString name;
            Reference<css::beans::XPropertySet>(portion, UNO_QUERY_THROW)->getPropertyValue("CharStyleName") >>= name;
            if (name == "Standard")
                name.clear();
            rtl::OUString link;
            Reference<css::beans::XPropertySet>(portion, UNO_QUERY_THROW)->getPropertyValue("HyperLinkURL") >>= link;
            // Of a character style, its own properties differ from the paragraph's: the copies get the style.
            std::vector<rtl::OUString> names;
            const Reference<css::beans::XPropertySetInfo> paragraphInfo = paragraphProperties->getPropertySetInfo();
            for (const css::beans::Property& property : properties->getPropertySetInfo()->getProperties()) {
                if (property.Name.startsWith("Char") && property.Name != "CharStyleName" && property.Name != "CharStyleNames"
                    && property.Name != "CharAutoStyleName" && property.Name != "CharInteropGrabBag"
                    && !(property.Attributes & css::beans::PropertyAttribute::READONLY) && paragraphInfo->hasPropertyByName(property.Name))
                    names.push_back(property.Name);
            }
            const css::uno::Sequence<rtl::OUString> asked(names.data(), static_cast<sal_Int32>(names.size()));
            try {
                const css::uno::Sequence<css::uno::Any> own = properties->getPropertyValues(asked);
                const css::uno::Sequence<css::uno::Any> given = paragraphProperties->getPropertyValues(asked);
                plain = link.isEmpty() && own.getLength() == given.getLength() && (!name.isEmpty() || own == given);
            } catch (const css::uno::RuntimeException&) {
                throw;
            } catch (const css::uno::Exception&) {
                plain = false;
            }
            plain = plain && (!style || *style == name);
            style = name;
        });
        return plain && style ? style : std::nullopt;
    }

    // Replaces every match in a cell where its text as read puts it, from the last back, each
    // after the cursor has shown that the characters there are the match: a cell's text
    // counts as the cursor does while it holds no field and no paragraph but its first.
    // False, with nothing replaced, when the cursor finds something else there.
    bool ReplacedInPlace(Cell& cell, const Search& search)
    {
        std::vector<qsizetype> matches;
        const Qt::CaseSensitivity sensitivity = search.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
        for (qsizetype at = cell.text.indexOf(search.findText, 0, sensitivity); at >= 0;
             at = cell.text.indexOf(search.findText, at + search.findText.size(), sensitivity))
            matches.push_back(at);
        if (matches.empty() || cell.text.contains(QLatin1Char('\n')) || cell.text.size() > SAL_MAX_INT16)
            return false;
        mDocument.cache->Changing();
        return Call(mDocument.Use(), QStringLiteral("The search in the table's row failed"), [&] {
            const rtl::OUString replacement = ToUno(search.replaceWith);
            const auto length = static_cast<sal_Int16>(search.findText.size());
            if (cell.text.compare(search.findText, sensitivity) == 0) {
                // A cell of nothing but the match, as an item's row has it: the replacement goes
                // in after its first character (and takes its formatting), then the rest goes,
                // then the first character, with one cursor. Each call to the office counts.
                const Reference<css::text::XTextCursor> cursor = cell.text_->createTextCursor();
                cursor->gotoStart(false);
                cursor->goRight(1, false);
                cell.text_->insertString(Reference<XTextRange>(cursor.get()), replacement, false);
                if (length > 1) {
                    cursor->goRight(static_cast<sal_Int16>(length - 1), true);
                    cursor->setString(rtl::OUString());
                }
                cursor->gotoStart(false);
                cursor->goRight(1, true);
                cursor->setString(rtl::OUString());
                cell.text = search.replaceWith;
                return true;
            }
            for (auto at = matches.rbegin(); at != matches.rend(); ++at) {
                const Reference<css::text::XTextCursor> cursor = cell.text_->createTextCursor();
                cursor->gotoStart(false);
                cursor->goRight(static_cast<sal_Int16>(*at), false);
                cursor->goRight(length, true);
                if (FromUno(cursor->getString()).compare(search.findText, sensitivity) != 0) {
                    if (at != matches.rbegin())
                        throw AppError(QStringLiteral("A cell's text was not where it was read to be."));
                    return false;
                }
                ReplaceKeepingFirstFormat(cell.text_, cursor->getStart(), length, replacement);
                cell.text.replace(*at, length, search.replaceWith);
            }
            return true;
        });
    }

    // The row's cells, listed and read once: a row object stands for its row while the
    // table's rows stay as they are.
    std::vector<Cell>& Cells()
    {
        if (!mCells)
            mCells = Call(mDocument.Use(), QStringLiteral("The cells of the table's row could not be listed"), [&] {
                std::vector<Cell> cells;
                for (const rtl::OUString& name : RowCellNames(mTable, mRow)) {
                    const Reference<XText> text(mTable->getCellByName(name), UNO_QUERY_THROW);
                    cells.push_back({name, text, FromUno(text->getString())});
                }
                return cells;
            });
        return *mCells;
    }

    OpenDocument mDocument;
    Reference<css::text::XTextTable> mTable;
    sal_Int32 mRow;
    std::optional<std::vector<Cell>> mCells;
};

class RowImpl : public Word::Row {
public:
    RowImpl(OpenDocument document, Reference<css::text::XTextTable> table, sal_Int32 row)
        : mDocument(document), mStory(std::make_shared<RowStory>(std::move(document), std::move(table), row))
    {
    }

    std::shared_ptr<Word::Range> Range() override
    {
        mDocument.Use();
        return std::make_shared<RangeImpl>(mDocument, mStory);
    }
    void Repeat(const std::vector<Word::TagReplacements>& items) override { mStory->Repeat(items); }

private:
    OpenDocument mDocument;
    std::shared_ptr<RowStory> mStory;
};

class TableImpl : public Word::Table {
public:
    TableImpl(OpenDocument document, Reference<css::text::XTextTable> table)
        : mDocument(std::move(document)), mTable(std::move(table))
    {
    }

    std::shared_ptr<Word::Collection<Word::Row>> Rows() override
    {
        const sal_Int32 count = Call(mDocument.Use(), QStringLiteral("The rows of the table could not be counted"),
                                     [&] { return mTable->getRows()->getCount(); });
        std::vector<std::shared_ptr<Word::Row>> rows;
        for (sal_Int32 row = 0; row < count; ++row)
            rows.push_back(std::make_shared<RowImpl>(mDocument, mTable, row));
        return std::make_shared<Word::ListCollection<Word::Row>>(std::move(rows));
    }

private:
    OpenDocument mDocument;
    Reference<css::text::XTextTable> mTable;
};

class TextFrameImpl : public Word::TextFrame {
public:
    TextFrameImpl(OpenDocument document, Reference<css::uno::XInterface> shape)
        : mDocument(std::move(document)), mShape(std::move(shape))
    {
    }

    bool HasText() override
    {
        return Call(mDocument.Use(), QStringLiteral("The text of the shape could not be read"), [&] {
            const Reference<XText> text(mShape, UNO_QUERY);
            return text.is() && !text->getString().isEmpty();
        });
    }

    std::shared_ptr<Word::Range> TextRange() override
    {
        const Reference<XText> text = Call(mDocument.Use(), QStringLiteral("The text of the shape could not be read"),
                                           [&] { return Reference<XText>(mShape, UNO_QUERY); });
        if (!text.is())
            throw AppError(QStringLiteral("This shape cannot hold text."));
        return std::make_shared<RangeImpl>(mDocument, std::make_shared<PortionStory>(mDocument, text));
    }

private:
    OpenDocument mDocument;
    Reference<css::uno::XInterface> mShape;
};

class ShapeImpl : public Word::Shape {
public:
    ShapeImpl(OpenDocument document, Reference<css::uno::XInterface> shape)
        : mDocument(std::move(document)), mShape(std::move(shape))
    {
    }

    std::shared_ptr<Word::TextFrame> TextFrame() override
    {
        mDocument.Use();
        return std::make_shared<TextFrameImpl>(mDocument, mShape);
    }

private:
    OpenDocument mDocument;
    Reference<css::uno::XInterface> mShape;
};

class DocumentImpl : public Word::Document {
public:
    explicit DocumentImpl(OpenDocument document) : mDocument(std::move(document)) {}

    // The main text, the footnotes and endnotes, every non-empty header and footer, and
    // the text frames, each as a range of its own.
    // The list is made once and kept while nothing can have changed it (see DocumentCache).
    std::shared_ptr<Word::Collection<Word::Range>> StoryRanges() override
    {
        Connection& office = mDocument.Use();
        std::optional<std::vector<StoryText>>& stories = mDocument.cache->stories;
        if (!stories || office.Lost())
            stories = Call(office, QStringLiteral("The parts of the document could not be listed"),
                           [&] { return ListStories(mDocument.component); });
        std::vector<std::shared_ptr<Word::Range>> ranges;
        for (const StoryText& story : *stories)
            ranges.push_back(std::make_shared<RangeImpl>(mDocument, std::make_shared<WriterStory>(mDocument, story)));
        return std::make_shared<Word::ListCollection<Word::Range>>(std::move(ranges));
    }

    // The drawing shapes; text frames, which the draw page lists as well, are stories.
    std::shared_ptr<Word::Collection<Word::Shape>> Shapes() override
    {
        const auto shapes = Call(mDocument.Use(), QStringLiteral("The shapes of the document could not be listed"), [&] {
            // A text document has one draw page; the interface for several does not apply.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
            const Reference<css::container::XIndexAccess> page(
                Reference<css::drawing::XDrawPageSupplier>(mDocument.component, UNO_QUERY_THROW)->getDrawPage(), UNO_QUERY_THROW);
#pragma GCC diagnostic pop
            std::vector<Reference<css::uno::XInterface>> drawn;
            for (sal_Int32 i = 0; i < page->getCount(); ++i) {
                const Reference<css::lang::XServiceInfo> shape(page->getByIndex(i), UNO_QUERY_THROW);
                if (!shape->supportsService("com.sun.star.text.TextFrame"))
                    drawn.emplace_back(shape, UNO_QUERY_THROW);
            }
            return drawn;
        });
        std::vector<std::shared_ptr<Word::Shape>> list;
        for (const Reference<css::uno::XInterface>& shape : shapes)
            list.push_back(std::make_shared<ShapeImpl>(mDocument, shape));
        return std::make_shared<Word::ListCollection<Word::Shape>>(std::move(list));
    }

    // The document at exactly that path, written by the office's own filter for the format
    // (a Word 97-2003 document when none is given), replacing any file there. The document
    // itself stays as it was opened, its file and format unchanged: saving it as another
    // format's file more than once could otherwise fail.
    void SaveAs(const QString& fileName, std::optional<int> fileFormat) override
    {
        const QString path = QFileInfo(fileName).absoluteFilePath();
        const QString what = QStringLiteral("The document could not be saved as \"%1\"").arg(QDir::toNativeSeparators(path));
        const SaveFilter filter = FilterOf(fileFormat.value_or(Word::wdFormatDocument97));
        CheckTarget(fileName, what);
        // The office writes the file in its private folder, with the temporary files it makes
        // while saving, which an office killed in the middle of saving would otherwise leave
        // beside the target; the whole file then takes the target's place.
        Connection& office = mDocument.Use();
        const QString saved = QDir(office.WorkFolder()).filePath(QStringLiteral("saved.") + QLatin1String(filter.extension));
        WritingInto(office.WorkFolder(), what, [&] { Call(office, what, [&] {
            css::beans::PropertyValue properties[2];
            properties[0].Name = "FilterName";
            properties[0].Value <<= rtl::OUString::createFromAscii(filter.name);
            properties[1].Name = "Overwrite";
            properties[1].Value <<= true;
            Reference<css::frame::XStorable>(mDocument.component, UNO_QUERY_THROW)
                ->storeToURL(FileUrl(saved), css::uno::Sequence<css::beans::PropertyValue>(properties, 2));
        }, Limit::Document); });
        MoveFileOver(saved, path);
    }

    // A PDF at exactly that path, replacing any file there.
    void ExportAsFixedFormat(const QString& outputFileName, const Word::FixedFormatOptions& options) override
    {
        const QString path = QFileInfo(outputFileName).absoluteFilePath();
        const QString what = QStringLiteral("The document could not be exported as \"%1\"").arg(QDir::toNativeSeparators(path));
        CheckTarget(outputFileName, what);
        MoveFileOver(mDocument.StorePdf(what, options), path);
    }

    // Changes not saved are dropped: there is nobody to ask.
    void Close(std::optional<int>) override
    {
        Connection& connection = mDocument.Use();
        auto& open = connection.openDocuments;
        open.erase(std::remove(open.begin(), open.end(), mDocument.component), open.end());
        const QString copy = Call(connection, QStringLiteral("The document could not be closed"), [&] {
            const rtl::OUString url = Reference<css::frame::XModel>(mDocument.component, UNO_QUERY_THROW)->getURL();
            Reference<css::util::XCloseable>(mDocument.component, UNO_QUERY_THROW)->close(true);
            return QUrl(FromUno(url)).toLocalFile();
        });
        // The copy of the file the office was given to open goes with the document.
        connection.RemoveCopy(copy);
    }

    QStringList LinkedPictures() override
    {
        QStringList links;
        Call(mDocument.Use(), QStringLiteral("The pictures of the document could not be listed"), [&] {
            ForEachLinkedPicture([&](const QString& link, const Reference<css::beans::XPropertySet>&) {
                if (!links.contains(link))
                    links << link;
            });
        });
        return links;
    }

    QStringList OtherLinks() override
    {
        QStringList links;
        const auto add = [&](const QString& what, const rtl::OUString& target) {
            const QString link = QStringLiteral("%1 \"%2\"").arg(what, FromOriginal(target));
            if (!target.isEmpty() && !links.contains(link))
                links << link;
        };
        Call(mDocument.Use(), QStringLiteral("The links of the document could not be listed"), [&] {
            const Reference<css::container::XNameAccess> sections(
                Reference<css::text::XTextSectionsSupplier>(mDocument.component, UNO_QUERY_THROW)->getTextSections(), UNO_QUERY_THROW);
            for (const rtl::OUString& name : sections->getElementNames()) {
                const Reference<css::beans::XPropertySet> section(sections->getByName(name), UNO_QUERY_THROW);
                css::text::SectionFileLink file;
                section->getPropertyValue("FileLink") >>= file;
                add(QStringLiteral("a section linked to"), file.FileURL);
                rtl::OUString server;
                section->getPropertyValue("DDECommandFile") >>= server;
                add(QStringLiteral("a section linked by DDE to"), server);
            }
            const Reference<css::container::XNameAccess> masters(
                Reference<css::text::XTextFieldsSupplier>(mDocument.component, UNO_QUERY_THROW)->getTextFieldMasters(), UNO_QUERY_THROW);
            for (const rtl::OUString& name : masters->getElementNames()) {
                if (!name.startsWithIgnoreAsciiCase("com.sun.star.text.fieldmaster.DDE."))
                    continue;
                rtl::OUString server;
                Reference<css::beans::XPropertySet>(masters->getByName(name), UNO_QUERY_THROW)->getPropertyValue("DDECommandFile") >>= server;
                add(QStringLiteral("a field linked by DDE to"), server.isEmpty() ? name : server);
            }
            const Reference<css::container::XIndexAccess> objects(
                Reference<css::text::XTextEmbeddedObjectsSupplier>(mDocument.component, UNO_QUERY_THROW)->getEmbeddedObjects(), UNO_QUERY_THROW);
            for (sal_Int32 i = 0; i < objects->getCount(); ++i) {
                const Reference<css::document::XEmbeddedObjectSupplier2> supplier(objects->getByIndex(i), UNO_QUERY);
                const Reference<css::embed::XLinkageSupport> linkage(
                    supplier.is() ? supplier->getExtendedControlOverEmbeddedObject() : nullptr, UNO_QUERY);
                if (linkage.is() && linkage->isLink())
                    add(QStringLiteral("an object linked to"), linkage->getLinkURL());
            }
            const Reference<css::drawing::XDrawPage> page =
                Reference<css::drawing::XDrawPageSupplier>(mDocument.component, UNO_QUERY_THROW)->getDrawPage();
            for (sal_Int32 i = 0; i < page->getCount(); ++i) {
                const Reference<css::lang::XServiceInfo> shape(page->getByIndex(i), UNO_QUERY);
                if (!shape.is() || !shape->supportsService("com.sun.star.drawing.GraphicObjectShape")
                    || shape->supportsService("com.sun.star.text.TextGraphicObject"))
                    continue;
                add(QStringLiteral("a drawing's picture linked to"), LinkedOrigin(Reference<css::beans::XPropertySet>(shape, UNO_QUERY_THROW)));
            }
        });
        return links;
    }

    std::vector<std::pair<QString, QString>> EmbeddedObjectTexts() override
    {
        std::vector<std::pair<QString, QString>> texts;
        Call(mDocument.Use(), QStringLiteral("The objects embedded in the document could not be read"), [&] {
            const Reference<css::container::XNameAccess> objects(
                Reference<css::text::XTextEmbeddedObjectsSupplier>(mDocument.component, UNO_QUERY_THROW)->getEmbeddedObjects(), UNO_QUERY_THROW);
            for (const rtl::OUString& name : objects->getElementNames()) {
                const Reference<css::document::XEmbeddedObjectSupplier> object(objects->getByName(name), UNO_QUERY);
                const Reference<css::text::XTextDocument> text(object.is() ? object->getEmbeddedObject() : nullptr, UNO_QUERY);
                if (text.is())
                    texts.emplace_back(FromUno(name), FromUno(text->getText()->getString()));
            }
        });
        return texts;
    }

    // The office reads the picture from the bytes it is sent and gives it to the picture
    // object, which then holds it rather than a link.
    void EmbedLinkedPicture(const QString& link, const QByteArray& picture) override
    {
        const QString what = QStringLiteral("The picture linked to \"%1\" could not be embedded").arg(link);
        mDocument.cache->Changing();
        Connection& office = mDocument.Use();
        Call(office, what, [&] {
            css::beans::PropertyValue source;
            source.Name = "InputStream";
            source.Value <<= css::io::SequenceInputStream::createStreamFromSequence(
                office.Context(), css::uno::Sequence<sal_Int8>(reinterpret_cast<const sal_Int8*>(picture.constData()),
                                                               static_cast<sal_Int32>(picture.size())));
            const Reference<css::graphic::XGraphic> graphic =
                css::graphic::GraphicProvider::create(office.Context())->queryGraphic(css::uno::Sequence<css::beans::PropertyValue>(&source, 1));
            if (!graphic.is())
                throw css::lang::IllegalArgumentException("the office reads no picture in the file", {}, 0);
            ForEachLinkedPicture([&](const QString& origin, const Reference<css::beans::XPropertySet>& object) {
                if (origin == link)
                    object->setPropertyValue("Graphic", css::uno::Any(graphic));
            });
        });
    }

    // The other stories' text is read before the record begins, as the first replace-all in
    // it would read it: the record's undo brings it back, so letter after letter made and
    // taken back from one document reads it once.
    void StartCustomRecord(const QString& name) override
    {
        Call(mDocument.Use(), QStringLiteral("The changes to come could not be made one"), [&] {
            OtherStoriesText(mDocument);
            mDocument.cache->storiesAtRecordStart = mDocument.cache->stories;
            mDocument.cache->otherStoriesTextAtRecordStart = mDocument.cache->otherStoriesText;
            UndoManager()->enterUndoContext(ToUno(name));
        });
    }

    void EndCustomRecord() override
    {
        Call(mDocument.Use(), QStringLiteral("The changes could not be made one"), [&] { UndoManager()->leaveUndoContext(); });
        mDocument.cache->recordIsLatest = true;
    }

    // Taking back a custom record brings back the stories listed as it began: the text
    // objects of the word processor stay the same, and what was emptied holds text again.
    bool Undo() override
    {
        DocumentCache& cache = *mDocument.cache;
        const bool record = cache.recordIsLatest;
        cache.Changing();
        cache.stories = record ? cache.storiesAtRecordStart : std::nullopt;
        if (record)
            cache.otherStoriesText = cache.otherStoriesTextAtRecordStart;
        cache.shapeTextObjects.clear();
        return Call(mDocument.Use(), QStringLiteral("The latest change could not be taken back"), [&] {
            const Reference<css::document::XUndoManager> manager = UndoManager();
            if (!manager->isUndoPossible())
                return false;
            manager->undo();
            return true;
        });
    }

    // Saving through the office leaves both as the template had them.
    void SetBuiltInDocumentProperty(int property, const QString& value) override
    {
        if (property != Word::wdPropertyAuthor && property != Word::wdPropertyLastAuthor)
            throw AppError(QStringLiteral("The office engine (LibreOffice) cannot set the document property %1.").arg(property));
        Call(mDocument.Use(), QStringLiteral("The document's properties could not be set"), [&] {
            const Reference<css::document::XDocumentProperties> properties =
                Reference<css::document::XDocumentPropertiesSupplier>(mDocument.component, UNO_QUERY_THROW)->getDocumentProperties();
            if (property == Word::wdPropertyAuthor)
                properties->setAuthor(ToUno(value));
            else
                properties->setModifiedBy(ToUno(value));
        });
    }

    // The office counts the whole document afresh when asked.
    int ComputeStatistics(int statistic) override
    {
        const char* property = statistic == Word::wdStatisticWords        ? "WordCount"
                               : statistic == Word::wdStatisticParagraphs ? "ParagraphCount"
                               : statistic == Word::wdStatisticCharactersWithSpaces ? "CharacterCount"
                                                                                   : nullptr;
        if (!property)
            throw AppError(QStringLiteral("The office engine (LibreOffice) cannot count the statistic %1.").arg(statistic));
        return Call(mDocument.Use(), QStringLiteral("The document's statistics could not be read"), [&] {
            sal_Int32 count = 0;
            Reference<css::beans::XPropertySet>(mDocument.component, UNO_QUERY_THROW)
                    ->getPropertyValue(rtl::OUString::createFromAscii(property)) >>= count;
            return static_cast<int>(count);
        });
    }

    std::shared_ptr<Word::Range> Range() override
    {
        const StoryText body = Call(mDocument.Use(), QStringLiteral("The text of the document could not be read"), [&] {
            return MakeStoryText(Reference<css::text::XTextDocument>(mDocument.component, UNO_QUERY_THROW)->getText(), false);
        });
        return std::make_shared<RangeImpl>(mDocument, std::make_shared<WriterStory>(mDocument, body));
    }

    std::shared_ptr<Word::Collection<Word::Paragraph>> Paragraphs() override { return Range()->Paragraphs(); }

    std::shared_ptr<Word::Collection<Word::Table>> Tables() override
    {
        const auto tables = Call(mDocument.Use(), QStringLiteral("The tables of the document could not be listed"), [&] {
            const Reference<css::container::XIndexAccess> all(
                Reference<css::text::XTextTablesSupplier>(mDocument.component, UNO_QUERY_THROW)->getTextTables(), UNO_QUERY_THROW);
            std::vector<Reference<css::text::XTextTable>> found;
            for (sal_Int32 i = 0; i < all->getCount(); ++i)
                found.emplace_back(all->getByIndex(i), UNO_QUERY_THROW);
            return found;
        });
        std::vector<std::shared_ptr<Word::Table>> list;
        for (const Reference<css::text::XTextTable>& table : tables)
            list.push_back(std::make_shared<TableImpl>(mDocument, table));
        return std::make_shared<Word::ListCollection<Word::Table>>(std::move(list));
    }

private:
    Reference<css::document::XUndoManager> UndoManager() const
    {
        return Reference<css::document::XUndoManagerSupplier>(mDocument.component, UNO_QUERY_THROW)->getUndoManager();
    }

    // Calls each with the URL of every picture object linked to a file, and the object.
    // Where link, as the office reports it, leads from the file the document was opened
    // from: the office opened a copy in its own folder, and resolved relative links from
    // there.
    QString FromOriginal(const rtl::OUString& link) const
    {
        Connection& office = mDocument.Use();
        const QString copy =
            QUrl(FromUno(Reference<css::frame::XModel>(mDocument.component, UNO_QUERY_THROW)->getURL())).toLocalFile();
        const QString original = office.OriginalOf(copy);
        return original.isEmpty() ? FromUno(link) : MovedFileUrl(FromUno(link), QFileInfo(copy).path(), QFileInfo(original).absolutePath());
    }

    // Where the picture of object (a picture or a drawing's shape) is linked to; empty when
    // it holds its picture.
    static rtl::OUString LinkedOrigin(const Reference<css::beans::XPropertySet>& object)
    {
        const Reference<css::beans::XPropertySet> picture(object->getPropertyValue("Graphic"), UNO_QUERY);
        bool linked = false;
        rtl::OUString origin;
        if (picture.is()) {
            picture->getPropertyValue("Linked") >>= linked;
            picture->getPropertyValue("OriginURL") >>= origin;
        }
        return linked ? origin : rtl::OUString();
    }

    void ForEachLinkedPicture(const std::function<void(const QString&, const Reference<css::beans::XPropertySet>&)>& each)
    {
        const Reference<css::container::XIndexAccess> objects(
            Reference<css::text::XTextGraphicObjectsSupplier>(mDocument.component, UNO_QUERY_THROW)->getGraphicObjects(), UNO_QUERY_THROW);
        for (sal_Int32 i = 0; i < objects->getCount(); ++i) {
            const Reference<css::beans::XPropertySet> object(objects->getByIndex(i), UNO_QUERY_THROW);
            if (const rtl::OUString origin = LinkedOrigin(object); !origin.isEmpty())
                each(FromOriginal(origin), object);
        }
    }

    // The office's export filter for a WdSaveFormat, and the extension of its files.
    struct SaveFilter {
        const char* name;
        const char* extension;
    };
    static SaveFilter FilterOf(int fileFormat)
    {
        switch (fileFormat) {
        case Word::wdFormatDocument97:
            return {"MS Word 97", "doc"};
        case Word::wdFormatXMLDocument:
            return {"MS Word 2007 XML", "docx"};
        case Word::wdFormatOpenDocumentText:
            return {"writer8", "odt"};
        default:
            throw AppError(QStringLiteral("The office engine (LibreOffice) cannot save in the file format %1.").arg(fileFormat));
        }
    }

    // The folder of a file to be written must exist: the office would make missing
    // folders, and writing below a file makes it loop for ever.
    static void CheckTarget(const QString& fileName, const QString& what)
    {
        const QFileInfo target(fileName);
        if (!QFileInfo(target.absolutePath()).isDir())
            throw AppError(what + QStringLiteral(": there is no such folder."));
        if (target.isDir())
            throw AppError(what + QStringLiteral(": a folder of that name is in the way."));
    }

    OpenDocument mDocument;
};

}

std::shared_ptr<Word::Document> MakeDocument(const std::shared_ptr<Connection>& connection,
                                             const Reference<css::lang::XComponent>& component)
{
    return std::make_shared<DocumentImpl>(OpenDocument{connection, component, std::make_shared<DocumentCache>()});
}

} // namespace LibreOffice
