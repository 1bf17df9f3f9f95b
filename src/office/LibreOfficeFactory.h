#pragma once

#include "OfficeSandbox.h"
#include "generation/WordModel.h"

#include <QString>

#include <chrono>
#include <memory>

namespace LibreOffice {
class OfficeEnder;
}

// How long the backend waits for an office. An office that exceeds a limit is taken to
// hang: it is killed, and the call that waited fails with a description that says so.
// No healthy office comes near these limits; tests make them short.
struct OfficeTimeouts {
    // From the start of the process to an accepted connection.
    std::chrono::milliseconds connect = std::chrono::seconds(20);
    // One call: a search, a listing, closing a document.
    std::chrono::milliseconds call = std::chrono::seconds(10);
    // One call that reads or writes a whole document: opening, saving.
    std::chrono::milliseconds document = std::chrono::seconds(30);
    // Rendering every page of a document (a letter of sixty pages takes about 17 s here).
    std::chrono::milliseconds render = std::chrono::seconds(60);
    // A cheap call that tells whether an office started a while ago still answers; an idle
    // office answers it within a millisecond or two.
    std::chrono::milliseconds check = std::chrono::milliseconds(500);
};

// The word-processor model served by LibreOffice Writer: every application object is a
// fresh headless office of its own (see OfficeProcess), reached over UNO, and ended by
// Quit or, failing that, when the object is destroyed. Offices wind down in the
// background: Quit returns as soon as the office has been told to end. Every application
// object is a CheckedInstance: it tells whether its office still runs and answers.
class LibreOfficeFactory : public Word::ApplicationFactory {
public:
    // Destroying the factory waits until every office quit or released has ended; an
    // application object that outlives it keeps the offices' ender until it is released.
    // The offices' private folders are made in folder, which must be private to the user,
    // or in the folder of the working files when it is empty; the offices run in the
    // sandbox unless sandboxing is Off.
    explicit LibreOfficeFactory(OfficeTimeouts timeouts = {}, QString folder = QString(),
                                OfficeSandboxing sandboxing = OfficeSandboxing::WhereAllowed);
    LibreOfficeFactory(const LibreOfficeFactory&) = delete;
    LibreOfficeFactory& operator=(const LibreOfficeFactory&) = delete;

    // Throws AppError ("The office engine (LibreOffice) could not be started: ...") when
    // no office can be found, started or reached.
    std::shared_ptr<Word::Application> CreateApplication() override;

    // Returns once every office quit or released so far has ended and its private folder
    // is gone.
    void WaitForEndedOffices();

private:
    OfficeTimeouts mTimeouts;
    QString mFolder;
    OfficeSandboxing mSandboxing;
    std::shared_ptr<LibreOffice::OfficeEnder> mEnder;
};
