#pragma once

#include <cstdint>

#include "movement_record.h"

// Sends what the record owes on line (a file descriptor; a HANDLE on Windows), paced as the
// link paces its bytes, and keeps the record up to date as it goes, so that a sender after
// this one sends only what this one could not. Safe in a crashed process and in a signal
// handler: raw writes and sleeps, no allocation, no lock. Returns the bytes written.
int SendOwedBytes(intptr_t line, MovementRecord& record);
