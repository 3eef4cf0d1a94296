#pragma once

// What an operator action came to that the operator must be told. The core only reports
// it; the panel decides how it is shown.
enum class Notice {
    None,
    TransferError,  // a byte of the frame did not leave: "Transfer Error!"
    CameraIdRange,  // the typed camera ID is outside 0..255
};

// How far a frame got: bytes that left for the line, of the frame's length.
struct FrameResult {
    int sent = 0;
    int length = 0;
    bool Whole() const { return sent == length; }
    Notice AsNotice() const { return Whole() ? Notice::None : Notice::TransferError; }
};
