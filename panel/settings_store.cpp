#include "settings_store.h"

#include <limits>

#include "serial/serial_link.h"

namespace {

const QString kSection = QStringLiteral("Settings");
const QString kComuInit = QStringLiteral("COMUINIT");
const QString kComPort = QStringLiteral("COMPORT");
const QString kBaudRate = QStringLiteral("BAUDRATE");
const QString kProtocol = QStringLiteral("PROTOCOL");
const QString kCamType = QStringLiteral("CAMTYPE");
const QString kInitial = QStringLiteral("INITIAL");

constexpr int32_t kDefaultComuInit = 1;
constexpr int32_t kDefaultComPort = 1;
constexpr int32_t kDefaultBaudRate = 9600;
constexpr int32_t kDefaultProtocol = ProtocolOskaDefault;
constexpr int32_t kDefaultCamType = CameraTypeZoom;

}  // namespace

SettingsStore::SettingsStore(ProfileStore& profile, ControllerState& state)
    : profile(profile), state(state) {}

int32_t SettingsStore::GetProfileInt(const QString& key, int32_t def) const {
    const QVariant value = profile.ReadValue(kSection, key);
    if (!value.isValid())
        return def;
    bool ok = false;
    // Text from a hand-edited profile counts only when it is a whole number. A value
    // that fills an unsigned 32-bit word keeps its bits, as the registry's DWORD does.
    const qlonglong number = value.toString().trimmed().toLongLong(&ok);
    if (!ok || number < std::numeric_limits<int32_t>::min() ||
        number > std::numeric_limits<uint32_t>::max())
        return def;
    return static_cast<int32_t>(static_cast<uint32_t>(number));
}

bool SettingsStore::WriteProfileInt(const QString& key, int32_t value) {
    return profile.WriteValue(kSection, key, value);
}

bool SettingsStore::LoadStoredSettings() {
    state.settingsValid = GetProfileInt(kComuInit, kDefaultComuInit);
    if (state.settingsValid == 0)
        return false;
    state.comPort = GetProfileInt(kComPort, kDefaultComPort);
    state.baudRate = static_cast<uint32_t>(GetProfileInt(kBaudRate, kDefaultBaudRate));
    state.protocol = GetProfileInt(kProtocol, kDefaultProtocol);
    state.cameraType = GetProfileInt(kCamType, kDefaultCamType);
    return true;
}

void SettingsStore::StoreCameraType() {
    WriteProfileInt(kCamType, state.cameraType);
}

bool SettingsStore::ApplyCommunicationSettings(CSerialLink& link) {
    const bool portKept = WriteProfileInt(kComPort, state.comPort);
    const bool baudKept = WriteProfileInt(kBaudRate, static_cast<int32_t>(state.baudRate));
    const bool protocolKept = WriteProfileInt(kProtocol, state.protocol);
    state.settingsValid = (portKept && baudKept && protocolKept) ? 1 : 0;
    WriteProfileInt(kInitial, state.settingsValid);
    if (link.isOpen())
        link.ClosePort();
    return link.OpenWithSettings() != 0;
}

uint32_t SettingsStore::ProtocolBaudRate(int32_t protocol) {
    switch (protocol) {
        case ProtocolOskaDefault:
            return 9600;
        case ProtocolPelcoD:
            return 2400;
        default:
            return 0;
    }
}
