#include "camera_id_entry.h"

#include "protocol/message_sink.h"
#include "status_lines.h"

CameraIdEntry::CameraIdEntry(ControllerState& state, StatusLines& lines, MessageSink& messages)
    : state(state), lines(lines), messages(messages) {}

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

void CameraIdEntry::CommitCameraId() {
    digitCount = 0;
    if (!InRange(pendingId)) {
        messages.ShowMessage(QString::fromLatin1(kCameraIdRangeText));
        return;
    }
    state.cameraId = pendingId;
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
