#pragma once

#include <cstdint>

#include "movement_record.h"

// The platform's raw calls that a stop sender needs, each safe in a crashed process and in
// a signal handler: no allocation, no lock, no Qt.

// The clock of the record's times, the same in every process of the machine.
int64_t LineClockNs();
// Sleeps until the line clock reads ns; returns at once when it is past.
void SleepUntilNs(int64_t ns);

// Writes count bytes (one data byte as the line carries it), waiting at most the longest
// per-byte time-out for room on the line; false unless all of them went.
bool WriteLineBytes(intptr_t line, LineKind kind, const uint8_t* bytes, int count);

// Ends a network line without losing what was sent on it: nothing more is sent, what the
// server sends is read and dropped (unread input would turn the close into a reset that
// throws away the bytes still queued), and the socket is closed once the server has taken
// every byte or timeoutMs has passed.
void CloseSocketGently(intptr_t socket, int timeoutMs);
// As CloseSocketGently, for the last sender on a connection: it also waits, within
// timeoutMs in all, for the server to close its side, which it does only once it has read
// up to the end, the last byte included. No input is left unread at the close, so the
// close never turns into a reset.
void CloseSocketAfterServer(intptr_t socket, int timeoutMs);

// While one lives, the thread that made it has a byte in the system's hands: a crash handler
// that interrupted the write could not tell whether the byte went. Nothing is blocked: a
// fault the thread causes itself, and its own abort(), reach the crash handler at once (the
// record's handing byte marks that byte in doubt). A crash signal sent from outside
// (kill -SEGV) that lands on the thread meanwhile is deferred by the crash handler (Defer)
// and raised again by the hold's end, once the record knows whether the byte went. A crash
// on another thread holds this one only where no byte is in hand. Held by the line's writer
// around the write alone. Nothing to hold on Windows, which has no signals.
class ByteInHandHold {
public:
    ByteInHandHold();
    ~ByteInHandHold();
    ByteInHandHold(const ByteInHandHold&) = delete;
    ByteInHandHold& operator=(const ByteInHandHold&) = delete;

    // For the crash handler, on the thread the signal landed on: while that thread holds a
    // byte in hand, notes signalNumber for the hold's end to raise again and returns true
    // (the handler then puts itself back and returns); false at once otherwise.
    static bool Defer(int signalNumber);
};

// One line of text on standard error, when there is one.
void SayOnStandardError(const char* text);
