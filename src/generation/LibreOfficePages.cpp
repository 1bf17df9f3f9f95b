#include "LibreOfficePages.h"

#include "AppError.h"

#include <QDir>
#include <QPainter>

#include <poppler-qt6.h>

#include <memory>
#include <vector>

namespace {
constexpr double DotsPerInch = 96.0;
}

QImage RenderPdfPages(const QString& pdfPath)
{
    const std::unique_ptr<Poppler::Document> document = Poppler::Document::load(pdfPath);
    if (!document || document->isLocked())
        throw AppError(QStringLiteral("The pages rendered by the office could not be read from \"%1\".")
                           .arg(QDir::toNativeSeparators(pdfPath)));
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);

    std::vector<QImage> pages;
    qint64 width = 0;
    qint64 height = 0;
    for (int i = 0; i < document->numPages(); ++i) {
        const std::unique_ptr<Poppler::Page> page = document->page(i);
        QImage picture = page ? page->renderToImage(DotsPerInch, DotsPerInch) : QImage();
        if (picture.isNull())
            throw AppError(QStringLiteral("Page %1 of the document could not be rendered.").arg(i + 1));
        width = std::max<qint64>(width, picture.width());
        height += picture.height();
        pages.push_back(std::move(picture));
    }
    if (pages.empty())
        throw AppError(QStringLiteral("The document has no page to show."));

    QImage sheet;
    if (height <= std::numeric_limits<int>::max())
        sheet = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
    if (sheet.isNull())
        throw AppError(QStringLiteral("The document's %1 pages are too many to show as one picture.").arg(pages.size()));
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    int top = 0;
    for (const QImage& page : pages) {
        painter.drawImage(0, top, page);
        top += page.height();
    }
    return sheet;
}
