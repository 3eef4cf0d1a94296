#pragma once

#include <QString>
#include <QVector>

struct DecodedFrame;

// What the line has asked of one camera address so far.
struct CameraState {
    int address = 0;
    bool powerOn = true;  // a camera on the line is taken to be on until told otherwise
    int zoom = 0;         // +1 tele, -1 wide, 0 stopped
    int focus = 0;        // +1 far, -1 near, 0 stopped
    bool panOrTilt = false;
    qint64 zoomSinceUs = 0;
    qint64 focusSinceUs = 0;
    qint64 zoomCountedUs = 0;  // how far the zoom position has been advanced
    qint64 moveSinceUs = -1;   // when the current movement began; -1 while nothing moves
    int zoomPosition = 0;      // 0 (widest) to kZoomRange (longest)
    QString lastCommand;
    int frames = 0;
    QString warning;  // set while a movement has run too long without a stop

    bool Moving() const { return zoom != 0 || focus != 0 || panOrTilt; }
};

// A virtual camera per address: good frames move it, time advances its zoom lens.
class CameraModel {
public:
    static constexpr int kZoomRange = 1000;
    // The lens runs from widest to longest in this time while zoom tele is held.
    static constexpr qint64 kZoomTravelUs = 5'000'000;
    // A movement longer than this without a stop is worth a warning: the stop was lost.
    static constexpr qint64 kStopOverdueUs = 5'000'000;

    // Applies a good frame; returns the row of the camera it addressed (new rows are
    // appended), or -1 when the frame changed nothing.
    int Apply(const DecodedFrame& frame);
    // Moves every zoom lens that is running up to nowUs and updates the warnings.
    void Advance(qint64 nowUs);

    const QVector<CameraState>& Cameras() const { return cameras; }
    int RowOf(int address) const;
    int selectedCamera = -1;  // the last camera chosen with camera select

private:
    CameraState& CameraAt(int address, qint64 atUs, int* row);
    static void AdvanceOne(CameraState& camera, qint64 nowUs);

    QVector<CameraState> cameras;
};
