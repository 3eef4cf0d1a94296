#pragma once

#include <cstdint>

#include "serial/failsafe/movement_record.h"

// What may be done with the port next. The movement on it is the record's (MoveState, kept
// where the stop senders read it); the link's table below reads it, never writes it.
enum class LinkState : uint8_t {
    Closed,   // no port: every byte is refused
    Opening,  // an opening asked for (at start, COMMUNICATION SET) runs on a thread of its own
    Open,     // bytes go
    Held,     // the far end holds the flow (FLOWCONTROL-SUSPEND): no byte is written
    Lost,     // the line dropped: it is opened again by itself, one attempt at a time
    Closing,  // a close came while an opening or an attempt ran: what it opens is let go
};

enum class LinkEvent : uint8_t {
    OpenAsked,      // the operator's opening (start, COMMUNICATION SET) begins
    OpenedSame,     // it opened the port the record's stop is owed on
    OpenedOther,    // it opened another port: a stop owed on the old one cannot be sent
    OpenFailed,     // it, or an attempt after a drop, did not open
    AttemptOpened,  // an attempt opened the dropped line again
    CloseAsked,     // COMMUNICATION SET closes, or the run ends with nothing owed
    HandOver,       // the run ends with a stop owed that the line would not take
    LineLost,       // a write or a look found the device gone
    Suspend,        // the far end asked to hold the flow
    Resume,         // and let it go on
    Look,           // the timer's look at the open line (twice a second; often while owed)
};

// What the link does on a transition, in this order.
enum LinkAction : uint16_t {
    kNoAction = 0,
    kTellGuardOpened = 1 << 0,  // the guardian and the crash handler hold the new line too
    kForgetStop = 1 << 1,       // the stop owed was for another line's camera: let go, said
    kSendOwedStop = 1 << 2,     // the stop the record owes goes out, whole, first
    kTellGuardClosed = 1 << 3,  // the guardian lets go of the line before the device closes
    kCloseDevice = 1 << 4,
    kClosePause = 1 << 5,       // 100 ms, so that a reopen never follows at once
    kAbandonDevice = 1 << 6,    // the program lets go, the guardian keeps it and the stop
    kScheduleAttempt = 1 << 7,  // the next attempt to open the dropped line, after a pause
    kCallOffAttempts = 1 << 8,  // none scheduled any more; one under way is waited for
    kTellLineChanged = 1 << 9,  // the window shows the line dropped, or back
    kThenClose = 1 << 10,       // what opened after a close was asked is closed again
};

struct LinkStep {
    LinkState next;
    uint16_t actions;
};

// The link's transitions, as one table (line_machine.cpp). Its invariant, with the record's:
// a stop the record owes (MoveState other than Idle) is never let go on the line it is owed
// on. It goes out first as soon as that line takes bytes again: once the line is open (after
// an opening of the same port, a drop healed, an attempt that opened after a close was asked)
// whenever the record owes it; after a RESUME or at a look while the record says StopOwed.
// Letting it go is said: another port opened (kForgetStop), or the run ending with the line
// holding it (kAbandonDevice: the guardian keeps the line and sends it once the program is
// gone). A line that is down (Lost) keeps it owed for when it is back.
LinkStep StepLink(LinkState state, MoveState move, LinkEvent event);

const char* LinkStateName(LinkState state);
const char* LinkEventName(LinkEvent event);
