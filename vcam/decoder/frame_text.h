#pragma once

#include <QString>

struct DecodedFrame;

// The bytes as upper-case hex pairs separated by spaces.
QString HexBytes(const QByteArray& bytes);
// The meaning of a good frame, or what was wrong with a bad one.
QString MeaningText(const DecodedFrame& frame);
// One line per frame for scripts, tab-separated: seconds since originUs, gap before the
// frame in ms ("-" at the start), protocol, address ("-" when unreadable), status,
// meaning, bytes in hex.
QString FrameLine(const DecodedFrame& frame, qint64 originUs);
