#pragma once

#include <QByteArray>
#include <cstdint>

// The client side of Telnet with the COM-PORT-OPTION, as far as a line that only writes
// needs it: the bytes that set the far port, and frame bytes made safe for Telnet.
namespace TelnetComPort {

// Sent once the connection stands: the COM-PORT-OPTION, binary mode both ways (so that CR
// and NUL pass as they are), then the far port set as a local line is set: baud, 8 data
// bits, no parity, 1 stop bit, no flow control, DTR and RTS on.
QByteArray Opening(uint32_t baud);

// Data bytes as Telnet carries them: 0xFF (IAC) doubled, every other byte as it is.
QByteArray Escaped(const uint8_t* data, uint32_t count);

}  // namespace TelnetComPort
