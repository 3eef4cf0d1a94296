#include "key_repeat.h"

// Windows reports a held key's repeats as further key-down messages, never as releases.
bool ReleasesMayBeRepeats() {
    return false;
}
