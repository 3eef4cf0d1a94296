#pragma once

#include <QObject>
#include <QSet>
#include <QTimer>
#include <functional>

class QKeyEvent;
class QMouseEvent;

// Turns what the operator does at the panel into actions: a left-button press on a key
// acts before the key itself sees the press, the click of a stop key and a right-button
// press anywhere stop, and the PC keys act whatever control has the focus. Nothing is
// consumed: every event goes on to the window and its controls as usual. What the input
// comes to is signalled, directly, before the event goes on.
class KeypadInput : public QObject {
    Q_OBJECT
public:
    // What the input needs to know of the panel.
    struct Queries {
        // A movement was started and has not yet been followed by a stop.
        std::function<bool()> movementActive;
        // A message box is open over the window: it has the keyboard.
        std::function<bool()> showingMessage;
        // The program's end is on its way: a repeat starts no further movement frame.
        std::function<bool()> endPending;
    };

    // window: the panel whose input this is; its numbered keys are found by their IDs.
    KeypadInput(QWidget& window, Queries queries);
    ~KeypadInput() override;

    // The window is going: no repeat may follow, and a movement whose release can no
    // longer be seen is stopped now.
    void OnWindowClosing();
    // A message box has closed: a stop owed for a key released while it had the keyboard
    // goes out now.
    void OnMessageClosed();

    // The platform virtual-key code of a PC key the panel watches, or 0.
    static int VirtualKeyOf(const QKeyEvent& event);

signals:
    // A left-button press on an enabled numbered key, before the key sees it.
    void KeyPressed(int controlId);
    // A PC key down (virtual-key code), automatic repeats included.
    void PcKeyPressed(int virtualKey);
    // A stop key's click, a right-button press, or the release of a movement's arrow key.
    void StopWanted();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool IsOwnDropDown(const QObject* watched) const;
    void OnMousePress(const QMouseEvent& event);
    void OnKeyPress(const QKeyEvent& event);
    void OnKeyRelease(const QKeyEvent& event);
    void FinishArrowRelease();
    void RunArrow(int virtualKey);
    void SendDeferredRepeat();
    void OnFocusLost();

    QWidget& window;
    Queries queries;
    QSet<int> heldArrows;           // arrow keys down whose real release has not come yet
    QSet<int> altArrows;            // arrow keys that went down with Alt, so belong to the controls
    int deferredArrow = 0;          // an auto-repeat waiting to be sent, 0 when none
    bool repeatAwaitsIdle = false;  // sent when the event loop is about to wait, not posted
    bool stopAfterMessage = false;

    // X11 sends an auto-repeat as a release and a press with the same time stamp, and Qt
    // does not always see the press in time to flag the release as a repeat. Where that
    // can happen, a real-looking release waits briefly for its twin before it stops.
    bool repeatPairsSplit = false;
    QTimer releaseTimer;
    int releasedArrow = 0;  // an arrow release waiting for its stop, 0 when none
    quint64 releaseTime = 0;
};
