#include "telnet_escape.h"

namespace TelnetEscape {

namespace {

int ByteLength(uint8_t byte, bool binary) {
    return byte == kIac || (byte == kCr && !binary) ? 2 : 1;
}

}  // namespace

int WireLength(const uint8_t* data, int count, bool binary) {
    int length = 0;
    for (int i = 0; i < count; ++i) length += ByteLength(data[i], binary);
    return length;
}

int Escape(const uint8_t* data, int count, uint8_t* out, bool binary) {
    int length = 0;
    for (int i = 0; i < count; ++i) {
        out[length++] = data[i];
        if (data[i] == kIac)
            out[length++] = kIac;
        else if (data[i] == kCr && !binary)
            out[length++] = 0;
    }
    return length;
}

int WholeBytes(const uint8_t* data, int count, int sent, bool binary) {
    int whole = 0;
    for (int wire = 0; whole < count; ++whole) {
        wire += ByteLength(data[whole], binary);
        if (wire > sent)
            break;
    }
    return whole;
}

}  // namespace TelnetEscape
