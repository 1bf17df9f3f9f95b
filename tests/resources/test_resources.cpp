// What the resource library hands to the rest of the application, checked from a separate
// executable that links it as any other would: the template bytes, the icons and the
// product identity; and the icon files and desktop entry as they are committed and installed.

#include "LetterExpectations.h"
#include "core/AppError.h"
#include "files/SettingsStore.h"
#include "resources/Resources.h"
#include "resources/WindowIdentity.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QResource>
#include <QtTest>

namespace {

QByteArray FileBytes(const QString& relativePath)
{
    QFile file(QDir(QStringLiteral(INKHAVEN_RESOURCES_DIR)).filePath(relativePath));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

struct IcoEntry {
    int width = 0;
    int height = 0;
    int planes = 0;
    int bitCount = 0;
    quint32 bytes = 0;
    quint32 offset = 0;
};

quint16 U16(const QByteArray& data, qint64 at)
{
    return quint16(uchar(data[at]) | (uchar(data[at + 1]) << 8));
}

quint32 U32(const QByteArray& data, qint64 at)
{
    return quint32(U16(data, at)) | (quint32(U16(data, at + 2)) << 16);
}

// A pixel of an icon's bitmap as stored: rows bottom-up, colour then one-bit mask.
struct StoredPixel {
    bool maskedOut = false;
    int alpha = 255;
};

StoredPixel PixelOf(const QByteArray& ico, const IcoEntry& entry, int x, int y)
{
    const int size = entry.width;
    const int bytesPerPixel = entry.bitCount / 8;
    const int colourStride = ((size * bytesPerPixel) + 3) / 4 * 4;
    const int maskStride = (size + 31) / 32 * 4;
    const qint64 colour = entry.offset + 40 + qint64(size - 1 - y) * colourStride + x * bytesPerPixel;
    const qint64 mask = entry.offset + 40 + qint64(size) * colourStride + qint64(size - 1 - y) * maskStride;
    StoredPixel pixel;
    pixel.maskedOut = uchar(ico[mask + x / 8]) & (0x80 >> (x % 8));
    if (bytesPerPixel == 4)
        pixel.alpha = uchar(ico[colour + 3]);
    return pixel;
}

} // namespace

class ResourcesTest : public QObject {
    Q_OBJECT

private slots:
    void embeddedTemplateIsTheCommittedFileUncompressed();
    void iconFileHoldsFourUncompressedBitmapsInOrder();
    void applicationIconOffersEverySize();
    void previewWindowIconIsFullyTransparent();
    void identityMatchesTheDesktopEntryAndThemeIcons();
};

void ResourcesTest::embeddedTemplateIsTheCommittedFileUncompressed()
{
    const QByteArray committed = CommittedTemplateBytes();
    QVERIFY(!committed.isEmpty());
    QByteArray embedded;
    try {
        embedded = LetterTemplateBytes();
    } catch (const AppError& error) {
        QFAIL(qPrintable(error.Description()));
    }
    QCOMPARE(embedded, committed);
    // Two reads hand out the same bytes.
    QVERIFY(LetterTemplateBytes() == committed);

    const QResource resource(QStringLiteral(":/inkhaven/letter.dot"));
    QVERIFY(resource.isValid());
    QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
}

void ResourcesTest::iconFileHoldsFourUncompressedBitmapsInOrder()
{
    const QByteArray ico = FileBytes(QStringLiteral("icons/inkhaven.ico"));
    QVERIFY(ico.size() > 6);
    QCOMPARE(U16(ico, 0), quint16(0));
    QCOMPARE(U16(ico, 2), quint16(1));
    QCOMPARE(U16(ico, 4), quint16(4));

    struct Expected {
        int size;
        int bitCount;
        quint32 bytes;
    };
    const Expected expected[] = {{32, 24, 3240}, {256, 32, 270376}, {128, 32, 67624}, {48, 32, 9640}};
    quint32 nextOffset = 6 + 4 * 16;
    for (int i = 0; i < 4; ++i) {
        const qint64 at = 6 + 16 * i;
        IcoEntry entry;
        entry.width = uchar(ico[at]) ? uchar(ico[at]) : 256;
        entry.height = uchar(ico[at + 1]) ? uchar(ico[at + 1]) : 256;
        entry.planes = U16(ico, at + 4);
        entry.bitCount = U16(ico, at + 6);
        entry.bytes = U32(ico, at + 8);
        entry.offset = U32(ico, at + 12);
        QCOMPARE(uchar(ico[at + 2]), uchar(0)); // colour count
        QCOMPARE(entry.width, expected[i].size);
        QCOMPARE(entry.height, expected[i].size);
        QCOMPARE(entry.planes, 1);
        QCOMPARE(entry.bitCount, expected[i].bitCount);
        QCOMPARE(entry.bytes, expected[i].bytes);
        QCOMPARE(entry.offset, nextOffset);
        QVERIFY(qint64(entry.offset) + entry.bytes <= ico.size());
        nextOffset += entry.bytes;

        // A device-independent bitmap, not PNG: 40-byte header, doubled height, no compression.
        QVERIFY(!ico.mid(entry.offset, 8).startsWith("\x89PNG"));
        QCOMPARE(U32(ico, entry.offset), quint32(40));
        QCOMPARE(qint32(U32(ico, entry.offset + 4)), expected[i].size);
        QCOMPARE(qint32(U32(ico, entry.offset + 8)), 2 * expected[i].size);
        QCOMPARE(U16(ico, entry.offset + 12), quint16(1));
        QCOMPARE(int(U16(ico, entry.offset + 14)), expected[i].bitCount);
        QCOMPARE(U32(ico, entry.offset + 16), quint32(0));

        // A drawn picture: the corners are transparent, the middle is opaque.
        const int last = entry.width - 1;
        for (auto [x, y] : {std::pair{0, 0}, std::pair{last, 0}, std::pair{0, last}, std::pair{last, last}}) {
            const StoredPixel corner = PixelOf(ico, entry, x, y);
            QVERIFY(corner.maskedOut);
            QCOMPARE(corner.alpha, entry.bitCount == 32 ? 0 : 255);
        }
        const StoredPixel middle = PixelOf(ico, entry, entry.width / 2, entry.height / 2);
        QVERIFY(!middle.maskedOut);
        QCOMPARE(middle.alpha, 255);
    }
    QCOMPARE(qint64(nextOffset), ico.size());
}

void ResourcesTest::applicationIconOffersEverySize()
{
    const QIcon icon = ApplicationIcon();
    QVERIFY(!icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    for (int size : {32, 48, 128, 256})
        QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));

    const QImage large = icon.pixmap(QSize(256, 256)).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(large.size(), QSize(256, 256));
    QCOMPARE(qAlpha(large.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(large.pixel(128, 128)), 255);
    // Not a flat square: the picture has several colours.
    QSet<QRgb> colours;
    for (int y = 0; y < 256; y += 8)
        for (int x = 0; x < 256; x += 8)
            colours.insert(large.pixel(x, y));
    QVERIFY(colours.size() > 4);
}

void ResourcesTest::previewWindowIconIsFullyTransparent()
{
    const QIcon icon = PreviewWindowIcon();
    QVERIFY(!icon.isNull());
    QVERIFY(icon.availableSizes().contains(QSize(32, 32)));
    const QImage image = icon.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(32, 32));
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            QCOMPARE(qAlpha(image.pixel(x, y)), 0);
}

// The identity the application gives itself is the one its desktop entry and theme icons are
// installed under: the window system finds the entry by the desktop-file name.
void ResourcesTest::identityMatchesTheDesktopEntryAndThemeIcons()
{
    SetWindowIdentity();
    const QString name = QGuiApplication::desktopFileName();
    const QString entry = QString::fromUtf8(FileBytes(name + QStringLiteral(".desktop")));
    const QStringList lines = entry.split(QChar('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), QStringLiteral("[Desktop Entry]"));
    for (const QString& line : {QStringLiteral("Type=Application"), QStringLiteral("Name=") + QCoreApplication::applicationName(),
                                QStringLiteral("Exec=inkhaven"), QStringLiteral("Icon=") + name})
        QVERIFY2(lines.contains(line), qPrintable(line));
    // The settings are kept under the maker's name; the version shows two digits after the point.
    QCOMPARE(QCoreApplication::organizationName(), QLatin1String(SettingsApplication));
    QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.00"));

    for (int size : {32, 48, 128, 256}) {
        QImage image;
        QVERIFY(image.loadFromData(FileBytes(QStringLiteral("icons/%1-%2.png").arg(name).arg(size)), "PNG"));
        QCOMPARE(image.size(), QSize(size, size));
        QVERIFY(image.hasAlphaChannel());
    }
}

QTEST_MAIN(ResourcesTest)
#include "test_resources.moc"
