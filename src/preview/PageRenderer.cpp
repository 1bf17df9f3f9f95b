#include "PageRenderer.h"

#include "generation/PagePicture.h"

#include <QPainter>

#include <poppler-qt6.h>

std::unique_ptr<PageRenderer> PageRenderer::Create(const QByteArray& pdf, Deliver deliver)
{
    std::unique_ptr<Poppler::Document> document = ReadPdfForRendering(pdf);
    if (!document || document->numPages() <= 0)
        return nullptr;
    return std::unique_ptr<PageRenderer>(new PageRenderer(std::move(document), std::move(deliver)));
}

// The document is read here, on the caller's thread, and used on the renderer's thread only
// from then on: a Poppler document must not be used by two threads at once.
PageRenderer::PageRenderer(std::unique_ptr<Poppler::Document> document, Deliver deliver)
    : mDocument(std::move(document)), mDeliver(std::move(deliver))
{
    for (int i = 0; i < mDocument->numPages(); ++i) {
        const std::unique_ptr<Poppler::Page> page = mDocument->page(i);
        mPagePoints.push_back(page ? page->pageSizeF() : QSizeF());
    }
    mThread = std::thread([this] { Work(); });
}

PageRenderer::~PageRenderer()
{
    {
        const std::lock_guard lock(mMutex);
        mStop = true;
    }
    mWake.notify_one();
    mThread.join();
}

void PageRenderer::Render(Job job)
{
    {
        const std::lock_guard lock(mMutex);
        mWaiting = std::move(job);
    }
    mWake.notify_one();
}

void PageRenderer::Work()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mMutex);
            mRunning = false;
            mWake.wait(lock, [this] { return mStop || mWaiting.has_value(); });
            if (mStop)
                return;
            job = std::move(*mWaiting);
            mWaiting.reset();
            mRunning = true;
        }
        if (std::optional<std::vector<Tile>> tiles = Run(job))
            mDeliver(job.generation, std::move(*tiles));
    }
}

bool PageRenderer::Idle()
{
    const std::lock_guard lock(mMutex);
    return !mRunning && !mWaiting.has_value();
}

bool PageRenderer::NewerJobWaits()
{
    const std::lock_guard lock(mMutex);
    return mStop || mWaiting.has_value();
}

// Renders the part of every page that the job's tiles cover onto one canvas, a page at a
// time, and cuts the tiles from it. Nothing when a newer job came first.
std::optional<std::vector<PageRenderer::Tile>> PageRenderer::Run(const Job& job)
{
    QRect area;
    for (const QRect& tile : job.tiles)
        area |= tile;
    QImage canvas(area.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        const double xResolution = PageTiles::RenderResolution(job.scale.x);
        const double yResolution = PageTiles::RenderResolution(job.scale.y);
        for (std::size_t i = 0; i < job.pages.size(); ++i) {
            const QRect part = job.pages[i] & area;
            if (part.isEmpty())
                continue;
            if (NewerJobWaits())
                return std::nullopt;
            const std::unique_ptr<Poppler::Page> page = mDocument->page(static_cast<int>(i));
            const QPoint within = part.topLeft() - job.pages[i].topLeft();
            const QImage rendered = page ? page->renderToImage(xResolution, yResolution, within.x(), within.y(),
                                                               part.width(), part.height())
                                         : QImage();
            painter.drawImage(part.topLeft() - area.topLeft(), rendered);
        }
    }
    std::vector<Tile> tiles;
    for (const QRect& tile : job.tiles)
        tiles.push_back({tile, canvas.copy(tile.translated(-area.topLeft()))});
    return tiles;
}
