#include "GenerationRun.h"

#include "AppError.h"
#include "Fields.h"
#include "GuardedProcedure.h"
#include "PageSnapshot.h"
#include "Paths.h"
#include "Platform.h"
#include "SafeFile.h"
#include "WindowUtilities.h"
#include "WordModel.h"

#include <QLocale>

namespace {
using RangePtr = std::shared_ptr<Word::Range>;
using ShapePtr = std::shared_ptr<Word::Shape>;

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

// Steps 116-148 for one field: every story range replaces the field's tag.
void ReplaceInStories(GuardedProcedure& run, GenerationHost& host, const std::shared_ptr<Word::Document>& document,
                      int field)
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
            run.Step(126, [&] { Use(find).SetText(TagOf(field)); });
            run.Step(128, [&] { Use(Use(find).Replacement()).SetText(host.ReadField(field)); });
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

// Steps 152-162: every shape with text replaces the tags of all fields in turn.
void ReplaceInShapes(GuardedProcedure& run, GenerationHost& host, const std::shared_ptr<Word::Document>& document)
{
    run.ForEach<ShapePtr>(
        152, 162, [&] { return Members(Use(document).Shapes()); },
        [&](const ShapePtr& shape) {
            if (!run.Condition(154, [&] { return Use(Use(shape).TextFrame()).HasText(); }))
                return;
            for (int i = 0; i < FieldCount; ++i) {
                run.Step(158, [&] {
                    Word::ExecuteArguments arguments;
                    arguments.FindText = TagOf(i);
                    arguments.ReplaceWith = host.ReadField(i);
                    arguments.Replace = Word::wdReplaceAll;
                    Use(Use(Use(Use(shape).TextFrame()).TextRange()).Find()).Execute(arguments);
                });
            }
        });
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

void RunGeneration(GenerationHost& host, const GenerationServices& services)
{
    GuardedProcedure run(QLatin1String(GenerationRunLocation), services.dialogs);
    const QString temp = TempFolder();
    QByteArray templateBytes;
    std::shared_ptr<Word::Application> word;
    std::shared_ptr<Word::Document> document;
    QString templatePath;
    QString workingPath;

    run.Step(100, [&] { host.SetMousePointer(PointerHourglass); });
    run.Step(102, [&] { templateBytes = host.TemplateBytes(); });
    run.Step(104, [&] { WriteBytesToFile(templateBytes, JoinPath(temp, QStringLiteral("template.dot"))); });
    run.Step(106, [&] { word = services.word.CreateApplication(); });
    run.Step(108, [&] { templatePath = JoinPath(temp, QStringLiteral("template.dot")); });
    run.Step(110, [&] { document = Use(Use(word).Documents()).Open(templatePath, true); });
    run.Step(112, [&] {
        host.WriteField(DateFieldIndex, QLocale::system().toString(services.clock.Today(), QLocale::ShortFormat));
    });
    for (int i = 0; i < FieldCount; ++i)
        ReplaceInStories(run, host, document, i);
    ReplaceInShapes(run, host, document);
    run.Step(164, [&] { host.SetMousePointer(PointerDefault); });

    // Steps 166-180: a name whose path is taken in any way is thrown away whole. The
    // name is claimed by creating the file, so nobody else can slip in before the save.
    bool taken = false;
    do {
        const QString name = DrawWorkingName(services.random);
        workingPath = JoinPath(temp, name + QStringLiteral(".doc"));
        taken = false;
        run.Step(180, [&] { taken = PathTaken(workingPath) || !CreateNewFile(workingPath); });
    } while (taken);

    run.Step(182, [&] { Use(document).SaveAs(workingPath); });
    run.Step(184, [&] { Use(word).SetDisplayAlerts(false); });
    run.Step(186, [&] { Use(document).Close(); });
    run.Step(188, [&] { Use(word).Quit(); });
    run.Step(190, [&] { document.reset(); });
    run.Step(192, [&] { word.reset(); });
    if (run.Condition(194, [&] { return FileExists(templatePath); }))
        run.Step(196, [&] { DeleteFile(templatePath); });
    run.Step(198, [&] { SaveDocAsJPG(workingPath, services.word, services.dialogs); });
    run.Step(200, [&] { host.SetMousePointer(PointerDefault); });
    run.Step(202, [&] {
        const QString snapshot = JoinPath(temp, QStringLiteral("temp.bmp"));
        QImage picture;
        if (!picture.load(snapshot, "BMP"))
            throw AppError(QStringLiteral("The picture of the letter (%1) could not be loaded.").arg(snapshot));
        host.SetPreviewPicture(picture);
    });
    run.Step(204, [&] { host.SetPreviewWordFile(workingPath); });
    run.Step(206, [&] { host.ShowPreview(); });
    run.Step(208, [&] { host.HideDataEntryWindow(); });
    run.Step(210, [&] { DeleteFile(JoinPath(temp, QStringLiteral("temp.bmp"))); });
}
