#pragma once

#include <QList>
#include <QString>
#include <functional>

// The keypad as a remote client drives it: the keys of the panel, by their control IDs, each
// doing what that key does on the panel, through the same controller and line. A movement
// key is held by a down and ended by an up; a remote hold lives only while its lease does,
// and a down or a renew extends it. One movement at a time, owned by whoever started it: the
// local operator, or one client. The local operator always wins: a press on the panel stops
// a remote movement first, then starts his own. Called on the window's thread only.
class RemoteKeys {
public:
    enum class Outcome {
        Done,           // the frame went out whole; for a down, the hold is the client's
        TransferError,  // the line did not take the frame whole: "Transfer Error!"
        CameraRange,    // the camera is outside 0..255: "Camera ID Range (0 ~ 255) Error!"
        UnknownKey,     // no key of the panel has that ID, or it is no camera key
        KeyDisabled,    // the protocol and camera-type rules disable the key
        NotMovement,    // a down or an up for a key that does not move (it takes a press),
                        // or a press for one that does (it takes a down and an up)
        HeldByOther,    // another holder has the movement: holder and leaseLeftMs say who
        NotHolder,      // an up or a renew from a client that holds nothing
        LineDown,       // the line is down and heals by itself: nothing was sent
    };

    struct Reply {
        Outcome outcome = Outcome::Done;
        QString holder;        // HeldByOther: "the local operator" or a client's name
        int camera = -1;       // the camera of the hold the reply is about
        int leaseLeftMs = -1;  // ms until that hold's lease ends; -1: the local operator's
        QString words;         // the outcome in the program's words, for errors
    };

    // A remote hold as the state shows it.
    struct Hold {
        QString holder;  // "the local operator" or a client's name
        bool local = false;
        int controlId = 0;
        int camera = 0;
        int leaseLeftMs = -1;  // -1 for the local operator, who needs no lease
    };

    struct State {
        bool lineOpen = false;
        bool lineHealing = false;  // dropped, and opened again by itself
        QString lineWords;         // why the line is down, or the port and rate while open
        int protocol = 0;          // 0 OSKA-DEFAULT, 1 PELCO D
        int cameraType = 0;        // 0 ZOOM, 1 B/D
        QList<int> enabledKeys;    // the camera keys the rules enable now
        QList<Hold> holds;         // at most one today
        bool stopOwed = false;     // a stop the line has not carried whole yet
        int stopOwedCamera = -1;
    };

    // What happened to a client's hold that it did not ask for, or to the line.
    enum class EventKind {
        Stopped,     // its movement ended with its stop (why says how: "released", ...)
        LeaseEnded,  // its lease lapsed: the stop went out (or is owed)
        TakenOver,   // the local operator pressed a key: its movement was stopped
        LineState,   // the line dropped, came back, or a stop owed went out
    };
    struct Event {
        EventKind kind = EventKind::LineState;
        QString client;  // empty for LineState: for every client
        int controlId = 0;
        int camera = -1;
        QString why;
    };

    virtual ~RemoteKeys() = default;

    // A movement key held down by client on camera, for leaseMs (250 to 5000). A repeated
    // down from the holder extends the lease; from another client it is refused.
    virtual Reply Down(const QString& client, int controlId, int camera, int leaseMs) = 0;
    // The holder lets go: the stop goes out. From anyone else it ends nothing.
    virtual Reply Up(const QString& client, int controlId) = 0;
    virtual Reply Renew(const QString& client, int leaseMs) = 0;
    // A key that does not move (POWER, INIT, RESET, CAM), on camera. CAM selects selectId,
    // as the panel's CAM selects the typed ID.
    virtual Reply Press(const QString& client, int controlId, int camera, int selectId) = 0;
    // The client's connection closed or stopped answering: its hold ends at once.
    virtual void ClientGone(const QString& client) = 0;
    virtual State Snapshot() const = 0;
    // Where the events go; one sink.
    virtual void SetEventSink(std::function<void(const Event&)> sink) = 0;
};
