// The page composition of the snapshot's rendering: the pages of a PDF stacked into one
// picture at screen resolution.

#include "core/AppError.h"
#include "generation/PagePicture.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QtTest>

class PagesTest : public QObject {
    Q_OBJECT

private slots:
    // Pages of a PDF, one below the other at 96 dots per inch, as wide as the widest, in
    // their order however many are rendered at once.
    void pagesAreStackedAtScreenResolution()
    {
        QByteArray pdf;
        const QList<QPageSize::PageSizeId> sizes = {QPageSize::Letter, QPageSize::Legal, QPageSize::Letter,
                                                    QPageSize::Legal, QPageSize::Letter};
        {
            QBuffer buffer(&pdf);
            buffer.open(QIODevice::WriteOnly);
            QPdfWriter writer(&buffer);
            writer.setResolution(72);
            writer.setPageMargins(QMarginsF(0, 0, 0, 0));
            writer.setPageSize(QPageSize(sizes[0]));
            QPainter painter(&writer);
            for (int page = 0; page < sizes.size(); ++page) {
                if (page > 0) {
                    writer.setPageSize(QPageSize(sizes[page]));
                    writer.newPage();
                }
                // One inch square, a page's width further right on each page.
                painter.fillRect(QRectF(72.0 * page, 72.0 * page, 72, 72), Qt::black);
            }
        }

        const QImage pages = RenderPdfPages(pdf, 5, QStringLiteral("count"));

        QCOMPARE(pages.size(), QSize(816, 3 * 1056 + 2 * 1344));
        QCOMPARE(pages.text(QStringLiteral("count")), QStringLiteral("5"));
        int top = 0;
        for (int page = 0; page < sizes.size(); ++page) {
            for (int square = 0; square < sizes.size(); ++square) {
                const QColor seen(pages.pixel(96 * square + 48, top + 96 * square + 48));
                QCOMPARE(seen, square == page ? QColor(Qt::black) : QColor(Qt::white));
            }
            top += sizes[page] == QPageSize::Letter ? 1056 : 1344;
        }

        // A limit keeps the first pages only, and the count still tells them all.
        const QImage first = RenderPdfPages(pdf, 2, QStringLiteral("count"));
        QCOMPARE(first.size(), QSize(816, 1056 + 1344));
        QCOMPARE(first.text(QStringLiteral("count")), QStringLiteral("5"));
        QCOMPARE(first.copy(0, 0, 816, 1056 + 1344), pages.copy(0, 0, 816, 1056 + 1344));

        QVERIFY_THROWS_EXCEPTION(AppError, RenderPdfPages(QByteArrayLiteral("not a PDF"), 5, QStringLiteral("count")));
    }
};

QTEST_MAIN(PagesTest)
#include "test_pages.moc"
