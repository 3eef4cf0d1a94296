#pragma once

#include <QComboBox>
#include <QListView>
#include <QTest>
#include <QWindow>
#include <memory>

#include "fakes.h"
#include "panel/keypad_dlg.h"
#include "panel/message_sink.h"
#include "pty_pair.h"
#include "serial/device/local_serial_device.h"

class RecordingMessages : public MessageSink {
public:
    void ShowMessage(const QString& text) override { shown << text; }
    QStringList shown;
};

// The keypad window on a real line: COM1 of the profile names a pseudo-terminal, and
// what the window sends is read on its other end. Pauses are recorded, not slept, and
// messages are recorded instead of shown.
struct Panel {
    PtyPair pty;
    LocalSerialDevice device;
    RecordingPause pause;
    MemoryProfile profile;
    RecordingMessages messages;
    std::unique_ptr<CKeypadDlg> dlg;
    bool exposed = false;

    // Stored settings ("KEY" -> value) go in before the window starts. A test that
    // watches the device passes its own, which writes through to device; one that drives the
    // looks at the line and the attempts to open it again passes a mender, and a guard to
    // keep the movement record as the stop senders read it.
    explicit Panel(const QHash<QString, QVariant>& stored = {}, bool lineAvailable = true,
                   SerialDevice* watcher = nullptr, LineMender* mender = nullptr,
                   LineGuard* guard = nullptr) {
        profile.values.insert(QStringLiteral("Ports/COM1"),
                              lineAvailable ? pty.slavePath() : QStringLiteral("/nonexistent/tty"));
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            profile.values.insert(QStringLiteral("Settings/") + it.key(), it.value());
        dlg = std::make_unique<CKeypadDlg>(
            KeypadServices{watcher ? *watcher : device, pause, profile, nullptr, guard, mender},
            &messages);
        dlg->show();
        exposed = QTest::qWaitForWindowExposed(dlg.get());
    }

    QWindow* window() const { return dlg->windowHandle(); }
    ControllerState state() const { return dlg->Controller().Settings(); }
    QWidget* control(int id) const { return dlg->Control(id); }
    QComboBox* combo(int id) const { return qobject_cast<QComboBox*>(control(id)); }
    QPoint centre(int id) const { return control(id)->geometry().center(); }

    // Mouse input as the platform delivers it: to the window, at a point in it.
    void press(int id, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(window(), button, {}, centre(id));
    }
    void release(int id, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseRelease(window(), button, {}, centre(id));
    }
    void click(int id) {
        press(id);
        release(id);
    }
    // A key as the platform delivers it to the window; autoRepeat marks X11's repeats.
    void key(Qt::Key code, bool down, bool autoRepeat = false,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::simulateEvent(window(), down, code, modifiers, QString(), autoRepeat);
    }
    void tap(Qt::Key code, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        key(code, true, false, modifiers);
        key(code, false, false, modifiers);
    }
    // Picks a row of a combo box the way the operator does: from its drop-down list.
    void pickRow(int comboId, int row) {
        QComboBox* box = combo(comboId);
        box->showPopup();
        QAbstractItemView* view = box->view();
        if (!QTest::qWaitForWindowExposed(view->window()))
            return;
        const QRect item = view->visualRect(view->model()->index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
        QCoreApplication::processEvents();
    }

    // Everything the line has carried since the last call.
    QByteArray line() { return pty.ReadAvailable(50); }
};
