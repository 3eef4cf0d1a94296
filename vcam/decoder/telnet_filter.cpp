#include "telnet_filter.h"

namespace {

constexpr char kIac = char(0xFF);
constexpr char kSb = char(0xFA);
constexpr char kSe = char(0xF0);
constexpr char kComPortOption = 44;

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
                state = byte == kIac          ? State::Data
                        : byte == kSb         ? State::Sub
                        : IsNegotiation(byte) ? State::Option
                                              : State::Data;
                break;
            case State::Option:
                state = State::Data;
                break;
            case State::Sub:
                if (byte == kIac)
                    state = State::SubCommand;
                break;
            case State::SubCommand:
                state = byte == kSe ? State::Data : State::Sub;
                break;
        }
    }
    return data;
}
