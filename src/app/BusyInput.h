#pragma once

#include <QObject>

class QWidget;

// Drops the user's input to one window while that window's thread is busy. A task that
// blocks the event loop (a generation run) leaves the clicks and keys given meanwhile
// queued in the window system; delivered afterwards, they would act on a window that no
// longer shows what the user clicked on: a second run from a double-click, or a Clear
// that wipes the data of the letter being shown.
class BusyInput : public QObject {
public:
    explicit BusyInput(QWidget& window);

    // While a Busy lives, input to the window and its controls is dropped; once it ends,
    // input is taken again as soon as what was queued until then has been delivered
    // (and dropped). Input to other windows (an error report, the preview) passes.
    class Busy {
    public:
        explicit Busy(BusyInput& input);
        ~Busy();
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;

    private:
        BusyInput& mInput;
    };

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Begin();
    void EndAfterQueued();

    QWidget& mWindow;
    bool mDiscarding = false;
    // Bumped by every Begin, so that the end of an earlier busy spell cannot cut a later one short.
    int mSpell = 0;
};
