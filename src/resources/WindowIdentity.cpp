#include "WindowIdentity.h"

#include "Resources.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

QIcon ApplicationIcon()
{
    return QIcon(ApplicationIconFile());
}

QIcon PreviewWindowIcon()
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return QIcon(QPixmap::fromImage(image));
}

void SetWindowIdentity()
{
    SetApplicationIdentity();
    QGuiApplication::setDesktopFileName(QStringLiteral("inkhaven"));
}
