#include "WindowUtilities.h"

#include "files/Paths.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <QtEndian>

namespace {
// Centred on the whole screen; along an axis where the window is larger than the
// available area, its start is kept on that area so the title bar can be reached.
int PlaceAlong(int screenStart, int screenExtent, int availableStart, int availableExtent, int outerExtent)
{
    const int centred = screenStart + (screenExtent - outerExtent) / 2;
    return outerExtent > availableExtent ? qMax(centred, availableStart) : centred;
}
}

QPoint CentredPosition(const QRect& screen, const QRect& available, const QSize& outer)
{
    return QPoint(PlaceAlong(screen.x(), screen.width(), available.x(), available.width(), outer.width()),
                  PlaceAlong(screen.y(), screen.height(), available.y(), available.height(), outer.height()));
}

void CentreWindow(QWidget& window)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect frame = window.frameGeometry();
    // The frame may not be known before the window is shown; the client size is then the best guess.
    const QSize outer(frame.width() > 0 ? frame.width() : window.width(),
                      frame.height() > 0 ? frame.height() : window.height());
    window.move(CentredPosition(screen->geometry(), screen->availableGeometry(), outer));
}

QString HandCursorFile()
{
    return OptionalItemPath(QStringLiteral("HAND-M.CUR"));
}

std::optional<QCursor> LoadCursorFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(4 * 1024 * 1024);
    // A cursor file: reserved 0, type 2, count >= 1, then 16-byte entries whose
    // bytes 4..7 hold the hotspot instead of the icon's planes and bit count.
    if (bytes.size() < 22 || qFromLittleEndian<quint16>(bytes.constData()) != 0
        || qFromLittleEndian<quint16>(bytes.constData() + 2) != 2
        || qFromLittleEndian<quint16>(bytes.constData() + 4) == 0)
        return std::nullopt;
    const int hotX = qFromLittleEndian<quint16>(bytes.constData() + 10);
    const int hotY = qFromLittleEndian<quint16>(bytes.constData() + 12);

    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "cur");
    QImage image = reader.read();
    if (image.isNull()) {
        // Qt's reader is stricter about the type word; read it as an icon instead.
        QByteArray asIcon = bytes;
        asIcon[2] = 1;
        QBuffer iconBuffer(&asIcon);
        iconBuffer.open(QIODevice::ReadOnly);
        QImageReader iconReader(&iconBuffer, "ico");
        image = iconReader.read();
    }
    if (image.isNull())
        return std::nullopt;
    return QCursor(QPixmap::fromImage(image), qBound(0, hotX, image.width() - 1), qBound(0, hotY, image.height() - 1));
}

std::optional<QCursor> LoadHandCursor()
{
    if (!FileExists(HandCursorFile()))
        return std::nullopt;
    return LoadCursorFile(HandCursorFile());
}

void ApplyMousePointer(QWidget& window, PointerShape pointer, const std::optional<QCursor>& handCursor)
{
    if (pointer == PointerShape::Hourglass)
        window.setCursor(Qt::WaitCursor);
    else if (pointer == PointerShape::Custom && handCursor)
        window.setCursor(*handCursor);
    else
        window.unsetCursor();
}
