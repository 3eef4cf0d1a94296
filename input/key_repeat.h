#pragma once

// Whether the platform may report a held key's automatic repeats as release/press pairs,
// so that a release is not known to be real until the press that may follow it has had
// its chance to arrive. On X11 the program first asks the server to send repeats as
// presses alone (XKB's detectable auto-repeat); only a server that refuses leaves the pairs.
bool ReleasesMayBeRepeats();

// Whether the window gets posted events before the platform's input that came with them, so
// that a repeat posted behind a held key's press would go out ahead of its release already
// taken in. There a repeat waits until the event loop has handled all the input there is.
bool PostedEventsPassInput();
