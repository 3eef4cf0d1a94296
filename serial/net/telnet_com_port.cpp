#include "telnet_com_port.h"

#include <initializer_list>

#include "serial/failsafe/telnet_escape.h"

namespace {

constexpr char kIac = char(0xFF);
constexpr char kWill = char(0xFB);
constexpr char kDo = char(0xFD);
constexpr char kSb = char(0xFA);
constexpr char kSe = char(0xF0);
constexpr char kBinary = 0;
constexpr char kComPortOption = 44;

// Client-to-server commands of the COM-PORT-OPTION, and the values this line uses.
constexpr char kSetBaudRate = 1;
constexpr char kSetDataSize = 2;
constexpr char kSetParity = 3;
constexpr char kSetStopSize = 4;
constexpr char kSetControl = 5;
constexpr char kParityNone = 1;
constexpr char kOneStopBit = 1;
constexpr char kNoFlowControl = 1;
constexpr char kDtrOn = 8;
constexpr char kRtsOn = 11;

QByteArray Bytes(std::initializer_list<char> bytes) {
    return QByteArray(bytes.begin(), static_cast<int>(bytes.size()));
}

void AppendCommand(QByteArray& out, char command, const QByteArray& value) {
    out += kIac;
    out += kSb;
    out += kComPortOption;
    out += command;
    // A value byte of 0xFF inside a subnegotiation is doubled like a data byte.
    out += TelnetComPort::Escaped(reinterpret_cast<const uint8_t*>(value.constData()),
                                  static_cast<uint32_t>(value.size()));
    out += kIac;
    out += kSe;
}

}  // namespace

QByteArray TelnetComPort::Opening(uint32_t baud) {
    // The option first: no PELCO D frame starts as FF FB 2C (its command byte would have
    // a reserved bit set), so a listener can tell this client from a raw one.
    QByteArray out = Bytes({kIac, kWill, kComPortOption});
    for (char verb : {kWill, kDo}) out += Bytes({kIac, verb, kBinary});
    // The rate goes in network byte order.
    const QByteArray rate =
        Bytes({char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)});
    AppendCommand(out, kSetBaudRate, rate);
    AppendCommand(out, kSetDataSize, QByteArray(1, 8));
    AppendCommand(out, kSetParity, QByteArray(1, kParityNone));
    AppendCommand(out, kSetStopSize, QByteArray(1, kOneStopBit));
    for (char control : {kNoFlowControl, kDtrOn, kRtsOn})
        AppendCommand(out, kSetControl, QByteArray(1, control));
    return out;
}

QByteArray TelnetComPort::Escaped(const uint8_t* data, uint32_t count) {
    QByteArray out(2 * static_cast<int>(count), Qt::Uninitialized);
    out.resize(TelnetEscape::Escape(data, static_cast<int>(count),
                                    reinterpret_cast<uint8_t*>(out.data())));
    return out;
}
