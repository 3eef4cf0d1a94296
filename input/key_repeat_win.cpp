#include "key_repeat.h"

// Windows reports a held key's repeats as further key-down messages, never as releases.
bool ReleasesMayBeRepeats() {
    return false;
}

// Qt on Windows sends the posted events first and the input taken in from the system's queue
// after them, each time round the event loop. A release taken in while a frame went out thus
// waited behind the repeat posted for the press before it, and the stop behind one more frame:
// under Wine, whose X events reach the queue only once it is empty, about every other time.
bool PostedEventsPassInput() {
    return true;
}
