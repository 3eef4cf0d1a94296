#include "stop_sender.h"

#include <atomic>

#include "stop_sender_io.h"

int SendOwedBytes(intptr_t line, MovementRecord& record) {
    record.taken = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const MovementLog::Owed owed = MovementLog::OwedBytes(record);
    const auto kind = static_cast<LineKind>(record.lineKind);
    // The first byte owed keeps the pause after the last byte that went; a stop right after a
    // whole frame keeps the frame pause as well.
    int64_t notBefore = record.lastByteNs + MovementLog::kBytePauseNs +
                        (owed.stopAt == 0 ? MovementLog::kFramePauseNs : 0);
    int written = 0;
    for (int i = 0; i < owed.count; ++i) {
        if (i == owed.stopAt) {
            MovementLog::EndMovement(record);
            MovementLog::BeginFrame(record, owed.bytes + i, owed.count - i);
            if (i > 0)
                notBefore += MovementLog::kFramePauseNs;
        }
        SleepUntilNs(notBefore);
        MovementLog::BeginByte(record);
        const uint8_t wire[2] = {owed.bytes[i], owed.bytes[i]};
        const int wireCount = kind == LineKind::TelnetSocket && wire[0] == 0xFF ? 2 : 1;
        if (!WriteLineBytes(line, kind, wire, wireCount)) {
            MovementLog::ByteRefused(record);
            break;
        }
        const int64_t now = LineClockNs();
        MovementLog::ByteSent(record, now);
        notBefore = now + MovementLog::kBytePauseNs;
        ++written;
    }
    return written;
}
