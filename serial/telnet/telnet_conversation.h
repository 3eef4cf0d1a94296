#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

#include "telnet_com_port.h"

// The client's side of a line to an RFC 2217 serial server, from the connection's first byte
// to its end, as one machine. Its caller feeds it events (the connection stands, bytes came,
// a phase's time ran out, the connection ended) and carries out its actions (send bytes at
// once, start a phase's clock); it does no I/O and reads no clock.
//
//   state       Start             Received (answers owed go out)     TimeUp            Ended
//   Idle        Offering: offers  -                                  -                 Ended
//   Offering    -                 all offers answered: the option    option agreed:    Ended
//                                 agreed: Setting (settings), else   Setting, else
//                                 Refused                            Refused
//   Setting     -                 a value confirmed otherwise:       Refused           Ended
//                                 Refused; all confirmed: Open/Held
//   Open, Held  -                 SUSPEND: Held, RESUME: Open        -                 Ended
//   Refused and Ended are final: no event leaves them, and nothing more is sent.
//
// Open and Held are reached only once every setting that must be confirmed was, each as
// asked. From there, the conversation is Held exactly while the server's last flow-control
// word was FLOWCONTROL-SUSPEND: no data byte may go then.
class TelnetConversation {
public:
    enum class State { Idle, Offering, Setting, Open, Held, Refused, Ended };
    enum class Event { Start, Received, TimeUp, Ended };
    struct Actions {
        QByteArray send;          // to go out at once, whole, before any data byte
        bool startClock = false;  // a phase began: it has kAnswerMs from now
    };

    // What each phase (the answers to the offers, the confirmation of the settings) may take.
    static constexpr int kAnswerMs = 1500;

    TelnetConversation() = default;
    // server names the server for the operator ("192.168.1.50:4001"); baud is the far
    // port's rate.
    TelnetConversation(const QString& server, uint32_t baud) : server(server), baud(baud) {}

    // data and count: the bytes of a Received event.
    Actions Handle(Event event, const char* data = nullptr, int count = 0);

    State Current() const { return state; }
    // The opening is under way: the caller waits for bytes or the phase's end.
    bool Opening() const { return state == State::Offering || state == State::Setting; }
    // Why the server's port cannot be set, in Refused ("192.168.1.50:4001 refused the
    // COM-PORT-OPTION, so it cannot set its port to 9600 baud").
    QString Refusal() const { return refusal; }
    // What the server agreed to.
    const TelnetComPort& Options() const { return options; }

private:
    void AfterBytes(Actions& actions);
    // The offers were all answered, or their time is up: the far port is set, or cannot be.
    void OffersSettled(Actions& actions);
    void SetFarPort(Actions& actions);
    void Refuse(const QString& why);

    State state = State::Idle;
    TelnetComPort options;
    QString server;
    uint32_t baud = 0;
    QString refusal;
};
