#include "crash_stop.h"

#include "serial/failsafe/raw_io.h"
#include "serial/failsafe/stop_sender.h"

void SendCrashStop(const char* how, MovementRecord& record, intptr_t line) {
    const bool moving = MovementLog::OwesStop(record);
    const int sent = line != -1 ? SendOwedBytes(line, record) : 0;
    SayOnStandardError("velmor: crashed (");
    SayOnStandardError(how);
    SayOnStandardError(moving && sent > 0 ? "): the moving camera was sent the stop.\n"
                       : moving           ? "): a camera was moving, and the line took no stop.\n"
                                          : "): no camera was moving.\n");
}
