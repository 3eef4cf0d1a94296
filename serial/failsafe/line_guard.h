#pragma once

#include <cstdint>
#include <string>

#include "movement_record.h"

// Whoever must still stop a camera once the program cannot: it keeps the movement record
// the link writes, and learns of every port the link opens and closes. A guard that holds
// the line too must let it go in LineClosed, before the link closes its own, so that the
// port can be opened again at once.
class LineGuard {
public:
    virtual ~LineGuard() = default;
    virtual MovementRecord& Record() = 0;
    // line: the open port's file descriptor, or its HANDLE on Windows.
    virtual void LineOpened(intptr_t line) = 0;
    virtual void LineClosed() = 0;
    // What the guard cannot cover, in plain words; empty when it covers everything.
    virtual std::string Warning() const { return std::string(); }
};
