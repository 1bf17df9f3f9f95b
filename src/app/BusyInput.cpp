#include "BusyInput.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace {
bool IsUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}
}

BusyInput::BusyInput(QWidget& window) : mWindow(window) {}

BusyInput::Busy::Busy(BusyInput& input) : mInput(input)
{
    mInput.Begin();
}

BusyInput::Busy::~Busy()
{
    mInput.EndAfterQueued();
}

void BusyInput::Begin()
{
    ++mSpell;
    if (!mDiscarding)
        QCoreApplication::instance()->installEventFilter(this);
    mDiscarding = true;
}

void BusyInput::EndAfterQueued()
{
    // Input that arrived while the loop was blocked is read from the window system in the
    // loop's next pass, after the events posted before it: the first hop runs ahead of
    // that input, the second after it has been delivered.
    const int spell = mSpell;
    QTimer::singleShot(0, this, [this, spell] {
        QTimer::singleShot(0, this, [this, spell] {
            if (spell != mSpell || !mDiscarding)
                return;
            QCoreApplication::instance()->removeEventFilter(this);
            mDiscarding = false;
        });
    });
}

bool BusyInput::eventFilter(QObject* watched, QEvent* event)
{
    if (!IsUserInput(event->type()))
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    return widget && widget->window() == &mWindow;
}
