#pragma once

#include <QPushButton>

// The system's push button: caption, click, and a notification whenever the mouse
// moves over it. Arial 11.25 pt bold, black text on white, 27 pixels high.
// Enter and the keypad's Enter press it when it has the focus, as Space does.
class PushButton : public QPushButton {
    Q_OBJECT

public:
    explicit PushButton(QWidget* parent = nullptr);

signals:
    void MouseMove();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
