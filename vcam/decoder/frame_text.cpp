#include "frame_text.h"

#include <QStringList>

#include "frame_decoder.h"

QString HexBytes(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString MeaningText(const DecodedFrame& frame) {
    return frame.IsGood() ? frame.command.words : frame.problem;
}

QString FrameLine(const DecodedFrame& frame, qint64 originUs) {
    const QString gap =
        frame.gapUs < 0 ? QStringLiteral("-") : QString::number(frame.gapUs / 1000.0, 'f', 1);
    const QString address =
        frame.address < 0 ? QStringLiteral("-") : QString::number(frame.address);
    return QStringList{QString::number((frame.startUs - originUs) / 1e6, 'f', 3),
                       gap,
                       ProtocolName(frame.protocol),
                       address,
                       StatusName(frame.status),
                       MeaningText(frame),
                       HexBytes(frame.bytes)}
        .join(QLatin1Char('\t'));
}
