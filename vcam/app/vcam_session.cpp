#include "vcam_session.h"

VcamSession::VcamSession(QObject* parent) : QObject(parent) {
    clock.start();
    // Often enough to see a cut frame soon after its last byte, and to move the lenses.
    tick.setInterval(20);
    connect(&tick, &QTimer::timeout, this, &VcamSession::OnTick);
    tick.start();
}

void VcamSession::OnBytes(const QByteArray& bytes) {
    Take(decoder.Feed(bytes, NowUs()));
}

void VcamSession::OnLineClosed() {
    Take(decoder.Flush());
}

void VcamSession::OnTick() {
    const qint64 now = NowUs();
    Take(decoder.Expire(now));
    cameras.Advance(now);
    // The table's times and bars need no more than ten updates a second.
    if (++ticks % 5 == 0 && !cameras.Cameras().isEmpty())
        emit CamerasChanged();
}

void VcamSession::Take(const QVector<DecodedFrame>& frames) {
    if (frames.isEmpty())
        return;
    for (const DecodedFrame& frame : frames) {
        if (frame.IsGood())
            ++goodFrames;
        else
            ++badFrames;
        cameras.Apply(frame);
    }
    emit FramesDecoded(frames);
    emit CamerasChanged();
}
