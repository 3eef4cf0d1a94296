#pragma once

#include <QByteArray>

// What arrives over TCP, as the line's bytes: raw, or Telnet with its commands removed and
// a doubled 0xFF taken as one. The connection is Telnet when it opens with a negotiation of
// the COM-PORT-OPTION (FF FB 2C or FF FD 2C): no PELCO D frame starts so, as its command
// byte would have a reserved bit set, and OSKA-DEFAULT frames are plain ASCII.
//
// As a serial server it answers the client: it agrees to the COM-PORT-OPTION and to binary
// mode both ways, refuses every other option, and confirms each port setting the client
// asks for with the value asked.
class TelnetFilter {
public:
    QByteArray Feed(const QByteArray& bytes);
    bool isTelnet() const { return mode == Mode::Telnet; }
    // What the server owes the client for what was fed so far; emptied by the call.
    QByteArray TakeAnswers();

private:
    enum class Mode { Undecided, Raw, Telnet };
    enum class State { Data, Command, Option, Sub, SubCommand };
    QByteArray Strip(const QByteArray& bytes);
    void Answer(char verb, char option);
    void Confirm();

    Mode mode = Mode::Undecided;
    QByteArray opening;  // the first bytes, held until the mode is known
    State state = State::Data;
    char verb = 0;
    QByteArray sub;      // the sub-negotiation being read, bounded
    QByteArray answers;  // owed to the client
};
