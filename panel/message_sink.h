#pragma once

#include <QString>

// Where the modal operator messages go: a message box with an OK button in the window,
// a recorder in tests. ShowMessage returns once the operator has dismissed it.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void ShowMessage(const QString& text) = 0;
};

inline const char* const kTransferErrorText = "Transfer Error!";
inline const char* const kCameraIdRangeText = "Camera ID Range (0 ~ 255) Error!";
