// The keypad as remote clients drive it: their holds, leases and replies, beside the local
// operator's, through the same command rows and the same line.
#include <QScopedValueRollback>
#include <algorithm>

#include "keypad_controller.h"
#include "protocol/frame_builder.h"
#include "serial/line/pause.h"

namespace {

constexpr int kMinLeaseMs = 250;
constexpr int kMaxLeaseMs = 5000;
const char* const kLocalOperator = "the local operator";

// The keys a client may press (no movement): a press, not a down and an up.
bool IsPressKey(int controlId) {
    return controlId == ControlId::Init || controlId == ControlId::Power ||
           controlId == ControlId::Reset || controlId == ControlId::Cam;
}

QString Caption(int controlId) {
    switch (controlId) {
        case ControlId::ZoomIn:
            return QStringLiteral("Z/I");
        case ControlId::ZoomOut:
            return QStringLiteral("Z/O");
        case ControlId::FocusFar:
            return QStringLiteral("F/F");
        case ControlId::FocusNear:
            return QStringLiteral("F/N");
        case ControlId::MenuUp:
            return QStringLiteral("M/U");
        case ControlId::Set:
            return QStringLiteral("SET");
        case ControlId::Init:
            return QStringLiteral("INIT");
        case ControlId::Power:
            return QStringLiteral("POWER");
        case ControlId::Reset:
            return QStringLiteral("RESET");
        case ControlId::Cam:
            return QStringLiteral("CAM");
        case ControlId::Up:
            return QStringLiteral("UP");
        case ControlId::Down:
            return QStringLiteral("DOWN");
        case ControlId::Left:
            return QStringLiteral("LEFT");
        case ControlId::Right:
            return QStringLiteral("RIGHT");
        default:
            return QStringLiteral("key %1").arg(controlId);
    }
}

QString HolderName(const KeyHolds::Hold& hold) {
    return hold.holder == KeyHolds::Holder::Client ? hold.client
                                                   : QString::fromLatin1(kLocalOperator);
}

}  // namespace

QString KeypadController::RemoteHoldText() const {
    if (hold.holder != KeyHolds::Holder::Client)
        return QString();
    return QStringLiteral("Remote: %1 holds %2 on camera %3")
        .arg(hold.client, Caption(hold.controlId))
        .arg(hold.camera);
}

void KeypadController::SetHold(const KeyHolds::Hold& next) {
    const bool changed = next.holder != hold.holder || next.client != hold.client ||
                         next.camera != hold.camera || next.controlId != hold.controlId;
    hold = next;
    ArmLease();
    if (changed && holdWatcher)
        holdWatcher();
}

void KeypadController::ArmLease() {
    if (hold.holder != KeyHolds::Holder::Client) {
        leaseTimer.stop();
        return;
    }
    leaseTimer.start(int(std::max<qint64>(0, hold.leaseEndsMs - NowMs())));
}

int64_t KeypadController::NowMs() const {
    return pause.NowNs() / 1000000;
}

void KeypadController::CheckLeases() {
    if (hold.holder != KeyHolds::Holder::Client)
        return;
    // A renew may have come while the timer's event waited.
    if (NowMs() < hold.leaseEndsMs) {
        ArmLease();
        return;
    }
    StopClientMovement(EventKind::LeaseEnded,
                       QStringLiteral("its lease ended: nothing was heard from it"));
}

void KeypadController::TellClient(EventKind kind, const KeyHolds::Hold& of, const QString& why) {
    if (remoteSink && of.holder == KeyHolds::Holder::Client)
        remoteSink({kind, of.client, of.controlId, of.camera, why});
}

void KeypadController::TellLineState() {
    if (!remoteSink)
        return;
    const State now = Snapshot();
    remoteSink({EventKind::LineState, QString(), 0, -1, now.lineWords});
}

Notice KeypadController::WithCamera(int camera, const std::function<Notice()>& send) {
    const QScopedValueRollback<int32_t> restore(state.cameraId, camera);
    return send();
}

Notice KeypadController::StopClientMovement(EventKind kind, const QString& why) {
    const KeyHolds::Hold ended = hold;
    SetHold({});
    // The client's stop under the line's rules: it stays owed until the line carried it whole.
    const Notice sent = WithCamera(ended.camera, [this] { return SendStopFrame(); });
    TellClient(kind, ended,
               sent == Notice::None ? why
                                    : why + QStringLiteral("; the stop is owed and goes "
                                                           "out as soon as the line takes "
                                                           "bytes again"));
    return sent;
}

RemoteKeys::Reply KeypadController::CheckRemoteKey(int controlId, int camera, bool movement) const {
    Reply reply;
    if (!CommandSet::IsStopKey(controlId) && !IsPressKey(controlId)) {
        reply.outcome = Outcome::UnknownKey;
        reply.words = QStringLiteral("no key of the keypad has the number %1").arg(controlId);
    } else if (CommandSet::IsStopKey(controlId) != movement) {
        reply.outcome = Outcome::NotMovement;
        reply.words =
            movement ? QStringLiteral("%1 does not move a camera: press it").arg(Caption(controlId))
                     : QStringLiteral("%1 moves a camera: hold it down and let it up")
                           .arg(Caption(controlId));
    } else if (!CameraIdEntry::InRange(camera)) {
        reply.outcome = Outcome::CameraRange;
        reply.words = QStringLiteral("Camera ID Range (0 ~ 255) Error!");
    } else if (!KeyEnabled(controlId)) {
        reply.outcome = Outcome::KeyDisabled;
        reply.words =
            QStringLiteral("%1 is disabled under %2 with %3 cameras")
                .arg(Caption(controlId),
                     state.protocol == ProtocolOskaDefault ? QStringLiteral("OSKA-DEFAULT")
                                                           : QStringLiteral("PELCO D"),
                     state.cameraType == CameraTypeZoom ? QStringLiteral("ZOOM")
                                                        : QStringLiteral("B/D"));
    } else if (settling || !link.isOpen()) {
        reply.outcome = Outcome::LineDown;
        reply.words = settling ? QStringLiteral("the line is being opened or closed; try again")
                      : link.isHealing()
                          ? LineDropReason()
                          : QStringLiteral("the line is not open (%1)").arg(OpenFailureReason());
    }
    return reply;
}

RemoteKeys::Reply KeypadController::Answer(Notice sent, const KeyHolds::Hold& of) const {
    Reply reply;
    reply.camera = of.camera;
    if (of.holder == KeyHolds::Holder::Client)
        reply.leaseLeftMs = int(std::max<qint64>(0, of.leaseEndsMs - NowMs()));
    if (sent != Notice::None) {
        reply.outcome = Outcome::TransferError;
        const QString why = WriteFailureReason();
        reply.words = why.isEmpty() ? QStringLiteral("Transfer Error!")
                                    : QStringLiteral("Transfer Error! (%1)").arg(why);
    }
    return reply;
}

RemoteKeys::Reply KeypadController::Down(const QString& client, int controlId, int camera,
                                         int leaseMs) {
    Reply refused = CheckRemoteKey(controlId, camera, true);
    if (refused.outcome != Outcome::Done)
        return refused;
    const KeyHolds::Verdict verdict = KeyHolds::Decide(
        hold, KeyHolds::Ask::Down, KeyHolds::Holder::Client, client, controlId, camera);
    const qint64 leaseEnds = NowMs() + std::clamp(leaseMs, kMinLeaseMs, kMaxLeaseMs);
    if (verdict == KeyHolds::Verdict::Refuse) {
        refused = Answer(Notice::None, hold);
        refused.outcome = Outcome::HeldByOther;
        refused.holder = HolderName(hold);
        refused.words = QStringLiteral("%1 holds %2 on camera %3")
                            .arg(refused.holder, Caption(hold.controlId))
                            .arg(hold.camera);
        return refused;
    }
    if (verdict == KeyHolds::Verdict::Extend) {
        hold.leaseEndsMs = leaseEnds;
        ArmLease();
        return Answer(Notice::None, hold);
    }
    const Notice sent = WithCamera(camera, [&] {
        return BeginMovement() ? commands.RunKeyRow(controlId) : Notice::TransferError;
    });
    // A movement that did not go out whole is not held; a stop it owes goes out by itself.
    const KeyHolds::Hold next{KeyHolds::Holder::Client, client, controlId, camera, leaseEnds};
    if (sent == Notice::None)
        SetHold(next);
    else if (hold.holder == KeyHolds::Holder::Client && hold.client == client)
        SetHold({});
    return Answer(sent, next);
}

RemoteKeys::Reply KeypadController::Up(const QString& client, int controlId) {
    Q_UNUSED(controlId);
    if (KeyHolds::Decide(hold, KeyHolds::Ask::Up, KeyHolds::Holder::Client, client) !=
        KeyHolds::Verdict::Stop) {
        Reply reply;
        reply.outcome = Outcome::NotHolder;
        reply.holder = hold.holder == KeyHolds::Holder::Nobody ? QString() : HolderName(hold);
        reply.words =
            hold.holder == KeyHolds::Holder::Nobody
                ? QStringLiteral("%1 holds nothing").arg(client)
                : QStringLiteral("%1 holds the movement, not %2").arg(HolderName(hold), client);
        return reply;
    }
    const KeyHolds::Hold ended = hold;
    SetHold({});
    return Answer(WithCamera(ended.camera, [this] { return SendStopFrame(); }), ended);
}

RemoteKeys::Reply KeypadController::Renew(const QString& client, int leaseMs) {
    if (KeyHolds::Decide(hold, KeyHolds::Ask::Renew, KeyHolds::Holder::Client, client) !=
        KeyHolds::Verdict::Extend) {
        Reply reply;
        reply.outcome = Outcome::NotHolder;
        reply.words = QStringLiteral("%1 holds nothing to renew").arg(client);
        return reply;
    }
    hold.leaseEndsMs = NowMs() + std::clamp(leaseMs, kMinLeaseMs, kMaxLeaseMs);
    ArmLease();
    return Answer(Notice::None, hold);
}

RemoteKeys::Reply KeypadController::Press(const QString& client, int controlId, int camera,
                                          int selectId) {
    Q_UNUSED(client);
    const Reply refused = CheckRemoteKey(controlId, camera, false);
    if (refused.outcome != Outcome::Done)
        return refused;
    if (controlId == ControlId::Cam && !CameraIdEntry::InRange(selectId)) {
        Reply range;
        range.outcome = Outcome::CameraRange;
        range.words = QStringLiteral("Camera ID Range (0 ~ 255) Error!");
        return range;
    }
    const Notice sent = WithCamera(camera, [&] {
        if (controlId != ControlId::Cam)
            return commands.RunKeyRow(controlId);
        // Camera select for selectId, addressed to camera, as the panel's CAM does for the
        // typed ID; the panel's own entry is left as it is.
        state.txFrame = FrameBuilder::WriteCameraSelect(state.txFrame, selectId);
        return commands.TransmitFrame().AsNotice();
    });
    return Answer(sent, {KeyHolds::Holder::Client, client, controlId, camera, 0});
}

void KeypadController::ClientGone(const QString& client) {
    if (KeyHolds::Decide(hold, KeyHolds::Ask::Gone, KeyHolds::Holder::Client, client) ==
        KeyHolds::Verdict::Stop)
        StopClientMovement(EventKind::Stopped, QStringLiteral("its connection ended"));
}

RemoteKeys::State KeypadController::Snapshot() const {
    State now;
    now.lineOpen = link.isOpen();
    now.lineHealing = link.isHealing();
    now.lineWords =
        now.lineOpen ? QStringLiteral("COM%1 at %2 baud").arg(link.LastPort()).arg(link.LineBaud())
        : now.lineHealing ? LineDropReason()
                          : OpenFailureReason();
    now.protocol = state.protocol;
    now.cameraType = state.cameraType;
    for (int id :
         {ControlId::ZoomIn, ControlId::ZoomOut, ControlId::FocusFar, ControlId::FocusNear,
          ControlId::MenuUp, ControlId::Set, ControlId::Init, ControlId::Power, ControlId::Reset,
          ControlId::Cam, ControlId::Up, ControlId::Down, ControlId::Left, ControlId::Right})
        if (KeyEnabled(id))
            now.enabledKeys << id;
    if (hold.holder != KeyHolds::Holder::Nobody) {
        const bool local = hold.holder == KeyHolds::Holder::Local;
        now.holds << Hold{HolderName(hold), local, hold.controlId, hold.camera,
                          local ? -1 : int(std::max<qint64>(0, hold.leaseEndsMs - NowMs()))};
    }
    now.stopOwed = link.StopOwed();
    if (now.stopOwed)
        now.stopOwedCamera =
            link.Record().stopLength == FrameBuilder::kPelcoLength
                ? link.Record().stop[1]
                : QByteArray(reinterpret_cast<const char*>(link.Record().stop) + 1, 2)
                      .toInt(nullptr, 16);
    return now;
}
