#include "Resources.h"

#include "AppError.h"
#include "Version.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

// The resources live in a static library, whose unreferenced objects the linker drops:
// registering them by name here pulls them into every executable that uses this library.
// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterResources()
{
    Q_INIT_RESOURCE(inkhaven);
}

namespace {

const QString kTemplateResource = QStringLiteral(":/inkhaven/letter.dot");
const QString kIconResource = QStringLiteral(":/inkhaven/inkhaven.ico");

void EnsureRegistered()
{
    static const bool registered = (RegisterResources(), true);
    Q_UNUSED(registered);
}

} // namespace

QByteArray LetterTemplateBytes()
{
    EnsureRegistered();
    QFile file(kTemplateResource);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("The letter template is missing from the application (%1)")
                           .arg(kTemplateResource));
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty() || bytes.size() != file.size())
        throw AppError(QStringLiteral("The letter template could not be read from the application (%1)")
                           .arg(kTemplateResource));
    return bytes;
}

QIcon ApplicationIcon()
{
    EnsureRegistered();
    return QIcon(kIconResource);
}

QIcon PreviewWindowIcon()
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return QIcon(QPixmap::fromImage(image));
}

void SetApplicationIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("Inkhaven"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrelworks"));
    QCoreApplication::setApplicationVersion(QStringLiteral(INKHAVEN_DISPLAY_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("inkhaven"));
}
