#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <cstdint>

// The options of a Telnet session with the COM-PORT-OPTION, on the client's side, as far as
// a line that only writes needs them: the offers (the option, binary mode both ways), the far
// port's settings (baud, 8 data bits, no parity, 1 stop bit, no flow control, DTR and RTS on),
// and a reader of what the server sends that keeps its answers, refuses once each request it
// does not support and checks the values the server confirms. What the server sends is
// bounded: a sub-negotiation that never ends is given up, data and unknown commands are
// dropped. TelnetConversation says when each of these is due.
class TelnetComPort {
public:
    enum class Answer { Pending, Yes, No };

    // Sent first, once the connection stands: WILL COM-PORT-OPTION, WILL and DO BINARY.
    QByteArray Offers();
    // Sent once the server has agreed to the option: the far port's settings.
    QByteArray Settings(uint32_t baud);
    // Reads what the server sent; returns the answers owed to it, to be sent at once.
    QByteArray Feed(const char* data, int count);

    Answer ComPort() const { return comPort; }
    // Whether the client sends in binary mode (the server said DO BINARY).
    Answer BinaryOut() const { return binaryOut; }
    Answer BinaryIn() const { return binaryIn; }
    bool OffersAnswered() const {
        return comPort != Answer::Pending && binaryOut != Answer::Pending &&
               binaryIn != Answer::Pending;
    }
    // Every setting that must be confirmed was, each as asked: the rate, the data bits,
    // parity, stop bits and flow control. DTR and RTS need not be (a server whose port has
    // no modem lines leaves them unanswered), but one confirmed otherwise is a fault.
    bool SettingsConfirmed() const;
    // The first setting the server confirmed with another value, in words ("confirmed the
    // baud rate (2400) as 4800 baud"); empty while none did.
    QString SettingsFault() const { return fault; }
    // The settings that must be confirmed and are not yet, in words ("the baud rate (2400),
    // no parity").
    QString Unconfirmed() const;
    // The server asked the client to hold its data (FLOWCONTROL-SUSPEND) and has not yet
    // let it go on (FLOWCONTROL-RESUME).
    bool Suspended() const { return suspended; }
    // How many requests of the server were refused, and how many sub-negotiations were
    // given up for having no end.
    int Refusals() const { return refusals; }
    int AbandonedSubnegotiations() const { return abandoned; }

    // The longest sub-negotiation kept; a longer one is given up at that length, and its
    // bytes up to there dropped as data.
    static constexpr int kMaxSubnegotiation = 64;

private:
    enum class State { Data, Iac, Verb, Sub, SubIac };
    void Command(uint8_t verb, uint8_t option, QByteArray& answers);
    void Subnegotiation();
    void Confirm(uint8_t code, const QByteArray& value);

    State state = State::Data;
    uint8_t verb = 0;
    QByteArray sub;
    Answer comPort = Answer::Pending;
    Answer binaryOut = Answer::Pending;
    Answer binaryIn = Answer::Pending;
    QSet<int> refusedWill;  // the server's WILLs answered with DONT
    QSet<int> refusedDo;    // the server's DOs answered with WONT
    int refusals = 0;
    int abandoned = 0;
    bool suspended = false;
    bool settingsSent = false;
    // The settings sent and not yet confirmed: the reply code and the value asked for.
    QList<QPair<uint8_t, QByteArray>> waiting;
    QString fault;
};
