#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QVector>

#include "camera_model.h"
#include "frame_decoder.h"

// Decodes what the line brings, keeps the cameras and the counters, and tells its views.
class VcamSession : public QObject {
    Q_OBJECT
public:
    explicit VcamSession(QObject* parent = nullptr);

    void OnBytes(const QByteArray& bytes);
    void OnLineClosed();
    qint64 NowUs() const { return clock.nsecsElapsed() / 1000; }

    const CameraModel& Cameras() const { return cameras; }
    int goodFrames = 0;
    int badFrames = 0;  // broken frames and stretches of noise

signals:
    void FramesDecoded(const QVector<DecodedFrame>& frames);
    void CamerasChanged();

private:
    void OnTick();
    void Take(const QVector<DecodedFrame>& frames);

    QElapsedTimer clock;
    QTimer tick;
    int ticks = 0;
    FrameDecoder decoder;
    CameraModel cameras;
};
