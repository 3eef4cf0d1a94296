#pragma once

#include "profile_store.h"
#include "protocol/controller_state.h"

class CSerialLink;

// The stored communication settings and camera type, in section "Settings" of the
// per-user profile, every value a 32-bit integer.
class SettingsStore {
public:
    SettingsStore(ProfileStore& profile, ControllerState& state);

    // The stored integer, or def when the value is absent or is not a whole 32-bit number.
    int32_t GetProfileInt(const QString& key, int32_t def) const;
    // True when the store kept the value.
    bool WriteProfileInt(const QString& key, int32_t value);

    // Reads COMUINIT into settingsValid; when it is not 0, also the port, baud rate,
    // protocol and camera type, and returns true.
    bool LoadStoredSettings();
    // Writes cameraType under CAMTYPE; a refused write is ignored.
    void StoreCameraType();
    // Stores port, baud rate and protocol, records whether all three were kept in
    // settingsValid and INITIAL, then closes the link if open and reopens it with the
    // current port and rate. Returns true when the link opened.
    bool ApplyCommunicationSettings(CSerialLink& link);

    // The rate a protocol imposes: 9600 for OSKA-DEFAULT, 2400 for PELCO D, 0 for none.
    static uint32_t ProtocolBaudRate(int32_t protocol);

private:
    ProfileStore& profile;
    ControllerState& state;
};
