#pragma once

#include <QHash>
#include <QList>
#include <QStringList>
#include <functional>

#include "holds/hold_keeper.h"
#include "holds/key_holds.h"
#include "holds/remote_keys.h"
#include "profile/settings_store.h"
#include "protocol/camera_id_entry.h"
#include "protocol/command_set.h"
#include "protocol/control_ids.h"
#include "protocol/controller_state.h"
#include "protocol/notice.h"
#include "protocol/status_list.h"
#include "serial/line/serial_link.h"
#include "serial/ports/port_catalog.h"

class LineGuard;
class LineMender;
class Pause;
class ProfileStore;
class SerialDevice;

// The platform services the keypad works through; tests substitute recorders.
struct KeypadServices {
    SerialDevice& device;
    Pause& pause;
    ProfileStore& profile;
    const PortCatalog* ports = nullptr;  // null: no serial devices are known
    LineGuard* guard = nullptr;          // null: nothing stops a camera after a crash
    LineMender* mender = nullptr;        // null: a line that drops stays closed
};

// The selected row of each combo box; -1 when a box has none.
struct ComboRows {
    int comPort = -1;
    int baudRate = -1;
    int cameraType = -1;
    int protocol = -1;
};

// Everything the keypad decides, without a window: the settings in force and the transmit
// buffer, the line, the camera-ID entry, the command set, the stored settings, the ten
// status lines, which keys are enabled and which combo rows are selected. The panel hands
// it what the operator does and shows what it says; what the operator must be told comes
// back as a Notice.
class KeypadController : public RemoteKeys {
public:
    explicit KeypadController(const KeypadServices& services);

    // The rates of the baud-rate rows, in order.
    static constexpr uint32_t kBaudRates[] = {2400, 4800, 9600, 19200};
    // The keys that the protocol and camera-type rules enable and disable.
    static constexpr int kRuledKeys[] = {
        ControlId::FocusFar, ControlId::FocusNear, ControlId::Set, ControlId::Init,
        ControlId::Power,    ControlId::Reset,     ControlId::Cam};

    // Start-up, once: the stored settings (or the built-in rows) selected, the camera type
    // stored, the keys enabled for protocol and camera type, status lines 0 to 2, the port
    // opened and lines 3 to 9 for the outcome. A port behind a serial server may take its
    // connect time-out to answer: its opening is left for FinishInitDialog, so that the
    // panel can show its window first.
    void OnInitDialog();
    bool InitOpenPending() const { return initOpenPending; }
    // The opening OnInitDialog left, and lines 3 to 9; nothing when none is pending.
    void FinishInitDialog();

    // A left-button press on an enabled key: the digits, ENT, CLR and the rows of the
    // command set. COMMUNICATION SET is not among them: the panel runs it.
    Notice PressKey(int controlId);
    // A PC key down, repeats included (virtual-key code): digits, Enter, Delete, arrows.
    Notice PressPcKey(int virtualKey);
    Notice SendStop();
    // The stop for a movement still running; nothing when none runs.
    Notice StopMovement();

    // A row the operator picked; a row outside the box changes nothing.
    void OnSelChangeComPort(int row);
    void OnSelChangeBaudRate(int row);
    void OnSelChangeCameraType(int row);
    // A camera understands only the stop of the protocol its movement started in: a
    // movement still running is stopped first, and that frame's notice is returned.
    Notice OnSelChangeProtocol(int row);
    // COMMUNICATION SET, once any movement has been stopped: stores port, baud rate and
    // protocol, reopens the port and rewrites status lines 3 to 9. True when it opened.
    bool ApplyCommunicationSettings();
    // A stop still owed on the port went out first at the last opening, and did not go out
    // whole: the operator is told as of any frame.
    Notice OwedStopNotice() const {
        return link.OwedStopFailed() ? Notice::TransferError : Notice::None;
    }
    // Opens the port of the settings in force; 1 when it opened, else 0.
    int OpenWithSettings();
    // What became of the line and the stop owed at the end of the run.
    struct RunEnd {
        bool wasOpen = false;     // the port was open, and has been released
        bool stopOwed = false;    // a stop is still owed that nobody will send
        bool handedOver = false;  // the guardian holds the line and sends the stop owed
        QString camera;           // the camera the stop is owed to, in words
        QString reason;           // why the line did not take it
    };
    // The program is ending: a stop still owed is sent, or left to the guardian with the line,
    // and the port is released.
    RunEnd ReleasePort();
    // The operator has been told of a failed frame: the frame's closing pause follows.
    void SettleFailedFrame();

    const QStringList& StatusTexts() const { return status.Lines(); }
    bool KeyEnabled(int controlId) const { return keyEnabled.value(controlId, true); }
    const ComboRows& Rows() const { return rows; }
    // A movement was started by a PC arrow key or a press on a stop key and has not yet
    // been followed by a stop.
    bool MovementActive() const { return holds.Current().holder == KeyHolds::Holder::Local; }
    // Who holds the movement on the line, and the words the window shows while a remote
    // client does ("Remote: desk-2 holds Z/I on camera 12"); empty otherwise.
    const KeyHolds::Hold& CurrentHold() const { return holds.Current(); }
    QString RemoteHoldText() const { return holds.Text(); }
    // Called on the window's thread whenever the hold changes without the panel's input (a
    // client's down, up or lapse).
    void SetHoldWatcher(std::function<void()> changed) { holds.SetWatcher(std::move(changed)); }

    // The remote keypad's keys (RemoteKeys), on the window's thread.
    Reply Down(const QString& client, int controlId, int camera, int leaseMs) override {
        return holds.Down(client, controlId, camera, leaseMs);
    }
    Reply Up(const QString& client, int) override { return holds.Up(client); }
    Reply Renew(const QString& client, int leaseMs) override {
        return holds.Renew(client, leaseMs);
    }
    Reply Press(const QString& client, int controlId, int camera, int selectId) override {
        return holds.Press(client, controlId, camera, selectId);
    }
    void ClientGone(const QString& client) override { holds.ClientGone(client); }
    State Snapshot() const override;
    void SetEventSink(std::function<void(const Event&)> sink) override {
        holds.SetSink(std::move(sink));
    }
    // A client's lease that has run out ends its movement with its stop; the lease timer
    // calls it when the earliest lease ends.
    void CheckLeases() { holds.CheckLeases(); }
    // The settings in force and the transmit buffer, as they are now (a copy).
    ControllerState Settings() const { return state; }
    // The camera-ID entry: the number typed so far and how many digits of it.
    int PendingId() const { return entry.PendingId(); }
    int DigitCount() const { return entry.DigitCount(); }
    int PowerToggle() const { return commands.PowerToggle(); }

    bool PortOpen() const { return link.isOpen(); }
    LinkState LineState() const { return link.State(); }
    // The line dropped and is being opened again by itself; lines 3 to 9 say "Can't Open!"
    // meanwhile, and the lines of an open port once it is back and the owed stop has gone.
    bool PortHealing() const { return link.isHealing(); }
    // The port the link opened last (COMMUNICATION SET opens the rows' port).
    int LinkPort() const { return link.LastPort(); }
    // Called on the window's thread after the line dropped or came back by itself, once the
    // status lines say so.
    void SetLineWatcher(std::function<void()> changed) { lineWatcher = std::move(changed); }
    // Why the line dropped, in plain words naming the port; empty while it is open.
    QString LineDropReason() const;
    // The camera a stop is owed to ("camera 12 (PELCO D)"), whole or in flight; empty when
    // none is owed.
    QString OwedStopTarget() const;
    // A stop the line refused and still owes, in words with why; empty when none.
    QString OwedStopReason() const;
    bool OwesStop() const { return link.StopOwed(); }
    // The movement record the line keeps, as the stop senders read it.
    const MovementRecord& LineRecord() const { return link.Record(); }
    // A stop owed to a camera on the line used before, let go when COMMUNICATION SET opened
    // another line; empty when none was.
    QString AbandonedStopReason() const;
    // Why the last opening of the port failed, in plain words naming the port; empty after
    // a success.
    QString OpenFailureReason() const;
    // Why the last frame fell short, where the line could tell (a dropped connection).
    QString WriteFailureReason() const;
    // What no one will stop after a crash or a forced kill; empty when all is covered.
    QString GuardWarning() const;

    // The serial devices the system has, and who holds one ("another program"), in words;
    // a port tried to tell is tried off the window's thread.
    QList<SerialPortFacts> PortsPresent() const;
    QString PortHolder(const QString& device) const;
    // The profile's entries for COM1 to COM4 as text; empty where a row has none.
    QStringList PortEntries() const;
    // Keeps the entries for COM1 to COM4 (each checked, in its stored form); the port takes
    // them at the next COMMUNICATION SET.
    void StorePortEntries(const QStringList& entries);
    // For each of COM1 to COM4, the device it stands for and what the system knows of it.
    QStringList PortToolTips() const;

private:
    // The port opened at start, and lines 3 to 9 for the outcome.
    void OpenAtStart();
    void SelectStoredRows(const StoredSettings& stored);
    void ForceProtocolBaudRate();
    void SelectBaudRow();
    void WriteLinkLines(bool opened, const QString& failureText);
    // Lines 3 to 9 again, as after COMMUNICATION SET.
    void RewriteLinkLines(bool opened);
    void OnLineChanged();
    // A movement of the local operator's: row sends its frame once a client's movement, if
    // any, has been stopped and the stop owed elsewhere has gone.
    Notice LocalMovement(int controlId, const std::function<Notice()>& row);
    // The stop of the camera in force, after any stop owed to another camera.
    Notice SendStopFrame();
    // What the keeper of holds asks for a client's keys.
    HoldLine ClientLine();
    Notice SendMovement(int controlId, int camera);
    Notice SendStopFor(int camera);
    Notice SendPress(int controlId, int camera, int selectId);
    Reply CheckKey(int controlId, int camera, bool movement) const;
    QString TransferErrorWords() const;
    // Runs send with camera in force in place of the committed one, which it leaves as it was.
    Notice WithCamera(int camera, const std::function<Notice()>& send);
    // The stop of the camera and protocol in force.
    TxFrame StopInForce() const;
    // Records the stop of the movement about to go out, to the camera in force, once the
    // stop owed to another camera has gone out first; false when that stop did not go out
    // whole: the movement must not go out either.
    bool BeginMovement();

    ControllerState state;
    ProfileStore& profile;
    const PortCatalog* ports;
    LineGuard* guard;
    LineMender* mender;
    Pause& pause;  // its clock is the leases' clock too
    CSerialLink link;
    StatusList status;
    CameraIdEntry entry;
    CommandSet commands;
    SettingsStore settings;
    ComboRows rows;
    QHash<int, bool> keyEnabled;
    HoldKeeper holds{ClientLine()};
    // An opening, COMMUNICATION SET or the end of the run is under way: a client's key waits.
    bool settling = false;
    bool initOpenPending = false;
    std::function<void()> lineWatcher;
};
