#include "movement_record.h"

#include <atomic>

#include "line_timing.h"

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

void SetState(MovementRecord& record, MoveState state) {
    record.state = static_cast<uint8_t>(state);
    Fence();
}

bool FlightIsStop(const MovementRecord& record) {
    return Owes(record, record.flight, record.flightLength);
}

}  // namespace

MoveState State(const MovementRecord& record) {
    return static_cast<MoveState>(record.state);
}

bool Owes(const MovementRecord& record, const uint8_t* stop, int length) {
    if (record.stopLength != Clamped(length))
        return false;
    for (int i = 0; i < record.stopLength; ++i)
        if (record.stop[i] != stop[i])
            return false;
    return true;
}

void BeginMovement(MovementRecord& record, const uint8_t* stop, int length) {
    // A stop still owed is this one: it stays owed without a break.
    if (OwesWholeStop(State(record)) && Owes(record, stop, length)) {
        SetState(record, MoveState::Moving);
        return;
    }
    // The stop is written while nothing reads it, then owed.
    SetState(record, MoveState::Idle);
    record.stopLength = Clamped(length);
    for (int i = 0; i < record.stopLength; ++i) record.stop[i] = stop[i];
    Fence();
    SetState(record, MoveState::Moving);
}

void UndoMovement(MovementRecord& record, MoveState before) {
    SetState(record, OwesWholeStop(before) ? before : MoveState::Idle);
}

void BeginStop(MovementRecord& record) {
    // While the flight changes, the stop is still owed whole; once the flight holds it, the
    // rest of the flight is what is owed.
    BeginFrame(record, record.stop, record.stopLength);
    SetState(record, MoveState::StopInFlight);
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
    record.cut = 0;
    Fence();
    if (State(record) == MoveState::StopInFlight && record.flightSent >= record.flightLength)
        SetState(record, MoveState::Idle);
    record.handing = 0;
    Fence();
}

void ByteRefused(MovementRecord& record) {
    if (State(record) == MoveState::StopInFlight)
        SetState(record, MoveState::StopOwed);
    if (record.flightSent > 0)
        --record.flightSent;
    Fence();
    record.flightLength = record.flightSent;
    record.cut = record.flightSent > 0 ? 1 : record.cut;
    Fence();
    record.handing = 0;
    Fence();
}

void ForgetStop(MovementRecord& record) {
    SetState(record, MoveState::Idle);
}

void LineOpened(MovementRecord& record, LineKind kind) {
    record.lineKind = static_cast<uint8_t>(kind);
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
        if (State(record) == MoveState::StopInFlight && FlightIsStop(record))
            SetState(record, MoveState::StopOwed);
    }
    Fence();
    record.handing = 0;
    Fence();
}

Owed OwedBytes(const MovementRecord& record) {
    Owed owed;
    const int length = Clamped(record.flightLength);
    const bool begun = record.flightSent > 0 && record.flightSent < length;
    for (int i = record.flightSent; i < length; ++i) owed.bytes[owed.count++] = record.flight[i];
    owed.stopAt = owed.count;
    if (OwesWholeStop(State(record))) {
        for (int i = 0; i < Clamped(record.stopLength); ++i)
            owed.bytes[owed.count++] = record.stop[i];
    }
    owed.firstGapNs = begun        ? LineTiming::kBytePauseNs
                      : record.cut ? LineTiming::kCutFramePauseNs
                                   : LineTiming::kBytePauseNs + LineTiming::kFramePauseNs;
    return owed;
}

}  // namespace MovementLog
