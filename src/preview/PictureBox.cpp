#include "PictureBox.h"

#include "Theme.h"

#include <QMouseEvent>
#include <QPainter>

PictureBox::PictureBox(QWidget* parent)
    : QFrame(parent), mBackColor(ButtonFaceColour())
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

void PictureBox::SetBackColor(const QColor& colour)
{
    mBackColor = colour;
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
    if (mSurface.isNull())
        return;
    QPainter painter(&mSurface);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(targetRect, source, sourceRect);
    update();
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

void PictureBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(contentsRect().topLeft(), mSurface);
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
    mSurface.fill(mBackColor);
    if (!mPicture.isNull() && !mSurface.isNull()) {
        QPainter painter(&mSurface);
        painter.drawImage(0, 0, mPicture);
    }
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
    if (mSurface.size() == inner)
        return;
    const QImage previous = mSurface;
    mSurface = QImage(inner, QImage::Format_RGB32);
    Repaint();
    if (!previous.isNull() && !mSurface.isNull()) {
        QPainter painter(&mSurface);
        painter.drawImage(0, 0, previous);
    }
}

QPointF PictureBox::InnerPosition(const QPointF& position) const
{
    return position - QPointF(contentsRect().topLeft());
}
