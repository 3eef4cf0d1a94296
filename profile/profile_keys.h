#pragma once

#include <QString>
#include <cstdint>

// Every section and key the program keeps in the per-user profile, with the defaults of
// the values it reads. Section "Settings" holds 32-bit integers; section "Ports" holds, for
// COM1 to COM4, the device each stands for.
namespace ProfileKeys {

inline const QString kSettingsSection = QStringLiteral("Settings");
inline const QString kPortsSection = QStringLiteral("Ports");

struct IntKey {
    const char* name;
    int32_t def;  // used when the value is absent or not a whole number
};

// Whether the stored values are used at all (0: start from the built-in rows); never written.
constexpr IntKey kComuInit{"COMUINIT", 1};
constexpr IntKey kComPort{"COMPORT", 1};
constexpr IntKey kBaudRate{"BAUDRATE", 9600};
constexpr IntKey kProtocol{"PROTOCOL", 0};  // OSKA-DEFAULT
constexpr IntKey kCamType{"CAMTYPE", 0};    // ZOOM
// Whether the last COMMUNICATION SET kept all three of its values; written, never read.
constexpr IntKey kInitial{"INITIAL", 0};

inline QString Name(const IntKey& key) {
    return QString::fromLatin1(key.name);
}

// Section "Remote": the remote keypad service. Enabled (0: no port is open), Address
// (host:port it listens on), and for each client "Client.NAME" = salt:hash of its token,
// never the token itself.
inline const QString kRemoteSection = QStringLiteral("Remote");
constexpr IntKey kRemoteEnabled{"Enabled", 0};
inline const QString kRemoteAddress = QStringLiteral("Address");
inline const QString kRemoteAddressDefault = QStringLiteral("127.0.0.1:8765");
inline const QString kRemoteClientPrefix = QStringLiteral("Client.");

inline QString RemoteClientKey(const QString& client) {
    return kRemoteClientPrefix + client;
}

// The key of COM<port> in section "Ports".
inline QString PortKey(int port) {
    return QStringLiteral("COM%1").arg(port);
}

}  // namespace ProfileKeys
