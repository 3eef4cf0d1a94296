#include "telnet_com_port.h"

#include <algorithm>
#include <initializer_list>

namespace {

constexpr uint8_t kIac = 0xFF;
constexpr uint8_t kDont = 0xFE;
constexpr uint8_t kDo = 0xFD;
constexpr uint8_t kWont = 0xFC;
constexpr uint8_t kWill = 0xFB;
constexpr uint8_t kSb = 0xFA;
constexpr uint8_t kSe = 0xF0;
constexpr uint8_t kBinary = 0;
constexpr uint8_t kComPortOption = 44;

// Client-to-server commands of the COM-PORT-OPTION; the server answers each with its code
// plus kReplyOffset.
constexpr uint8_t kSetBaudRate = 1;
constexpr uint8_t kSetDataSize = 2;
constexpr uint8_t kSetParity = 3;
constexpr uint8_t kSetStopSize = 4;
constexpr uint8_t kSetControl = 5;
constexpr uint8_t kReplyOffset = 100;
constexpr uint8_t kFlowControlSuspend = 108;
constexpr uint8_t kFlowControlResume = 109;
// The values this line uses.
constexpr uint8_t kParityNone = 1;
constexpr uint8_t kOneStopBit = 1;
constexpr uint8_t kNoFlowControl = 1;
constexpr uint8_t kDtrOn = 8;
constexpr uint8_t kRtsOn = 11;

QByteArray Bytes(std::initializer_list<uint8_t> bytes) {
    QByteArray out;
    for (uint8_t b : bytes) out += char(b);
    return out;
}

void AppendCommand(QByteArray& out, uint8_t command, const QByteArray& value) {
    out += Bytes({kIac, kSb, kComPortOption, command});
    // A value byte of 0xFF inside a sub-negotiation is doubled like a data byte.
    for (char c : value) {
        out += c;
        if (uint8_t(c) == kIac)
            out += c;
    }
    out += Bytes({kIac, kSe});
}

uint32_t Rate(const QByteArray& value) {
    uint32_t rate = 0;
    for (char c : value) rate = rate << 8 | uint8_t(c);
    return rate;
}

QString SettingName(uint8_t code, const QByteArray& value) {
    switch (code - kReplyOffset) {
        case kSetBaudRate:
            return QStringLiteral("the baud rate (%1)").arg(Rate(value));
        case kSetDataSize:
            return QStringLiteral("8 data bits");
        case kSetParity:
            return QStringLiteral("no parity");
        case kSetStopSize:
            return QStringLiteral("1 stop bit");
        case kSetControl:
            switch (value.isEmpty() ? 0 : uint8_t(value[0])) {
                case kNoFlowControl:
                    return QStringLiteral("no flow control");
                case kDtrOn:
                    return QStringLiteral("DTR on");
                case kRtsOn:
                    return QStringLiteral("RTS on");
                default:
                    break;
            }
            break;
        default:
            break;
    }
    return QStringLiteral("setting %1").arg(code - kReplyOffset);
}

QString ValueWords(uint8_t code, const QByteArray& value) {
    if (code - kReplyOffset == kSetBaudRate)
        return QStringLiteral("%1 baud").arg(Rate(value));
    return QStringLiteral("value %1").arg(value.isEmpty() ? 0 : uint8_t(value[0]));
}

}  // namespace

QByteArray TelnetComPort::Offers() {
    // The option first: no PELCO D frame starts as FF FB 2C (its command byte would have
    // a reserved bit set), so a listener can tell this client from a raw one.
    return Bytes({kIac, kWill, kComPortOption, kIac, kWill, kBinary, kIac, kDo, kBinary});
}

QByteArray TelnetComPort::Settings(uint32_t baud) {
    // The rate goes in network byte order.
    const QByteArray rate =
        Bytes({uint8_t(baud >> 24), uint8_t(baud >> 16), uint8_t(baud >> 8), uint8_t(baud)});
    const QList<QPair<uint8_t, QByteArray>> settings = {
        {kSetBaudRate, rate},
        {kSetDataSize, QByteArray(1, 8)},
        {kSetParity, QByteArray(1, kParityNone)},
        {kSetStopSize, QByteArray(1, kOneStopBit)},
        {kSetControl, QByteArray(1, kNoFlowControl)},
        {kSetControl, QByteArray(1, kDtrOn)},
        {kSetControl, QByteArray(1, kRtsOn)},
    };
    QByteArray out;
    waiting.clear();
    for (const auto& setting : settings) {
        AppendCommand(out, setting.first, setting.second);
        waiting.append({uint8_t(setting.first + kReplyOffset), setting.second});
    }
    settingsSent = true;
    return out;
}

namespace {

bool MustBeConfirmed(const QPair<uint8_t, QByteArray>& setting) {
    return setting.first - kReplyOffset != kSetControl || setting.second.isEmpty() ||
           uint8_t(setting.second[0]) == kNoFlowControl;
}

}  // namespace

bool TelnetComPort::SettingsConfirmed() const {
    return settingsSent && std::none_of(waiting.cbegin(), waiting.cend(), MustBeConfirmed);
}

QString TelnetComPort::Unconfirmed() const {
    QStringList names;
    for (const auto& setting : waiting)
        if (MustBeConfirmed(setting))
            names << SettingName(setting.first, setting.second);
    return names.join(QStringLiteral(", "));
}

QByteArray TelnetComPort::Feed(const char* data, int count) {
    QByteArray answers;
    for (int i = 0; i < count; ++i) {
        const uint8_t b = uint8_t(data[i]);
        switch (state) {
            case State::Data:
                // The server's data (what its port received) is no business of this line.
                if (b == kIac)
                    state = State::Iac;
                break;
            case State::Iac:
                if (b >= kWill && b <= kDont) {
                    verb = b;
                    state = State::Verb;
                } else if (b == kSb) {
                    sub.clear();
                    state = State::Sub;
                } else {
                    // IAC IAC (a data 0xFF), NOP, GA, AYT and every command without an
                    // option: nothing to do.
                    state = State::Data;
                }
                break;
            case State::Verb:
                Command(verb, b, answers);
                state = State::Data;
                break;
            case State::Sub:
                if (b == kIac) {
                    state = State::SubIac;
                } else if (sub.size() >= kMaxSubnegotiation) {
                    ++abandoned;
                    sub.clear();
                    state = State::Data;
                } else {
                    sub += char(b);
                }
                break;
            case State::SubIac:
                if (b == kIac) {
                    sub += char(b);
                    state = sub.size() > kMaxSubnegotiation ? State::Data : State::Sub;
                    if (state == State::Data) {
                        ++abandoned;
                        sub.clear();
                    }
                } else if (b == kSe) {
                    Subnegotiation();
                    state = State::Data;
                } else {
                    // A command inside a sub-negotiation ends it unfinished (RFC 855
                    // leaves this open); the command itself is read as one.
                    ++abandoned;
                    sub.clear();
                    state = State::Iac;
                    --i;
                }
                break;
        }
    }
    return answers;
}

void TelnetComPort::Command(uint8_t verb, uint8_t option, QByteArray& answers) {
    // The options this client speaks: COM-PORT-OPTION and BINARY on its side (WILL), and
    // BINARY on the server's side (DO). It asked for all three, so an agreement needs no
    // answer and a refusal is final; a later change is acknowledged, as RFC 854 asks.
    if (verb == kDo || verb == kDont) {
        Answer* side = option == kComPortOption ? &comPort
                       : option == kBinary      ? &binaryOut
                                                : nullptr;
        if (side) {
            const Answer now = verb == kDo ? Answer::Yes : Answer::No;
            if (*side == Answer::Pending)
                *side = now;
            else if (*side != now) {
                *side = now;
                answers += Bytes({kIac, verb == kDo ? kWill : kWont, option});
            }
            return;
        }
        if (verb == kDo && !refusedDo.contains(option)) {
            // Once: a server that asks again is not answered again, so no loop can start.
            refusedDo.insert(option);
            ++refusals;
            answers += Bytes({kIac, kWont, option});
        }
        return;
    }
    // WILL or WONT: the server's side.
    if (option == kBinary) {
        const Answer now = verb == kWill ? Answer::Yes : Answer::No;
        if (binaryIn == Answer::Pending)
            binaryIn = now;
        else if (binaryIn != now) {
            binaryIn = now;
            answers += Bytes({kIac, verb == kWill ? kDo : kDont, option});
        }
        return;
    }
    if (verb == kWill && !refusedWill.contains(option)) {
        refusedWill.insert(option);
        ++refusals;
        answers += Bytes({kIac, kDont, option});
    }
}

void TelnetComPort::Subnegotiation() {
    if (sub.size() < 2 || uint8_t(sub[0]) != kComPortOption)
        return;
    const uint8_t code = uint8_t(sub[1]);
    const QByteArray value = sub.mid(2);
    if (code == kFlowControlSuspend)
        suspended = true;
    else if (code == kFlowControlResume)
        suspended = false;
    else
        Confirm(code, value);
}

void TelnetComPort::Confirm(uint8_t code, const QByteArray& value) {
    // A control reply answers the request of its group: outbound flow control (0 to 3),
    // BREAK (4 to 6), DTR (7 to 9), RTS (10 to 12), inbound flow control (13 to 19).
    const auto group = [](const QByteArray& v) {
        const int x = v.isEmpty() ? 0 : uint8_t(v[0]);
        return x <= 3 ? 0 : x <= 6 ? 1 : x <= 9 ? 2 : x <= 12 ? 3 : 4;
    };
    for (int i = 0; i < waiting.size(); ++i) {
        if (waiting[i].first != code ||
            (code - kReplyOffset == kSetControl && group(waiting[i].second) != group(value)))
            continue;
        const QByteArray asked = waiting[i].second;
        waiting.removeAt(i);
        if (value != asked && fault.isEmpty())
            fault = QStringLiteral("confirmed %1 as %2")
                        .arg(SettingName(code, asked), ValueWords(code, value));
        return;
    }
}
