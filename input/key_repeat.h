#pragma once

// Whether the platform may report a held key's automatic repeats as release/press pairs,
// so that a release is not known to be real until the press that may follow it has had
// its chance to arrive. On X11 the program first asks the server to send repeats as
// presses alone (XKB's detectable auto-repeat); only a server that refuses leaves the pairs.
bool ReleasesMayBeRepeats();
