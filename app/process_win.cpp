// What the program's process is on Windows from before main() until it ends, however it
// ends: marked as running, and kept at full speed.
#include <windows.h>

#include "serial/failsafe/raw_io_win.h"

namespace {

const struct ProcessSetup {
    ProcessSetup() {
        // Windows will not replace or delete the files of a running program: the installer
        // and the uninstaller look for this mutex and refuse while it exists. It is never
        // closed; the system lets it go with the process. In the global namespace, so that
        // an installer run by another user sees it too.
        CreateMutexW(nullptr, FALSE, L"Global\\" VELMOR_RUNNING_MARK);
        KeepFullSpeed();
    }
} processSetup;

}  // namespace
