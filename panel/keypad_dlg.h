#pragma once

#include <QDialog>
#include <QIcon>
#include <functional>
#include <memory>

#include "control/keypad_controller.h"
#include "message_sink.h"

class DialogNavigation;
class KeypadInput;
class QComboBox;
class QLabel;
class QListWidget;

// The keypad window: keys, the four combo boxes, the logo and the ten-line status list.
// It hands what the operator does to its controller and shows what that says.
class CKeypadDlg : public QDialog {
    Q_OBJECT
public:
    // messages: null for modal message boxes over the window.
    explicit CKeypadDlg(const KeypadServices& services, MessageSink* messages = nullptr,
                        QWidget* parent = nullptr);
    ~CKeypadDlg() override;

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

    // The lines the status list shows.
    QStringList StatusTexts() const;
    QWidget* Control(int controlId) const;
    const KeypadController& Controller() const { return controller; }
    // The keypad's core as a remote client's keys and the lease clock reach it, on the window's
    // thread; what it does to the hold and the line the window shows through its watchers.
    KeypadController& Controller() { return controller; }
    // The keypad as remote clients drive it, for the remote keypad service above the panel.
    RemoteKeys& RemoteKeypad() { return controller; }
    // What "Remote keypad…" opens, modal over the window; no entry without it.
    void SetRemoteEntry(std::function<void()> open);

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

protected:
    void paintEvent(QPaintEvent* event) override;
    // The system menu's entries, where the window has one of its own.
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    // What the operator's input comes to.
    void PressKey(int controlId);
    void PressPcKey(int virtualKey);
    void SendStop();

    void AddAboutEntry();
    void AddSystemMenuAbout(const QString& text);
    // "Remote keypad…" in the system menu, where the window has one of its own.
    void AddSystemMenuRemote();
    void FillCombos();
    // Tells the operator what an action came to, then lets the core finish it.
    void ShowNotice(Notice notice);
    void ShowMessage(const QString& text);
    // Brings the list, the keys and the combo rows in line with the controller.
    void ShowState();
    void ShowLinkFailure(bool opened);
    // Why a frame fell short, where the line can tell (a dropped network connection).
    void ShowWriteFailure();
    // The line dropped, or came back by itself with the owed stop sent first.
    void OnLineChanged();
    // What became of the stop sent to a moving camera at the end of its run.
    QString StopOutcome() const;
    // What became of a moving camera at the end of the run, in words.
    QString RunEndOutcome(bool moving, const KeypadController::RunEnd& end) const;
    void UpdatePortToolTips();
    // Who holds a movement from afar, shown over the logo while a remote client does.
    void AddRemoteHoldNote(QWidget* logo);
    void ShowRemoteHold();
    // The start-up opening of a port behind a serial server, once the window is up.
    void FinishInitDialog();

    KeypadController controller;
    MessageSink* messages;
    QComboBox* cameraTypeCombo = nullptr;
    QComboBox* protocolCombo = nullptr;
    QComboBox* comPortCombo = nullptr;
    QComboBox* baudRateCombo = nullptr;
    QListWidget* statusListBox = nullptr;
    QLabel* remoteHold = nullptr;
    QIcon appIcon;
    std::unique_ptr<DialogNavigation> navigation;
    std::unique_ptr<KeypadInput> input;
    std::function<bool()> endPending;
    std::function<void()> openRemote;
    bool showingMessage = false;
    bool stopLost = false;     // the last stop did not leave whole
    bool portTipsDue = false;  // the COM rows' tooltips have been asked for
    bool ending = false;       // no window to show a message on any more
};
