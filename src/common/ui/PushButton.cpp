#include "PushButton.h"

#include "Theme.h"

#include <QFont>
#include <QKeyEvent>
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
    SetDesignText(palette, QPalette::ButtonText);
    setPalette(palette);
}

void PushButton::mouseMoveEvent(QMouseEvent* event)
{
    emit MouseMove();
    QPushButton::mouseMoveEvent(event);
}

void PushButton::keyPressEvent(QKeyEvent* event)
{
    // Outside a dialog a push button takes only Space; Enter is what users press as well.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (enter && plain) {
        // A held key presses once.
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}
