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

// What a stop sender needs once the program itself can no longer act: whether a movement
// runs and its stop, and the frame on its way with how many of its bytes went. The line
// keeps it as the bytes go out; the program's crash handler and the guardian beside it read
// it. Plain data only: it lives in memory shared between two processes and is read from a
// signal handler, so it holds no pointers and needs no lock.
struct MovementRecord {
    static constexpr int kMaxFrame = 16;

    uint8_t running;  // a movement went out (or is going) and its stop has not
    uint8_t stopLength;
    uint8_t stop[kMaxFrame];
    uint8_t flightLength;
    // Counted just before a byte is handed to the system; while it is in the system's hands
    // (handing), whether it went is not known.
    uint8_t flightSent;
    uint8_t flight[kMaxFrame];
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

// A movement is about to go out; stop is the frame that ends it (at most kMaxFrame bytes).
void BeginMovement(MovementRecord& record, const uint8_t* stop, int length);
// A line of this kind was opened; it is the line until the next.
void LineOpened(MovementRecord& record, LineKind kind);
// Its stop is about to go out: from here on only the frame in flight is owed.
void EndMovement(MovementRecord& record);
void BeginFrame(MovementRecord& record, const uint8_t* bytes, int length);
void BeginByte(MovementRecord& record);
void ByteSent(MovementRecord& record, int64_t nowNs);
// The line did not take the byte: the frame is cut on the line and nothing of it is owed.
void ByteRefused(MovementRecord& record);
// The line did not take a byte of the stop that EndMovement let go: the camera still moves as
// far as the line knows, so the stop is owed again, whole. The stop is owed before the cut
// frame is given up: a sender in between sends the rest of it and then the whole stop.
void StopRefused(MovementRecord& record);
// A stop sender takes the line from a writer that can write no more (a crash, a kill). On a
// local line a byte that was in the writer's hands may not have gone (a kill or a signal
// before the system took it): it is owed again. Sent twice at worst, it costs the frame in
// flight one byte too many, while a byte lost would let that frame swallow the start of the
// stop; a stop in flight is owed again after it, whole. On a socket the byte in hand counts
// as gone.
void TakeOver(MovementRecord& record);

// What a stop sender owes the line: the rest of the frame in flight, then the stop while a
// movement runs. stopAt is where the stop starts in bytes (count when there is none); a
// frame pause goes before it unless it is the first byte owed after a whole frame.
struct Owed {
    uint8_t bytes[2 * MovementRecord::kMaxFrame];
    int count = 0;
    int stopAt = 0;
};
Owed OwedBytes(const MovementRecord& record);

}  // namespace MovementLog
