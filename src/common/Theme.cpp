#include "Theme.h"

#include "Paths.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPalette>
#include <QRadioButton>
#include <QWidget>

namespace {
bool IsPlainControl(const QWidget& widget)
{
    return qobject_cast<const QRadioButton*>(&widget) || qobject_cast<const QCheckBox*>(&widget)
        || qobject_cast<const QGroupBox*>(&widget) || qobject_cast<const QLabel*>(&widget);
}

bool IsPictureBox(const QWidget& widget)
{
    return widget.property("pictureBox").toBool();
}

void ColourWindow(QWidget& window, bool withPictureBoxes)
{
    const QColor face = ButtonFaceColour();
    SetBackColor(window, face);
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (IsPlainControl(*child) || (withPictureBoxes && IsPictureBox(*child)))
            SetBackColor(*child, face);
    }
}
}

QColor ButtonFaceColour()
{
    return QApplication::palette().color(QPalette::Active, QPalette::Button);
}

QString SkinFile()
{
    return OptionalItemPath(QStringLiteral("x/o.cjs"));
}

void SetBackColor(QWidget& widget, const QColor& colour)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, colour);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

void ApplySkin(QWidget& window)
{
    const QFileInfo skin(SkinFile());
    if (!skin.isFile() || skin.isHidden())
        return;
    ColourWindow(window, true);
    QFile file(skin.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return;
    window.setStyleSheet(QString::fromUtf8(file.readAll()));
}

void ApplyTheme(QWidget& window)
{
    ColourWindow(window, false);
}
