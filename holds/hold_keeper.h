#pragma once

#include <QTimer>
#include <functional>

#include "key_holds.h"
#include "protocol/notice.h"
#include "remote_keys.h"

// What the keeper of holds needs of the keypad: the frames of a client's keys on the client's
// camera, through the same rows and line as the panel's, and what the keypad knows.
struct HoldLine {
    // The movement frame of a key for a camera, once a stop owed to another camera has gone.
    std::function<Notice(int controlId, int camera)> moveCamera;
    // The stop for a camera, after a stop owed to another camera.
    std::function<Notice(int camera)> stopCamera;
    // A key that does not move, on a camera; CAM selects the third argument.
    std::function<Notice(int controlId, int camera, int selectId)> pressKey;
    // Why a client's key cannot act now (unknown, disabled, out of range, the line down);
    // Done when it can. The last argument: whether the key is asked to move.
    std::function<RemoteKeys::Reply(int controlId, int camera, bool movement)> refusal;
    // "Transfer Error!" with why the line fell short, where it can tell.
    std::function<QString()> transferError;
    // The leases' clock, in ms.
    std::function<int64_t()> clockMs;
};

// Keeps who holds the one movement on the line (KeyHolds' table) and the clients' leases, and
// carries out what the table decides through the keypad's line. Events for clients go to one
// sink; the window is told whenever the hold changes. On the window's thread only.
class HoldKeeper {
public:
    using Reply = RemoteKeys::Reply;
    using Event = RemoteKeys::Event;
    using EventKind = RemoteKeys::EventKind;

    explicit HoldKeeper(HoldLine line);

    Reply Down(const QString& client, int controlId, int camera, int leaseMs);
    Reply Up(const QString& client);
    Reply Renew(const QString& client, int leaseMs);
    Reply Press(const QString& client, int controlId, int camera, int selectId);
    void ClientGone(const QString& client);
    // A lease that has run out ends its movement with its stop; the lease timer calls it.
    void CheckLeases();

    // The local operator presses a movement key: a client's movement is stopped first, whole.
    // False when its stop did not go out whole: his movement must not follow.
    bool LocalDown();
    // His movement went out (or was tried): the hold is his.
    void LocalHolds(int controlId, int camera);
    // He released a key: whatever a client held ends, and the client is told. The stops are
    // the keypad's to send.
    void LocalReleased();
    // A client's movement stopped for the settings' sake (a protocol picked, COMMUNICATION SET).
    Notice StopClient(const QString& why);

    const KeyHolds::Hold& Current() const { return hold; }
    // "Remote: desk-2 holds Z/I on camera 12" while a client holds; empty otherwise.
    QString Text() const;
    // The hold as a client sees it in a state.
    QList<RemoteKeys::Hold> Holds() const;
    void SetWatcher(std::function<void()> changed) { watcher = std::move(changed); }
    void SetSink(std::function<void(const Event&)> events) { sink = std::move(events); }
    void Tell(const Event& event) const;

private:
    void SetHold(const KeyHolds::Hold& next);
    void ArmLease();
    Notice StopHolder(EventKind kind, const QString& why);
    Reply Answer(Notice sent, const KeyHolds::Hold& of) const;
    int LeaseLeftMs(const KeyHolds::Hold& of) const;

    HoldLine line;
    KeyHolds::Hold hold;
    QTimer leaseTimer;
    std::function<void()> watcher;
    std::function<void(const Event&)> sink;
};

// A key's caption on the panel ("Z/I"), for words.
QString KeyCaption(int controlId);
