#pragma once

#include <QGroupBox>

// The system's group box: a title and a one-pixel frame on the box's own background
// colour. The platform style shades the panel inside its frame, which would keep a
// white box from being white.
class GroupBox : public QGroupBox {
    Q_OBJECT

public:
    explicit GroupBox(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
