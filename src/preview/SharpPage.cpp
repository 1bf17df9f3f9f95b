#include "SharpPage.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <set>

namespace {
// Tiles kept beyond the visible ones, for scrolling back: a screenful at twice the device
// pixels (about 30 tiles) twice over, 16 MB at most.
constexpr std::size_t SpareTiles = 64;

std::pair<int, int> KeyOf(const QRect& tile)
{
    return {tile.x() / PageTiles::TileSize, tile.y() / PageTiles::TileSize};
}
}

SharpPage::SharpPage(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

SharpPage::~SharpPage() = default;

void SharpPage::SetPages(const QByteArray& pdf, QSize pictureSize)
{
    mRenderer.reset();
    mRendererFailed = false;
    mPicturePages.clear();
    mPdf = pdf;
    mPictureSize = pictureSize;
    ForgetTiles();
    update();
}

void SharpPage::ShowAt(QSize pageSize)
{
    mPageSize = pageSize;
    update();
}

// The renderer starts when something is first to be drawn sharp: a page shown at the
// picture's own pixels never needs it.
bool SharpPage::EnsureRenderer()
{
    if (mRenderer)
        return true;
    if (mRendererFailed || mPdf.isEmpty())
        return false;
    mRenderer = PageRenderer::Create(mPdf, [this](quint64 generation, std::vector<PageRenderer::Tile> tiles) {
        QMetaObject::invokeMethod(
            this, [this, generation, tiles = std::move(tiles)]() mutable { Receive(generation, std::move(tiles)); },
            Qt::QueuedConnection);
    });
    mRendererFailed = !mRenderer;
    if (mRenderer)
        mPicturePages = PageTiles::PicturePages(mRenderer->PagePoints(), mPictureSize.height());
    return mRenderer != nullptr;
}

PageTiles::Scale SharpPage::CurrentScale() const
{
    return PageTiles::ShownScale(mPageSize.width(), mPageSize.height(), mPictureSize.width(), mPictureSize.height(),
                                 devicePixelRatioF());
}

bool SharpPage::Complete() const
{
    const PageTiles::Scale scale = CurrentScale();
    if (PageTiles::Unscaled(scale) || mPageSize.isEmpty() || mRendererFailed || mPdf.isEmpty())
        return true;
    if (!mRenderer || !(scale == mScale))
        return false;
    const std::vector<QRect> visible = VisibleTiles(scale);
    return std::all_of(visible.begin(), visible.end(), [this](const QRect& tile) { return mTiles.count(KeyOf(tile)) > 0; });
}

void SharpPage::paintEvent(QPaintEvent* event)
{
    const double ratio = devicePixelRatioF();
    const PageTiles::Scale scale = CurrentScale();
    if (PageTiles::Unscaled(scale) || mPageSize.isEmpty() || !EnsureRenderer()) {
        emit Completed();
        return;
    }
    if (!(scale == mScale)) {
        ForgetTiles();
        mScale = scale;
    }
    QPainter painter(this);
    std::vector<QRect> missing;
    for (const QRect& tile : VisibleTiles(scale)) {
        const auto cached = mTiles.find(KeyOf(tile));
        if (cached == mTiles.end()) {
            missing.push_back(tile);
            continue;
        }
        cached->second.lastUse = ++mUses;
        const QRectF shown(tile.x() / ratio, tile.y() / ratio, tile.width() / ratio, tile.height() / ratio);
        if (shown.intersects(event->rect()))
            painter.drawImage(shown, cached->second.image);
    }
    Request(scale, missing);
    if (missing.empty())
        emit Completed();
}

// The tiles of the zoomed page that the viewport shows now, in device pixels.
std::vector<QRect> SharpPage::VisibleTiles(const PageTiles::Scale& scale) const
{
    const double ratio = devicePixelRatioF();
    const QRect visible = visibleRegion().boundingRect();
    const QPoint topLeft(static_cast<int>(std::floor(visible.x() * ratio)), static_cast<int>(std::floor(visible.y() * ratio)));
    const QPoint end(static_cast<int>(std::ceil((visible.x() + visible.width()) * ratio)),
                     static_cast<int>(std::ceil((visible.y() + visible.height()) * ratio)));
    const QRect device(topLeft, QSize(end.x() - topLeft.x(), end.y() - topLeft.y()));
    QRect pages;
    for (const QRect& page : mPicturePages)
        pages |= PageTiles::ToDevice(page, scale);
    const QRect bounds = QRect(QPoint(0, 0), (QSizeF(size()) * ratio).toSize()) & pages;
    return PageTiles::TilesCovering(device, bounds);
}

// Asks for the missing tiles, unless the renderer is at them already.
void SharpPage::Request(const PageTiles::Scale& scale, const std::vector<QRect>& missing)
{
    const bool asked = std::all_of(missing.begin(), missing.end(), [this](const QRect& tile) {
        return std::find(mRequested.begin(), mRequested.end(), tile) != mRequested.end();
    });
    if (asked)
        return;
    mRequested = missing;
    PageRenderer::Job job{mGeneration, scale, {}, missing};
    for (const QRect& page : mPicturePages)
        job.pages.push_back(PageTiles::ToDevice(page, scale));
    mRenderer->Render(std::move(job));
    ++mRenderJobs;
}

bool SharpPage::RendererIdle() const
{
    return !mRenderer || mRenderer->Idle();
}

void SharpPage::Receive(quint64 generation, std::vector<PageRenderer::Tile> tiles)
{
    if (generation != mGeneration)
        return;
    const double ratio = devicePixelRatioF();
    for (const PageRenderer::Tile& tile : tiles) {
        mRequested.erase(std::remove(mRequested.begin(), mRequested.end(), tile.rect), mRequested.end());
        mTiles[KeyOf(tile.rect)] = {tile.image, ++mUses};
        update(QRectF(tile.rect.x() / ratio, tile.rect.y() / ratio, tile.rect.width() / ratio,
                      tile.rect.height() / ratio)
                   .toAlignedRect());
    }
    Trim();
}

// Keeps every visible tile, however many the ratio and the zoom make, and SpareTiles more:
// beyond that the tile drawn longest ago goes. A visible tile that went would be asked for
// again at the next paint, and push out another visible one, without end.
void SharpPage::Trim()
{
    std::set<TileKey> visible;
    for (const QRect& tile : VisibleTiles(mScale))
        visible.insert(KeyOf(tile));
    const std::size_t keep = visible.size() + SpareTiles;
    if (mTiles.size() <= keep)
        return;
    std::vector<std::pair<quint64, TileKey>> unseen;
    for (const auto& [key, tile] : mTiles) {
        if (!visible.count(key))
            unseen.emplace_back(tile.lastUse, key);
    }
    const std::size_t surplus = std::min(mTiles.size() - keep, unseen.size());
    std::partial_sort(unseen.begin(), unseen.begin() + static_cast<std::ptrdiff_t>(surplus), unseen.end());
    for (std::size_t i = 0; i < surplus; ++i)
        mTiles.erase(unseen[i].second);
}

// Tiles of another scale or other pages are useless; what the renderer still delivers for
// them is dropped by its generation.
void SharpPage::ForgetTiles()
{
    mTiles.clear();
    mRequested.clear();
    ++mGeneration;
    mScale = {};
}
