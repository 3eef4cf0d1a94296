#include "camera_model.h"

#include "frame_decoder.h"

int CameraModel::RowOf(int address) const {
    for (int row = 0; row < cameras.size(); ++row) {
        if (cameras[row].address == address)
            return row;
    }
    return -1;
}

CameraState& CameraModel::CameraAt(int address, qint64 atUs, int* row) {
    *row = RowOf(address);
    if (*row < 0) {
        *row = cameras.size();
        CameraState camera;
        camera.address = address;
        camera.zoomSinceUs = camera.focusSinceUs = camera.zoomCountedUs = atUs;
        cameras.append(camera);
    }
    return cameras[*row];
}

int CameraModel::Apply(const DecodedFrame& frame) {
    if (!frame.IsGood() || frame.address < 0)
        return -1;
    const qint64 at = frame.endUs;
    const CameraCommand& command = frame.command;
    int row = -1;
    CameraState& camera = CameraAt(frame.address, at, &row);
    AdvanceOne(camera, at);
    ++camera.frames;
    camera.lastCommand = command.words;

    const bool wasMoving = camera.Moving();
    if (command.replacesMotion)
        camera.panOrTilt = command.panOrTilt;
    if (command.zoom && *command.zoom != camera.zoom) {
        camera.zoom = *command.zoom;
        camera.zoomSinceUs = camera.zoomCountedUs = at;
    }
    if (command.focus && *command.focus != camera.focus) {
        camera.focus = *command.focus;
        camera.focusSinceUs = at;
    }
    if (!camera.Moving())
        camera.moveSinceUs = -1;
    else if (!wasMoving)
        camera.moveSinceUs = at;

    if (command.power)
        camera.powerOn = *command.power;
    if (command.powerToggle)
        camera.powerOn = !camera.powerOn;
    if (command.selectCamera >= 0) {
        selectedCamera = command.selectCamera;
        int selectedRow = -1;
        CameraAt(command.selectCamera, at, &selectedRow);
    }
    AdvanceOne(cameras[row], at);
    return row;
}

void CameraModel::Advance(qint64 nowUs) {
    for (CameraState& camera : cameras) AdvanceOne(camera, nowUs);
}

// The zoom position follows from the time since the lens last changed direction; only
// the part since the previous advance is added, so many small steps add up exactly.
void CameraModel::AdvanceOne(CameraState& camera, qint64 nowUs) {
    if (camera.zoom != 0 && nowUs > camera.zoomCountedUs) {
        const qint64 steps = (nowUs - camera.zoomCountedUs) * kZoomRange / kZoomTravelUs;
        camera.zoomPosition = static_cast<int>(
            qBound<qint64>(0, camera.zoomPosition + camera.zoom * steps, qint64{kZoomRange}));
        camera.zoomCountedUs += steps * kZoomTravelUs / kZoomRange;
    }
    camera.warning.clear();
    if (camera.moveSinceUs >= 0 && nowUs - camera.moveSinceUs > kStopOverdueUs)
        camera.warning =
            QStringLiteral("no stop for %1 s").arg((nowUs - camera.moveSinceUs) / 1'000'000);
}
