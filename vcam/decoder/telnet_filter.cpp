#include "telnet_filter.h"

namespace {

constexpr char kIac = char(0xFF);
constexpr char kSb = char(0xFA);
constexpr char kSe = char(0xF0);
constexpr char kComPortOption = 44;
constexpr char kBinary = 0;
constexpr char kWill = char(0xFB);
constexpr char kWont = char(0xFC);
constexpr char kDo = char(0xFD);
constexpr char kDont = char(0xFE);
constexpr int kMaxSub = 64;

QByteArray Command(char a, char b, char c) {
    QByteArray out;
    out += a;
    out += b;
    out += c;
    return out;
}

bool IsNegotiation(char verb) {
    return uchar(verb) >= 0xFB;  // WILL, WONT, DO, DONT
}

}  // namespace

QByteArray TelnetFilter::Feed(const QByteArray& bytes) {
    if (mode == Mode::Raw)
        return bytes;
    if (mode == Mode::Telnet)
        return Strip(bytes);
    opening += bytes;
    const bool mayBeTelnet = opening[0] == kIac &&
                             (opening.size() < 2 || IsNegotiation(opening[1])) &&
                             (opening.size() < 3 || opening[2] == kComPortOption);
    if (mayBeTelnet && opening.size() < 3)
        return QByteArray();
    mode = mayBeTelnet ? Mode::Telnet : Mode::Raw;
    const QByteArray held = opening;
    opening.clear();
    return mode == Mode::Raw ? held : Strip(held);
}

QByteArray TelnetFilter::Strip(const QByteArray& bytes) {
    QByteArray data;
    for (const char byte : bytes) {
        switch (state) {
            case State::Data:
                if (byte == kIac)
                    state = State::Command;
                else
                    data += byte;
                break;
            case State::Command:
                if (byte == kIac)
                    data += byte;  // a doubled 0xFF is one data byte
                verb = byte;
                if (byte == kSb)
                    sub.clear();
                state = byte == kIac          ? State::Data
                        : byte == kSb         ? State::Sub
                        : IsNegotiation(byte) ? State::Option
                                              : State::Data;
                break;
            case State::Option:
                Answer(verb, byte);
                state = State::Data;
                break;
            case State::Sub:
                if (byte == kIac)
                    state = State::SubCommand;
                else if (sub.size() < kMaxSub)
                    sub += byte;
                break;
            case State::SubCommand:
                if (byte == kSe)
                    Confirm();
                else if (sub.size() < kMaxSub)
                    sub += byte;
                state = byte == kSe ? State::Data : State::Sub;
                break;
        }
    }
    return data;
}

QByteArray TelnetFilter::TakeAnswers() {
    QByteArray owed;
    owed.swap(answers);
    return owed;
}

void TelnetFilter::Answer(char verb, char option) {
    const bool agreed = option == kComPortOption || option == kBinary;
    // An agreement the client asked for; a refusal of anything else. A refusal needs none.
    if (verb == kWill)
        answers += Command(kIac, agreed ? kDo : kDont, option);
    else if (verb == kDo)
        answers += Command(kIac, agreed ? kWill : kWont, option);
}

void TelnetFilter::Confirm() {
    // A setting the client asks for (1 to 5: rate, data size, parity, stop size, control)
    // is confirmed with its value, under the server's code (100 more).
    if (sub.size() < 3 || sub[0] != kComPortOption || sub[1] < 1 || sub[1] > 5)
        return;
    QByteArray reply = Command(kIac, kSb, kComPortOption);
    reply += char(sub[1] + 100);
    for (const char c : sub.mid(2)) {
        reply += c;
        if (c == kIac)
            reply += c;
    }
    reply += kIac;
    reply += kSe;
    answers += reply;
}
