#include "Theme.h"

#include "files/Paths.h"

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
// The text colours the original platform shows on its windows by default.
const QColor DesignText(0x00, 0x00, 0x00);
const QColor DesignDisabledText(0x6D, 0x6D, 0x6D);

bool IsPlainControl(const QWidget& widget)
{
    return qobject_cast<const QRadioButton*>(&widget) || qobject_cast<const QCheckBox*>(&widget)
        || qobject_cast<const QGroupBox*>(&widget) || qobject_cast<const QLabel*>(&widget);
}

bool IsPictureBox(const QWidget& widget)
{
    return widget.property("pictureBox").toBool();
}

// The theme's button face, with the theme's text on it (replacing a text colour of the design).
void SetButtonFace(QWidget& widget)
{
    QPalette palette = widget.palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::WindowText, QApplication::palette().color(group, QPalette::ButtonText));
    widget.setPalette(palette);
    SetBackColour(widget, ButtonFaceColour());
}

void ColourWindow(QWidget& window, bool withPictureBoxes)
{
    SetButtonFace(window);
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (IsPlainControl(*child) || (withPictureBoxes && IsPictureBox(*child)))
            SetButtonFace(*child);
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

void SetBackColour(QWidget& widget, const QColor& colour)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, colour);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

void SetDesignText(QPalette& palette, QPalette::ColorRole role)
{
    palette.setColor(QPalette::Active, role, DesignText);
    palette.setColor(QPalette::Inactive, role, DesignText);
    palette.setColor(QPalette::Disabled, role, DesignDisabledText);
}

void SetDesignBackColour(QWidget& widget, const QColor& colour)
{
    QPalette palette = widget.palette();
    SetDesignText(palette, QPalette::WindowText);
    widget.setPalette(palette);
    SetBackColour(widget, colour);
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
