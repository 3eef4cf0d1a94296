#include <QLineEdit>
#include <QPushButton>
#include <QWheelEvent>
#include <QtTest>

#include "dialog/dialog_template.h"
#include "input/keypad_input.h"
#include "panel_fixture.h"
#include "protocol/control_ids.h"

namespace {

// Camera 12, frames of the zoom-in key and of the stop.
const QByteArray kOskaZoomIn12 = "*0C750100CA";
const QByteArray kOskaStop12 = "*0C750900D2";

QHash<QString, QVariant> StoredProtocol(int protocol) {
    return {{QStringLiteral("PROTOCOL"), protocol}};
}

}  // namespace

class TestKeypadInput : public QObject {
    Q_OBJECT
private slots:
    void typicalEvent_data();
    void typicalEvent();
    void releaseOutsideSendsNoStop();
    void rightPressAnywhereStops_data();
    void rightPressAnywhereStops();
    void disabledKeySendsNothing_data();
    void disabledKeySendsNothing();
    void spaceOnFocusedStopKeyOnlyStops();
    void arrowKeyRows_data();
    void arrowKeyRows();
    void heldArrowRepeatsUntilRealRelease();
    void queuedRepeatsCollapseIntoOne();
    void queuedRepeatsWithReleaseSendOnlyTheStop();
    void arrowKeyReachesFocusedCombo();
    void arrowKeysMoveFocusInsideTheGroup_data();
    void arrowKeysMoveFocusInsideTheGroup();
    void heldArrowChangesNothingElse_data();
    void heldArrowChangesNothingElse();
    void wheelChangesOnlyTheFocusedCombo();
    void altCombinationsDoNothingOnThePanel();
    void protocolPickedDuringMovementStopsItFirst();
    void communicationSetStopsARunningMovementFirst();
    void digitsFromEveryKeyboardMix();
    void enterCommitsAndDeleteClears();
    void rangeMessageGoesThroughTheSeam();
    void unpluggedLineGivesOneTransferError();
    void focusLossWhileArrowHeldStops();
    void virtualKeyCodes_data();
    void virtualKeyCodes();
    void doubleClickOnDigitCountsTwice();
    void doubleClickOnPowerSendsTwoFrames();
    void closingStopsMovement_data();
    void closingStopsMovement();
    void typedComboTextIsNeverRead();
    void arrowKeyActsWhileAListIsDroppedDown();
};

namespace {

// Frames of camera 0 under OSKA-DEFAULT and PELCO D.
const QByteArray kOskaStop0 = "*00750900BF";
const QByteArray kPelcoStop0 = Hex("FF000000000000");
const QByteArray kPelcoUp0 = Hex("FF000020000020");

// The lower-left corner of the window is background: no control sits there.
QPoint Background(const Panel& panel) {
    return QPoint(2, panel.dlg->height() - 2);
}

}  // namespace

void TestKeypadInput::typicalEvent_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QByteArray>("zoomIn");
    QTest::addColumn<QByteArray>("stop");
    QTest::newRow("OSKA-DEFAULT") << 0 << QByteArray(kOskaZoomIn12) << QByteArray(kOskaStop12);
    QTest::newRow("PELCO D") << 1 << Hex("FF0C002000002C") << Hex("FF0C000000000C");
}

// 1, 2, ENT, then a press on Z/I and its release over the key.
void TestKeypadInput::typicalEvent() {
    QFETCH(int, protocol);
    QFETCH(QByteArray, zoomIn);
    QFETCH(QByteArray, stop);
    Panel panel(StoredProtocol(protocol));
    QVERIFY(panel.exposed);
    QVERIFY(panel.dlg->Controller().PortOpen());
    panel.click(ControlId::Key1);
    panel.click(ControlId::Key2);
    QCOMPARE(panel.dlg->StatusTexts().at(8), QStringLiteral("CAM ID : 12"));
    QCOMPARE(panel.state().cameraId, 0);
    panel.click(ControlId::Ent);
    QCOMPARE(panel.state().cameraId, 12);
    QCOMPARE(panel.line(), QByteArray());

    panel.press(ControlId::ZoomIn);
    QCOMPARE(panel.line(), zoomIn);
    panel.release(ControlId::ZoomIn);
    QCOMPARE(panel.line(), stop);
    QVERIFY(panel.messages.shown.isEmpty());
}

// A key released away from itself gives no click and so no stop; a right-button press
// anywhere then sends it.
void TestKeypadInput::releaseOutsideSendsNoStop() {
    Panel panel;
    panel.press(ControlId::ZoomIn);
    QCOMPARE(panel.line(), QByteArray("*00750100B7"));
    QTest::mouseRelease(panel.window(), Qt::LeftButton, {}, Background(panel));
    QCOMPARE(panel.line(), QByteArray());
    panel.press(ControlId::StatusList, Qt::RightButton);
    QCOMPARE(panel.line(), kOskaStop0);
}

void TestKeypadInput::rightPressAnywhereStops_data() {
    QTest::addColumn<int>("controlId");  // -1: the window's background
    QTest::newRow("key") << ControlId::ZoomIn;
    QTest::newRow("disabled key") << ControlId::Set;
    QTest::newRow("combo box") << ControlId::BaudRateCombo;
    QTest::newRow("status list") << ControlId::StatusList;
    QTest::newRow("digit key") << ControlId::Key5;
    QTest::newRow("background") << -1;
}

void TestKeypadInput::rightPressAnywhereStops() {
    QFETCH(int, controlId);
    Panel panel(StoredProtocol(ProtocolPelcoD));
    QVERIFY(!panel.control(ControlId::Set)->isEnabled());
    QPoint at = Background(panel);
    if (controlId == ControlId::BaudRateCombo)  // the drop-down arrow, not the text field
        at = panel.control(controlId)->geometry().center() +
             QPoint(panel.control(controlId)->width() / 2 - 4, 0);
    else if (controlId != -1)
        at = panel.centre(controlId);
    QTest::mousePress(panel.window(), Qt::RightButton, {}, at);
    QTest::mouseRelease(panel.window(), Qt::RightButton, {}, at);
    QCOMPARE(panel.line(), kPelcoStop0);
}

void TestKeypadInput::disabledKeySendsNothing_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("cameraType");
    QTest::addColumn<int>("controlId");
    QTest::newRow("SET under PELCO D") << 1 << 0 << ControlId::Set;
    QTest::newRow("RESET under PELCO D") << 1 << 0 << ControlId::Reset;
    QTest::newRow("CAM under PELCO D") << 1 << 0 << ControlId::Cam;
    QTest::newRow("F/F on B/D") << 0 << 1 << ControlId::FocusFar;
    QTest::newRow("POWER on B/D") << 0 << 1 << ControlId::Power;
}

void TestKeypadInput::disabledKeySendsNothing() {
    QFETCH(int, protocol);
    QFETCH(int, cameraType);
    QFETCH(int, controlId);
    Panel panel({{QStringLiteral("PROTOCOL"), protocol}, {QStringLiteral("CAMTYPE"), cameraType}});
    QVERIFY(!panel.control(controlId)->isEnabled());
    panel.click(controlId);
    QCOMPARE(panel.line(), QByteArray());
    QVERIFY(panel.messages.shown.isEmpty());
}

// The keyboard never starts an action through a key: Space on a focused stop key gives
// its click, and so only the stop.
void TestKeypadInput::spaceOnFocusedStopKeyOnlyStops() {
    Panel panel;
    panel.control(ControlId::ZoomIn)->setFocus();
    panel.tap(Qt::Key_Space);
    QCOMPARE(panel.line(), kOskaStop0);
}

void TestKeypadInput::arrowKeyRows_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<QByteArray>("frame");
    // Left and Right send the focus frames of the on-screen RIGHT and LEFT keys.
    QTest::newRow("Up: zoom in") << int(Qt::Key_Up) << QByteArray("*00750100B7");
    QTest::newRow("Down: zoom out") << int(Qt::Key_Down) << QByteArray("*00750300B9");
    QTest::newRow("Left: focus far") << int(Qt::Key_Left) << QByteArray("*00750500BB");
    QTest::newRow("Right: focus near") << int(Qt::Key_Right) << QByteArray("*00750600BC");
}

void TestKeypadInput::arrowKeyRows() {
    QFETCH(int, key);
    QFETCH(QByteArray, frame);
    Panel panel;
    panel.key(Qt::Key(key), true);
    QCOMPARE(panel.line(), frame);
    panel.key(Qt::Key(key), false);
    QCOMPARE(panel.line(), kOskaStop0);
}

// X11 reports a held key as release/press pairs flagged as repeats. Each repeat that is
// handled on its own sends the row again; only the real release stops.
void TestKeypadInput::heldArrowRepeatsUntilRealRelease() {
    Panel panel(StoredProtocol(ProtocolPelcoD));
    panel.key(Qt::Key_Up, true);
    for (int i = 0; i < 3; ++i) {
        panel.key(Qt::Key_Up, false, true);
        panel.key(Qt::Key_Up, true, true);
        QCoreApplication::processEvents();
    }
    QCOMPARE(panel.line(), kPelcoUp0.repeated(4));
    panel.key(Qt::Key_Up, false);
    QCoreApplication::processEvents();
    QCOMPARE(panel.line(), kPelcoStop0);
}

namespace {
void PostRepeats(QWindow* window, Qt::Key key, int count) {
    for (int i = 0; i < count; ++i) {
        QCoreApplication::postEvent(window, new QKeyEvent(QEvent::KeyRelease, key, {}, {}, true));
        QCoreApplication::postEvent(window, new QKeyEvent(QEvent::KeyPress, key, {}, {}, true));
    }
}
}  // namespace

// Repeats that queued up while the window was busy collapse into one send.
void TestKeypadInput::queuedRepeatsCollapseIntoOne() {
    Panel panel(StoredProtocol(ProtocolPelcoD));
    panel.key(Qt::Key_Up, true);
    PostRepeats(panel.window(), Qt::Key_Up, 25);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(panel.line(), kPelcoUp0.repeated(2));
    panel.key(Qt::Key_Up, false);
    QCOMPARE(panel.line(), kPelcoStop0);
}

// When the real release is among the queued events, the stop is the next frame on the
// line and no movement follows it.
void TestKeypadInput::queuedRepeatsWithReleaseSendOnlyTheStop() {
    Panel panel(StoredProtocol(ProtocolPelcoD));
    panel.key(Qt::Key_Up, true);
    QCOMPARE(panel.line(), kPelcoUp0);
    PostRepeats(panel.window(), Qt::Key_Up, 25);
    QCoreApplication::postEvent(panel.window(), new QKeyEvent(QEvent::KeyRelease, Qt::Key_Up, {}));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(panel.line(), kPelcoStop0);
}

// The panel looks at a PC key first and then lets it go on to the focused control.
// The arrow key reaches the focused combo box after the panel has sent its frames, but
// never changes the row: the camera keys must not change settings. Alt+Down still opens
// the list.
void TestKeypadInput::arrowKeyReachesFocusedCombo() {
    Panel panel;
    QComboBox* baud = panel.combo(ControlId::BaudRateCombo);
    baud->setFocus();
    QCOMPARE(baud->currentIndex(), 2);
    panel.tap(Qt::Key_Up);
    QCOMPARE(panel.line(), QByteArray("*00750100B7") + kOskaStop0);
    QCOMPARE(baud->currentIndex(), 2);
    panel.tap(Qt::Key_Down, Qt::AltModifier);
    QVERIFY(baud->view()->isVisible());
    baud->hidePopup();
    QCOMPARE(panel.line(), QByteArray());
}

void TestKeypadInput::arrowKeysMoveFocusInsideTheGroup_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("cameraType");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("to");
    const int up = Qt::Key_Up, down = Qt::Key_Down, left = Qt::Key_Left, right = Qt::Key_Right;
    QTest::newRow("1, Up wraps to F/N") << 0 << 0 << ControlId::Key1 << up << ControlId::FocusNear;
    QTest::newRow("F/N, Down wraps to 1")
        << 0 << 0 << ControlId::FocusNear << down << ControlId::Key1;
    QTest::newRow("B/D: 1, Left skips F/N, F/F")
        << 0 << 1 << ControlId::Key1 << left << ControlId::ZoomOut;
    QTest::newRow("PELCO D: 9, Right skips CAM")
        << 1 << 0 << ControlId::Key9 << right << ControlId::Key0;
    QTest::newRow("SET, Down to INIT") << 0 << 0 << ControlId::Set << down << ControlId::Init;
    QTest::newRow("POWER, Down wraps to RESET")
        << 0 << 0 << ControlId::Power << down << ControlId::Reset;
    QTest::newRow("PELCO D: POWER alone") << 1 << 0 << ControlId::Power << down << ControlId::Power;
    QTest::newRow("COMMUNICATION SET, Right wraps")
        << 0 << 0 << ControlId::CommunicationSet << right << ControlId::CameraTypeCombo;
}

// On a key the arrows move the focus only among the controls of its group, wrapping and
// skipping disabled keys, as Windows dialogs do.
void TestKeypadInput::arrowKeysMoveFocusInsideTheGroup() {
    QFETCH(int, protocol);
    QFETCH(int, cameraType);
    QFETCH(int, from);
    QFETCH(int, key);
    QFETCH(int, to);
    Panel panel({{QStringLiteral("PROTOCOL"), protocol}, {QStringLiteral("CAMTYPE"), cameraType}});
    panel.control(from)->setFocus();
    panel.tap(Qt::Key(key));
    QCOMPARE(ControlIdOf(panel.dlg->focusWidget()) == -1
                 ? ControlIdOf(panel.dlg->focusWidget()->parentWidget())
                 : ControlIdOf(panel.dlg->focusWidget()),
             to);
}

void TestKeypadInput::heldArrowChangesNothingElse_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("cameraType");
    QTest::addColumn<int>("focus");  // -1: where the focus starts
    QTest::addColumn<int>("key");
    QTest::addColumn<QByteArray>("movement");
    const QByteArray oskaDown = "*00750300B9", oskaUp = "*00750100B7";
    const QByteArray pelcoUp = kPelcoUp0, pelcoDown = Hex("FF000040000040");
    QTest::newRow("OSKA ZOOM, start, Down") << 0 << 0 << -1 << int(Qt::Key_Down) << oskaDown;
    QTest::newRow("OSKA B/D, start, Right")
        << 0 << 1 << -1 << int(Qt::Key_Right) << QByteArray("*00750600BC");
    QTest::newRow("PELCO B/D, start, Up") << 1 << 1 << -1 << int(Qt::Key_Up) << pelcoUp;
    QTest::newRow("PELCO ZOOM, start, Left")
        << 1 << 0 << -1 << int(Qt::Key_Left) << Hex("FF000080000080");
    QTest::newRow("protocol combo, Down")
        << 0 << 0 << ControlId::ProtocolCombo << int(Qt::Key_Down) << oskaDown;
    QTest::newRow("protocol combo, PELCO, Up")
        << 1 << 0 << ControlId::ProtocolCombo << int(Qt::Key_Up) << pelcoUp;
    QTest::newRow("camera combo, Up")
        << 1 << 1 << ControlId::CameraTypeCombo << int(Qt::Key_Up) << pelcoUp;
    QTest::newRow("COM combo, Down")
        << 0 << 0 << ControlId::ComPortCombo << int(Qt::Key_Down) << oskaDown;
    QTest::newRow("baud combo, Down")
        << 1 << 0 << ControlId::BaudRateCombo << int(Qt::Key_Down) << pelcoDown;
    QTest::newRow("SET, walks to the combos, Down")
        << 0 << 0 << ControlId::Set << int(Qt::Key_Down) << oskaDown;
    QTest::newRow("UP, walks to the camera combo, Up")
        << 0 << 0 << ControlId::Up << int(Qt::Key_Up) << oskaUp;
}

// An arrow key held through more repeats than the window has controls sends its movement
// and one stop in the protocol it started in, and changes no combo box, status line or
// stored setting, wherever the focus was.
void TestKeypadInput::heldArrowChangesNothingElse() {
    QFETCH(int, protocol);
    QFETCH(int, cameraType);
    QFETCH(int, focus);
    QFETCH(int, key);
    QFETCH(QByteArray, movement);
    Panel panel({{QStringLiteral("PROTOCOL"), protocol}, {QStringLiteral("CAMTYPE"), cameraType}});
    if (focus != -1)
        panel.control(focus)->setFocus();
    const QList<int> combos = {ControlId::ProtocolCombo, ControlId::CameraTypeCombo,
                               ControlId::ComPortCombo, ControlId::BaudRateCombo};
    QList<int> rows;
    for (int id : combos) rows << panel.combo(id)->currentIndex();
    const QStringList lines = panel.dlg->StatusTexts();
    const auto stored = panel.profile.values;

    panel.key(Qt::Key(key), true);
    for (int i = 0; i < 60; ++i) {
        panel.key(Qt::Key(key), false, true);
        panel.key(Qt::Key(key), true, true);
        QCoreApplication::processEvents();
    }
    panel.key(Qt::Key(key), false);
    QCoreApplication::processEvents();

    const QByteArray stop = protocol == 0 ? kOskaStop0 : kPelcoStop0;
    QCOMPARE(panel.line(), movement.repeated(61) + stop);
    for (int i = 0; i < combos.size(); ++i)
        QCOMPARE(panel.combo(combos[i])->currentIndex(), rows[i]);
    QCOMPARE(panel.state().protocol, protocol);
    QCOMPARE(panel.state().cameraType, cameraType);
    QCOMPARE(panel.dlg->StatusTexts(), lines);
    QCOMPARE(panel.profile.values, stored);
    if (focus == -1)
        QVERIFY(qobject_cast<QPushButton*>(panel.dlg->focusWidget()));
}

namespace {
// One notch of the wheel as the platform delivers it: to the window, over the drop-down
// arrow of a combo box.
void TurnWheel(Panel& panel, QComboBox* combo) {
    const QPointF at =
        combo->mapTo(panel.dlg.get(), QPoint(combo->width() - 4, combo->height() / 2));
    QWheelEvent wheel(at, panel.window()->mapToGlobal(at), {}, QPoint(0, -120), Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(panel.window(), &wheel);
}
}  // namespace

// The wheel changes a combo box only when it has the focus, as an operator who scrolls
// the window expects.
void TestKeypadInput::wheelChangesOnlyTheFocusedCombo() {
    Panel panel;
    QComboBox* protocol = panel.combo(ControlId::ProtocolCombo);
    TurnWheel(panel, protocol);
    QCOMPARE(protocol->currentIndex(), 0);
    QCOMPARE(panel.state().protocol, 0);
    protocol->setFocus();
    TurnWheel(panel, protocol);
    QCOMPARE(protocol->currentIndex(), 1);
    QCOMPARE(panel.state().protocol, 1);
}

// Alt combinations arrive as system keys: no digit, commit or movement on the panel.
void TestKeypadInput::altCombinationsDoNothingOnThePanel() {
    Panel panel;
    for (Qt::Key code : {Qt::Key_5, Qt::Key_Return, Qt::Key_Delete, Qt::Key_Up, Qt::Key_Left})
        panel.tap(code, Qt::AltModifier);
    // Alt released before the arrow: the arrow's release still belongs to the combination.
    panel.key(Qt::Key_Down, true, false, Qt::AltModifier);
    panel.key(Qt::Key_Down, false);
    QCOMPARE(panel.line(), QByteArray());
    QCOMPARE(panel.dlg->Controller().PendingId(), 0);
    QCOMPARE(panel.dlg->StatusTexts().at(8), QStringLiteral("CAM ID : 0"));
    // A movement started before Alt went down still stops on its release.
    panel.key(Qt::Key_Up, true);
    panel.key(Qt::Key_Up, false, false, Qt::AltModifier);
    QCOMPARE(panel.line(), QByteArray("*00750100B7") + kOskaStop0);
}

// A protocol chosen while a camera moves (the wheel over the focused combo box) stops the
// movement first in the protocol it was started in; the release then stops in the new one.
void TestKeypadInput::protocolPickedDuringMovementStopsItFirst() {
    Panel panel;
    panel.combo(ControlId::ProtocolCombo)->setFocus();
    panel.key(Qt::Key_Up, true);
    TurnWheel(panel, panel.combo(ControlId::ProtocolCombo));
    QCOMPARE(panel.state().protocol, 1);
    panel.key(Qt::Key_Up, false);
    QCOMPARE(panel.line(), QByteArray("*00750100B7") + kOskaStop0 + kPelcoStop0);
}

// A key released away from itself leaves its movement running; the line is stopped before
// COMMUNICATION SET closes it, so that camera is not lost with the old line.
void TestKeypadInput::communicationSetStopsARunningMovementFirst() {
    Panel panel;
    panel.press(ControlId::ZoomIn);
    QTest::mouseRelease(panel.window(), Qt::LeftButton, {}, Background(panel));
    panel.press(ControlId::CommunicationSet);
    QCOMPARE(panel.line(), QByteArray("*00750100B7") + kOskaStop0);
    QCOMPARE(panel.dlg->StatusTexts().at(3), QStringLiteral("   OSKA-DEF PROTOCOL"));
}

void TestKeypadInput::digitsFromEveryKeyboardMix() {
    Panel panel;
    panel.tap(Qt::Key_1);
    panel.tap(Qt::Key_2, Qt::KeypadModifier);
    panel.click(ControlId::Key3);
    QCOMPARE(panel.dlg->StatusTexts().at(8), QStringLiteral("CAM ID : 123"));
    QCOMPARE(panel.dlg->Controller().PendingId(), 123);
    QCOMPARE(panel.state().cameraId, 0);
    QCOMPARE(panel.line(), QByteArray());
}

void TestKeypadInput::enterCommitsAndDeleteClears() {
    Panel panel;
    panel.tap(Qt::Key_4);
    panel.tap(Qt::Key_2);
    panel.tap(Qt::Key_Return);
    QCOMPARE(panel.state().cameraId, 42);
    panel.tap(Qt::Key_Delete);
    QCOMPARE(panel.state().cameraId, 0);
    QCOMPARE(panel.dlg->StatusTexts().at(8), QStringLiteral("CAM ID : 0"));
    panel.tap(Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(panel.state().cameraId, 42);
    QCOMPARE(panel.line(), QByteArray());
}

void TestKeypadInput::rangeMessageGoesThroughTheSeam() {
    Panel panel;
    for (int id : {ControlId::Key3, ControlId::Key0, ControlId::Key0, ControlId::Ent})
        panel.click(id);
    QCOMPARE(panel.messages.shown, QStringList{QStringLiteral("Camera ID Range (0 ~ 255) Error!")});
    QCOMPARE(panel.state().cameraId, 0);
    for (int id : {ControlId::Key3, ControlId::Key0, ControlId::Key0, ControlId::Cam})
        panel.click(id);
    QCOMPARE(panel.messages.shown.size(), 2);
    QCOMPARE(panel.line(), QByteArray());
}

void TestKeypadInput::unpluggedLineGivesOneTransferError() {
    Panel panel;
    panel.pty.CloseMaster();
    panel.press(ControlId::ZoomIn);
    QCOMPARE(panel.messages.shown, QStringList{QStringLiteral("Transfer Error!")});
}

// The key-up of an arrow held while the window loses the keyboard never comes back here.
void TestKeypadInput::focusLossWhileArrowHeldStops() {
    Panel panel(StoredProtocol(ProtocolPelcoD));
    panel.dlg->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(panel.dlg.get()));
    panel.key(Qt::Key_Up, true);
    QCOMPARE(panel.line(), kPelcoUp0);
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QCOMPARE(panel.line(), kPelcoStop0);
}

void TestKeypadInput::virtualKeyCodes_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("code");
    QTest::newRow("Return") << int(Qt::Key_Return) << 0 << 0x0D;
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << 0x0D;
    QTest::newRow("Left") << int(Qt::Key_Left) << 0 << 0x25;
    QTest::newRow("Up") << int(Qt::Key_Up) << 0 << 0x26;
    QTest::newRow("Right") << int(Qt::Key_Right) << 0 << 0x27;
    QTest::newRow("Down") << int(Qt::Key_Down) << 0 << 0x28;
    QTest::newRow("keypad Down") << int(Qt::Key_Down) << int(Qt::KeypadModifier) << 0x28;
    QTest::newRow("Delete") << int(Qt::Key_Delete) << 0 << 0x2E;
    QTest::newRow("0") << int(Qt::Key_0) << 0 << 0x30;
    QTest::newRow("9 with Ctrl") << int(Qt::Key_9) << int(Qt::ControlModifier) << 0x39;
    QTest::newRow("keypad 0") << int(Qt::Key_0) << int(Qt::KeypadModifier) << 0x60;
    QTest::newRow("keypad 7") << int(Qt::Key_7) << int(Qt::KeypadModifier) << 0x67;
    QTest::newRow("Space") << int(Qt::Key_Space) << 0 << 0;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << 0 << 0;
    QTest::newRow("A") << int(Qt::Key_A) << 0 << 0;
}

void TestKeypadInput::virtualKeyCodes() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, code);
    const QKeyEvent event(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers));
    QCOMPARE(KeypadInput::VirtualKeyOf(event), code);
}

// The second press of a double-click is a press like any other.
void TestKeypadInput::doubleClickOnDigitCountsTwice() {
    Panel panel;
    QTest::mouseDClick(panel.window(), Qt::LeftButton, {}, panel.centre(ControlId::Key1));
    QCOMPARE(panel.dlg->Controller().PendingId(), 11);
    QCOMPARE(panel.dlg->Controller().DigitCount(), 2);
    QCOMPARE(panel.dlg->StatusTexts().at(8), QStringLiteral("CAM ID : 11"));
    panel.click(ControlId::Ent);
    QCOMPARE(panel.state().cameraId, 11);
}

void TestKeypadInput::doubleClickOnPowerSendsTwoFrames() {
    Panel panel(StoredProtocol(ProtocolPelcoD));
    QTest::mouseDClick(panel.window(), Qt::LeftButton, {}, panel.centre(ControlId::Power));
    QCOMPARE(panel.line(), Hex("FF000800000008") + Hex("FF008800000088"));
    QCOMPARE(panel.dlg->Controller().PowerToggle(), 0);
}

void TestKeypadInput::closingStopsMovement_data() {
    QTest::addColumn<QString>("movement");
    QTest::addColumn<QString>("closing");
    QTest::addColumn<QByteArray>("expected");  // on the line after the movement's frame
    for (const char* closing : {"close box", "Escape"}) {
        QTest::addRow("arrow key held, %s", closing) << "arrow" << closing << kPelcoStop0;
        QTest::addRow("stop key released, %s", closing) << "click" << closing << QByteArray();
        QTest::addRow("released outside, %s", closing) << "outside" << closing << kPelcoStop0;
        QTest::addRow("POWER, %s", closing) << "power" << closing << QByteArray();
    }
    // While the mouse holds a key down, Escape only lets the key go.
    QTest::newRow("stop key held, close box") << "mouse"
                                              << "close box" << kPelcoStop0;
}

// No movement outlives the window: a movement not yet followed by its stop is stopped
// when the window closes, exactly once, and nothing follows.
void TestKeypadInput::closingStopsMovement() {
    QFETCH(QString, movement);
    QFETCH(QString, closing);
    QFETCH(QByteArray, expected);
    Panel panel(StoredProtocol(ProtocolPelcoD));
    if (movement == QLatin1String("arrow")) {
        panel.key(Qt::Key_Up, true);
        PostRepeats(panel.window(), Qt::Key_Up, 1);
    } else if (movement == QLatin1String("power")) {
        panel.click(ControlId::Power);
    } else {
        panel.press(ControlId::ZoomIn);
        if (movement == QLatin1String("click"))
            panel.release(ControlId::ZoomIn);
        else if (movement == QLatin1String("outside"))
            QTest::mouseRelease(panel.window(), Qt::LeftButton, {}, Background(panel));
    }
    panel.line();
    if (closing == QLatin1String("Escape"))
        panel.tap(Qt::Key_Escape);
    else
        panel.dlg->close();
    QVERIFY(!panel.dlg->isVisible());
    QCoreApplication::processEvents();
    QCOMPARE(panel.line(), expected);
}

// Only rows picked from the list count: typing a row's text into the field and leaving it
// neither selects that row nor adds one.
void TestKeypadInput::typedComboTextIsNeverRead() {
    Panel panel;
    QComboBox* protocol = panel.combo(ControlId::ProtocolCombo);
    protocol->setFocus();
    protocol->lineEdit()->selectAll();
    QTest::keyClicks(protocol->lineEdit(), QStringLiteral("PELCO D"));
    QTest::keyClick(protocol->lineEdit(), Qt::Key_Return);
    panel.control(ControlId::Key1)->setFocus();
    QCoreApplication::processEvents();
    QCOMPARE(protocol->count(), 2);
    QCOMPARE(panel.state().protocol, int(ProtocolOskaDefault));
    QCOMPARE(panel.state().baudRate, 9600u);
    QVERIFY(panel.control(ControlId::Reset)->isEnabled());
}

// With a combo box's list dropped down the keys go to the list, and still act.
void TestKeypadInput::arrowKeyActsWhileAListIsDroppedDown() {
    Panel panel;
    QComboBox* baud = panel.combo(ControlId::BaudRateCombo);
    baud->showPopup();
    QWindow* list = baud->view()->window()->windowHandle();
    QVERIFY(list);
    QVERIFY(QTest::qWaitForWindowExposed(list));
    QTest::simulateEvent(list, true, Qt::Key_Down, {}, QString(), false);
    QTest::simulateEvent(list, false, Qt::Key_Down, {}, QString(), false);
    QCOMPARE(panel.line(), QByteArray("*00750300B9") + kOskaStop0);
    baud->hidePopup();
}

QTEST_MAIN(TestKeypadInput)
#include "tst_keypad_input.moc"
