#include "keypad_input.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QWindow>

#include "dialog/dialog_template.h"
#include "key_repeat.h"
#include "protocol/command_set.h"
#include "protocol/control_ids.h"

namespace {

// How long a release waits for the press of an auto-repeat pair. The two leave the X
// server together, so the press follows within a millisecond; this stays well inside
// one frame time, which bounds how late a stop may come.
constexpr int kRepeatPairGraceMs = 3;

}  // namespace

KeypadInput::KeypadInput(QWidget& window, Queries queries)
    : window(window), queries(std::move(queries)) {
    qApp->installEventFilter(this);
    repeatPairsSplit = ReleasesMayBeRepeats();
    // A repeat goes out when the event loop is about to wait, with every release the system
    // held already seen; it only collapses further repeats meanwhile.
    repeatAwaitsIdle = PostedEventsPassInput();
    if (repeatAwaitsIdle)
        connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
                &KeypadInput::SendDeferredRepeat);
    releaseTimer.setSingleShot(true);
    connect(&releaseTimer, &QTimer::timeout, this, &KeypadInput::FinishArrowRelease);
    for (QPushButton* key : window.findChildren<QPushButton*>()) {
        if (CommandSet::IsStopKey(ControlIdOf(key)))
            connect(key, &QPushButton::clicked, this, &KeypadInput::StopWanted);
    }
}

KeypadInput::~KeypadInput() {
    qApp->removeEventFilter(this);
}

bool KeypadInput::eventFilter(QObject* watched, QEvent* event) {
    // Input is looked at where the platform hands it to the window, once per event and
    // before any control of the window has seen it. Input still queued for a window that
    // has closed acts no more.
    if (!window.isVisible())
        return false;
    if (watched != window.windowHandle()) {
        // While a combo box's list is dropped down, the keys go to the list's window.
        if (IsOwnDropDown(watched) &&
            (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
            if (event->type() == QEvent::KeyPress)
                OnKeyPress(*static_cast<QKeyEvent*>(event));
            else
                OnKeyRelease(*static_cast<QKeyEvent*>(event));
        }
        return false;
    }
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            OnMousePress(*static_cast<QMouseEvent*>(event));
            break;
        case QEvent::KeyPress:
            OnKeyPress(*static_cast<QKeyEvent*>(event));
            break;
        case QEvent::KeyRelease:
            OnKeyRelease(*static_cast<QKeyEvent*>(event));
            break;
        case QEvent::FocusOut:
            OnFocusLost();
            break;
        default:
            break;
    }
    return false;
}

bool KeypadInput::IsOwnDropDown(const QObject* watched) const {
    const QWidget* popup = QApplication::activePopupWidget();
    if (!popup || popup->windowHandle() != watched)
        return false;
    for (const QWidget* w = popup->parentWidget(); w; w = w->parentWidget()) {
        if (w == &window)
            return true;
    }
    return false;
}

void KeypadInput::OnMousePress(const QMouseEvent& event) {
    // A press that only closes an open drop-down list does nothing else.
    if (QApplication::activePopupWidget())
        return;
    if (releasedArrow)
        FinishArrowRelease();
    if (event.button() == Qt::RightButton) {
        emit StopWanted();
        return;
    }
    if (event.button() != Qt::LeftButton)
        return;
    auto* key = qobject_cast<QPushButton*>(window.childAt(event.position().toPoint()));
    const int id = ControlIdOf(key);
    if (key && id != -1 && key->isEnabled())
        emit KeyPressed(id);
}

int KeypadInput::VirtualKeyOf(const QKeyEvent& event) {
    const bool keypad = event.modifiers().testFlag(Qt::KeypadModifier);
    switch (event.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return VirtualKey::Enter;
        case Qt::Key_Left:
            return VirtualKey::Left;
        case Qt::Key_Up:
            return VirtualKey::Up;
        case Qt::Key_Right:
            return VirtualKey::Right;
        case Qt::Key_Down:
            return VirtualKey::Down;
        case Qt::Key_Delete:
            return VirtualKey::Delete;
        default:
            break;
    }
    if (event.key() >= Qt::Key_0 && event.key() <= Qt::Key_9)
        return (keypad ? VirtualKey::Numpad0 : VirtualKey::Digit0) + (event.key() - Qt::Key_0);
    // With Shift held the digit row reports its symbols; the key is still a digit key.
    // On X11 the digit row is keycodes 10 ('1') to 19 ('0') whatever the layout.
    const quint32 scanCode = event.nativeScanCode();
    if (!keypad && QGuiApplication::platformName() == QLatin1String("xcb") && scanCode >= 10 &&
        scanCode <= 19)
        return VirtualKey::Digit0 + static_cast<int>((scanCode - 9) % 10);
    return 0;
}

void KeypadInput::OnKeyPress(const QKeyEvent& event) {
    const int vk = VirtualKeyOf(event);
    bool autoRepeat = event.isAutoRepeat();
    if (releasedArrow) {
        if (vk == releasedArrow && event.timestamp() == releaseTime) {
            // The release was the first half of an auto-repeat pair: the key is still down.
            releaseTimer.stop();
            releasedArrow = 0;
            autoRepeat = true;
        } else if (vk != 0) {
            FinishArrowRelease();
        }
    }
    // Combinations with Alt are system keys: they belong to the controls (Alt+Down opens
    // a combo box's list), not to the panel.
    if (event.modifiers().testFlag(Qt::AltModifier)) {
        if (CommandSet::IsArrowKey(vk) && !heldArrows.contains(vk))
            altArrows.insert(vk);
        return;
    }
    if (CommandSet::IsArrowKey(vk)) {
        altArrows.remove(vk);
        // Another press of a key that is down and was never released is a repeat, however
        // the platform flags it (X11's detectable repeats come unflagged).
        autoRepeat = autoRepeat || heldArrows.contains(vk);
        heldArrows.insert(vk);
        if (!autoRepeat) {
            RunArrow(vk);
        } else if (deferredArrow == 0) {
            // Repeats that piled up while a frame was going out collapse into one send,
            // after the events already waiting, so a release among them is seen first
            // and the stop follows the real release within one frame time.
            deferredArrow = vk;
            if (!repeatAwaitsIdle)
                QMetaObject::invokeMethod(this, &KeypadInput::SendDeferredRepeat,
                                          Qt::QueuedConnection);
        } else {
            deferredArrow = vk;
        }
    } else if (vk != 0) {
        emit PcKeyPressed(vk);
    }
}

void KeypadInput::OnKeyRelease(const QKeyEvent& event) {
    // X11 reports a held key as release/press pairs flagged as repeats; only the real
    // release ends the movement.
    if (event.isAutoRepeat())
        return;
    const int vk = VirtualKeyOf(event);
    if (!CommandSet::IsArrowKey(vk))
        return;
    // The release of an Alt combination stops only a movement that its key started
    // before Alt went down, also when Alt went up first.
    if (altArrows.remove(vk) && !heldArrows.contains(vk))
        return;
    if (releasedArrow)
        FinishArrowRelease();
    releasedArrow = vk;
    if (repeatPairsSplit) {
        releaseTime = event.timestamp();
        releaseTimer.start(kRepeatPairGraceMs);
    } else {
        FinishArrowRelease();
    }
}

void KeypadInput::FinishArrowRelease() {
    releaseTimer.stop();
    const int vk = releasedArrow;
    releasedArrow = 0;
    heldArrows.remove(vk);
    deferredArrow = 0;
    emit StopWanted();
}

void KeypadInput::RunArrow(int virtualKey) {
    emit PcKeyPressed(virtualKey);
}

void KeypadInput::SendDeferredRepeat() {
    const int vk = deferredArrow;
    deferredArrow = 0;
    if (vk != 0 && vk != releasedArrow && heldArrows.contains(vk) && window.isVisible() &&
        !queries.endPending())
        RunArrow(vk);
}

void KeypadInput::OnFocusLost() {
    if (releasedArrow) {
        FinishArrowRelease();
        return;
    }
    // The key-up of an arrow held while the window loses the keyboard will never come
    // here: stop now.
    if (heldArrows.isEmpty())
        return;
    heldArrows.clear();
    deferredArrow = 0;
    if (queries.showingMessage())
        stopAfterMessage = true;
    else
        emit StopWanted();
}

void KeypadInput::OnWindowClosing() {
    if (releasedArrow)
        FinishArrowRelease();
    heldArrows.clear();
    deferredArrow = 0;
    stopAfterMessage = false;
    if (queries.movementActive())
        emit StopWanted();
}

void KeypadInput::OnMessageClosed() {
    if (!stopAfterMessage)
        return;
    stopAfterMessage = false;
    emit StopWanted();
}
