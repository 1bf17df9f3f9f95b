#include "DesktopUrlOpener.h"

#include <QDesktopServices>

bool DesktopUrlOpener::Open(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}
