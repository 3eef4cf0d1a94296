#pragma once

#include <cstdint>

#include "profile_keys.h"

class ProfileStore;

// The values read at start-up. When COMUINIT is 0 only settingsValid is read and
// storedValuesRead is false; the others then keep their defaults.
struct StoredSettings {
    bool storedValuesRead = false;
    int32_t settingsValid = 0;
    int32_t comPort = ProfileKeys::kComPort.def;
    uint32_t baudRate = ProfileKeys::kBaudRate.def;
    int32_t protocol = ProfileKeys::kProtocol.def;
    int32_t cameraType = ProfileKeys::kCamType.def;
};

// The stored communication settings and camera type, in section "Settings" of the
// per-user profile, every value a 32-bit integer.
class SettingsStore {
public:
    explicit SettingsStore(ProfileStore& profile);

    // The stored integer, or the key's default when the value is absent or is not a whole
    // 32-bit number.
    int32_t GetProfileInt(const ProfileKeys::IntKey& key) const;
    // True when the store kept the value.
    bool WriteProfileInt(const ProfileKeys::IntKey& key, int32_t value);

    // Reads COMUINIT; when it is not 0, also the port, baud rate, protocol and camera type.
    StoredSettings LoadStoredSettings() const;
    // Writes CAMTYPE; a refused write is ignored.
    void StoreCameraType(int32_t cameraType);
    // Stores port, baud rate and protocol, then INITIAL: 1 when all three were kept, else
    // 0. Returns that value.
    int32_t StoreCommunicationSettings(int32_t comPort, uint32_t baudRate, int32_t protocol);

private:
    ProfileStore& profile;
};
