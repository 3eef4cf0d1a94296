#include "frame_builder.h"

#include <algorithm>
#include <iterator>

namespace FrameBuilder {

uint8_t HexDigit(int nibble) {
    return static_cast<uint8_t>(nibble < 10 ? nibble + 0x30 : nibble + 0x37);
}

TxFrame HexPair(TxFrame frame, int value) {
    const int byte = value & 0xFF;
    frame[kHexLow] = HexDigit(byte & 0x0F);
    frame[kHexHigh] = HexDigit(byte >> 4);
    return frame;
}

TxFrame WriteCommand(TxFrame frame, int32_t protocol, int a, int b, int c, int d) {
    if (protocol == ProtocolOskaDefault) {
        frame[3] = '7';
        frame[4] = '5';
        frame[5] = static_cast<uint8_t>(a);
        frame[6] = static_cast<uint8_t>(b);
        frame[7] = '0';
        frame[8] = '0';
    } else {
        frame[2] = static_cast<uint8_t>(a);
        frame[3] = static_cast<uint8_t>(b);
        frame[4] = static_cast<uint8_t>(c);
        frame[5] = static_cast<uint8_t>(d);
    }
    return frame;
}

TxFrame WriteStop(TxFrame frame, int32_t protocol) {
    if (protocol == ProtocolOskaDefault) {
        const uint8_t stop[] = {'7', '5', '0', '9', '0', '0'};
        std::copy(std::begin(stop), std::end(stop), frame.begin() + 3);
    } else {
        std::fill(frame.begin() + 2, frame.begin() + 6, uint8_t{0});
    }
    return frame;
}

TxFrame WriteReset(TxFrame frame) {
    const uint8_t reset[] = {'7', '1', '0', '0', '0', '0'};
    std::copy(std::begin(reset), std::end(reset), frame.begin() + 3);
    return frame;
}

TxFrame WriteCameraSelect(TxFrame frame, int newId) {
    frame[3] = '7';
    frame[4] = '4';
    frame = HexPair(frame, newId);
    frame[5] = frame[kHexHigh];
    frame[6] = frame[kHexLow];
    frame[7] = '0';
    frame[8] = '0';
    return frame;
}

TxFrame CompleteFrame(TxFrame frame, int32_t protocol, int32_t cameraId) {
    if (protocol == ProtocolOskaDefault) {
        frame[0] = '*';
        frame = HexPair(frame, cameraId);
        frame[1] = frame[kHexHigh];
        frame[2] = frame[kHexLow];
        int sum = 0;
        for (int i = 0; i <= 8; ++i) sum += frame[i];
        frame = HexPair(frame, sum);
        frame[9] = frame[kHexHigh];
        frame[10] = frame[kHexLow];
    } else {
        frame[0] = 0xFF;
        frame[1] = static_cast<uint8_t>(cameraId & 0xFF);
        int sum = 0;  // the sync byte is not part of the checksum
        for (int i = 1; i <= 5; ++i) sum += frame[i];
        frame[6] = static_cast<uint8_t>(sum & 0xFF);
    }
    return frame;
}

int FrameLength(int32_t protocol) {
    return protocol == ProtocolOskaDefault ? kOskaLength : kPelcoLength;
}

}  // namespace FrameBuilder
