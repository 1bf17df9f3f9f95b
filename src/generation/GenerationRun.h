#pragma once

#include "Fields.h"
#include "RunLock.h"
#include "core/PointerShape.h"
#include "files/SafeFile.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <chrono>
#include <stop_token>

class Clock;
class Dialogs;
class RandomSource;
namespace Word {
class ApplicationFactory;
}

// What the generation run needs from the windows: the data-entry window's fields,
// pointer and visibility, the template it carries, and the preview's small surface.
class GenerationHost {
public:
    virtual ~GenerationHost() = default;
    virtual QString ReadField(int index) const = 0;
    virtual void WriteField(int index, const QString& text) = 0;
    virtual void SetMousePointer(PointerShape pointer) = 0;
    virtual QByteArray TemplateBytes() = 0;
    // The hand-over, called in this order: picture, document path, show; then the
    // data-entry window hides. pages are the picture's pages as a PDF document (may be
    // empty), from which the preview draws a zoomed page sharp.
    virtual void SetPreviewPicture(const QImage& picture, const QByteArray& pages) = 0;
    virtual void SetPreviewWordFile(const QString& path) = 0;
    virtual void ShowPreview() = 0;
    virtual void HideDataEntryWindow() = 0;
};

struct GenerationServices {
    Word::ApplicationFactory& word;
    Dialogs& dialogs;
    const Clock& clock;
    RandomSource& random;
    // The application's ending: once stop is requested, no further step runs.
    std::stop_token ending;
    // How long a run waits for the run of another instance to end (see RunLock).
    std::chrono::milliseconds runLockWait = RunLockWait;
};

// WorkingLetterPrefix ("varnel") followed by eight digits 1-9 drawn from random.
QString DrawWorkingName(RandomSource& random);

// The whole run behind "Start Creating Template": writes the template to TEMP, fills every tag
// with its field's text through the word processor, saves the working document under a fresh
// name, renders it and hands picture and path to the preview. Every step is guarded: a failure
// is reported with its step number and the run goes on. The letter receives exactly the typed
// texts: a text that holds the tag of a later field keeps it (the later field does not replace
// it there), characters a Word document cannot hold are replaced (ToLetterText; the user is
// told once the run has ended), and a text longer than LetterFieldLimit is reported at step
// PlanField and left out. Steps ReadTemplate to DeleteSnapshot hold the RunLock. When the
// working folder's usual name was taken (WorkingFolder), the user is told once the run has
// ended, in a plain message, what was found there.
void RunGeneration(GenerationHost& host, const GenerationServices& services);
