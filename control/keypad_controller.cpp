#include "keypad_controller.h"

#include <QScopedValueRollback>
#include <algorithm>

#include "profile/port_map.h"
#include "protocol/frame_builder.h"
#include "serial/failsafe/line_guard.h"
#include "serial/line/line_mender.h"
#include "serial/line/pause.h"
#include "serial/ports/problem_words.h"

namespace {

const char* const kBannerLine = "=====================";
const char* const kStatusTitleLine = "  OSKA-ZORVIK STATUS ";
const char* const kBlankLine = " ";
const char* const kStartFailureLine = "Can't OPEN!";
const char* const kSetFailureLine = "Can't Open!";
constexpr int kRowCount = 4;
constexpr int kCameraTypeLine = 7;

int DigitOfKey(int controlId) {
    static const int digitKeys[] = {
        ControlId::Key0, ControlId::Key1, ControlId::Key2, ControlId::Key3, ControlId::Key4,
        ControlId::Key5, ControlId::Key6, ControlId::Key7, ControlId::Key8, ControlId::Key9};
    const auto* key = std::find(std::begin(digitKeys), std::end(digitKeys), controlId);
    return key == std::end(digitKeys) ? -1 : int(key - std::begin(digitKeys));
}

// A row outside a box's rows leaves it without a selection.
int RowOrNone(int64_t row, int count) {
    return row >= 0 && row < count ? int(row) : -1;
}

// The camera a frame of either protocol addresses, in words: "camera 12 (PELCO D)".
QString DescribeTarget(const uint8_t* frame, int length) {
    if (length == FrameBuilder::kPelcoLength)
        return QStringLiteral("camera %1 (PELCO D)").arg(frame[1]);
    if (length == FrameBuilder::kOskaLength) {
        bool ok = false;
        const int address = QByteArray(reinterpret_cast<const char*>(frame) + 1, 2).toInt(&ok, 16);
        if (ok)
            return QStringLiteral("camera %1 (OSKA-DEFAULT)").arg(address);
    }
    return QStringLiteral("the camera that moved");
}

QString CameraTypeLine(int32_t cameraType) {
    return QString::fromLatin1(cameraType != CameraTypeZoom ? "B/D CAM CONTROL"
                                                            : "ZOOM CAM CONTROL");
}

}  // namespace

KeypadController::KeypadController(const KeypadServices& services)
    : profile(services.profile),
      ports(services.ports),
      guard(services.guard),
      mender(services.mender),
      pause(services.pause),
      link(
          services.device, services.pause, [this](int port) { return ResolvePort(port, profile); },
          services.guard, services.mender),
      entry(state, status),
      commands(state, link, entry),
      settings(services.profile) {
    link.SetLineWatcher([this] { OnLineChanged(); });
}

void KeypadController::OnLineChanged() {
    RewriteLinkLines(link.isOpen());
    if (lineWatcher)
        lineWatcher();
    holds.Tell({EventKind::LineState, QString(), 0, -1, Snapshot().lineWords});
}

QString KeypadController::LineDropReason() const {
    if (link.isOpen() || !link.isHealing())
        return QString();
    const PortProblem& drop = link.DropProblem();
    const QString where = drop.device.isEmpty()
                              ? QStringLiteral("COM%1").arg(link.LastPort())
                              : QStringLiteral("COM%1 (%2)").arg(link.LastPort()).arg(drop.device);
    const QString why =
        drop.detail.isEmpty() ? QStringLiteral("the device went away") : drop.detail;
    return QStringLiteral(
               "%1: the line dropped: %2. It is opened again by itself as soon as "
               "it is back, and the stop owed to a moving camera goes out first.")
        .arg(where, why);
}

QString KeypadController::AbandonedStopReason() const {
    const int port = link.AbandonedStopPort();
    const MovementLog::Owed& stop = link.LetGoStop();
    return port == 0 ? QString()
                     : QStringLiteral(
                           "the stop owed to %1 on COM%2 was not sent: COM%3 "
                           "was opened instead")
                           .arg(DescribeTarget(stop.bytes + stop.stopAt, stop.count - stop.stopAt))
                           .arg(port)
                           .arg(link.LastPort());
}

QString KeypadController::OwedStopTarget() const {
    if (!link.StopOwed())
        return QString();
    const MovementRecord& record = link.Record();
    return DescribeTarget(record.stop, record.stopLength);
}

QString KeypadController::OwedStopReason() const {
    const QString target = OwedStopTarget();
    if (target.isEmpty() || MovementLog::State(link.Record()) != MoveState::StopOwed)
        return QString();
    QString why = link.isHealing() ? LineDropReason() : WriteFailureReason();
    if (why.endsWith(QLatin1Char('.')))
        why.chop(1);
    return QStringLiteral(
               "the stop owed to %1 has not gone out yet%2; it goes out as soon as "
               "the line takes bytes again")
        .arg(target, why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why));
}

QString KeypadController::GuardWarning() const {
    return guard ? QString::fromStdString(guard->Warning()) : QString();
}

QString KeypadController::OpenFailureReason() const {
    return DescribeProblem(link.LastPort(), link.LastProblem());
}

QString KeypadController::WriteFailureReason() const {
    return DescribeProblem(link.LastPort(), link.WriteProblem());
}

QList<SerialPortFacts> KeypadController::PortsPresent() const {
    return ports ? ports->Ports() : QList<SerialPortFacts>();
}

QString KeypadController::PortHolder(const QString& device) const {
    if (!ports)
        return QString();
    // Where the system tells a holder only by refusing an open, the port is tried, and a
    // port may take its time to answer: tried off the window's thread.
    QString holder;
    const LineMender::Attempt ask = [this, &device, &holder] {
        holder = ports->Holder(device);
        return true;
    };
    mender ? mender->RunAside(ask) : ask();
    return holder;
}

QStringList KeypadController::PortEntries() const {
    QStringList entries;
    for (int port = 1; port <= kRowCount; ++port)
        entries << StoredPortEntry(profile, port).toString();
    return entries;
}

void KeypadController::StorePortEntries(const QStringList& entries) {
    for (int port = 1; port <= kRowCount && port <= entries.size(); ++port)
        StorePortEntry(profile, port, entries[port - 1]);
}

QStringList KeypadController::PortToolTips() const {
    const QList<SerialPortFacts> present = PortsPresent();
    QStringList tips;
    for (int port = 1; port <= kRowCount; ++port)
        tips << PortToolTip(port, ResolvePort(port, profile), present);
    return tips;
}

void KeypadController::OnInitDialog() {
    entry.Reset();
    commands.ResetPowerToggle();
    // Where COMn names a device, a first start maps the devices found, visibly and stably.
    MapPortsOnFirstStart(profile, [this] { return PortsPresent(); });
    SelectStoredRows(settings.LoadStoredSettings());
    OnSelChangeComPort(rows.comPort);
    OnSelChangeBaudRate(rows.baudRate);
    OnSelChangeCameraType(rows.cameraType);
    OnSelChangeProtocol(rows.protocol);
    status.InsertLine(0, QString::fromLatin1(kBannerLine));
    status.InsertLine(1, QString::fromLatin1(kStatusTitleLine));
    status.InsertLine(2, QString::fromLatin1(kBannerLine));
    initOpenPending = link.OpenMayWait(state.comPort);
    if (!initOpenPending)
        OpenAtStart();
}

void KeypadController::FinishInitDialog() {
    if (!initOpenPending)
        return;
    initOpenPending = false;
    OpenAtStart();
}

void KeypadController::OpenAtStart() {
    const QScopedValueRollback<bool> busy(settling, true);
    const bool opened = OpenWithSettings() != 0;
    if (opened)
        entry.ShowCameraInForce();
    WriteLinkLines(opened, QString::fromLatin1(kStartFailureLine));
}

void KeypadController::SelectStoredRows(const StoredSettings& stored) {
    state.settingsValid = stored.settingsValid;
    if (!stored.storedValuesRead) {
        rows = {0, 2, 0, 0};  // COM1, 9600, ZOOM, OSKA-DEFAULT
        return;
    }
    state.comPort = stored.comPort;
    state.baudRate = stored.baudRate;
    state.protocol = stored.protocol;
    state.cameraType = stored.cameraType;
    ForceProtocolBaudRate();
    // Widened first: a hand-edited port of -2147483648 has no row and must not wrap.
    rows.comPort = RowOrNone(int64_t(state.comPort) - 1, kRowCount);
    SelectBaudRow();
    rows.protocol = RowOrNone(state.protocol, 2);
    rows.cameraType = RowOrNone(state.cameraType, 2);
}

Notice KeypadController::LocalMovement(int controlId, const std::function<Notice()>& row) {
    // The local operator always wins: a client's movement is stopped first, whole.
    if (!holds.LocalDown() || !BeginMovement())
        return Notice::TransferError;
    const Notice sent = row();
    holds.LocalHolds(controlId, state.cameraId);
    return sent;
}

// The record keeps the stop whole, and the slowest rate bounds the time-out a stop sender
// waits for each byte.
static_assert(MovementRecord::kMaxFrame >= FrameBuilder::kOskaLength &&
              MovementRecord::kMaxFrame >= FrameBuilder::kPelcoLength);
static_assert(LineTiming::kMaxByteTimeoutMs == 19200 / KeypadController::kBaudRates[0]);

TxFrame KeypadController::StopInForce() const {
    return FrameBuilder::CompleteFrame(FrameBuilder::WriteStop(state.txFrame, state.protocol),
                                       state.protocol, state.cameraId);
}

bool KeypadController::BeginMovement() {
    const TxFrame stop = StopInForce();
    const int length = FrameBuilder::FrameLength(state.protocol);
    return link.SendStopOwedElsewhere(stop.data(), length) &&
           link.BeginMovement(stop.data(), length);
}

Notice KeypadController::PressKey(int controlId) {
    const int digit = DigitOfKey(controlId);
    if (digit >= 0) {
        entry.EnterDigit(digit);
        return Notice::None;
    }
    if (controlId == ControlId::Ent)
        return entry.CommitCameraId() ? Notice::None : Notice::CameraIdRange;
    if (controlId == ControlId::Clr) {
        entry.ClearCameraId();
        return Notice::None;
    }
    if (!CommandSet::IsStopKey(controlId))
        return commands.RunKeyRow(controlId);
    return LocalMovement(controlId, [this, controlId] { return commands.RunKeyRow(controlId); });
}

Notice KeypadController::PressPcKey(int virtualKey) {
    if (CommandSet::IsArrowKey(virtualKey))
        return LocalMovement(CommandSet::ArrowRowOf(virtualKey),
                             [this, virtualKey] { return commands.RunArrowRow(virtualKey); });
    if (virtualKey == VirtualKey::Enter)
        return PressKey(ControlId::Ent);
    if (virtualKey == VirtualKey::Delete)
        return PressKey(ControlId::Clr);
    if (virtualKey >= VirtualKey::Digit0 && virtualKey <= VirtualKey::Digit9)
        entry.EnterDigit(virtualKey - VirtualKey::Digit0);
    else if (virtualKey >= VirtualKey::Numpad0 && virtualKey <= VirtualKey::Numpad9)
        entry.EnterDigit(virtualKey - VirtualKey::Numpad0);
    return Notice::None;
}

Notice KeypadController::SendStop() {
    // The local operator's release ends whatever moves, a client's movement included: its
    // stop is the one owed to another camera, sent first.
    holds.LocalReleased();
    return SendStopFrame();
}

Notice KeypadController::SendStopFrame() {
    // The camera that moved gets its own stop first where the settings name another camera
    // or protocol since; the stop for the settings follows as it always has, harmless to a
    // camera that is not moving.
    const TxFrame stop = StopInForce();
    if (!link.SendStopOwedElsewhere(stop.data(), FrameBuilder::FrameLength(state.protocol)))
        return Notice::TransferError;
    return commands.SendStop();
}

Notice KeypadController::StopMovement() {
    if (MovementActive())
        return SendStop();
    return holds.StopClient(QStringLiteral("the local operator changed the settings"));
}

void KeypadController::OnSelChangeComPort(int row) {
    if (row < 0 || row >= kRowCount)
        return;
    rows.comPort = row;
    state.comPort = row + 1;
}

void KeypadController::OnSelChangeBaudRate(int row) {
    if (row < 0 || row >= kRowCount)
        return;
    rows.baudRate = row;
    state.baudRate = kBaudRates[row];
}

void KeypadController::OnSelChangeCameraType(int row) {
    if (row == 0 || row == 1) {
        rows.cameraType = row;
        state.cameraType = row;
        status.ReplaceLine(kCameraTypeLine, CameraTypeLine(row));
        for (int id : {ControlId::FocusFar, ControlId::FocusNear, ControlId::Set, ControlId::Init,
                       ControlId::Power})
            keyEnabled[id] = row == 0;
    }
    // Stored at every run of the handler, also without a selection.
    settings.StoreCameraType(state.cameraType);
}

Notice KeypadController::OnSelChangeProtocol(int row) {
    if (row != 0 && row != 1)
        return Notice::None;
    rows.protocol = row;
    const Notice stopped = row != state.protocol ? StopMovement() : Notice::None;
    state.protocol = row;
    ForceProtocolBaudRate();
    if (row == ProtocolOskaDefault && state.cameraType == CameraTypeBd)
        return stopped;
    if (row == ProtocolPelcoD)
        keyEnabled[ControlId::Power] = true;
    for (int id : {ControlId::Init, ControlId::Reset, ControlId::Cam, ControlId::Set})
        keyEnabled[id] = row == ProtocolOskaDefault;
    return stopped;
}

void KeypadController::ForceProtocolBaudRate() {
    const uint32_t rate = ProtocolBaudRate(state.protocol);
    if (rate == 0 || state.baudRate == rate)
        return;
    OnSelChangeBaudRate(rate == 9600 ? 2 : 0);
}

void KeypadController::SelectBaudRow() {
    const auto* rate = std::find(std::begin(kBaudRates), std::end(kBaudRates), state.baudRate);
    if (rate != std::end(kBaudRates))
        rows.baudRate = int(rate - std::begin(kBaudRates));
}

int KeypadController::OpenWithSettings() {
    return link.OpenPort(state.comPort, state.baudRate);
}

bool KeypadController::ApplyCommunicationSettings() {
    const QScopedValueRollback<bool> busy(settling, true);
    initOpenPending = false;
    state.settingsValid =
        settings.StoreCommunicationSettings(state.comPort, state.baudRate, state.protocol);
    if (link.isOpen())
        link.ClosePort();
    const bool opened = OpenWithSettings() != 0;
    RewriteLinkLines(opened);
    return opened;
}

void KeypadController::RewriteLinkLines(bool opened) {
    for (int line = 3; line <= 9; ++line) status.DeleteLine(3);
    // A panel whose start failed has never shown a camera ID; show the one in force
    // rather than an empty line.
    if (opened && entry.CamIdText().isEmpty())
        entry.ShowCameraInForce();
    WriteLinkLines(opened, QString::fromLatin1(kSetFailureLine));
}

KeypadController::RunEnd KeypadController::ReleasePort() {
    // From here no client starts anything: the run is ending.
    settling = true;
    RunEnd end;
    end.wasOpen = link.isOpen();
    // A stop still owed gets one more try on a line that takes bytes; one that does not is
    // left to the guardian with the line, which sends it once the program is gone.
    link.SendOwedStop();
    end.camera = OwedStopTarget();
    end.reason = link.isHealing() ? LineDropReason() : WriteFailureReason();
    if (link.StopOwed() && link.isOpen() && guard) {
        link.HandOver();
        end.handedOver = true;
    } else {
        // A line being opened again is waited for: what it opens sends the stop owed first.
        link.ClosePort();
    }
    end.stopOwed = link.StopOwed();
    if (!end.stopOwed && !end.handedOver)
        end.camera.clear();
    return end;
}

void KeypadController::SettleFailedFrame() {
    commands.SettleFailedFrame();
}

void KeypadController::WriteLinkLines(bool opened, const QString& failureText) {
    const QString blank = QString::fromLatin1(kBlankLine);
    if (!opened) {
        status.InsertLine(3, failureText);
        for (int line = 4; line <= 9; ++line) status.InsertLine(line, blank);
        return;
    }
    status.InsertLine(3, state.protocol != ProtocolOskaDefault
                             ? QStringLiteral("      PELCO D PROTOCOL")
                             : QStringLiteral("   OSKA-DEF PROTOCOL"));
    // The line's own port and rate: a line back by itself is the one opened last, whatever
    // the rows picked since.
    status.InsertLine(4, QStringLiteral("PORT : COM%1").arg(link.LastPort()));
    status.InsertLine(5, QStringLiteral("BAUD : %1 bps").arg(link.LineBaud()));
    status.InsertLine(6, blank);
    status.InsertLine(kCameraTypeLine, CameraTypeLine(state.cameraType));
    status.InsertLine(CameraIdEntry::kStatusLine, entry.CamIdText());
    status.InsertLine(9, blank);
}

// A client's keys, as the keeper of holds sends them: the panel's rows, on the client's
// camera, through the same line.

Notice KeypadController::WithCamera(int camera, const std::function<Notice()>& send) {
    const QScopedValueRollback<int32_t> restore(state.cameraId, camera);
    return send();
}

Notice KeypadController::SendMovement(int controlId, int camera) {
    return WithCamera(camera, [this, controlId] {
        return BeginMovement() ? commands.RunKeyRow(controlId) : Notice::TransferError;
    });
}

Notice KeypadController::SendStopFor(int camera) {
    return WithCamera(camera, [this] { return SendStopFrame(); });
}

Notice KeypadController::SendPress(int controlId, int camera, int selectId) {
    return WithCamera(camera, [this, controlId, selectId] {
        if (controlId != ControlId::Cam)
            return commands.RunKeyRow(controlId);
        // Camera select for selectId, addressed to camera, as the panel's CAM does for the
        // typed ID; the panel's own entry is left as it is.
        state.txFrame = FrameBuilder::WriteCameraSelect(state.txFrame, selectId);
        return commands.TransmitFrame().AsNotice();
    });
}

RemoteKeys::Reply KeypadController::CheckKey(int controlId, int camera, bool movement) const {
    const bool moves = CommandSet::IsStopKey(controlId);
    Reply reply;
    if (!moves && !CommandSet::HasRow(controlId)) {
        reply.outcome = Outcome::UnknownKey;
        reply.words =
            QStringLiteral("no camera key of the keypad has the number %1").arg(controlId);
    } else if (moves != movement) {
        reply.outcome = Outcome::NotMovement;
        reply.words =
            movement
                ? QStringLiteral("%1 does not move a camera: press it").arg(KeyCaption(controlId))
                : QStringLiteral("%1 moves a camera: hold it down and let it up")
                      .arg(KeyCaption(controlId));
    } else if (!CameraIdEntry::InRange(camera)) {
        reply.outcome = Outcome::CameraRange;
        reply.words = QStringLiteral("Camera ID Range (0 ~ 255) Error!");
    } else if (!KeyEnabled(controlId)) {
        reply.outcome = Outcome::KeyDisabled;
        reply.words =
            QStringLiteral("%1 is disabled under %2 with %3 cameras")
                .arg(KeyCaption(controlId),
                     state.protocol == ProtocolOskaDefault ? QStringLiteral("OSKA-DEFAULT")
                                                           : QStringLiteral("PELCO D"),
                     state.cameraType == CameraTypeZoom ? QStringLiteral("ZOOM")
                                                        : QStringLiteral("B/D"));
    } else if (settling || !link.isOpen()) {
        reply.outcome = Outcome::LineDown;
        reply.words = settling ? QStringLiteral("the line is being opened or closed; try again")
                      : link.isHealing()
                          ? LineDropReason()
                          : QStringLiteral("the line is not open: %1").arg(OpenFailureReason());
    }
    return reply;
}

QString KeypadController::TransferErrorWords() const {
    const QString why = WriteFailureReason();
    return why.isEmpty() ? QStringLiteral("Transfer Error!")
                         : QStringLiteral("Transfer Error! (%1)").arg(why);
}

HoldLine KeypadController::ClientLine() {
    HoldLine line;
    line.moveCamera = [this](int controlId, int camera) { return SendMovement(controlId, camera); };
    line.stopCamera = [this](int camera) { return SendStopFor(camera); };
    line.pressKey = [this](int controlId, int camera, int selectId) {
        return SendPress(controlId, camera, selectId);
    };
    line.refusal = [this](int controlId, int camera, bool movement) {
        return CheckKey(controlId, camera, movement);
    };
    line.transferError = [this] { return TransferErrorWords(); };
    line.clockMs = [this] { return pause.NowNs() / LineTiming::kNsPerMs; };
    return line;
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
    now.holds = holds.Holds();
    now.stopOwed = link.StopOwed();
    if (now.stopOwed) {
        const MovementRecord& record = link.Record();
        now.stopOwedCamera =
            record.stopLength == FrameBuilder::kPelcoLength
                ? record.stop[1]
                : QByteArray(reinterpret_cast<const char*>(record.stop) + 1, 2).toInt(nullptr, 16);
    }
    return now;
}
