#include "frame_decoder.h"

namespace {

constexpr quint8 kPelcoSync = 0xFF;
constexpr quint8 kOskaStart = '*';
constexpr int kPelcoLength = 7;
constexpr int kOskaLength = 11;

int HexValue(quint8 c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool Printable(quint8 c) {
    return c >= 0x20 && c < 0x7F;
}

}  // namespace

bool DecodedFrame::FramePauseKept() const {
    return gapUs < 0 || gapUs >= FrameDecoder::kFramePauseUs;
}

bool DecodedFrame::PausesKept() const {
    return FramePauseKept() && (minByteGapUs < 0 || minByteGapUs >= FrameDecoder::kBytePauseUs);
}

qint64 FrameDecoder::FrameTimeUs(LineProtocol protocol) {
    const int length = protocol == LineProtocol::PelcoD ? kPelcoLength : kOskaLength;
    return length * kBytePauseUs + kFramePauseUs;
}

QVector<DecodedFrame> FrameDecoder::Feed(const QByteArray& bytes, qint64 atUs) {
    QVector<DecodedFrame> out;
    for (char c : bytes) Take(static_cast<quint8>(c), atUs, out);
    return out;
}

QVector<DecodedFrame> FrameDecoder::Expire(qint64 nowUs) {
    QVector<DecodedFrame> out;
    if (Pending() && nowUs - lastByteUs > FrameTimeUs(current.protocol))
        FinishWhole(out);
    return out;
}

QVector<DecodedFrame> FrameDecoder::Flush() {
    QVector<DecodedFrame> out;
    if (Pending())
        FinishWhole(out);
    return out;
}

void FrameDecoder::Take(quint8 byte, qint64 atUs, QVector<DecodedFrame>& out) {
    if (Pending() && atUs - lastByteUs > FrameTimeUs(current.protocol))
        FinishWhole(out);

    const LineProtocol protocol = current.protocol;
    const bool inFrame = Pending() && protocol != LineProtocol::None;
    if (protocol == LineProtocol::PelcoD && inFrame) {
        Append(byte, atUs);
        if (current.bytes.size() == kPelcoLength)
            FinishWhole(out);
        return;
    }
    if (protocol == LineProtocol::OskaDefault && inFrame) {
        if (byte == kOskaStart) {
            Finish(FrameStatus::Truncated, QStringLiteral("cut short by a new start"), out);
        } else if (byte == kPelcoSync) {
            Finish(FrameStatus::ForeignByte, QStringLiteral("cut short by a PELCO D sync byte"),
                   out);
        } else if (!Printable(byte)) {
            Append(byte, atUs);
            Finish(FrameStatus::ForeignByte,
                   QStringLiteral("binary byte %1 in an ASCII frame")
                       .arg(QString::number(byte, 16).toUpper().rightJustified(2, '0')),
                   out);
            return;
        } else {
            hexFault = hexFault || HexValue(byte) < 0;
            Append(byte, atUs);
            if (current.bytes.size() == kOskaLength)
                FinishWhole(out);
            return;
        }
    }
    if (byte == kPelcoSync || byte == kOskaStart) {
        if (Pending())
            Finish(FrameStatus::Noise, QStringLiteral("bytes outside a frame"), out);
        Start(byte == kPelcoSync ? LineProtocol::PelcoD : LineProtocol::OskaDefault, byte, atUs);
        return;
    }
    if (!Pending())
        Start(LineProtocol::None, byte, atUs);
    else
        Append(byte, atUs);
}

void FrameDecoder::Start(LineProtocol protocol, quint8 byte, qint64 atUs) {
    current = DecodedFrame();
    current.protocol = protocol;
    current.bytes.append(static_cast<char>(byte));
    current.startUs = current.endUs = atUs;
    current.gapUs = previousEndUs < 0 ? -1 : atUs - previousEndUs;
    hexFault = false;
    lastByteUs = atUs;
}

void FrameDecoder::Append(quint8 byte, qint64 atUs) {
    const qint64 gap = atUs - current.endUs;
    if (current.minByteGapUs < 0 || gap < current.minByteGapUs)
        current.minByteGapUs = gap;
    current.bytes.append(static_cast<char>(byte));
    current.endUs = lastByteUs = atUs;
}

void FrameDecoder::Finish(FrameStatus status, const QString& problem, QVector<DecodedFrame>& out) {
    const QByteArray& b = current.bytes;
    if (current.protocol == LineProtocol::PelcoD && b.size() >= 2)
        current.address = static_cast<quint8>(b[1]);
    if (current.protocol == LineProtocol::OskaDefault && b.size() >= 3 &&
        HexValue(static_cast<quint8>(b[1])) >= 0 && HexValue(static_cast<quint8>(b[2])) >= 0)
        current.address =
            HexValue(static_cast<quint8>(b[1])) * 16 + HexValue(static_cast<quint8>(b[2]));
    current.status = status;
    current.problem = problem;
    if (status == FrameStatus::Noise)
        current.protocol = LineProtocol::None;
    previousEndUs = current.endUs;
    out.append(current);
    current = DecodedFrame();
}

// Judges the pending bytes as they stand: a whole frame, a short one, or noise.
void FrameDecoder::FinishWhole(QVector<DecodedFrame>& out) {
    const QByteArray& b = current.bytes;
    const auto u = [&b](int i) { return static_cast<quint8>(b[i]); };
    if (current.protocol == LineProtocol::None) {
        Finish(FrameStatus::Noise, QStringLiteral("bytes outside a frame"), out);
        return;
    }
    if (current.protocol == LineProtocol::PelcoD) {
        if (b.size() < kPelcoLength) {
            Finish(FrameStatus::Truncated, QStringLiteral("%1 of 7 bytes").arg(b.size()), out);
            return;
        }
        const quint8 sum = static_cast<quint8>(u(1) + u(2) + u(3) + u(4) + u(5));
        if (sum != u(6)) {
            Finish(FrameStatus::BadChecksum,
                   QStringLiteral("checksum %1, expected %2")
                       .arg(QString::number(u(6), 16).toUpper().rightJustified(2, '0'),
                            QString::number(sum, 16).toUpper().rightJustified(2, '0')),
                   out);
            return;
        }
        current.command = DecodePelcoCommand(u(2), u(3), u(4), u(5));
        Finish(FrameStatus::Good, QString(), out);
        return;
    }
    if (b.size() < kOskaLength) {
        Finish(FrameStatus::Truncated, QStringLiteral("%1 of 11 characters").arg(b.size()), out);
        return;
    }
    if (hexFault) {
        Finish(FrameStatus::BadHexDigit, QStringLiteral("a character that is no hex digit"), out);
        return;
    }
    int sum = 0;
    for (int i = 0; i < 9; ++i) sum += u(i);
    const int stated = HexValue(u(9)) * 16 + HexValue(u(10));
    if ((sum & 0xFF) != stated) {
        Finish(FrameStatus::BadChecksum,
               QStringLiteral("checksum %1, expected %2")
                   .arg(QLatin1String(b.mid(9, 2)),
                        QString::number(sum & 0xFF, 16).toUpper().rightJustified(2, '0')),
               out);
        return;
    }
    current.command = DecodeOskaCommand(b.mid(3, 6));
    Finish(FrameStatus::Good, QString(), out);
}

QString ProtocolName(LineProtocol protocol) {
    switch (protocol) {
        case LineProtocol::OskaDefault:
            return QStringLiteral("OSKA-DEFAULT");
        case LineProtocol::PelcoD:
            return QStringLiteral("PELCO D");
        case LineProtocol::None:
            break;
    }
    return QStringLiteral("-");
}

QString StatusName(FrameStatus status) {
    switch (status) {
        case FrameStatus::Good:
            return QStringLiteral("good");
        case FrameStatus::BadChecksum:
            return QStringLiteral("bad checksum");
        case FrameStatus::Truncated:
            return QStringLiteral("truncated");
        case FrameStatus::ForeignByte:
            return QStringLiteral("foreign byte");
        case FrameStatus::BadHexDigit:
            return QStringLiteral("bad hex digit");
        case FrameStatus::Noise:
            break;
    }
    return QStringLiteral("noise");
}
