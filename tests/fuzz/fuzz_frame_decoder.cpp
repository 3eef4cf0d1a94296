// Feeds arbitrary bytes to the line analyser's decoder in chunks of arbitrary size at
// arbitrary times. The first bytes of the input choose the chunk sizes and time steps.
// Beyond the sanitizers' checks it aborts if a byte is lost or repeated, or a stretch
// other than noise is longer than the longest frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "camera_model.h"
#include "frame_decoder.h"
#include "frame_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const size_t plan = 1 + data[0] % 32;  // how many bytes of the input drive the splits
    if (size <= plan)
        return 0;
    const QByteArray stream(reinterpret_cast<const char*>(data + plan),
                            static_cast<qsizetype>(size - plan));
    FrameDecoder decoder;
    CameraModel cameras;
    QVector<DecodedFrame> frames;
    qint64 at = 0;
    size_t step = 0;
    for (qsizetype pos = 0; pos < stream.size();) {
        const uint8_t choice = data[step++ % plan];
        const qsizetype chunk = 1 + choice % 13;
        frames += decoder.Feed(stream.mid(pos, chunk), at);
        at += (choice >> 4) * 4000;  // 0 to 60 ms: around both pauses and a frame time
        frames += decoder.Expire(at);
        pos += chunk;
    }
    frames += decoder.Flush();

    QByteArray seen;
    for (const DecodedFrame& frame : frames) {
        seen += frame.bytes;
        if (frame.bytes.isEmpty() ||
            (frame.status != FrameStatus::Noise && frame.bytes.size() > 11))
            std::abort();
        cameras.Apply(frame);
        (void)FrameLine(frame, 0);
    }
    cameras.Advance(at);
    if (seen != stream)
        std::abort();
    return 0;
}
