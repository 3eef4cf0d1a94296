#pragma once

#include <cstdint>

// What the open line is, as a stop sender must write to it: a serial device, or a socket to
// a serial server, raw or Telnet (where a data byte 0xFF goes twice). A Telnet session whose
// sending side is not in binary mode also sends a CR as CR NUL.
enum class LineKind : uint8_t { Serial, Socket, TelnetSocket, TelnetTextSocket };

// Whether bytes on a line of this kind go through Telnet's escaping, and in binary mode.
constexpr bool IsTelnet(LineKind kind) {
    return kind == LineKind::TelnetSocket || kind == LineKind::TelnetTextSocket;
}

// What the record says of the movement on the line. The promise it keeps: from the moment a
// movement frame is about to reach the line until a whole stop for that camera has, the record
// owes that stop, so that whoever acts next (the line, the end of the run, the crash handler,
// the guardian) sends it, whole, first.
enum class MoveState : uint8_t {
    Idle,          // no stop owed; at most the rest of a frame in flight
    Moving,        // a movement frame went out (or is going): its stop is owed
    StopInFlight,  // the stop is the frame in flight: the rest of it is owed
    StopOwed,      // the stop did not go out whole: it is owed again, whole
};

// Whether a record in this state owes a whole stop after the frame in flight.
constexpr bool OwesWholeStop(MoveState state) {
    return state == MoveState::Moving || state == MoveState::StopOwed;
}

// What a stop sender needs once the program itself can no longer act: the movement's state
// and its stop, and the frame on its way with how many of its bytes went. The line keeps it
// as the bytes go out; the program's crash handler and the guardian beside it read it. Plain
// data only: it lives in memory shared between two processes and is read from a signal
// handler, so it holds no pointers and needs no lock.
struct MovementRecord {
    static constexpr int kMaxFrame = 16;

    uint8_t state;  // a MoveState
    uint8_t stopLength;
    uint8_t stop[kMaxFrame];
    uint8_t flightLength;
    // Counted just before a byte is handed to the system; while it is in the system's hands
    // (handing), whether it went is not known.
    uint8_t flightSent;
    uint8_t flight[kMaxFrame];
    // The last frame was cut short on the line: a receiver must have dropped what it got of
    // it before the next frame starts (LineTiming::kCutFramePauseMs). Cleared by a byte sent.
    uint8_t cut;
    uint8_t taken;       // a stop sender has the line: the program writes nothing more
    uint8_t lineKind;    // a LineKind: the line last opened
    int64_t lastByteNs;  // monotonic clock, when the last byte was handed over
    // Set from BeginByte until ByteSent or ByteRefused: a byte is in the system's hands, and
    // whether it went is known only once the write returns. A crash on another thread
    // holds the line's thread only where this is clear.
    uint8_t handing;
};

// The record's rules, kept in one place for the line and for the stop senders. Each store
// is ordered for a handler that interrupts the thread that makes it.
namespace MovementLog {

MoveState State(const MovementRecord& record);
// The record owes a stop, in flight or whole: a camera may be moving.
inline bool OwesStop(const MovementRecord& record) {
    return State(record) != MoveState::Idle;
}
// The stop the record owes is stop (at most kMaxFrame bytes).
bool Owes(const MovementRecord& record, const uint8_t* stop, int length);

// A movement whose stop is stop is about to go out. A stop still owed is kept until then: it
// is this one (the caller sends a stop owed to another camera first).
void BeginMovement(MovementRecord& record, const uint8_t* stop, int length);
// The movement frame did not reach the line at all (its first byte was refused): the record
// owes again what it owed before, before.
void UndoMovement(MovementRecord& record, MoveState before);
// The stop the record owes becomes the frame in flight: from here on the rest of it is owed.
void BeginStop(MovementRecord& record);
// Any other frame is about to go out.
void BeginFrame(MovementRecord& record, const uint8_t* bytes, int length);
void BeginByte(MovementRecord& record);
// The byte in hand went. The last byte of a stop ends what the record owes.
void ByteSent(MovementRecord& record, int64_t nowNs);
// The line did not take the byte in hand: the frame is cut there and nothing more of it is
// owed. A stop cut short is owed again, whole: marked owed before the cut frame is given up,
// so that a sender in between sends the rest of it and then the whole stop.
void ByteRefused(MovementRecord& record);
// The stop owed is let go: the line it was owed on is not the line any more.
void ForgetStop(MovementRecord& record);
// A line of this kind was opened; it is the line until the next.
void LineOpened(MovementRecord& record, LineKind kind);
// A stop sender takes the line from a writer that can write no more (a crash, a kill). On a
// local line a byte that was in the writer's hands may not have gone (a kill or a signal
// before the system took it): it is owed again. Sent twice at worst, it costs the frame in
// flight one byte too many, while a byte lost would let that frame swallow the start of the
// stop; a stop in flight is owed again after it, whole. On a socket the byte in hand counts
// as gone.
void TakeOver(MovementRecord& record);

// What a stop sender owes the line: the rest of the frame in flight, then the stop while the
// record owes one whole. stopAt is where that stop starts in bytes (count when there is none).
// firstGapNs is how long after the last byte the first byte owed may go: a byte's pause
// within a frame begun, a frame's pause before a new frame, or, after a frame cut short, the
// time a receiver takes to drop it; a frame pause goes between the rest and the stop.
struct Owed {
    uint8_t bytes[2 * MovementRecord::kMaxFrame];
    int count = 0;
    int stopAt = 0;
    int64_t firstGapNs = 0;
};
Owed OwedBytes(const MovementRecord& record);

}  // namespace MovementLog
