#pragma once

#include "PageTiles.h"

#include <QByteArray>
#include <QImage>
#include <QRect>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace Poppler {
class Document;
}

// Renders areas of the letter's pages, given as a PDF document, on a thread of its own, so
// that the window never waits for it. One job at a time: a job asked for while another is
// waiting replaces it, and a running job is given up between pages once a newer one waits.
class PageRenderer {
public:
    struct Job {
        // Handed back with the tiles, so that the caller can drop what it no longer wants.
        quint64 generation = 0;
        PageTiles::Scale scale;
        // Where each page lies in the zoomed page, in device pixels.
        std::vector<QRect> pages;
        std::vector<QRect> tiles;
    };
    struct Tile {
        QRect rect;
        // Transparent outside the pages.
        QImage image;
    };
    // Called on the renderer's thread with every tile of a finished job.
    using Deliver = std::function<void(quint64 generation, std::vector<Tile> tiles)>;

    // Fails (returns nothing) when pdf is not a readable document.
    static std::unique_ptr<PageRenderer> Create(const QByteArray& pdf, Deliver deliver);
    ~PageRenderer();
    PageRenderer(const PageRenderer&) = delete;
    PageRenderer& operator=(const PageRenderer&) = delete;

    // Each page's size in points, in document order.
    const std::vector<QSizeF>& PagePoints() const { return mPagePoints; }

    void Render(Job job);

    // No job waits or runs: the renderer's thread sleeps.
    bool Idle();

private:
    PageRenderer(std::unique_ptr<Poppler::Document> document, Deliver deliver);
    void Work();
    std::optional<std::vector<Tile>> Run(const Job& job);
    bool NewerJobWaits();

    std::unique_ptr<Poppler::Document> mDocument;
    std::vector<QSizeF> mPagePoints;
    Deliver mDeliver;
    std::mutex mMutex;
    std::condition_variable mWake;
    std::optional<Job> mWaiting;
    bool mRunning = false;
    bool mStop = false;
    std::thread mThread;
};
