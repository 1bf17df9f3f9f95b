#include "PagePicture.h"

#include "core/AppError.h"

#include <QPainter>
#include <QThread>

#include <poppler-qt6.h>

#include <algorithm>
#include <exception>
#include <future>
#include <limits>
#include <memory>
#include <vector>

namespace {
constexpr double DotsPerInch = 96.0;

std::unique_ptr<Poppler::Document> LoadPdf(const QByteArray& data)
{
    std::unique_ptr<Poppler::Document> document = ReadPdfForRendering(data);
    if (!document)
        throw AppError(QStringLiteral("The pages rendered by the office could not be read."));
    return document;
}

// Renders pages first, first + step, first + 2 step ... of document into pages.
void RenderEvery(Poppler::Document& document, int first, int step, std::vector<QImage>& pages)
{
    for (int i = first; i < static_cast<int>(pages.size()); i += step) {
        const std::unique_ptr<Poppler::Page> page = document.page(i);
        QImage picture = page ? page->renderToImage(DotsPerInch, DotsPerInch) : QImage();
        if (picture.isNull())
            throw AppError(QStringLiteral("Page %1 of the document could not be rendered.").arg(i + 1));
        pages[static_cast<std::size_t>(i)] = std::move(picture);
    }
}
}

std::unique_ptr<Poppler::Document> ReadPdfForRendering(const QByteArray& pdf)
{
    std::unique_ptr<Poppler::Document> document = Poppler::Document::loadFromData(pdf);
    if (!document || document->isLocked())
        return nullptr;
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
    return document;
}

QImage RenderPdfPages(const QByteArray& data, int pageLimit, const QString& countKey)
{
    const std::unique_ptr<Poppler::Document> document = LoadPdf(data);
    const int pageCount = std::max(0, document->numPages());
    std::vector<QImage> pages(static_cast<std::size_t>(std::min(pageCount, std::max(0, pageLimit))));
    if (pages.empty())
        throw AppError(QStringLiteral("The document has no page to show."));

    // The pages are rendered side by side, each worker taking every n-th page with a
    // document of its own: a Poppler document must not be used by two threads at once.
    const int workers = std::clamp(QThread::idealThreadCount(), 1, static_cast<int>(pages.size()));
    std::vector<std::future<void>> helpers;
    for (int worker = 1; worker < workers; ++worker)
        helpers.push_back(std::async(std::launch::async, [&, worker] {
            const std::unique_ptr<Poppler::Document> own = LoadPdf(data);
            RenderEvery(*own, worker, workers, pages);
        }));
    std::exception_ptr failure;
    try {
        RenderEvery(*document, 0, workers, pages);
    } catch (...) {
        failure = std::current_exception();
    }
    for (std::future<void>& helper : helpers) {
        try {
            helper.get();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);

    qint64 width = 0;
    qint64 height = 0;
    for (const QImage& page : pages) {
        width = std::max<qint64>(width, page.width());
        height += page.height();
    }
    QImage sheet;
    if (height <= std::numeric_limits<int>::max())
        sheet = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
    if (sheet.isNull())
        throw AppError(QStringLiteral("The document's %1 pages are too many to show as one picture.").arg(pages.size()));
    sheet.fill(Qt::white);
    sheet.setText(countKey, QString::number(pageCount));
    QPainter painter(&sheet);
    int top = 0;
    for (const QImage& page : pages) {
        painter.drawImage(0, top, page);
        top += page.height();
    }
    return sheet;
}
