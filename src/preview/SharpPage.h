#pragma once

#include "PageRenderer.h"
#include "PageTiles.h"

#include <QByteArray>
#include <QImage>
#include <QWidget>

#include <map>
#include <memory>
#include <utility>
#include <vector>

// Lies over the page picture and draws the visible part of the zoomed page sharp: rendered
// from the letter's pages at the scale of the screen's pixels rather than stretched from
// the picture. Tiles are rendered off the window's thread, the visible ones only, and the
// stretched picture underneath shows wherever a tile is not ready yet. Mouse events pass
// through to the page picture.
class SharpPage : public QWidget {
    Q_OBJECT

public:
    explicit SharpPage(QWidget* parent = nullptr);
    ~SharpPage() override;

    // The letter's pages as a PDF document and the picture made from them (its size tells
    // where the pages lie); empty pages draw nothing.
    void SetPages(const QByteArray& pdf, QSize pictureSize);

    // The page picture is shown zoomed to pageSize (widget pixels) from now on.
    void ShowAt(QSize pageSize);

    // True when every visible part of the page that can be drawn sharp is drawn sharp.
    bool Complete() const;

    // How many jobs the renderer has been given, and whether it has none to work on: once
    // the visible page is sharp, it rests until the view changes.
    quint64 RenderJobs() const { return mRenderJobs; }
    bool RendererIdle() const;

signals:
    // A paint has found the visible page wholly sharp, or nothing there to draw sharp.
    void Completed();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    using TileKey = std::pair<int, int>;
    struct CachedTile {
        QImage image;
        quint64 lastUse = 0;
    };

    bool EnsureRenderer();
    void Receive(quint64 generation, std::vector<PageRenderer::Tile> tiles);
    void Trim();
    void ForgetTiles();
    PageTiles::Scale CurrentScale() const;
    std::vector<QRect> VisibleTiles(const PageTiles::Scale& scale) const;
    void Request(const PageTiles::Scale& scale, const std::vector<QRect>& missing);

    QByteArray mPdf;
    QSize mPictureSize;
    QSize mPageSize;
    std::unique_ptr<PageRenderer> mRenderer;
    bool mRendererFailed = false;
    std::vector<QRect> mPicturePages;

    PageTiles::Scale mScale;
    quint64 mGeneration = 0;
    quint64 mUses = 0;
    quint64 mRenderJobs = 0;
    std::map<TileKey, CachedTile> mTiles;
    std::vector<QRect> mRequested;
};
