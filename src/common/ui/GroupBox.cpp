#include "GroupBox.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionGroupBox>

GroupBox::GroupBox(QWidget* parent)
    : QGroupBox(parent)
{
}

namespace {
constexpr int TitleIndent = 8;
}

// The frame runs through the middle of the title, which stands on the background.
void GroupBox::paintEvent(QPaintEvent*)
{
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    QRect label = style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, this);
    // The frame's corner shows before the title.
    label.moveLeft(qMax(label.left(), TitleIndent));
    const QColor background = palette().color(QPalette::Window);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(rect().adjusted(0, label.center().y(), -1, -1));
    painter.fillRect(label.adjusted(-2, 0, 2, 0), background);
    style()->drawItemText(&painter, label, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, palette(),
                          isEnabled(), title(), QPalette::WindowText);
}
