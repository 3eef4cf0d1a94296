#include "hold_keeper.h"

#include <QHash>
#include <algorithm>

#include "protocol/control_ids.h"

namespace {

// A client may ask for a lease from a quarter of a second (a renew every few frames) to five
// seconds (a slow control-room system); one outside is brought within.
constexpr int kMinLeaseMs = 250;
constexpr int kMaxLeaseMs = 5000;
const char* const kLocalOperator = "the local operator";

QString HolderName(const KeyHolds::Hold& hold) {
    return hold.holder == KeyHolds::Holder::Client ? hold.client
                                                   : QString::fromLatin1(kLocalOperator);
}

}  // namespace

QString KeyCaption(int controlId) {
    static const QHash<int, const char*> captions = {
        {ControlId::ZoomIn, "Z/I"},    {ControlId::ZoomOut, "Z/O"}, {ControlId::FocusFar, "F/F"},
        {ControlId::FocusNear, "F/N"}, {ControlId::MenuUp, "M/U"},  {ControlId::Set, "SET"},
        {ControlId::Init, "INIT"},     {ControlId::Power, "POWER"}, {ControlId::Reset, "RESET"},
        {ControlId::Cam, "CAM"},       {ControlId::Up, "UP"},       {ControlId::Down, "DOWN"},
        {ControlId::Left, "LEFT"},     {ControlId::Right, "RIGHT"}};
    const char* caption = captions.value(controlId);
    return caption ? QString::fromLatin1(caption) : QStringLiteral("key %1").arg(controlId);
}

HoldKeeper::HoldKeeper(HoldLine line) : line(std::move(line)) {
    leaseTimer.setSingleShot(true);
    leaseTimer.callOnTimeout([this] { CheckLeases(); });
}

QString HoldKeeper::Text() const {
    if (hold.holder != KeyHolds::Holder::Client)
        return QString();
    return QStringLiteral("Remote: %1 holds %2 on camera %3")
        .arg(hold.client, KeyCaption(hold.controlId))
        .arg(hold.camera);
}

QList<RemoteKeys::Hold> HoldKeeper::Holds() const {
    if (hold.holder == KeyHolds::Holder::Nobody)
        return {};
    const bool local = hold.holder == KeyHolds::Holder::Local;
    return {{HolderName(hold), local, hold.controlId, hold.camera, LeaseLeftMs(hold)}};
}

int HoldKeeper::LeaseLeftMs(const KeyHolds::Hold& of) const {
    if (of.holder != KeyHolds::Holder::Client)
        return -1;
    return int(std::max<int64_t>(0, of.leaseEndsMs - line.clockMs()));
}

void HoldKeeper::Tell(const Event& event) const {
    if (sink)
        sink(event);
}

void HoldKeeper::SetHold(const KeyHolds::Hold& next) {
    const bool changed = next.holder != hold.holder || next.client != hold.client ||
                         next.camera != hold.camera || next.controlId != hold.controlId;
    hold = next;
    ArmLease();
    if (changed && watcher)
        watcher();
}

void HoldKeeper::ArmLease() {
    if (hold.holder != KeyHolds::Holder::Client) {
        leaseTimer.stop();
        return;
    }
    leaseTimer.start(LeaseLeftMs(hold));
}

void HoldKeeper::CheckLeases() {
    if (KeyHolds::Decide(hold, KeyHolds::Ask::Lapse, KeyHolds::Holder::Client, hold.client) !=
        KeyHolds::Verdict::Stop)
        return;
    // A renew may have come while the timer's event waited.
    if (LeaseLeftMs(hold) > 0) {
        ArmLease();
        return;
    }
    StopHolder(EventKind::LeaseEnded, QStringLiteral("its lease ended: nothing was heard from it"));
}

Notice HoldKeeper::StopHolder(EventKind kind, const QString& why) {
    const KeyHolds::Hold ended = hold;
    SetHold({});
    // The client's stop under the line's rules: it stays owed until the line carried it whole.
    const Notice sent = line.stopCamera(ended.camera);
    if (ended.holder == KeyHolds::Holder::Client)
        Tell({kind, ended.client, ended.controlId, ended.camera,
              sent == Notice::None ? why
                                   : why + QStringLiteral("; the stop is owed and goes out as "
                                                          "soon as the line takes bytes again")});
    return sent;
}

HoldKeeper::Reply HoldKeeper::Answer(Notice sent, const KeyHolds::Hold& of) const {
    Reply reply;
    reply.camera = of.camera;
    reply.leaseLeftMs = LeaseLeftMs(of);
    if (sent != Notice::None) {
        reply.outcome = RemoteKeys::Outcome::TransferError;
        reply.words = line.transferError();
    }
    return reply;
}

HoldKeeper::Reply HoldKeeper::Down(const QString& client, int controlId, int camera, int leaseMs) {
    Reply reply = line.refusal(controlId, camera, true);
    if (reply.outcome != RemoteKeys::Outcome::Done)
        return reply;
    const int64_t leaseEnds = line.clockMs() + std::clamp(leaseMs, kMinLeaseMs, kMaxLeaseMs);
    switch (KeyHolds::Decide(hold, KeyHolds::Ask::Down, KeyHolds::Holder::Client, client, controlId,
                             camera)) {
        case KeyHolds::Verdict::Refuse:
            reply = Answer(Notice::None, hold);
            reply.outcome = RemoteKeys::Outcome::HeldByOther;
            reply.holder = HolderName(hold);
            reply.words = QStringLiteral("%1 holds %2 on camera %3")
                              .arg(reply.holder, KeyCaption(hold.controlId))
                              .arg(hold.camera);
            return reply;
        case KeyHolds::Verdict::Extend:
            hold.leaseEndsMs = leaseEnds;
            ArmLease();
            return Answer(Notice::None, hold);
        default:
            break;
    }
    const Notice sent = line.moveCamera(controlId, camera);
    // A movement that did not go out whole is not held; a stop it owes goes out by itself.
    const KeyHolds::Hold next{KeyHolds::Holder::Client, client, controlId, camera, leaseEnds};
    if (sent == Notice::None)
        SetHold(next);
    else if (hold.holder == KeyHolds::Holder::Client && hold.client == client)
        SetHold({});
    return Answer(sent, next);
}

HoldKeeper::Reply HoldKeeper::Up(const QString& client) {
    if (KeyHolds::Decide(hold, KeyHolds::Ask::Up, KeyHolds::Holder::Client, client) ==
        KeyHolds::Verdict::Stop) {
        const KeyHolds::Hold ended = hold;
        SetHold({});
        return Answer(line.stopCamera(ended.camera), ended);
    }
    Reply reply;
    reply.outcome = RemoteKeys::Outcome::NotHolder;
    if (hold.holder == KeyHolds::Holder::Nobody) {
        reply.words = QStringLiteral("%1 holds nothing").arg(client);
    } else {
        reply.holder = HolderName(hold);
        reply.words = QStringLiteral("%1 holds the movement, not %2").arg(reply.holder, client);
    }
    return reply;
}

HoldKeeper::Reply HoldKeeper::Renew(const QString& client, int leaseMs) {
    if (KeyHolds::Decide(hold, KeyHolds::Ask::Renew, KeyHolds::Holder::Client, client) !=
        KeyHolds::Verdict::Extend) {
        Reply reply;
        reply.outcome = RemoteKeys::Outcome::NotHolder;
        reply.words = QStringLiteral("%1 holds nothing to renew").arg(client);
        return reply;
    }
    hold.leaseEndsMs = line.clockMs() + std::clamp(leaseMs, kMinLeaseMs, kMaxLeaseMs);
    ArmLease();
    return Answer(Notice::None, hold);
}

HoldKeeper::Reply HoldKeeper::Press(const QString& client, int controlId, int camera,
                                    int selectId) {
    const Reply refused = line.refusal(controlId, camera, false);
    if (refused.outcome != RemoteKeys::Outcome::Done)
        return refused;
    if (controlId == ControlId::Cam && (selectId < 0 || selectId > 255)) {
        Reply range;
        range.outcome = RemoteKeys::Outcome::CameraRange;
        range.words = QStringLiteral("Camera ID Range (0 ~ 255) Error!");
        return range;
    }
    return Answer(line.pressKey(controlId, camera, selectId),
                  {KeyHolds::Holder::Nobody, client, controlId, camera, 0});
}

void HoldKeeper::ClientGone(const QString& client) {
    if (KeyHolds::Decide(hold, KeyHolds::Ask::Gone, KeyHolds::Holder::Client, client) ==
        KeyHolds::Verdict::Stop)
        StopHolder(EventKind::Stopped, QStringLiteral("its connection ended"));
}

bool HoldKeeper::LocalDown() {
    if (KeyHolds::Decide(hold, KeyHolds::Ask::Down, KeyHolds::Holder::Local) !=
        KeyHolds::Verdict::TakeOver)
        return true;
    return StopHolder(EventKind::TakenOver, QStringLiteral("the local operator pressed a key")) ==
           Notice::None;
}

void HoldKeeper::LocalHolds(int controlId, int camera) {
    SetHold({KeyHolds::Holder::Local, QString(), controlId, camera, 0});
}

void HoldKeeper::LocalReleased() {
    const KeyHolds::Hold ended = hold;
    SetHold({});
    if (ended.holder == KeyHolds::Holder::Client)
        Tell({EventKind::TakenOver, ended.client, ended.controlId, ended.camera,
              QStringLiteral("the local operator released a key")});
}

Notice HoldKeeper::StopClient(const QString& why) {
    return hold.holder == KeyHolds::Holder::Client ? StopHolder(EventKind::Stopped, why)
                                                   : Notice::None;
}
