#pragma once

#include <QColor>
#include <QFrame>
#include <QImage>

#include <optional>

class QPainter;

// A picture box: shows an optional picture at the top-left corner of its inner area
// and keeps whatever is painted onto it (the drawing surface persists; nothing is lost
// when the window is covered). It has a one-pixel flat border or none: the widget's
// size is the outer size, the inner size is two pixels less with the border. With
// auto-size on it takes the size of its picture. Mouse events are reported in inner
// coordinates (origin at the top-left inner corner).
class PictureBox : public QFrame {
    Q_OBJECT
    Q_PROPERTY(bool border READ HasBorder WRITE SetBorder)
    Q_PROPERTY(bool autoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(QColor backColour READ BackColour WRITE SetBackColour)

public:
    explicit PictureBox(QWidget* parent = nullptr);

    const QImage& Picture() const { return mPicture; }
    // Shows picture on the background colour; what was painted before is gone.
    void SetPicture(const QImage& picture);
    // Removes the picture and everything painted; only the background colour remains.
    void ClearPicture();

    bool HasBorder() const;
    void SetBorder(bool border);

    bool AutoSize() const { return mAutoSize; }
    void SetAutoSize(bool autoSize);

    QColor BackColour() const { return mBackColour; }
    // A new background colour repaints the box with it; what was painted is gone.
    void SetBackColour(const QColor& colour);

    int InnerWidth() const;
    int InnerHeight() const;

    // Paints sourceRect of source into targetRect (inner coordinates), stretched to fit.
    void PaintPicture(const QImage& source, const QRect& targetRect, const QRect& sourceRect);

    // What the box shows inside its border: background, picture and everything painted.
    const QImage& Surface() const;

    // The inner area as a container: widgets placed in it are positioned in inner
    // coordinates and clipped at the border.
    QWidget& ClientArea();

signals:
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, float x, float y);
    void MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, float x, float y);
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, float x, float y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // A picture painted stretched, kept as the painting itself; clip is the part of the
    // surface it was painted on.
    struct Stretched {
        QImage source;
        QRect target;
        QRect sourceRect;
        QRect clip;
    };

    void Repaint();
    void FitToPicture();
    void InnerAreaChanged();
    void MakeSurface() const;
    void DrawSurface(QPainter& painter) const;
    QPointF InnerPosition(const QPointF& position) const;

    QImage mPicture;
    // The surface is kept as what makes it (background, picture, at most one stretched
    // painting) until its pixels are needed or it is painted on again; a zoomed page then
    // costs only the part the window shows. mSurface holds the pixels once they are made.
    QSize mSurfaceSize;
    std::optional<Stretched> mStretched;
    mutable QImage mSurface;
    mutable bool mSurfaceMade = false;
    QColor mBackColour;
    bool mAutoSize = false;
    QWidget* mClientArea = nullptr;
};
