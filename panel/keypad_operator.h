#pragma once

// What the operator's input is turned into, as the keypad input hands it on.
class KeypadOperator {
public:
    virtual ~KeypadOperator() = default;
    // A left-button press on an enabled numbered key, before the key sees it.
    virtual void PressKey(int controlId) = 0;
    // A PC key down (virtual-key code), automatic repeats included.
    virtual void PressPcKey(int virtualKey) = 0;
    virtual void SendStop() = 0;
    virtual bool MovementActive() const = 0;
    // A message box is open over the window: it has the keyboard.
    virtual bool ShowingMessage() const = 0;
    // The program's end is on its way: a repeat starts no further movement frame.
    virtual bool EndPending() const = 0;
};
