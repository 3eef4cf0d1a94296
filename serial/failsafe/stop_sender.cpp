#include "stop_sender.h"

#include <atomic>

#include "line_timing.h"
#include "raw_io.h"
#include "telnet_escape.h"

int SendOwedBytes(intptr_t line, MovementRecord& record) {
    record.taken = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    MovementLog::TakeOver(record);
    const MovementLog::Owed owed = MovementLog::OwedBytes(record);
    const auto kind = static_cast<LineKind>(record.lineKind);
    int64_t notBefore = record.lastByteNs + owed.firstGapNs;
    int written = 0;
    for (int i = 0; i < owed.count; ++i) {
        if (i == owed.stopAt) {
            MovementLog::BeginStop(record);
            if (i > 0)
                notBefore += LineTiming::kFramePauseNs;
        }
        SleepUntilNs(notBefore);
        MovementLog::BeginByte(record);
        uint8_t wire[2];
        const int wireCount = IsTelnet(kind) ? TelnetEscape::Escape(owed.bytes + i, 1, wire,
                                                                    kind == LineKind::TelnetSocket)
                                             : (wire[0] = owed.bytes[i], 1);
        if (!WriteLineBytes(line, kind, wire, wireCount)) {
            // A stop cut short leaves its camera moving: the record owes it whole again, and
            // the next sender sends it after a cut frame's pause.
            MovementLog::ByteRefused(record);
            break;
        }
        const int64_t now = LineClockNs();
        MovementLog::ByteSent(record, now);
        notBefore = now + LineTiming::kBytePauseNs;
        ++written;
    }
    return written;
}
