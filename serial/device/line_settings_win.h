#pragma once

#include <windows.h>

#include <cstdint>

// The queue sizes asked of the driver, which may round them or keep its own: room for a
// great many frames of at most 11 bytes, written one byte at a time.
constexpr DWORD kLineQueueBytes = 4096;
// The XON/XOFF limits, within the smallest queue a driver keeps.
constexpr WORD kLineFlowLimitBytes = 64;
static_assert(kLineFlowLimitBytes * 2 < kLineQueueBytes, "the XON/XOFF limits exceed the queue");

// dcb as the line is set up at baud, every field that decides how bytes leave set and
// the rest kept as the driver gave them.
DCB LineSettings(DCB dcb, uint32_t baud);
// Whether a failed write's error is one an adapter gives once it is unplugged or its
// driver has given it up: the line is gone, not stalled.
bool LineGoneError(unsigned long error);
