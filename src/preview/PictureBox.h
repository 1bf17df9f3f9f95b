#pragma once

#include <QColor>
#include <QFrame>
#include <QImage>

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
    Q_PROPERTY(QColor backColor READ BackColor WRITE SetBackColor)

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

    QColor BackColor() const { return mBackColor; }
    // A new background colour repaints the box with it; what was painted is gone.
    void SetBackColor(const QColor& colour);

    int InnerWidth() const;
    int InnerHeight() const;

    // Paints sourceRect of source into targetRect (inner coordinates), stretched to fit.
    void PaintPicture(const QImage& source, const QRect& targetRect, const QRect& sourceRect);

    // What the box shows inside its border: background, picture and everything painted.
    const QImage& Surface() const { return mSurface; }

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
    void Repaint();
    void FitToPicture();
    void InnerAreaChanged();
    QPointF InnerPosition(const QPointF& position) const;

    QImage mPicture;
    QImage mSurface;
    QColor mBackColor;
    bool mAutoSize = false;
    QWidget* mClientArea = nullptr;
};
