#pragma once

#include "core/Platform.h"

// Hands addresses to the desktop's web browser.
class DesktopUrlOpener : public UrlOpener {
public:
    bool Open(const QUrl& url) override;
};
