#pragma once

#include <QString>
#include <cstdint>

// Who holds the one movement on the line: nobody, the local operator, or one remote client,
// whose hold lives only as long as its lease. A movement belongs to whoever started it: an
// up, or a lease's end, from anyone else ends nothing, and a down from another client is
// refused. The local operator always wins: his down stops a client's movement first, and his
// release ends whatever moves. His own holds need no lease.
namespace KeyHolds {

enum class Holder : uint8_t { Nobody, Local, Client };

struct Hold {
    Holder holder = Holder::Nobody;
    QString client;  // Client only
    int controlId = 0;
    int camera = -1;
    int64_t leaseEndsMs = 0;  // Client only, on the controller's clock
};

enum class Ask : uint8_t {
    Down,   // a movement key goes down (or repeats)
    Up,     // it is released
    Renew,  // the lease is extended
    Lapse,  // the lease ran out
    Gone,   // the client's connection closed or stopped answering
};

enum class Verdict : uint8_t {
    Move,      // the movement frame goes; the hold becomes the asker's
    Extend,    // the holder's same movement again: its lease is extended, no frame
    TakeOver,  // the local operator's down: the client's movement is stopped first, then his
    Refuse,    // another holds the movement
    Stop,      // the holder's stop goes; the hold ends
    Ignore,    // not the holder's to end; or nothing held
};

// The table: what an ask from who (client: its name) does to hold. A down names the key and
// camera it is for.
Verdict Decide(const Hold& hold, Ask ask, Holder who, const QString& client = QString(),
               int controlId = 0, int camera = -1);

}  // namespace KeyHolds
