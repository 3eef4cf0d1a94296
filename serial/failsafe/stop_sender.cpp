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
    // The first byte owed keeps the pause after the last byte that went; a stop right after a
    // whole frame keeps the frame pause as well.
    int64_t notBefore = record.lastByteNs + LineTiming::kBytePauseNs +
                        (owed.stopAt == 0 ? LineTiming::kFramePauseNs : 0);
    int written = 0;
    for (int i = 0; i < owed.count; ++i) {
        if (i == owed.stopAt) {
            MovementLog::EndMovement(record);
            MovementLog::BeginFrame(record, owed.bytes + i, owed.count - i);
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
            // A stop cut short leaves its camera moving: the next sender sends it whole.
            if (i >= owed.stopAt)
                MovementLog::StopRefused(record);
            else
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
