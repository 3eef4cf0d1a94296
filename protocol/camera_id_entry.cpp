#include "camera_id_entry.h"

#include "status_list.h"

CameraIdEntry::CameraIdEntry(ControllerState& state, StatusList& lines)
    : state(state), lines(lines) {}

void CameraIdEntry::Reset() {
    digitCount = 0;
    pendingId = 0;
    state.cameraId = 0;
}

QString CameraIdEntry::CamIdLine(int id) {
    return QStringLiteral("CAM ID : %1").arg(id);
}

void CameraIdEntry::EnterDigit(int digit) {
    if (digitCount > 2)
        digitCount = 0;
    lines.DeleteLine(kStatusLine);
    pendingId = digitCount == 0 ? digit : pendingId * 10 + digit;
    camIdText = CamIdLine(pendingId);
    lines.InsertLine(kStatusLine, camIdText);
    ++digitCount;
}

bool CameraIdEntry::CommitCameraId() {
    digitCount = 0;
    if (!InRange(pendingId))
        return false;
    state.cameraId = pendingId;
    return true;
}

void CameraIdEntry::ClearCameraId() {
    lines.DeleteLine(kStatusLine);
    state.cameraId = 0;
    camIdText = CamIdLine(0);
    lines.InsertLine(kStatusLine, camIdText);
    digitCount = 0;
}

void CameraIdEntry::CommitSelected() {
    state.cameraId = pendingId;
    digitCount = 0;
}

void CameraIdEntry::ShowCameraInForce() {
    camIdText = CamIdLine(state.cameraId);
}
