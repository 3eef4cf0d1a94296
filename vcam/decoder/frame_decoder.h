#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include "camera_command.h"

enum class LineProtocol { None, OskaDefault, PelcoD };

enum class FrameStatus {
    Good,
    BadChecksum,
    Truncated,    // a pause of more than one frame time, a new start, or the end of the line
    ForeignByte,  // a byte of the other protocol inside an OSKA-DEFAULT frame (inside a
                  // PELCO D frame every byte value is legal, so only pauses and the
                  // checksum can tell)
    BadHexDigit,  // an OSKA-DEFAULT character that is no upper-case hex digit
    Noise,        // bytes outside any frame
};

// One stretch of the line: a whole frame, a broken one, or noise. Every byte fed to the
// decoder ends up in exactly one of these, in order.
struct DecodedFrame {
    LineProtocol protocol = LineProtocol::None;
    FrameStatus status = FrameStatus::Noise;
    QByteArray bytes;
    int address = -1;          // -1 when the address digits are not readable
    CameraCommand command;     // filled for good frames only
    QString problem;           // what was wrong, in words; empty for good frames
    qint64 startUs = 0;        // arrival of the first byte
    qint64 endUs = 0;          // arrival of the last byte
    qint64 gapUs = -1;         // from the last byte before this one; -1 at the start of the line
    qint64 minByteGapUs = -1;  // the shortest pause between its own bytes; -1 for one byte

    bool IsGood() const { return status == FrameStatus::Good; }
    // Whether the pause before the frame was at least the sender's 25 ms, and those
    // inside it at least 2 ms. The reader's timing blurs both (bytes read together
    // count as no pause at all), so these are hints, not verdicts.
    bool FramePauseKept() const;
    bool PausesKept() const;
};

// Finds frames of both protocols in a byte stream. Bytes arrive in chunks of any size
// with the time they were read; frames come out as soon as they are complete. Any input
// is accepted: noise is skipped up to the next start byte and reported once.
class FrameDecoder {
public:
    static constexpr qint64 kBytePauseUs = 2000;
    static constexpr qint64 kFramePauseUs = 25000;
    // One frame time: every byte with its pause plus the frame pause. A longer pause
    // inside a frame means the rest of it will never come.
    static qint64 FrameTimeUs(LineProtocol protocol);

    QVector<DecodedFrame> Feed(const QByteArray& bytes, qint64 atUs);
    // Reports a frame or noise that has been quiet for longer than a frame time.
    QVector<DecodedFrame> Expire(qint64 nowUs);
    // The end of the line: reports whatever is still pending.
    QVector<DecodedFrame> Flush();

private:
    void Take(quint8 byte, qint64 atUs, QVector<DecodedFrame>& out);
    void Start(LineProtocol protocol, quint8 byte, qint64 atUs);
    void Append(quint8 byte, qint64 atUs);
    void Finish(FrameStatus status, const QString& problem, QVector<DecodedFrame>& out);
    void FinishWhole(QVector<DecodedFrame>& out);
    bool Pending() const { return !current.bytes.isEmpty(); }

    DecodedFrame current;
    bool hexFault = false;
    qint64 lastByteUs = -1;     // the last byte of the line so far
    qint64 previousEndUs = -1;  // the last byte before the current stretch
};

QString ProtocolName(LineProtocol protocol);
QString StatusName(FrameStatus status);
