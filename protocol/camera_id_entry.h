#pragma once

#include <QString>

#include "controller_state.h"

class StatusList;

// The camera address typed on the digit keys: up to three digits in pendingId, shown on
// status line 8, committed to cameraId by ENT (or by camera select).
class CameraIdEntry {
public:
    static constexpr int kStatusLine = 8;

    CameraIdEntry(ControllerState& state, StatusList& lines);

    // Back to the start: nothing typed, nothing committed.
    void Reset();
    // A fourth digit starts a new number.
    void EnterDigit(int digit);
    // Commits pendingId when it is within 0..255; false, and nothing committed, otherwise.
    bool CommitCameraId();
    // Addresses camera 0 and shows it on line 8; the typed number stays in pendingId.
    void ClearCameraId();
    // After a camera-select frame: the typed number becomes the camera address.
    void CommitSelected();
    // Line 8 as a panel shows it when nothing has been typed yet: the camera in force.
    void ShowCameraInForce();

    int PendingId() const { return pendingId; }
    int DigitCount() const { return digitCount; }
    const QString& CamIdText() const { return camIdText; }

    static bool InRange(int id) { return id >= 0 && id <= 255; }
    static QString CamIdLine(int id);

private:
    ControllerState& state;
    StatusList& lines;
    int pendingId = 0;
    int digitCount = 0;
    QString camIdText;  // the text of status line 8
};
