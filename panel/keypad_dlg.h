#pragma once

#include <QDialog>
#include <QIcon>
#include <functional>
#include <memory>

#include "camera_id_entry.h"
#include "protocol/command_set.h"
#include "protocol/message_sink.h"
#include "serial/serial_link.h"
#include "settings_store.h"
#include "status_lines.h"

class DialogNavigation;
class KeypadInput;
class Pause;
class PortCatalog;
class ProfileStore;
class QComboBox;
class QListWidget;
class SerialDevice;

// The platform services the keypad works through; tests substitute recorders.
struct KeypadServices {
    ControllerState& state;
    SerialDevice& device;
    Pause& pause;
    ProfileStore& profile;
    MessageSink* messages = nullptr;     // null: modal message boxes over the window
    const PortCatalog* ports = nullptr;  // null: no serial devices are known
};

// The keypad window: keys, the four combo boxes, the logo and the ten-line status list.
class CKeypadDlg : public QDialog, private StatusLines {
    Q_OBJECT
public:
    explicit CKeypadDlg(const KeypadServices& services, QWidget* parent = nullptr);
    ~CKeypadDlg() override;

    // Camera commands, as the keys and PC keys run them.
    void SendCommand(int a, int b, int c, int d) { commands.SendCommand(a, b, c, d); }
    void SendStop();
    void SendReset() { commands.SendReset(); }
    void SelectCamera() { commands.SelectCamera(); }
    bool RunKeyRow(int controlId) { return commands.RunKeyRow(controlId); }
    bool RunArrowRow(int virtualKey) { return commands.RunArrowRow(virtualKey); }

    // Camera-ID entry, shown on status line 8.
    void EnterDigit(int digit) { entry.EnterDigit(digit); }
    void CommitCameraId() { entry.CommitCameraId(); }
    void ClearCameraId() { entry.ClearCameraId(); }

    // Combo-box selections, as the operator picks them.
    void OnSelChangeComPort();
    void OnSelChangeBaudRate();
    void OnSelChangeCameraType();
    void OnSelChangeProtocol();
    // Stores the settings, reopens the port and rewrites status lines 3 to 9.
    void OnCommunicationSet();
    // The About box, modal over the window.
    void ShowAbout();
    // The Serial ports dialog, modal over the window.
    void ShowSerialPorts();
    // Rewrites the tooltips of the COM rows from the profile and the devices present.
    void UpdatePortToolTips();

    QStringList StatusTexts() const;
    QWidget* Control(int controlId) const;
    const CSerialLink& Link() const { return link; }
    const CameraIdEntry& Entry() const { return entry; }
    int PowerToggle() const { return commands.powerToggle; }
    bool IsShowingMessage() const { return messages.showing; }

    // Where the icon goes in a minimised window of the given client size.
    static QPoint MinimisedIconOrigin(const QSize& client, const QSize& icon);

    // Escape, the close box and Alt+F4 all end here.
    void done(int result) override;
    // The program is going from outside (a signal, the session, the display): a running
    // movement gets its stop, the port is released, any box over the window is closed
    // and the window ends. From here on messages go to standard error.
    void EndRun(const QString& why);
    // Sends the stop for a running movement, saying why on standard error.
    void StopMovement(const QString& why);
    // Tells whether the program's end is already on its way; a repeat then starts no
    // further movement frame ahead of the stop.
    void SetEndPending(std::function<bool()> pending) { endPending = std::move(pending); }
    bool EndPending() const { return endPending && endPending(); }

signals:
    void MessageClosed();

protected:
    void paintEvent(QPaintEvent* event) override;
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

private:
    // Routes operator messages to the injected sink or to a modal box over the window.
    class DialogMessages : public MessageSink {
    public:
        DialogMessages(CKeypadDlg& dialog, MessageSink* sink) : dialog(dialog), sink(sink) {}
        void ShowMessage(const QString& text) override;
        bool showing = false;
        bool ending = false;  // no window to show a message on any more

    private:
        CKeypadDlg& dialog;
        MessageSink* sink;
    };

    void OnInitDialog();
    void AddAboutEntry();
    void AddSystemMenuAbout(const QString& text);
    void ShowLinkFailure(bool opened);
    void FillCombos();
    void SelectStoredRows(bool storedValuesRead);
    void SelectBaudRow();
    void ForceProtocolBaudRate();
    void WriteLinkLines(bool opened, const QString& failureText);
    void EnableKey(int controlId, bool enable);

    void InsertLine(int index, const QString& text) override;
    void DeleteLine(int index) override;

    ControllerState& state;
    ProfileStore& profile;
    const PortCatalog* ports;
    DialogMessages messages;
    CSerialLink link;
    CameraIdEntry entry;
    CommandSet commands;
    SettingsStore settings;
    QComboBox* cameraTypeCombo = nullptr;
    QComboBox* protocolCombo = nullptr;
    QComboBox* comPortCombo = nullptr;
    QComboBox* baudRateCombo = nullptr;
    QListWidget* statusListBox = nullptr;
    QIcon appIcon;
    std::unique_ptr<DialogNavigation> navigation;
    std::unique_ptr<KeypadInput> input;
    std::function<bool()> endPending;
};
