#include "LetterFill.h"

#include "Fields.h"
#include "GenerationSteps.h"
#include "LetterText.h"
#include "WordModel.h"
#include "core/AppError.h"
#include "core/GuardedProcedure.h"
#include "core/Platform.h"

#include <QDate>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>

namespace {
using RangePtr = std::shared_ptr<Word::Range>;
using ShapePtr = std::shared_ptr<Word::Shape>;
using DocumentPtr = std::shared_ptr<Word::Document>;

template <class Item>
Enumerator<std::shared_ptr<Item>> Members(std::shared_ptr<Word::Collection<Item>> collection)
{
    Use(collection);
    auto next = std::make_shared<int>(0);
    return [collection, next]() -> std::optional<std::shared_ptr<Item>> {
        if (*next >= collection->Count())
            return std::nullopt;
        return collection->Item((*next)++);
    };
}

QString TagOf(int index)
{
    return QString::fromLatin1(FieldTags[static_cast<size_t>(index)]);
}

// One replace-all of the passes: what is searched and what goes in its place.
struct Replacement {
    QString find;
    QString with;
};

// Stands in for the text of a field that holds the tag of a later field, until every
// later field has been replaced: otherwise the later field would replace the tag inside
// the typed text. No tag matches it, and neither the letter nor a field's text can hold
// it (ToLetterText replaces non-characters).
QString Shelter(int field)
{
    return QChar(0xFDD0) + QString::number(field) + QChar(0xFDD1);
}

bool HoldsLaterTag(const QString& text, int field, const QStringList& tags)
{
    for (qsizetype later = field + 1; later < tags.size(); ++later) {
        if (text.contains(tags[later], Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// What the run puts into the letter for each field, prepared once at step PlanField.
struct LetterPlan {
    // The first pass, in field order; a field whose text is too long has none.
    std::vector<Replacement> fill;
    // The second pass: sheltered texts put in place of their stand-ins.
    std::vector<Replacement> unshelter;
    // Tags of the fields that had characters replaced.
    QStringList replacedIn;
};

// Steps ListStories to NextStory for one replacement: every story range replaces find with with.
void ReplaceInStories(GuardedProcedure& run, const DocumentPtr& document, const Replacement& replacement)
{
    run.ForEach<RangePtr>(
        GenerationStep::ListStories, GenerationStep::NextStory, [&] { return Members(Use(document).StoryRanges()); },
        [&](const RangePtr& member) {
            RangePtr story;
            std::shared_ptr<Word::Find> find;
            run.Step(GenerationStep::TakeStory, [&] { story = member; });
            // The find is set up option by option, each a step of its own, so that a failure
            // names the option. A replace-all covers the whole story without formatting
            // criteria, so formatting, direction and wrap change nothing in the office; they
            // are set all the same, for a word processor whose find depends on them.
            run.Step(GenerationStep::ClearFindFormatting, [&] { Use(Use(story).Find()).ClearFormatting(); });
            run.Step(GenerationStep::ClearReplacementFormatting, [&] { Use(Use(Use(story).Find()).Replacement()).ClearFormatting(); });
            run.Step(GenerationStep::TakeFind, [&] { find = Use(story).Find(); });
            run.Step(GenerationStep::SetFindText, [&] { Use(find).SetText(replacement.find); });
            run.Step(GenerationStep::SetReplacementText, [&] { Use(Use(find).Replacement()).SetText(replacement.with); });
            run.Step(GenerationStep::SetForward, [&] { Use(find).SetForward(true); });
            run.Step(GenerationStep::SetWrap, [&] { Use(find).SetWrap(Word::wdFindContinue); });
            run.Step(GenerationStep::SetFormat, [&] { Use(find).SetFormat(false); });
            run.Step(GenerationStep::SetMatchCase, [&] { Use(find).SetMatchCase(false); });
            run.Step(GenerationStep::SetMatchWholeWord, [&] { Use(find).SetMatchWholeWord(false); });
            run.Step(GenerationStep::SetMatchWildcards, [&] { Use(find).SetMatchWildcards(false); });
            run.Step(GenerationStep::SetMatchSoundsLike, [&] { Use(find).SetMatchSoundsLike(false); });
            run.Step(GenerationStep::SetMatchAllWordForms, [&] { Use(find).SetMatchAllWordForms(false); });
            run.Step(GenerationStep::ReplaceAllInStory, [&] {
                Word::ExecuteArguments arguments;
                arguments.Replace = Word::wdReplaceAll;
                Use(Use(story).Find()).Execute(arguments);
            });
        });
}

// Steps ListShapes to NextShape: every shape with text makes the replacements in turn.
void ReplaceInShapes(GuardedProcedure& run, const DocumentPtr& document, const std::vector<Replacement>& replacements)
{
    run.ForEach<ShapePtr>(
        GenerationStep::ListShapes, GenerationStep::NextShape, [&] { return Members(Use(document).Shapes()); },
        [&](const ShapePtr& shape) {
            if (!run.Condition(GenerationStep::ShapeHoldsText, [&] { return Use(Use(shape).TextFrame()).HasText(); }))
                return;
            for (const Replacement& replacement : replacements) {
                run.Step(GenerationStep::ReplaceAllInShape, [&] {
                    Word::ExecuteArguments arguments;
                    arguments.FindText = replacement.find;
                    arguments.ReplaceWith = replacement.with;
                    arguments.Replace = Word::wdReplaceAll;
                    Use(Use(Use(Use(shape).TextFrame()).TextRange()).Find()).Execute(arguments);
                });
            }
        });
}

// Steps ListStories to NextShape for one set of replacements: the stories, one replacement
// after the other, then the shapes.
void ReplaceAll(GuardedProcedure& run, const DocumentPtr& document, const std::vector<Replacement>& replacements)
{
    for (const Replacement& replacement : replacements)
        ReplaceInStories(run, document, replacement);
    ReplaceInShapes(run, document, replacements);
}

// The replacements that take an empty tag out with its separator: a ", " after it, else one
// before it ("City, [ST] ZIP"), else a space before it, else one after it.
std::vector<Replacement> WithoutSeparators(const QString& tag)
{
    return {{tag + QStringLiteral(", "), QString()}, {QStringLiteral(", ") + tag, QString()},
            {QLatin1Char(' ') + tag, QString()}, {tag + QLatin1Char(' '), QString()}};
}

// Step PlanField: the text of each tag as the letter takes it, tags[i] taking text(i).
LetterPlan PlanLetter(GuardedProcedure& run, const QStringList& tags, const std::function<QString(int field)>& text,
                      EmptySeparators separators)
{
    LetterPlan plan;
    for (int i = 0; i < tags.size(); ++i) {
        run.Step(GenerationStep::PlanField, [&] {
            const QString typed = text(i);
            if (typed.size() > LetterFieldLimit)
                throw AppError(QStringLiteral("The text of the field for %1 is %2 characters long; the letter takes at "
                                              "most %3 characters a field. The field is left out of the letter and its "
                                              "placeholder stays; the text in the window is unchanged.")
                                   .arg(tags[i])
                                   .arg(typed.size())
                                   .arg(LetterFieldLimit));
            const LetterText letter = ToLetterText(typed);
            if (letter.replaced)
                plan.replacedIn << tags[i];
            if (separators == EmptySeparators::Removed && letter.text.trimmed().isEmpty()) {
                const std::vector<Replacement> around = WithoutSeparators(tags[i]);
                plan.fill.insert(plan.fill.end(), around.begin(), around.end());
            }
            if (HoldsLaterTag(letter.text, i, tags)) {
                plan.fill.push_back({tags[i], Shelter(i)});
                plan.unshelter.push_back({Shelter(i), letter.text});
            } else {
                plan.fill.push_back({tags[i], letter.text});
            }
        });
    }
    return plan;
}

QStringList Fill(GuardedProcedure& run, const DocumentPtr& document, const QStringList& tags,
                 const std::function<QString(int field)>& text, EmptySeparators separators)
{
    const LetterPlan plan = PlanLetter(run, tags, text, separators);
    ReplaceAll(run, document, plan.fill);
    if (!plan.unshelter.empty())
        ReplaceAll(run, document, plan.unshelter);
    return plan.replacedIn;
}
}

QString LetterDate(const Clock& clock)
{
    return LetterDate(clock.Today());
}

QString LetterDate(const QDate& date, const QString& format, const QLocale& locale)
{
    return format.isEmpty() ? locale.toString(date, QLocale::ShortFormat) : locale.toString(date, format);
}

QStringList FillFields(GuardedProcedure& run, const DocumentPtr& document, const std::function<QString(int field)>& text,
                       EmptySeparators separators)
{
    QStringList tags;
    for (int field = 0; field < FieldCount; ++field)
        tags << TagOf(field);
    return Fill(run, document, tags, text, separators);
}

std::vector<TagText> TagsOfFields(const std::function<QString(int field)>& text)
{
    std::vector<TagText> tags;
    for (int field = 0; field < FieldCount; ++field)
        tags.push_back({TagOf(field), text(field)});
    return tags;
}

QStringList FillTags(GuardedProcedure& run, const DocumentPtr& document, const std::vector<TagText>& tags,
                     EmptySeparators separators)
{
    QStringList names;
    for (const TagText& tag : tags)
        names << tag.tag;
    return Fill(run, document, names, [&tags](int i) { return tags[static_cast<std::size_t>(i)].text; }, separators);
}

std::vector<DocumentText> DocumentTexts(Word::Document& document)
{
    std::vector<DocumentText> texts;
    const auto stories = document.StoryRanges();
    for (int i = 0; i < Use(stories).Count(); ++i)
        texts.push_back({stories->Item(i), false, i + 1});
    const auto shapes = document.Shapes();
    for (int i = 0; i < Use(shapes).Count(); ++i) {
        std::shared_ptr<Word::TextFrame> frame;
        try {
            frame = Use(shapes->Item(i)).TextFrame();
        } catch (const AppError&) {
            continue; // a picture or a line: no text
        }
        if (Use(frame).HasText())
            texts.push_back({frame->TextRange(), true, i + 1});
    }
    return texts;
}

QString PlaceOf(const DocumentText& text, const QString& of)
{
    if (text.shape)
        return QStringLiteral("shape %1 of the %2").arg(text.number).arg(of);
    return text.number == 1 ? QStringLiteral("the main text of the %1").arg(of) : QStringLiteral("part %1 of the %2").arg(text.number).arg(of);
}

bool ParagraphLeftOut(const QString& paragraph, const std::vector<TagText>& tags)
{
    QString rest = paragraph;
    bool holdsTag = false;
    for (const TagText& tag : tags) {
        if (!rest.contains(tag.tag, Qt::CaseInsensitive))
            continue;
        if (!tag.text.trimmed().isEmpty())
            return false;
        holdsTag = true;
        rest.remove(tag.tag, Qt::CaseInsensitive);
    }
    return holdsTag && std::all_of(rest.begin(), rest.end(), [](QChar c) { return c.isSpace() || c.isPunct(); });
}

bool EmptyParagraphRemover::Remove(const DocumentPtr& document, const std::vector<TagText>& tags)
{
    const auto leftOut = [&tags](const QString& paragraph) { return ParagraphLeftOut(paragraph, tags); };
    if (mTemplate && std::none_of(mTemplate->begin(), mTemplate->end(), leftOut))
        return false;
    bool removed = false;
    QStringList read;
    const auto paragraphs = Use(document).Paragraphs();
    // The last first, so that removing one leaves the place of those before it as it was.
    for (int i = Use(paragraphs).Count() - 1; i >= 0; --i) {
        const auto paragraph = paragraphs->Item(i);
        const auto range = Use(paragraph).Range();
        read << Use(range).Text();
        if (leftOut(read.back())) {
            range->Delete();
            removed = true;
        }
    }
    mTemplate = read;
    return removed;
}

QString FieldDate(const QString& code, const QDate& date, const QLocale& locale)
{
    static const QRegularExpression picture(QStringLiteral(R"re(\\@\s*(?:"([^"]*)"|(\S+)))re"));
    const QRegularExpressionMatch match = picture.match(code);
    // Word's date pictures and Qt's date formats share their letters and their quoting.
    return LetterDate(date, match.hasCaptured(1) ? match.captured(1) : match.captured(2), locale);
}

void TemplateFieldUnlinker::UnlinkLetterFields(const DocumentPtr& document, bool asInTemplate, const QString& recipient,
                                               const QDate& date, const QString& dateFormat, const QLocale& locale)
{
    static const QRegularExpression recipientButton(QStringLiteral(R"(^\s*MACROBUTTON\s+\S+\s+\[Recipient Name\]\s*$)"),
                                                    QRegularExpression::CaseInsensitiveOption);
    const QString name = ToLetterText(recipient).text;
    Unlink(document, asInTemplate, [&](int type, const QString& code) -> std::optional<QString> {
        if (type == Word::wdFieldCreateDate)
            return dateFormat.isEmpty() ? FieldDate(code, date, locale) : LetterDate(date, dateFormat, locale);
        if (type == Word::wdFieldMacroButton && recipientButton.match(code).hasMatch())
            return name;
        return std::nullopt;
    });
}

void TemplateFieldUnlinker::UnlinkTagButtons(const DocumentPtr& document, bool asInTemplate, const std::vector<TagText>& tags)
{
    static const QRegularExpression button(QStringLiteral(R"(^\s*MACROBUTTON\s+\S+\s+(\[[^\[\]]+\])\s*$)"),
                                           QRegularExpression::CaseInsensitiveOption);
    Unlink(document, asInTemplate, [&](int type, const QString& code) -> std::optional<QString> {
        const QRegularExpressionMatch shown = type == Word::wdFieldMacroButton ? button.match(code) : QRegularExpressionMatch();
        const auto tag = std::find_if(tags.begin(), tags.end(), [&](const TagText& each) {
            return shown.hasMatch() && each.tag.compare(shown.captured(1), Qt::CaseInsensitive) == 0;
        });
        if (tag == tags.end())
            return std::nullopt;
        return ToLetterText(tag->text).text;
    });
}

void TemplateFieldUnlinker::Unlink(const DocumentPtr& document, bool asInTemplate, const TextOf& textOf)
{
    const auto stories = Use(document).StoryRanges();
    const int storyCount = Use(stories).Count();
    if (asInTemplate && mTemplate && mTemplate->stories == storyCount) {
        // Every story that held such fields in the template, listed before any gives way.
        std::vector<std::shared_ptr<Word::Collection<Word::Field>>> listed;
        bool same = true;
        for (const StoryFields& story : mTemplate->holding) {
            listed.push_back(Use(stories->Item(story.story)).Fields());
            same = same && Use(listed.back()).Count() == story.count;
        }
        if (same) {
            for (std::size_t i = 0; i < listed.size(); ++i) {
                for (const KnownField& field : mTemplate->holding[i].fields) {
                    if (const std::optional<QString> text = textOf(field.type, field.code))
                        Use(listed[i]->Item(field.index)).UnlinkAs(*text);
                }
            }
            return;
        }
    }
    Known read;
    read.stories = storyCount;
    for (int i = 0; i < storyCount; ++i) {
        const auto fields = Use(stories->Item(i)).Fields();
        StoryFields story{i, Use(fields).Count(), {}};
        for (int j = 0; j < story.count; ++j) {
            Word::Field& field = Use(fields->Item(j));
            const int type = field.Type();
            if (type != Word::wdFieldCreateDate && type != Word::wdFieldMacroButton)
                continue;
            story.fields.push_back({j, type, field.Code()});
            if (const std::optional<QString> text = textOf(type, story.fields.back().code))
                field.UnlinkAs(*text);
        }
        if (!story.fields.empty())
            read.holding.push_back(std::move(story));
    }
    if (asInTemplate)
        mTemplate = std::move(read);
}
