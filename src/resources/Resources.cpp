#include "Resources.h"

#include "Version.h"
#include "core/AppError.h"

#include <QCoreApplication>
#include <QFile>

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

QString ApplicationIconFile()
{
    EnsureRegistered();
    return kIconResource;
}

void SetApplicationIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("Inkhaven"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrelworks"));
    QCoreApplication::setApplicationVersion(QStringLiteral(INKHAVEN_DISPLAY_VERSION));
}

QString VersionText(const QString& program)
{
    return QStringLiteral("%1 (Inkhaven) " INKHAVEN_VERSION "\n"
                          "Copyright (C) " INKHAVEN_RELEASE_YEAR " Kestrelworks\n"
                          "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
                          "This is free software: you are free to change and redistribute it.\n"
                          "There is NO WARRANTY, to the extent permitted by law.\n")
        .arg(program);
}
