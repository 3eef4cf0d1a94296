#include "line_machine.h"

namespace {

// Letting go of an open line: the guardian first, so that its copy never holds the port.
constexpr uint16_t kLetGo = kTellGuardClosed | kCloseDevice;
constexpr uint16_t kDropped = kTellGuardClosed | kCloseDevice | kScheduleAttempt | kTellLineChanged;

// What a line that takes bytes again does with a stop owed: on a line opened or opened again,
// any stop owed goes (a movement whose key is still held included: the line it went out on
// was gone); after a RESUME or at a look, only one that went out cut or not at all, since a
// held key's stop is its release's to send.
uint16_t SendIf(bool owed) {
    return owed ? kSendOwedStop : kNoAction;
}

LinkStep FromClosed(LinkEvent event) {
    if (event == LinkEvent::OpenAsked)
        return {LinkState::Opening, kNoAction};
    return {LinkState::Closed, kNoAction};
}

LinkStep FromOpening(MoveState move, LinkEvent event) {
    const bool owed = move != MoveState::Idle;
    switch (event) {
        case LinkEvent::OpenedSame:
            return {LinkState::Open, uint16_t(kTellGuardOpened | SendIf(owed))};
        case LinkEvent::OpenedOther:
            return {LinkState::Open, uint16_t(kTellGuardOpened | (owed ? kForgetStop : 0))};
        case LinkEvent::OpenFailed:
            return {LinkState::Closed, kNoAction};
        case LinkEvent::CloseAsked:
        case LinkEvent::HandOver:
            return {LinkState::Closing, kNoAction};
        default:
            return {LinkState::Opening, kNoAction};
    }
}

LinkStep FromClosing(MoveState move, LinkEvent event) {
    const bool owed = move != MoveState::Idle;
    switch (event) {
        // What opened after the close was asked sends the stop owed there before it goes.
        case LinkEvent::OpenedSame:
        case LinkEvent::AttemptOpened:
            return {LinkState::Open, uint16_t(kTellGuardOpened | SendIf(owed) | kThenClose)};
        case LinkEvent::OpenedOther:
            return {LinkState::Closed, kCloseDevice};
        case LinkEvent::OpenFailed:
            return {LinkState::Closed, kNoAction};
        default:
            return {LinkState::Closing, kNoAction};
    }
}

LinkStep FromOpenOrHeld(LinkState state, MoveState move, LinkEvent event) {
    switch (event) {
        case LinkEvent::CloseAsked:
            return {LinkState::Closed, uint16_t(kLetGo | kClosePause)};
        case LinkEvent::HandOver:
            return {LinkState::Closed, kAbandonDevice};
        case LinkEvent::LineLost:
            return {LinkState::Lost, kDropped};
        case LinkEvent::Suspend:
            return {LinkState::Held, kNoAction};
        case LinkEvent::Resume:
            return {LinkState::Open, SendIf(move == MoveState::StopOwed)};
        case LinkEvent::Look:
            return {state, SendIf(state == LinkState::Open && move == MoveState::StopOwed)};
        default:
            return {state, kNoAction};
    }
}

LinkStep FromLost(MoveState move, LinkEvent event) {
    switch (event) {
        case LinkEvent::AttemptOpened:
            return {LinkState::Open, uint16_t(kTellGuardOpened | SendIf(move != MoveState::Idle) |
                                              kTellLineChanged)};
        case LinkEvent::OpenFailed:
            return {LinkState::Lost, kScheduleAttempt};
        // The attempt under way is waited for, and what it opens is let go (from Closing).
        case LinkEvent::CloseAsked:
        case LinkEvent::HandOver:
            return {LinkState::Closing, kCallOffAttempts};
        default:
            return {LinkState::Lost, kNoAction};
    }
}

}  // namespace

LinkStep StepLink(LinkState state, MoveState move, LinkEvent event) {
    switch (state) {
        case LinkState::Closed:
            return FromClosed(event);
        case LinkState::Opening:
            return FromOpening(move, event);
        case LinkState::Closing:
            return FromClosing(move, event);
        case LinkState::Open:
        case LinkState::Held:
            return FromOpenOrHeld(state, move, event);
        case LinkState::Lost:
            return FromLost(move, event);
    }
    return {state, kNoAction};
}

const char* LinkStateName(LinkState state) {
    static const char* const names[] = {"closed", "opening", "open", "held", "lost", "closing"};
    return names[static_cast<int>(state)];
}

const char* LinkEventName(LinkEvent event) {
    static const char* const names[] = {
        "open asked",  "opened (same port)", "opened (other port)", "open failed", "attempt opened",
        "close asked", "hand over",          "line lost",           "suspend",     "resume",
        "look"};
    return names[static_cast<int>(event)];
}
