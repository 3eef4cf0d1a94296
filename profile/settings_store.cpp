#include "settings_store.h"

#include <limits>

#include "profile_store.h"

using namespace ProfileKeys;

SettingsStore::SettingsStore(ProfileStore& profile) : profile(profile) {}

int32_t SettingsStore::GetProfileInt(const IntKey& key) const {
    const QVariant value = profile.ReadValue(kSettingsSection, Name(key));
    if (!value.isValid())
        return key.def;
    bool ok = false;
    // Text from a hand-edited profile counts only when it is a whole number. A value
    // that fills an unsigned 32-bit word keeps its bits, as the registry's DWORD does.
    const qlonglong number = value.toString().trimmed().toLongLong(&ok);
    if (!ok || number < std::numeric_limits<int32_t>::min() ||
        number > std::numeric_limits<uint32_t>::max())
        return key.def;
    return static_cast<int32_t>(static_cast<uint32_t>(number));
}

bool SettingsStore::WriteProfileInt(const IntKey& key, int32_t value) {
    return profile.WriteValue(kSettingsSection, Name(key), value);
}

StoredSettings SettingsStore::LoadStoredSettings() const {
    StoredSettings stored;
    stored.settingsValid = GetProfileInt(kComuInit);
    if (stored.settingsValid == 0)
        return stored;
    stored.storedValuesRead = true;
    stored.comPort = GetProfileInt(kComPort);
    stored.baudRate = static_cast<uint32_t>(GetProfileInt(kBaudRate));
    stored.protocol = GetProfileInt(kProtocol);
    stored.cameraType = GetProfileInt(kCamType);
    return stored;
}

void SettingsStore::StoreCameraType(int32_t cameraType) {
    WriteProfileInt(kCamType, cameraType);
}

int32_t SettingsStore::StoreCommunicationSettings(int32_t comPort, uint32_t baudRate,
                                                  int32_t protocol) {
    const bool portKept = WriteProfileInt(kComPort, comPort);
    const bool baudKept = WriteProfileInt(kBaudRate, static_cast<int32_t>(baudRate));
    const bool protocolKept = WriteProfileInt(kProtocol, protocol);
    const int32_t valid = (portKept && baudKept && protocolKept) ? 1 : 0;
    WriteProfileInt(kInitial, valid);
    return valid;
}
