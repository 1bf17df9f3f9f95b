#include "GenerationRun.h"

#include "AppError.h"
#include "Dialogs.h"
#include "ErrorReport.h"
#include "Fields.h"
#include "GuardedProcedure.h"
#include "LetterText.h"
#include "PageSnapshot.h"
#include "Paths.h"
#include "Platform.h"
#include "RunLock.h"
#include "SafeFile.h"
#include "WindowUtilities.h"
#include "WordModel.h"

#include <QDir>
#include <QFile>
#include <QLocale>

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

bool HoldsLaterTag(const QString& text, int field)
{
    for (int later = field + 1; later < FieldCount; ++later) {
        if (text.contains(TagOf(later), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// What the run puts into the letter for each field, prepared once at step 114.
struct LetterPlan {
    // The first pass, in field order; a field whose text is too long has none.
    std::vector<Replacement> fill;
    // The second pass: sheltered texts put in place of their stand-ins.
    std::vector<Replacement> unshelter;
    // Tags of the fields that had characters replaced.
    QStringList replacedIn;
};

// Steps 116-148 for one replacement: every story range replaces find with with.
void ReplaceInStories(GuardedProcedure& run, const DocumentPtr& document, const Replacement& replacement)
{
    run.ForEach<RangePtr>(
        116, 148, [&] { return Members(Use(document).StoryRanges()); },
        [&](const RangePtr& member) {
            RangePtr story;
            std::shared_ptr<Word::Find> find;
            run.Step(118, [&] { story = member; });
            run.Step(120, [&] { Use(Use(story).Find()).ClearFormatting(); });
            run.Step(122, [&] { Use(Use(Use(story).Find()).Replacement()).ClearFormatting(); });
            run.Step(124, [&] { find = Use(story).Find(); });
            run.Step(126, [&] { Use(find).SetText(replacement.find); });
            run.Step(128, [&] { Use(Use(find).Replacement()).SetText(replacement.with); });
            run.Step(130, [&] { Use(find).SetForward(true); });
            run.Step(132, [&] { Use(find).SetWrap(Word::wdFindContinue); });
            run.Step(134, [&] { Use(find).SetFormat(false); });
            run.Step(136, [&] { Use(find).SetMatchCase(false); });
            run.Step(138, [&] { Use(find).SetMatchWholeWord(false); });
            run.Step(140, [&] { Use(find).SetMatchWildcards(false); });
            run.Step(142, [&] { Use(find).SetMatchSoundsLike(false); });
            run.Step(144, [&] { Use(find).SetMatchAllWordForms(false); });
            run.Step(146, [&] {
                Word::ExecuteArguments arguments;
                arguments.Replace = Word::wdReplaceAll;
                Use(Use(story).Find()).Execute(arguments);
            });
        });
}

// Steps 152-162: every shape with text makes the replacements in turn.
void ReplaceInShapes(GuardedProcedure& run, const DocumentPtr& document, const std::vector<Replacement>& replacements)
{
    run.ForEach<ShapePtr>(
        152, 162, [&] { return Members(Use(document).Shapes()); },
        [&](const ShapePtr& shape) {
            if (!run.Condition(154, [&] { return Use(Use(shape).TextFrame()).HasText(); }))
                return;
            for (const Replacement& replacement : replacements) {
                run.Step(158, [&] {
                    Word::ExecuteArguments arguments;
                    arguments.FindText = replacement.find;
                    arguments.ReplaceWith = replacement.with;
                    arguments.Replace = Word::wdReplaceAll;
                    Use(Use(Use(Use(shape).TextFrame()).TextRange()).Find()).Execute(arguments);
                });
            }
        });
}

// Steps 116-162 for one set of replacements: the stories, one replacement after the other,
// then the shapes.
void ReplaceAll(GuardedProcedure& run, const DocumentPtr& document, const std::vector<Replacement>& replacements)
{
    for (const Replacement& replacement : replacements)
        ReplaceInStories(run, document, replacement);
    ReplaceInShapes(run, document, replacements);
}

// Step 114: the text of each field as the letter takes it.
LetterPlan PlanLetter(GuardedProcedure& run, GenerationHost& host)
{
    LetterPlan plan;
    for (int i = 0; i < FieldCount; ++i) {
        run.Step(114, [&] {
            const QString typed = host.ReadField(i);
            if (typed.size() > LetterFieldLimit)
                throw AppError(QStringLiteral("The text of the field for %1 is %2 characters long; the letter takes at "
                                              "most %3 characters a field. The field is left out of the letter and its "
                                              "placeholder stays; the text in the window is unchanged.")
                                   .arg(TagOf(i))
                                   .arg(typed.size())
                                   .arg(LetterFieldLimit));
            const LetterText letter = ToLetterText(typed);
            if (letter.replaced)
                plan.replacedIn << TagOf(i);
            if (HoldsLaterTag(letter.text, i)) {
                plan.fill.push_back({TagOf(i), Shelter(i)});
                plan.unshelter.push_back({Shelter(i), letter.text});
            } else {
                plan.fill.push_back({TagOf(i), letter.text});
            }
        });
    }
    return plan;
}
}

QString DrawWorkingName(RandomSource& random)
{
    QString name = QStringLiteral("varnel");
    for (int j = 1; j <= 8; ++j) {
        const int digit = qBound(1, static_cast<int>(random.Next() * 9) + 1, 9);
        name += QString::number(digit);
    }
    return name;
}

namespace {
// The word processor with the template copy open in it, from step 106 until step 192.
struct OpenTemplate {
    std::shared_ptr<Word::Application> word;
    DocumentPtr document;
    QString path;
    // Only a copy this run wrote is opened and deleted.
    bool written = false;
};

// The working document's path; claimed when this run created the file that holds the name.
struct WorkingFile {
    QString path;
    bool claimed = false;
};

// Steps 102-110: the template's bytes go to TEMP and the copy opens in a fresh word processor.
OpenTemplate OpenTemplateCopy(GuardedProcedure& run, GenerationHost& host, const GenerationServices& services,
                              const QString& temp)
{
    OpenTemplate open;
    QByteArray templateBytes;
    run.Step(102, [&] { templateBytes = host.TemplateBytes(); });
    // Only a copy this run wrote is opened and deleted: what else stands at that path in a
    // shared TEMP (another user's file, a link) is neither made into the letter nor removed.
    open.written =
        run.Step(104, [&] { WriteBytesToFile(templateBytes, JoinPath(temp, QLatin1String(TemplateCopyName))); });
    run.Step(106, [&] { open.word = services.word.CreateApplication(); });
    run.Step(108, [&] { open.path = JoinPath(temp, QLatin1String(TemplateCopyName)); });
    run.Step(110, [&] {
        if (!open.written)
            throw AppError(QStringLiteral("The letter template could not be written to \"%1\", so there is no "
                                          "template to fill.")
                               .arg(QDir::toNativeSeparators(open.path)));
        open.document = Use(Use(open.word).Documents()).Open(open.path, true);
    });
    return open;
}

// Steps 112-164: today's date goes into its field and every tag takes its field's text.
// Returns the tags of the fields that had characters replaced.
QStringList FillLetter(GuardedProcedure& run, GenerationHost& host, const GenerationServices& services,
                       const DocumentPtr& document)
{
    run.Step(112, [&] {
        host.WriteField(DateFieldIndex, QLocale::system().toString(services.clock.Today(), QLocale::ShortFormat));
    });
    const LetterPlan plan = PlanLetter(run, host);
    ReplaceAll(run, document, plan.fill);
    if (!plan.unshelter.empty())
        ReplaceAll(run, document, plan.unshelter);
    run.Step(164, [&] { host.SetMousePointer(PointerShape::Default); });
    return plan.replacedIn;
}

// Steps 166-180: a name whose path is taken in any way is thrown away whole. The name is
// claimed by creating the file, so nobody else can slip in before the save.
WorkingFile ClaimWorkingName(GuardedProcedure& run, RandomSource& random, const QString& temp)
{
    WorkingFile working;
    bool taken = false;
    do {
        working.path = JoinPath(temp, DrawWorkingName(random) + QStringLiteral(".doc"));
        taken = false;
        run.Step(180, [&] {
            taken = PathTaken(working.path) || !CreateNewFile(working.path);
            working.claimed = !taken;
        });
    } while (taken);
    return working;
}

// Steps 182-196: the letter is saved under the working name, the word processor ends and
// the template copy goes.
void SaveAndClose(GuardedProcedure& run, OpenTemplate& open, const WorkingFile& working)
{
    if (!run.Step(182, [&] { Use(open.document).SaveAs(working.path); }) && working.claimed) {
        // What is there now is the empty file that claimed the name, or what a failed save
        // left of the letter: neither may be taken for it.
        QFile::remove(working.path);
    }
    run.Step(184, [&] { Use(open.word).SetDisplayAlerts(false); });
    run.Step(186, [&] { Use(open.document).Close(); });
    run.Step(188, [&] { Use(open.word).Quit(); });
    run.Step(190, [&] { open.document.reset(); });
    run.Step(192, [&] { open.word.reset(); });
    if (run.Condition(194, [&] { return open.written && FileExists(open.path); }))
        run.Step(196, [&] { DeleteFile(open.path); });
}

// Steps 198-210: the saved letter is rendered, and picture and path go to the preview,
// which shows in place of the data-entry window.
void HandOver(GuardedProcedure& run, GenerationHost& host, const GenerationServices& services, const QString& temp,
              const QString& workingPath)
{
    const QString snapshot = JoinPath(temp, QLatin1String(SnapshotFileName));
    QByteArray pages;
    run.Step(198, [&] { pages = SaveDocAsJPG(workingPath, services.word, services.dialogs); });
    run.Step(200, [&] { host.SetMousePointer(PointerShape::Default); });
    run.Step(202, [&] {
        QImage picture;
        if (!picture.load(snapshot, "BMP")) {
            // The preview must not go on showing the letter of an earlier run.
            host.SetPreviewPicture(QImage(), QByteArray());
            throw AppError(QStringLiteral("The picture of the letter (%1) could not be loaded.").arg(snapshot));
        }
        host.SetPreviewPicture(picture, pages);
    });
    run.Step(204, [&] { host.SetPreviewWordFile(workingPath); });
    run.Step(206, [&] { host.ShowPreview(); });
    run.Step(208, [&] { host.HideDataEntryWindow(); });
    run.Step(210, [&] { DeleteFile(snapshot); });
}

// Steps 102-210, the part of the run that works with the shared working files. Returns
// the tags of the fields that had characters replaced.
QStringList FillAndHandOver(GuardedProcedure& run, GenerationHost& host, const GenerationServices& services)
{
    const QString temp = TempFolder();
    OpenTemplate open = OpenTemplateCopy(run, host, services, temp);
    const QStringList replacedIn = FillLetter(run, host, services, open.document);
    const WorkingFile working = ClaimWorkingName(run, services.random, temp);
    SaveAndClose(run, open, working);
    HandOver(run, host, services, temp, working.path);
    return replacedIn;
}
}

void RunGeneration(GenerationHost& host, const GenerationServices& services)
{
    GuardedProcedure run(QLatin1String(GenerationRunLocation), services.dialogs);
    QStringList replacedIn;
    run.Step(100, [&] { host.SetMousePointer(PointerShape::Hourglass); });
    {
        const RunLock lock(services.runLockWait);
        replacedIn = FillAndHandOver(run, host, services);
    }
    // Told once the run has ended, so that no other instance waits for this answer.
    if (!replacedIn.isEmpty())
        services.dialogs.ShowMessage(
            QStringLiteral("The text typed for %1 holds characters that a Word document cannot hold (control "
                           "characters such as NUL, or halves of broken characters). The letter shows \"%2\" in their "
                           "place; the text in the window is unchanged.")
                .arg(replacedIn.join(QStringLiteral(", ")), QChar(QChar::ReplacementCharacter)),
            QLatin1String(ApplicationTitle));
}
