#include "PushButton.h"

#include <QFont>
#include <QPalette>

PushButton::PushButton(QWidget* parent)
    : QPushButton(parent)
{
    setMouseTracking(true);
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(11.25);
    font.setBold(true);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Button, Qt::white);
    setPalette(palette);
}

void PushButton::mouseMoveEvent(QMouseEvent* event)
{
    emit MouseMove();
    QPushButton::mouseMoveEvent(event);
}
