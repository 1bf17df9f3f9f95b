#include "GenerationRun.h"

#include "Fields.h"
#include "GenerationSteps.h"
#include "LetterFill.h"
#include "PageSnapshot.h"
#include "RunLock.h"
#include "WordModel.h"
#include "WorkingFiles.h"
#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/GuardedProcedure.h"
#include "core/Platform.h"
#include "files/Paths.h"
#include "files/SafeFile.h"

#include <QDir>
#include <QFile>

QString DrawWorkingName(RandomSource& random)
{
    QString name = QLatin1String(WorkingLetterPrefix);
    for (int j = 1; j <= 8; ++j) {
        const int digit = qBound(1, static_cast<int>(random.Next() * 9) + 1, 9);
        name += QString::number(digit);
    }
    return name;
}

namespace {
using DocumentPtr = std::shared_ptr<Word::Document>;

// The word processor with the template copy open in it, from step StartWordProcessor until step
// ReleaseWordProcessor.
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

// Steps ReadTemplate to OpenTemplateCopy: the template's bytes go to the working folder and the
// copy opens in a fresh word processor.
OpenTemplate OpenTemplateCopy(GuardedProcedure& run, GenerationHost& host, const GenerationServices& services,
                              const QString& temp)
{
    OpenTemplate open;
    QByteArray templateBytes;
    run.Step(GenerationStep::ReadTemplate, [&] { templateBytes = host.TemplateBytes(); });
    // Only a copy this run wrote is opened and deleted: what else stands at that path
    // (another user's file, a link, a FIFO) is neither made into the letter nor removed.
    open.written =
        run.Step(GenerationStep::WriteTemplateCopy, [&] { WriteBytesToFile(templateBytes, JoinPath(temp, QLatin1String(TemplateCopyName))); });
    run.Step(GenerationStep::StartWordProcessor, [&] { open.word = services.word.CreateApplication(); });
    run.Step(GenerationStep::NameTemplateCopy, [&] { open.path = JoinPath(temp, QLatin1String(TemplateCopyName)); });
    run.Step(GenerationStep::OpenTemplateCopy, [&] {
        if (!open.written)
            throw AppError(QStringLiteral("The letter template could not be written to \"%1\", so there is no "
                                          "template to fill.")
                               .arg(QDir::toNativeSeparators(open.path)));
        open.document = Use(Use(open.word).Documents()).Open(open.path, true);
    });
    return open;
}

// Steps WriteDate to ShowDefaultPointer: today's date goes into its field and every tag takes
// its field's text. Returns the tags of the fields that had characters replaced.
QStringList FillLetter(GuardedProcedure& run, GenerationHost& host, const GenerationServices& services,
                       const DocumentPtr& document)
{
    run.Step(GenerationStep::WriteDate, [&] {
        host.WriteField(DateFieldIndex, LetterDate(services.clock));
    });
    const QStringList replacedIn = FillFields(run, document, [&host](int field) { return host.ReadField(field); });
    run.Step(GenerationStep::ShowDefaultPointer, [&] { host.SetMousePointer(PointerShape::Default); });
    return replacedIn;
}

// Step ClaimWorkingName: a name whose path is taken in any way is thrown away whole. The name is
// claimed by creating the file, so nobody else can slip in before the save.
WorkingFile ClaimWorkingName(GuardedProcedure& run, RandomSource& random, const QString& temp)
{
    WorkingFile working;
    bool taken = false;
    do {
        working.path = JoinPath(temp, DrawWorkingName(random) + QStringLiteral(".doc"));
        taken = false;
        run.Step(GenerationStep::ClaimWorkingName, [&] {
            taken = PathTaken(working.path) || !CreateNewFile(working.path);
            working.claimed = !taken;
        });
    } while (taken);
    return working;
}

// Steps SaveLetter to DeleteTemplateCopy: the letter is saved under the working name, the word
// processor ends and the template copy goes.
void SaveAndClose(GuardedProcedure& run, OpenTemplate& open, const WorkingFile& working)
{
    if (!run.Step(GenerationStep::SaveLetter, [&] {
            // The letter is the user's, as a word processor saving it would say.
            Use(open.document).SetBuiltInDocumentProperty(Word::wdPropertyAuthor, AccountName());
            open.document->SetBuiltInDocumentProperty(Word::wdPropertyLastAuthor, AccountName());
            open.document->SaveAs(working.path);
        }) && working.claimed) {
        // What is there now is the empty file that claimed the name, or what a failed save
        // left of the letter: neither may be taken for it.
        QFile::remove(working.path);
    }
    run.Step(GenerationStep::SilenceAlerts, [&] { Use(open.word).SetDisplayAlerts(false); });
    run.Step(GenerationStep::CloseLetter, [&] { Use(open.document).Close(); });
    run.Step(GenerationStep::QuitWordProcessor, [&] { Use(open.word).Quit(); });
    run.Step(GenerationStep::ReleaseLetter, [&] { open.document.reset(); });
    run.Step(GenerationStep::ReleaseWordProcessor, [&] { open.word.reset(); });
    if (run.Condition(GenerationStep::TemplateCopyStands, [&] { return open.written && FileExists(open.path); }))
        run.Step(GenerationStep::DeleteTemplateCopy, [&] { DeleteFile(open.path); });
}

// Steps TakeSnapshot to DeleteSnapshot: the saved letter is rendered, and picture and path go
// to the preview, which shows in place of the data-entry window.
void HandOver(GuardedProcedure& run, GenerationHost& host, const GenerationServices& services, const QString& temp,
              const QString& workingPath)
{
    const QString snapshot = JoinPath(temp, QLatin1String(SnapshotFileName));
    Snapshot shot;
    run.Step(GenerationStep::TakeSnapshot, [&] { shot = TakePageSnapshot(workingPath, services.word, services.dialogs, services.ending); });
    run.Step(GenerationStep::ShowDefaultPointerAgain, [&] { host.SetMousePointer(PointerShape::Default); });
    run.Step(GenerationStep::ShowPicture, [&] {
        // Only the picture written a moment ago is shown, never one that stood there before
        // or replaced it.
        QImage picture;
        QString reason;
        try {
            picture.loadFromData(ReadWrittenFile(snapshot, shot.picture), "BMP");
        } catch (const AppError& error) {
            reason = QLatin1Char(' ') + error.Description();
        }
        if (picture.isNull()) {
            // The preview must not go on showing the letter of an earlier run.
            host.SetPreviewPicture(QImage(), QByteArray());
            throw AppError(QStringLiteral("The picture of the letter (%1) could not be loaded.%2").arg(snapshot, reason));
        }
        host.SetPreviewPicture(picture, shot.pages);
    });
    run.Step(GenerationStep::HandOverLetter, [&] { host.SetPreviewWordFile(workingPath); });
    run.Step(GenerationStep::ShowPreview, [&] { host.ShowPreview(); });
    run.Step(GenerationStep::HideDataEntryWindow, [&] { host.HideDataEntryWindow(); });
    run.Step(GenerationStep::DeleteSnapshot, [&] { DeleteWrittenFile(snapshot, shot.picture); });
}

// Steps ReadTemplate to DeleteSnapshot, the part of the run that works with the shared working
// files. Returns the tags of the fields that had characters replaced.
QStringList FillAndHandOver(GuardedProcedure& run, GenerationHost& host, const GenerationServices& services)
{
    const QString temp = WorkingFolder();
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
    GuardedProcedure run(QLatin1String(GenerationRunLocation), services.dialogs, services.ending);
    QStringList replacedIn;
    run.Step(GenerationStep::ShowHourglass, [&] { host.SetMousePointer(PointerShape::Hourglass); });
    {
        const RunLock lock(services.runLockWait);
        replacedIn = FillAndHandOver(run, host, services);
    }
    // Told once the run has ended, so that no other instance waits for these answers.
    const QString folderNotice = TakeWorkingFolderNotice();
    if (!folderNotice.isEmpty())
        services.dialogs.ShowMessage(folderNotice, QLatin1String(ApplicationTitle));
    if (!replacedIn.isEmpty())
        services.dialogs.ShowMessage(
            QStringLiteral("The text typed for %1 holds characters that a Word document cannot hold (control "
                           "characters such as NUL, or halves of broken characters). The letter shows \"%2\" in their "
                           "place; the text in the window is unchanged.")
                .arg(replacedIn.join(QStringLiteral(", ")), QChar(QChar::ReplacementCharacter)),
            QLatin1String(ApplicationTitle));
}
