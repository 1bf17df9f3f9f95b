#pragma once

#include "WordModel.h"

#include <chrono>

// The word-processor model served by LibreOffice Writer: every application object is a
// fresh headless office of its own (see OfficeProcess), reached over UNO, and ended by
// Quit or, failing that, when the object is destroyed.
class LibreOfficeFactory : public Word::ApplicationFactory {
public:
    // connectTimeout bounds the wait for a starting office to accept the connection.
    explicit LibreOfficeFactory(std::chrono::milliseconds connectTimeout = std::chrono::seconds(20));

    // Throws AppError ("The office engine (LibreOffice) could not be started: ...") when
    // no office can be found, started or reached.
    std::shared_ptr<Word::Application> CreateApplication() override;

private:
    std::chrono::milliseconds mConnectTimeout;
};
