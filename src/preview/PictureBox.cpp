#include "PictureBox.h"

#include "ui/Theme.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

PictureBox::PictureBox(QWidget* parent)
    : QFrame(parent), mBackColour(ButtonFaceColour())
{
    setProperty("pictureBox", true);
    setFrameStyle(QFrame::NoFrame);
    setLineWidth(1);
    InnerAreaChanged();
}

void PictureBox::SetPicture(const QImage& picture)
{
    mPicture = picture;
    Repaint();
    FitToPicture();
}

void PictureBox::ClearPicture()
{
    mPicture = QImage();
    Repaint();
}

bool PictureBox::HasBorder() const
{
    return frameShape() != QFrame::NoFrame;
}

void PictureBox::SetBorder(bool border)
{
    setFrameStyle(border ? (QFrame::Box | QFrame::Plain) : QFrame::NoFrame);
    setLineWidth(1);
    InnerAreaChanged();
    FitToPicture();
}

void PictureBox::SetAutoSize(bool autoSize)
{
    mAutoSize = autoSize;
    FitToPicture();
}

void PictureBox::SetBackColour(const QColor& colour)
{
    mBackColour = colour;
    Repaint();
}

int PictureBox::InnerWidth() const
{
    return contentsRect().width();
}

int PictureBox::InnerHeight() const
{
    return contentsRect().height();
}

void PictureBox::PaintPicture(const QImage& source, const QRect& targetRect, const QRect& sourceRect)
{
    if (mSurfaceSize.isEmpty())
        return;
    if (!mSurfaceMade && !mStretched) {
        mStretched = Stretched{source, targetRect, sourceRect, QRect(QPoint(0, 0), mSurfaceSize)};
    } else {
        MakeSurface();
        QPainter painter(&mSurface);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(targetRect, source, sourceRect);
    }
    update();
}

const QImage& PictureBox::Surface() const
{
    MakeSurface();
    return mSurface;
}

void PictureBox::MakeSurface() const
{
    if (mSurfaceMade)
        return;
    mSurface = QImage(mSurfaceSize, QImage::Format_RGB32);
    if (!mSurface.isNull()) {
        QPainter painter(&mSurface);
        DrawSurface(painter);
    }
    mSurfaceMade = true;
}

// Background, picture and the stretched painting, in that order, within the surface.
void PictureBox::DrawSurface(QPainter& painter) const
{
    painter.fillRect(QRect(QPoint(0, 0), mSurfaceSize), mBackColour);
    if (!mPicture.isNull())
        painter.drawImage(0, 0, mPicture);
    if (mStretched) {
        painter.setClipRect(mStretched->clip, Qt::IntersectClip);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(mStretched->target, mStretched->source, mStretched->sourceRect);
    }
}

QWidget& PictureBox::ClientArea()
{
    if (!mClientArea) {
        mClientArea = new QWidget(this);
        mClientArea->setGeometry(contentsRect());
        mClientArea->show();
    }
    return *mClientArea;
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect inner = contentsRect();
    if (mSurfaceMade) {
        painter.drawImage(inner.topLeft(), mSurface);
    } else {
        painter.save();
        painter.setClipRect(event->rect() & QRect(inner.topLeft(), mSurfaceSize));
        painter.translate(inner.topLeft());
        DrawSurface(painter);
        painter.restore();
    }
    drawFrame(&painter);
}

void PictureBox::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    InnerAreaChanged();
}

void PictureBox::mousePressEvent(QMouseEvent* event)
{
    const QPointF at = InnerPosition(event->position());
    emit MouseDown(event->button(), event->modifiers(), static_cast<float>(at.x()), static_cast<float>(at.y()));
    event->accept();
}

void PictureBox::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF at = InnerPosition(event->position());
    emit MouseMove(event->buttons(), event->modifiers(), static_cast<float>(at.x()), static_cast<float>(at.y()));
    event->accept();
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event)
{
    const QPointF at = InnerPosition(event->position());
    emit MouseUp(event->button(), event->modifiers(), static_cast<float>(at.x()), static_cast<float>(at.y()));
    event->accept();
}

void PictureBox::Repaint()
{
    mStretched.reset();
    mSurface = QImage();
    mSurfaceMade = false;
    update();
}

void PictureBox::FitToPicture()
{
    if (!mAutoSize || mPicture.isNull())
        return;
    const int border = HasBorder() ? 2 * lineWidth() : 0;
    resize(mPicture.width() + border, mPicture.height() + border);
}

// The drawing surface follows the inner size: what was painted keeps its place, and a
// larger box shows the background and the picture in the new part.
void PictureBox::InnerAreaChanged()
{
    const QSize inner = contentsRect().size().expandedTo(QSize(0, 0));
    if (mClientArea)
        mClientArea->setGeometry(contentsRect());
    if (mSurfaceSize == inner)
        return;
    const QSize previousSize = mSurfaceSize;
    mSurfaceSize = inner;
    if (!mSurfaceMade) {
        if (mStretched)
            mStretched->clip &= QRect(QPoint(0, 0), previousSize);
        return;
    }
    const QImage previous = mSurface;
    Repaint();
    MakeSurface();
    QPainter painter(&mSurface);
    painter.drawImage(0, 0, previous);
}

QPointF PictureBox::InnerPosition(const QPointF& position) const
{
    return position - QPointF(contentsRect().topLeft());
}
