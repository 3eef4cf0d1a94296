#include "movement_record.h"

#include <atomic>

namespace MovementLog {

namespace {

// The handler that reads the record runs on the thread that writes it, between any two of
// its instructions: each field must be in memory before the next one changes.
void Fence() {
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

uint8_t Clamped(int length) {
    return uint8_t(length < 0                           ? 0
                   : length > MovementRecord::kMaxFrame ? MovementRecord::kMaxFrame
                                                        : length);
}

bool FlightIsStop(const MovementRecord& record) {
    if (record.flightLength != record.stopLength)
        return false;
    for (int i = 0; i < Clamped(record.stopLength); ++i)
        if (record.flight[i] != record.stop[i])
            return false;
    return true;
}

}  // namespace

void BeginMovement(MovementRecord& record, const uint8_t* stop, int length) {
    // The stop is written while running is clear, or before a new one replaces it whole.
    record.running = 0;
    Fence();
    record.stopLength = Clamped(length);
    for (int i = 0; i < record.stopLength; ++i) record.stop[i] = stop[i];
    Fence();
    record.running = 1;
    Fence();
}

void LineOpened(MovementRecord& record, LineKind kind) {
    record.lineKind = static_cast<uint8_t>(kind);
    Fence();
}

void EndMovement(MovementRecord& record) {
    record.running = 0;
    Fence();
}

void BeginFrame(MovementRecord& record, const uint8_t* bytes, int length) {
    record.flightLength = 0;
    Fence();
    record.flightSent = 0;
    const uint8_t clamped = Clamped(length);
    for (int i = 0; i < clamped; ++i) record.flight[i] = bytes[i];
    Fence();
    record.flightLength = clamped;
    Fence();
}

void BeginByte(MovementRecord& record) {
    record.handing = 1;
    Fence();
    if (record.flightSent < record.flightLength)
        ++record.flightSent;
    Fence();
}

void ByteSent(MovementRecord& record, int64_t nowNs) {
    record.lastByteNs = nowNs;
    Fence();
    record.handing = 0;
    Fence();
}

void ByteRefused(MovementRecord& record) {
    if (record.flightSent > 0)
        --record.flightSent;
    Fence();
    record.flightLength = record.flightSent;
    Fence();
    record.handing = 0;
    Fence();
}

void TakeOver(MovementRecord& record) {
    if (!record.handing)
        return;
    // A terminal's write gives up on a pending kill before it takes the byte, so a local
    // line's byte in hand most likely did not go. A socket's send of one byte is taken whole
    // or not begun, and the kill lands far more often after it than in the few instructions
    // before it: sent again there, it would cost the frame in flight a byte too many.
    if (record.flightSent > 0 && static_cast<LineKind>(record.lineKind) == LineKind::Serial) {
        --record.flightSent;
        Fence();
        // Should the byte have gone after all, a stop in flight reaches the camera with one
        // byte twice, which it does not take for a stop: the stop is owed again after it.
        if (!record.running && FlightIsStop(record))
            record.running = 1;
    }
    Fence();
    record.handing = 0;
    Fence();
}

void StopRefused(MovementRecord& record) {
    // EndMovement left the stop's bytes as they were.
    record.running = 1;
    Fence();
    ByteRefused(record);
}

Owed OwedBytes(const MovementRecord& record) {
    Owed owed;
    const int length = Clamped(record.flightLength);
    for (int i = record.flightSent; i < length; ++i) owed.bytes[owed.count++] = record.flight[i];
    owed.stopAt = owed.count;
    if (record.running) {
        for (int i = 0; i < Clamped(record.stopLength); ++i)
            owed.bytes[owed.count++] = record.stop[i];
    }
    return owed;
}

}  // namespace MovementLog
