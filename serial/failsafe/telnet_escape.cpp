#include "telnet_escape.h"

namespace TelnetEscape {

int WireLength(const uint8_t* data, int count) {
    int length = 0;
    for (int i = 0; i < count; ++i) length += data[i] == kIac ? 2 : 1;
    return length;
}

int Escape(const uint8_t* data, int count, uint8_t* out) {
    int length = 0;
    for (int i = 0; i < count; ++i) {
        out[length++] = data[i];
        if (data[i] == kIac)
            out[length++] = kIac;
    }
    return length;
}

int WholeBytes(const uint8_t* data, int count, int sent) {
    int whole = 0;
    for (int wire = 0; whole < count; ++whole) {
        wire += data[whole] == kIac ? 2 : 1;
        if (wire > sent)
            break;
    }
    return whole;
}

}  // namespace TelnetEscape
