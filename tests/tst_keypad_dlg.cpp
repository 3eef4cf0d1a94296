#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <memory>
#include <vector>

#include <termios.h>

#include "dialog/dialog_font.h"
#include "dialog/dialog_template.h"
#include "dialog/resource_image.h"
#include "panel/about_dlg.h"
#include "panel_fixture.h"
#include "protocol/control_ids.h"
#include "serial/net/net_address.h"

using Stored = QVariantHash;
using KeyIds = QList<int>;

namespace {

// The keypad's layout, control by control in tab order: what the window must be built from.
struct ExpectedControl {
    int id;
    const char* kind;
    const char* caption;
    QRect rect;
};

const ExpectedControl kControls[] = {
    {1000, "button", "1", {7, 55, 24, 20}},
    {1001, "button", "2", {34, 55, 24, 20}},
    {1002, "button", "3", {61, 55, 24, 20}},
    {1004, "button", "4", {7, 76, 24, 20}},
    {1005, "button", "5", {34, 76, 24, 20}},
    {1006, "button", "6", {61, 76, 24, 20}},
    {1007, "button", "7", {7, 97, 24, 20}},
    {1008, "button", "8", {34, 97, 24, 20}},
    {1009, "button", "9", {61, 97, 24, 20}},
    {1010, "button", "CAM", {7, 118, 24, 20}},
    {1011, "button", "0", {34, 118, 24, 20}},
    {1012, "button", "ENT", {61, 118, 24, 20}},
    {1013, "button", "M/U", {160, 117, 21, 21}},
    {1014, "button", "CLR", {88, 117, 21, 21}},
    {1015, "button", "Z/I", {136, 94, 21, 21}},
    {1016, "button", "Z/O", {160, 94, 21, 21}},
    {1017, "button", "F/F", {88, 94, 21, 21}},
    {1018, "button", "F/N", {112, 94, 21, 21}},
    {-1, "label", "Protocol : ", {184, 24, 37, 12}},
    {1021, "combo", "", {223, 24, 65, 45}},
    {1019, "button", "SET", {136, 117, 21, 21}},
    {1020, "button", "INIT", {112, 117, 21, 21}},
    {1024, "combo", "", {184, 48, 48, 59}},
    {1025, "combo", "", {240, 48, 48, 52}},
    {-1, "label", "COM PORT", {184, 39, 48, 8}},
    {-1, "label", "Baudrate", {240, 39, 48, 8}},
    {1029, "button", "RESET", {237, 79, 51, 14}},
    {1028, "button", "POWER", {184, 79, 51, 14}},
    {-1, "label", "Camera :", {184, 7, 38, 14}},
    {1022, "combo", "", {223, 7, 65, 45}},
    {1030, "button", "UP", {184, 94, 104, 14}},
    {1031, "button", "LEFT", {184, 109, 51, 14}},
    {1032, "button", "RIGHT", {237, 109, 51, 14}},
    {1033, "button", "DOWN", {184, 124, 104, 14}},
    {1034, "button", "COMMUNICATION SET", {184, 64, 104, 14}},
    {1035, "list", "", {88, 7, 93, 85}},
    {-1, "picture", "", {7, 7, 80, 44}},
};

const QString kBanner = QStringLiteral("=====================");
const QString kTitle = QStringLiteral("  OSKA-ZORVIK STATUS ");
const QString kBlank = QStringLiteral(" ");
const QString kOskaLine = QStringLiteral("   OSKA-DEF PROTOCOL");
const QString kPelcoLine = QStringLiteral("      PELCO D PROTOCOL");
const QString kZoomLine = QStringLiteral("ZOOM CAM CONTROL");
const QString kBdLine = QStringLiteral("B/D CAM CONTROL");
const QString kMissingDevice = QStringLiteral("/nonexistent/tty");

// The keys that the camera-type rule enables and disables.
const KeyIds kCameraTypeKeys = {ControlId::FocusFar, ControlId::FocusNear, ControlId::Set,
                                ControlId::Init, ControlId::Power};

KeyIds PushButtonIds() {
    KeyIds ids;
    for (const ExpectedControl& c : kControls) {
        if (QLatin1String(c.kind) == QLatin1String("button"))
            ids << c.id;
    }
    return ids;
}

KeyIds Sorted(KeyIds ids) {
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Every push button of the window that is disabled, in ID order.
KeyIds DisabledKeys(const Panel& panel) {
    KeyIds ids;
    for (int id : PushButtonIds()) {
        QWidget* key = panel.control(id);
        if (key && !key->isEnabled())
            ids << id;
    }
    return Sorted(ids);
}

QStringList OpenedLines(const QString& protocolLine, int port, int baud,
                        const QString& cameraTypeLine, int cameraId) {
    return {kBanner,
            kTitle,
            kBanner,
            protocolLine,
            QStringLiteral("PORT : COM%1").arg(port),
            QStringLiteral("BAUD : %1 bps").arg(baud),
            kBlank,
            cameraTypeLine,
            QStringLiteral("CAM ID : %1").arg(cameraId),
            kBlank};
}

QStringList FailedLines(const QString& failure) {
    return {kBanner, kTitle, kBanner, failure, kBlank, kBlank, kBlank, kBlank, kBlank, kBlank};
}

QVariant StoredValue(const Panel& panel, const char* key) {
    return panel.profile.values.value(QStringLiteral("Settings/") + QLatin1String(key));
}

void MapCom1(Panel& panel, bool available) {
    panel.profile.values.insert(QStringLiteral("Ports/COM1"),
                                available ? panel.pty.slavePath() : kMissingDevice);
}

// Builds the window anew on the panel's current profile, as a new run of the program does.
void Restart(Panel& panel) {
    panel.dlg.reset();
    panel.profile.written.clear();
    panel.dlg = std::make_unique<CKeypadDlg>(
        KeypadServices{panel.device, panel.pause, panel.profile}, &panel.messages);
    panel.dlg->show();
    panel.exposed = QTest::qWaitForWindowExposed(panel.dlg.get());
}

// The numbered control that holds w, or -1 (a combo's text field belongs to its combo).
int OwningControlId(QWidget* w) {
    while (w && ControlIdOf(w) == -1) w = w->parentWidget();
    return ControlIdOf(w);
}

speed_t SpeedOf(int baud) {
    switch (baud) {
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        default:
            return B0;
    }
}

speed_t LineSpeed(const Panel& panel) {
    const struct termios settings = panel.pty.LineSettings();
    return cfgetospeed(&settings);
}

QString AccessibleName(QWidget* w) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

// Opens as the recorder does, noting whether the window was on screen by then.
class ShownAtOpenDevice : public RecordingDevice {
public:
    bool Open(const QString& name, uint32_t baud) override {
        shownAtOpen = window && window->isVisible();
        return RecordingDevice::Open(name, baud);
    }
    // As the program's own device: a serial server is waited for, a local device is not.
    bool OpenMayWait(const QString& name) const override { return IsNetEntry(name); }
    const QWidget* window = nullptr;
    bool shownAtOpen = false;
};

}  // namespace

class TestKeypadDlg : public QObject {
    Q_OBJECT
private slots:
    void startupLines_data();
    void startupLines();
    void networkPortOpensWithTheWindowUp_data();
    void networkPortOpensWithTheWindowUp();
    void startupEnabling_data();
    void startupEnabling();
    void comboRows();
    void storedSelections_data();
    void storedSelections();
    void storedPortOutsideRowsOpensItsDevice();
    void operatorPicks_data();
    void operatorPicks();
    void pelcoDKeepsOldStatusUntilCommunicationSet();
    void pickedRateAfterProtocolIsUsed();
    void typedComboTextIsNeverRead_data();
    void typedComboTextIsNeverRead();
    void communicationSetStores_data();
    void communicationSetStores();
    void communicationSetActsOnPress();
    void communicationSetKeepsTenLines();
    void communicationSetIgnoresKeyboard();
    void failedStartThenSetShowsCameraId();
    void failedStartTypedIdSurvivesSet();
    void failedStartCameraTypeLine();
    void storedPelcoRateIsStoredBySet();
    void builtInRowsLeaveComuInit();
    void controlsFollowLayoutTable();
    void dialogUnits_data();
    void dialogUnits();
    void controlsSitAtTheirRectangles();
    void accessibleNames();
    void tabOrderFollowsTable();
    void windowTitle();
    void f1OpensAboutBox();
    void escapeClosesWindow();
    void minimisedWindowShowsItsIcon();
    void usableFace_data();
    void usableFace();
    void statusLinesShowWhole_data();
    void statusLinesShowWhole();
    void controlsShowTheirText();
};

void TestKeypadDlg::startupLines_data() {
    QTest::addColumn<Stored>("stored");
    QTest::addColumn<bool>("lineAvailable");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("baud");  // the line's speed once open
    QTest::newRow("empty store") << Stored{} << true
                                 << OpenedLines(kOskaLine, 1, 9600, kZoomLine, 0) << 9600;
    QTest::newRow("PELCO D") << Stored{{"PROTOCOL", 1}} << true
                             << OpenedLines(kPelcoLine, 1, 2400, kZoomLine, 0) << 2400;
    QTest::newRow("B/D") << Stored{{"CAMTYPE", 1}} << true
                         << OpenedLines(kOskaLine, 1, 9600, kBdLine, 0) << 9600;
    QTest::newRow("PELCO D, B/D") << Stored{{"PROTOCOL", 1}, {"CAMTYPE", 1}} << true
                                  << OpenedLines(kPelcoLine, 1, 2400, kBdLine, 0) << 2400;
    QTest::newRow("4800 kept under protocol 2")
        << Stored{{"PROTOCOL", 2}, {"BAUDRATE", 4800}} << true
        << OpenedLines(kPelcoLine, 1, 4800, kZoomLine, 0) << 4800;
    QTest::newRow("device missing") << Stored{} << false << FailedLines("Can't OPEN!") << 0;
    QTest::newRow("device missing, PELCO D, B/D")
        << Stored{{"PROTOCOL", 1}, {"CAMTYPE", 1}} << false << FailedLines("Can't OPEN!") << 0;
}

void TestKeypadDlg::startupLines() {
    QFETCH(Stored, stored);
    QFETCH(bool, lineAvailable);
    QFETCH(QStringList, lines);
    QFETCH(int, baud);
    Panel panel(stored, lineAvailable);
    QVERIFY(panel.exposed);
    QCOMPARE(panel.dlg->Controller().PortOpen(), lineAvailable);
    QCOMPARE(panel.dlg->StatusTexts(), lines);
    if (lineAvailable)
        QCOMPARE(LineSpeed(panel), SpeedOf(baud));
    QVERIFY(panel.messages.shown.isEmpty());
    QVERIFY(!QApplication::activeModalWidget());
    // Nothing goes out on the line at start-up.
    QCOMPARE(panel.line(), QByteArray());
}

void TestKeypadDlg::networkPortOpensWithTheWindowUp_data() {
    QTest::addColumn<QString>("entry");  // empty: a local device
    QTest::addColumn<bool>("shownAtOpen");
    QTest::newRow("local device") << QString() << false;
    QTest::newRow("raw TCP") << "tcp://127.0.0.1:4001" << true;
    QTest::newRow("RFC 2217") << "rfc2217://[::1]:4001" << true;
}

void TestKeypadDlg::networkPortOpensWithTheWindowUp() {
    QFETCH(QString, entry);
    QFETCH(bool, shownAtOpen);
    PtyPair pty;
    ShownAtOpenDevice device;
    RecordingPause pause;
    MemoryProfile profile;
    RecordingMessages messages;
    profile.values.insert(QStringLiteral("Ports/COM1"), entry.isEmpty() ? pty.slavePath() : entry);
    CKeypadDlg dlg(KeypadServices{device, pause, profile}, &messages);
    device.window = &dlg;
    // Until the connect is settled the list shows its heading only.
    QCOMPARE(dlg.StatusTexts().size(), shownAtOpen ? 3 : 10);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTRY_COMPARE(dlg.StatusTexts(), OpenedLines(kOskaLine, 1, 9600, kZoomLine, 0));
    QCOMPARE(device.shownAtOpen, shownAtOpen);
    QCOMPARE(device.openedName.startsWith(QLatin1String("/dev/")), !shownAtOpen);
}

void TestKeypadDlg::startupEnabling_data() {
    using namespace ControlId;
    QTest::addColumn<Stored>("stored");
    QTest::addColumn<KeyIds>("disabled");
    QTest::newRow("ZOOM, OSKA-DEFAULT") << Stored{} << KeyIds{};
    QTest::newRow("B/D, OSKA-DEFAULT")
        << Stored{{"CAMTYPE", 1}} << KeyIds{FocusFar, FocusNear, Set, Init, Power};
    QTest::newRow("ZOOM, PELCO D") << Stored{{"PROTOCOL", 1}} << KeyIds{Set, Init, Reset, Cam};
    QTest::newRow("B/D, PELCO D") << Stored{{"PROTOCOL", 1}, {"CAMTYPE", 1}}
                                  << KeyIds{FocusFar, FocusNear, Set, Init, Reset, Cam};
}

void TestKeypadDlg::startupEnabling() {
    QFETCH(Stored, stored);
    QFETCH(KeyIds, disabled);
    Panel panel(stored);
    QCOMPARE(DisabledKeys(panel), Sorted(disabled));
    QVERIFY(!panel.control(ControlId::StatusList)->isEnabled());
    for (int id : {ControlId::ProtocolCombo, ControlId::CameraTypeCombo, ControlId::ComPortCombo,
                   ControlId::BaudRateCombo})
        QVERIFY2(panel.control(id)->isEnabled(), qPrintable(QString::number(id)));
}

void TestKeypadDlg::comboRows() {
    Panel panel;
    const QList<QPair<int, QStringList>> expected = {
        {ControlId::ComPortCombo, {"COM1", "COM2", "COM3", "COM4"}},
        {ControlId::BaudRateCombo, {"2400", "4800", "9600", "19200"}},
        {ControlId::CameraTypeCombo, {"ZOOM", "B/D"}},
        {ControlId::ProtocolCombo, {"OSKA-DEFAULT", "PELCO D"}},
    };
    for (const auto& [id, rows] : expected) {
        QComboBox* box = panel.combo(id);
        QVERIFY2(box, qPrintable(QString::number(id)));
        QStringList texts;
        for (int i = 0; i < box->count(); ++i) texts << box->itemText(i);
        QCOMPARE(texts, rows);
        // A drop-down with a text field of its own, not a fixed list.
        QVERIFY(box->isEditable());
    }
}

void TestKeypadDlg::storedSelections_data() {
    QTest::addColumn<Stored>("stored");
    QTest::addColumn<QStringList>("selected");  // port, baud, camera type, protocol
    QTest::addColumn<QList<int>>("values");     // comPort, baudRate, cameraType, protocol
    QTest::addColumn<int>("camType");           // CAMTYPE in the store afterwards
    const Stored builtIn{
        {"COMUINIT", 0}, {"COMPORT", 3}, {"BAUDRATE", 4800}, {"PROTOCOL", 1}, {"CAMTYPE", 1}};
    const Stored garbage{{"COMUINIT", "abc"},
                         {"COMPORT", "abc"},
                         {"BAUDRATE", "abc"},
                         {"PROTOCOL", "abc"},
                         {"CAMTYPE", "abc"}};
    QTest::newRow("empty store") << Stored{} << QStringList{"COM1", "9600", "ZOOM", "OSKA-DEFAULT"}
                                 << QList<int>{1, 9600, 0, 0} << 0;
    QTest::newRow("COMUINIT 0") << builtIn << QStringList{"COM1", "9600", "ZOOM", "OSKA-DEFAULT"}
                                << QList<int>{1, 9600, 0, 0} << 0;
    QTest::newRow("garbage") << garbage << QStringList{"COM1", "9600", "ZOOM", "OSKA-DEFAULT"}
                             << QList<int>{1, 9600, 0, 0} << 0;
    QTest::newRow("PELCO D at 9600")
        << Stored{{"PROTOCOL", 1}, {"BAUDRATE", 9600}}
        << QStringList{"COM1", "2400", "ZOOM", "PELCO D"} << QList<int>{1, 2400, 0, 1} << 0;
    QTest::newRow("OSKA-DEFAULT at 19200")
        << Stored{{"PROTOCOL", 0}, {"BAUDRATE", 19200}}
        << QStringList{"COM1", "9600", "ZOOM", "OSKA-DEFAULT"} << QList<int>{1, 9600, 0, 0} << 0;
    QTest::newRow("COM4, B/D") << Stored{{"COMPORT", 4}, {"CAMTYPE", 1}}
                               << QStringList{"COM4", "9600", "B/D", "OSKA-DEFAULT"}
                               << QList<int>{4, 9600, 1, 0} << 1;
    QTest::newRow("COMPORT 7") << Stored{{"COMPORT", 7}}
                               << QStringList{"", "9600", "ZOOM", "OSKA-DEFAULT"}
                               << QList<int>{7, 9600, 0, 0} << 0;
    QTest::newRow("CAMTYPE 5") << Stored{{"CAMTYPE", 5}}
                               << QStringList{"COM1", "9600", "", "OSKA-DEFAULT"}
                               << QList<int>{1, 9600, 5, 0} << 5;
    QTest::newRow("PROTOCOL 2 at 4800")
        << Stored{{"PROTOCOL", 2}, {"BAUDRATE", 4800}} << QStringList{"COM1", "4800", "ZOOM", ""}
        << QList<int>{1, 4800, 0, 2} << 0;
    QTest::newRow("PROTOCOL 2 at 1200")
        << Stored{{"PROTOCOL", 2}, {"BAUDRATE", 1200}} << QStringList{"COM1", "", "ZOOM", ""}
        << QList<int>{1, 1200, 0, 2} << 0;
}

// The combos show the stored values that are among their rows, and a value outside the rows
// stays in force with no row selected. Only CAMTYPE is written.
void TestKeypadDlg::storedSelections() {
    QFETCH(Stored, stored);
    QFETCH(QStringList, selected);
    QFETCH(QList<int>, values);
    QFETCH(int, camType);
    Panel panel(stored);
    QCOMPARE(panel.state().comPort, values.at(0));
    QCOMPARE(panel.state().baudRate, uint32_t(values.at(1)));
    QCOMPARE(panel.state().cameraType, values.at(2));
    QCOMPARE(panel.state().protocol, values.at(3));
    const int ids[] = {ControlId::ComPortCombo, ControlId::BaudRateCombo,
                       ControlId::CameraTypeCombo, ControlId::ProtocolCombo};
    for (int i = 0; i < 4; ++i) {
        QComboBox* box = panel.combo(ids[i]);
        const QString shown =
            box->currentIndex() < 0 ? QString() : box->itemText(box->currentIndex());
        QCOMPARE(shown, selected.at(i));
        if (selected.at(i).isEmpty())
            QCOMPARE(box->currentIndex(), -1);
    }
    QCOMPARE(panel.profile.written, QStringList{"CAMTYPE"});
    QCOMPARE(StoredValue(panel, "CAMTYPE").toInt(), camType);
    for (const char* key : {"COMPORT", "BAUDRATE", "PROTOCOL", "INITIAL"})
        QCOMPARE(StoredValue(panel, key), QVariant(stored.value(QLatin1String(key))));
}

void TestKeypadDlg::storedPortOutsideRowsOpensItsDevice() {
    Panel panel({{"COMPORT", 7}});
    panel.profile.values.insert(QStringLiteral("Ports/COM7"), panel.pty.slavePath());
    Restart(panel);
    QVERIFY(panel.exposed);
    QCOMPARE(panel.combo(ControlId::ComPortCombo)->currentIndex(), -1);
    QCOMPARE(panel.state().comPort, 7);
    QVERIFY(panel.dlg->Controller().PortOpen());
    QCOMPARE(panel.dlg->StatusTexts(), OpenedLines(kOskaLine, 7, 9600, kZoomLine, 0));
    QCOMPARE(LineSpeed(panel), speed_t(B9600));
    // Frames of camera 0 reach the device that COM7 names.
    panel.press(ControlId::ZoomIn);
    QCOMPARE(panel.line(), QByteArray("*00750100B7"));
    panel.release(ControlId::ZoomIn);
    panel.line();
    // COMMUNICATION SET keeps port 7 and stores it.
    panel.press(ControlId::CommunicationSet);
    panel.release(ControlId::CommunicationSet);
    QVERIFY(panel.dlg->Controller().PortOpen());
    QCOMPARE(StoredValue(panel, "COMPORT").toInt(), 7);
    QCOMPARE(panel.dlg->StatusTexts().at(4), QStringLiteral("PORT : COM7"));
}

void TestKeypadDlg::operatorPicks_data() {
    using namespace ControlId;
    QTest::addColumn<Stored>("stored");
    QTest::addColumn<int>("comboId");
    QTest::addColumn<int>("row");
    QTest::addColumn<KeyIds>("disabled");  // after the pick
    QTest::addColumn<QString>("baudShown");
    QTest::addColumn<QList<int>>("values");  // comPort, baudRate, cameraType, protocol
    QTest::addColumn<QString>("line7");
    QTest::addColumn<QStringList>("written");  // after start-up's CAMTYPE
    QTest::newRow("PELCO D under ZOOM")
        << Stored{} << int(ProtocolCombo) << 1 << KeyIds{Init, Reset, Cam, Set} << "2400"
        << QList<int>{1, 2400, 0, 1} << kZoomLine << QStringList{};
    QTest::newRow("PELCO D under B/D")
        << Stored{{"CAMTYPE", 1}} << int(ProtocolCombo) << 1
        << KeyIds{FocusFar, FocusNear, Set, Init, Reset, Cam} << "2400" << QList<int>{1, 2400, 1, 1}
        << kBdLine << QStringList{};
    QTest::newRow("PELCO D again")
        << Stored{{"PROTOCOL", 1}} << int(ProtocolCombo) << 1 << KeyIds{Init, Reset, Cam, Set}
        << "2400" << QList<int>{1, 2400, 0, 1} << kZoomLine << QStringList{};
    QTest::newRow("OSKA-DEFAULT under ZOOM")
        << Stored{{"PROTOCOL", 1}} << int(ProtocolCombo) << 0 << KeyIds{} << "9600"
        << QList<int>{1, 9600, 0, 0} << kZoomLine << QStringList{};
    QTest::newRow("OSKA-DEFAULT under B/D")
        << Stored{{"PROTOCOL", 1}, {"CAMTYPE", 1}} << int(ProtocolCombo) << 0
        << KeyIds{FocusFar, FocusNear, Set, Init, Reset, Cam} << "9600" << QList<int>{1, 9600, 1, 0}
        << kBdLine << QStringList{};
    QTest::newRow("ZOOM under PELCO D")
        << Stored{{"PROTOCOL", 1}, {"CAMTYPE", 1}} << int(CameraTypeCombo) << 0
        << KeyIds{Reset, Cam} << "2400" << QList<int>{1, 2400, 0, 1} << kZoomLine
        << QStringList{"CAMTYPE"};
    QTest::newRow("B/D under OSKA-DEFAULT")
        << Stored{} << int(CameraTypeCombo) << 1 << kCameraTypeKeys << "9600"
        << QList<int>{1, 9600, 1, 0} << kBdLine << QStringList{"CAMTYPE"};
    QTest::newRow("B/D under PELCO D")
        << Stored{{"PROTOCOL", 1}} << int(CameraTypeCombo) << 1
        << KeyIds{FocusFar, FocusNear, Set, Init, Power, Reset, Cam} << "2400"
        << QList<int>{1, 2400, 1, 1} << kBdLine << QStringList{"CAMTYPE"};
    QTest::newRow("COM3") << Stored{} << int(ComPortCombo) << 2 << KeyIds{} << "9600"
                          << QList<int>{3, 9600, 0, 0} << kZoomLine << QStringList{};
    QTest::newRow("4800") << Stored{} << int(BaudRateCombo) << 1 << KeyIds{} << "4800"
                          << QList<int>{1, 4800, 0, 0} << kZoomLine << QStringList{};
    QTest::newRow("19200 under PELCO D")
        << Stored{{"PROTOCOL", 1}} << int(BaudRateCombo) << 3 << KeyIds{Init, Reset, Cam, Set}
        << "19200" << QList<int>{1, 19200, 0, 1} << kZoomLine << QStringList{};
}

// One row picked from a drop-down: the fields it sets, the keys, the baud combo, line 7
// and the store; only the picked combo reports a pick, and only line 7 may change.
void TestKeypadDlg::operatorPicks() {
    QFETCH(Stored, stored);
    QFETCH(int, comboId);
    QFETCH(int, row);
    QFETCH(KeyIds, disabled);
    QFETCH(QString, baudShown);
    QFETCH(QList<int>, values);
    QFETCH(QString, line7);
    QFETCH(QStringList, written);
    Panel panel(stored);
    QVERIFY(panel.exposed);
    QStringList lines = panel.dlg->StatusTexts();
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    const int ids[] = {ControlId::ComPortCombo, ControlId::BaudRateCombo,
                       ControlId::CameraTypeCombo, ControlId::ProtocolCombo};
    for (int id : ids)
        spies.push_back(std::make_unique<QSignalSpy>(panel.combo(id), &QComboBox::activated));

    panel.pickRow(comboId, row);

    for (int i = 0; i < 4; ++i) QCOMPARE(spies.at(i)->count(), ids[i] == comboId ? 1 : 0);
    QCOMPARE(panel.combo(comboId)->currentIndex(), row);
    QCOMPARE(DisabledKeys(panel), Sorted(disabled));
    QCOMPARE(panel.combo(ControlId::BaudRateCombo)->currentText(), baudShown);
    QCOMPARE(panel.state().comPort, values.at(0));
    QCOMPARE(panel.state().baudRate, uint32_t(values.at(1)));
    QCOMPARE(panel.state().cameraType, values.at(2));
    QCOMPARE(panel.state().protocol, values.at(3));
    lines[7] = line7;
    QCOMPARE(panel.dlg->StatusTexts(), lines);
    QCOMPARE(panel.profile.written, QStringList{"CAMTYPE"} + written);
    QCOMPARE(StoredValue(panel, "CAMTYPE").toInt(), panel.state().cameraType);
    // A pick changes nothing on the line: the port stays as it was opened.
    QVERIFY(panel.pause.pauses.isEmpty());
    QCOMPARE(panel.line(), QByteArray());
    QVERIFY(panel.messages.shown.isEmpty());
}

// The status list follows a new protocol only at COMMUNICATION SET.
void TestKeypadDlg::pelcoDKeepsOldStatusUntilCommunicationSet() {
    Panel panel;
    panel.pickRow(ControlId::ProtocolCombo, 1);
    QCOMPARE(panel.dlg->StatusTexts(), OpenedLines(kOskaLine, 1, 9600, kZoomLine, 0));
    QCOMPARE(LineSpeed(panel), speed_t(B9600));
    panel.click(ControlId::CommunicationSet);
    QCOMPARE(panel.dlg->StatusTexts(), OpenedLines(kPelcoLine, 1, 2400, kZoomLine, 0));
    QCOMPARE(LineSpeed(panel), speed_t(B2400));
    QCOMPARE(StoredValue(panel, "PROTOCOL").toInt(), 1);
    QCOMPARE(StoredValue(panel, "BAUDRATE").toInt(), 2400);
}

void TestKeypadDlg::pickedRateAfterProtocolIsUsed() {
    Panel panel;
    panel.pickRow(ControlId::ProtocolCombo, 1);
    QCOMPARE(panel.state().baudRate, 2400u);
    panel.pickRow(ControlId::BaudRateCombo, 3);
    QCOMPARE(panel.state().baudRate, 19200u);
    QCOMPARE(panel.combo(ControlId::BaudRateCombo)->currentText(), QStringLiteral("19200"));
    QCOMPARE(LineSpeed(panel), speed_t(B9600));
    panel.click(ControlId::CommunicationSet);
    QVERIFY(panel.dlg->Controller().PortOpen());
    QCOMPARE(LineSpeed(panel), speed_t(B19200));
    QCOMPARE(panel.state().baudRate, 19200u);
    QCOMPARE(panel.dlg->StatusTexts(), OpenedLines(kPelcoLine, 1, 19200, kZoomLine, 0));
    QCOMPARE(StoredValue(panel, "BAUDRATE").toInt(), 19200);
    QCOMPARE(StoredValue(panel, "PROTOCOL").toInt(), 1);
    // Frames reach the line reopened at the new rate.
    panel.press(ControlId::ZoomIn);
    QCOMPARE(panel.line(), Hex("FF000020000020"));
    panel.release(ControlId::ZoomIn);
    QCOMPARE(panel.line(), Hex("FF000000000000"));
}

void TestKeypadDlg::typedComboTextIsNeverRead_data() {
    QTest::addColumn<int>("comboId");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("confirm");  // the key that ends the typing
    const int enter = Qt::Key_Return;
    const int tab = Qt::Key_Tab;
    QTest::newRow("protocol, a row's text, Return")
        << int(ControlId::ProtocolCombo) << "PELCO D" << enter;
    QTest::newRow("protocol, a row's text, Tab")
        << int(ControlId::ProtocolCombo) << "PELCO D" << tab;
    QTest::newRow("protocol, completed text, Return")
        << int(ControlId::ProtocolCombo) << "PEL" << enter;
    QTest::newRow("protocol, other text, Return")
        << int(ControlId::ProtocolCombo) << "PELCO X" << enter;
    QTest::newRow("camera type, a row's text, Return")
        << int(ControlId::CameraTypeCombo) << "B/D" << enter;
    QTest::newRow("port, a row's text, Return") << int(ControlId::ComPortCombo) << "COM2" << enter;
    QTest::newRow("baud, a row's text, Return")
        << int(ControlId::BaudRateCombo) << "19200" << enter;
    QTest::newRow("baud, a row's text, Tab") << int(ControlId::BaudRateCombo) << "19200" << tab;
    QTest::newRow("baud, other text, Return") << int(ControlId::BaudRateCombo) << "57600" << enter;
}

// Text typed into a combo's field and confirmed with Return or left with Tab neither becomes a row
// nor changes a setting, now or at the next COMMUNICATION SET.
void TestKeypadDlg::typedComboTextIsNeverRead() {
    QFETCH(int, comboId);
    QFETCH(QString, typed);
    QFETCH(int, confirm);
    Panel panel;
    QVERIFY(QTest::qWaitForWindowActive(panel.dlg.get()));
    QComboBox* box = panel.combo(comboId);
    const int rows = box->count();
    const int selected = box->currentIndex();
    const ControllerState before = panel.state();
    const KeyIds disabledBefore = DisabledKeys(panel);
    QSignalSpy picks(box, &QComboBox::activated);
    QLineEdit* field = box->lineEdit();
    QVERIFY(field);
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, typed);
    QTest::keyClick(field, Qt::Key(confirm));
    QCoreApplication::processEvents();

    QCOMPARE(box->count(), rows);
    QCOMPARE(panel.state().protocol, before.protocol);
    QCOMPARE(panel.state().cameraType, before.cameraType);
    QCOMPARE(panel.state().comPort, before.comPort);
    QCOMPARE(panel.state().baudRate, before.baudRate);
    QCOMPARE(DisabledKeys(panel), disabledBefore);
    QCOMPARE(panel.profile.written, QStringList{"CAMTYPE"});
    QCOMPARE(picks.count(), 0);
    QCOMPARE(box->currentIndex(), selected);

    panel.click(ControlId::CommunicationSet);
    QCOMPARE(StoredValue(panel, "COMPORT").toInt(), before.comPort);
    QCOMPARE(StoredValue(panel, "BAUDRATE").toUInt(), before.baudRate);
    QCOMPARE(StoredValue(panel, "PROTOCOL").toInt(), before.protocol);
    QCOMPARE(StoredValue(panel, "CAMTYPE").toInt(), before.cameraType);
    QCOMPARE(panel.dlg->StatusTexts(), OpenedLines(kOskaLine, 1, 9600, kZoomLine, 0));
}

void TestKeypadDlg::communicationSetStores_data() {
    QTest::addColumn<QString>("refused");
    QTest::addColumn<int>("initial");  // -1: not stored
    QTest::addColumn<int>("settingsValid");
    QTest::newRow("all kept") << QString() << 1 << 1;
    QTest::newRow("COMPORT refused") << "COMPORT" << 0 << 0;
    QTest::newRow("BAUDRATE refused") << "BAUDRATE" << 0 << 0;
    QTest::newRow("PROTOCOL refused") << "PROTOCOL" << 0 << 0;
    QTest::newRow("INITIAL refused") << "INITIAL" << -1 << 1;
}

// COMPORT, BAUDRATE, PROTOCOL, then INITIAL; a refused write is not reported and the link
// is reopened all the same.
void TestKeypadDlg::communicationSetStores() {
    QFETCH(QString, refused);
    QFETCH(int, initial);
    QFETCH(int, settingsValid);
    const Stored before{{"COMPORT", 1}, {"BAUDRATE", 9600}, {"PROTOCOL", 1}};
    const Stored after{{"COMPORT", 1}, {"BAUDRATE", 4800}, {"PROTOCOL", 1}};
    Panel panel(before);
    panel.pickRow(ControlId::BaudRateCombo, 1);
    if (!refused.isEmpty())
        panel.profile.refuse << refused;
    panel.press(ControlId::CommunicationSet);
    panel.release(ControlId::CommunicationSet);

    QCOMPARE(panel.profile.written,
             (QStringList{"CAMTYPE", "COMPORT", "BAUDRATE", "PROTOCOL", "INITIAL"}));
    QCOMPARE(panel.state().settingsValid, settingsValid);
    QCOMPARE(StoredValue(panel, "INITIAL"), initial < 0 ? QVariant() : QVariant(initial));
    // A refused key keeps what the store held before.
    for (const QString& key : after.keys()) {
        const QVariant value = panel.profile.values.value(QStringLiteral("Settings/") + key);
        QCOMPARE(value.toInt(), (key == refused ? before : after).value(key).toInt());
    }
    QVERIFY(!panel.profile.values.contains(QStringLiteral("Settings/COMUINIT")));
    QVERIFY(panel.dlg->Controller().PortOpen());
    QCOMPARE(LineSpeed(panel), speed_t(B4800));
    QCOMPARE(panel.pause.pauses, QVector<int>{100});
    QCOMPARE(panel.dlg->StatusTexts(), OpenedLines(kPelcoLine, 1, 4800, kZoomLine, 0));
    QVERIFY(panel.messages.shown.isEmpty());
}

// The key acts when it goes down; its click on release does nothing more.
void TestKeypadDlg::communicationSetActsOnPress() {
    Panel panel;
    MapCom1(panel, false);
    panel.press(ControlId::CommunicationSet);
    QCOMPARE(panel.dlg->StatusTexts(), FailedLines("Can't Open!"));
    QCOMPARE(panel.profile.written.size(), 5);
    MapCom1(panel, true);
    panel.release(ControlId::CommunicationSet);
    QCOMPARE(panel.profile.written.size(), 5);
    QCOMPARE(panel.dlg->StatusTexts(), FailedLines("Can't Open!"));
    QVERIFY(!panel.dlg->Controller().PortOpen());
}

// Presses that open and fail in turn; the camera ID typed on the way shows again after
// every one that opens.
void TestKeypadDlg::communicationSetKeepsTenLines() {
    Panel panel;
    panel.click(ControlId::Key4);
    panel.click(ControlId::Key2);
    panel.click(ControlId::Ent);
    QCOMPARE(panel.state().cameraId, 42);
    const bool opens[] = {true, false, false, true, true, false, true, false, true, true, false};
    int closes = 0;
    for (bool open : opens) {
        const bool wasOpen = panel.dlg->Controller().PortOpen();
        MapCom1(panel, open);
        panel.click(ControlId::CommunicationSet);
        closes += wasOpen ? 1 : 0;
        QCOMPARE(panel.dlg->StatusTexts().size(), 10);
        QCOMPARE(panel.dlg->StatusTexts(), open ? OpenedLines(kOskaLine, 1, 9600, kZoomLine, 42)
                                                : FailedLines("Can't Open!"));
        QCOMPARE(panel.dlg->Controller().PortOpen(), open);
        QCOMPARE(panel.pause.pauses.size(), closes);
    }
    QStringList written{"CAMTYPE"};
    for (size_t i = 0; i < std::size(opens); ++i)
        written << "COMPORT"
                << "BAUDRATE"
                << "PROTOCOL"
                << "INITIAL";
    QCOMPARE(panel.profile.written, written);
    QVERIFY(panel.messages.shown.isEmpty());
}

// Space on the focused key clicks it, and a click alone does not apply the settings.
void TestKeypadDlg::communicationSetIgnoresKeyboard() {
    Panel panel;
    QVERIFY(QTest::qWaitForWindowActive(panel.dlg.get()));
    auto* key = qobject_cast<QPushButton*>(panel.control(ControlId::CommunicationSet));
    QVERIFY(key);
    QSignalSpy clicks(key, &QPushButton::clicked);
    MapCom1(panel, false);
    key->setFocus();
    QCOMPARE(QApplication::focusWidget(), key);
    panel.tap(Qt::Key_Space);
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(panel.profile.written, QStringList{"CAMTYPE"});
    QVERIFY(panel.pause.pauses.isEmpty());
    QVERIFY(panel.dlg->Controller().PortOpen());
    QCOMPARE(panel.dlg->StatusTexts(), OpenedLines(kOskaLine, 1, 9600, kZoomLine, 0));
}

void TestKeypadDlg::failedStartThenSetShowsCameraId() {
    Panel panel({}, false);
    QCOMPARE(panel.dlg->StatusTexts(), FailedLines("Can't OPEN!"));
    MapCom1(panel, true);
    panel.click(ControlId::CommunicationSet);
    QVERIFY(panel.dlg->Controller().PortOpen());
    QCOMPARE(panel.dlg->StatusTexts(), OpenedLines(kOskaLine, 1, 9600, kZoomLine, 0));
}

void TestKeypadDlg::failedStartTypedIdSurvivesSet() {
    Panel panel({}, false);
    panel.tap(Qt::Key_7);
    QStringList lines = FailedLines("Can't OPEN!");
    lines[8] = QStringLiteral("CAM ID : 7");
    QCOMPARE(panel.dlg->StatusTexts(), lines);
    MapCom1(panel, true);
    panel.click(ControlId::CommunicationSet);
    QCOMPARE(panel.dlg->StatusTexts(), OpenedLines(kOskaLine, 1, 9600, kZoomLine, 7));
    // Typed but not committed: frames still address camera 0.
    QCOMPARE(panel.state().cameraId, 0);
}

void TestKeypadDlg::failedStartCameraTypeLine() {
    Panel panel({}, false);
    panel.pickRow(ControlId::CameraTypeCombo, 1);
    QStringList lines = FailedLines("Can't OPEN!");
    lines[7] = kBdLine;
    QCOMPARE(panel.dlg->StatusTexts(), lines);
    QCOMPARE(StoredValue(panel, "CAMTYPE").toInt(), 1);
}

void TestKeypadDlg::storedPelcoRateIsStoredBySet() {
    Panel panel({{"PROTOCOL", 1}, {"BAUDRATE", 9600}});
    QCOMPARE(panel.state().baudRate, 2400u);
    QCOMPARE(StoredValue(panel, "BAUDRATE").toInt(), 9600);
    panel.click(ControlId::CommunicationSet);
    QCOMPARE(StoredValue(panel, "BAUDRATE").toInt(), 2400);
    QCOMPARE(StoredValue(panel, "PROTOCOL").toInt(), 1);
    QCOMPARE(StoredValue(panel, "INITIAL").toInt(), 1);
}

// COMMUNICATION SET writes INITIAL, not COMUINIT, so the next run starts on the built-in
// rows again.
void TestKeypadDlg::builtInRowsLeaveComuInit() {
    Panel panel({{"COMUINIT", 0}, {"COMPORT", 2}, {"PROTOCOL", 1}, {"CAMTYPE", 1}});
    QCOMPARE(panel.state().settingsValid, 0);
    panel.pickRow(ControlId::ProtocolCombo, 1);
    panel.click(ControlId::CommunicationSet);
    QCOMPARE(StoredValue(panel, "COMUINIT").toInt(), 0);
    QCOMPARE(StoredValue(panel, "INITIAL").toInt(), 1);
    QCOMPARE(StoredValue(panel, "PROTOCOL").toInt(), 1);
    Restart(panel);
    QCOMPARE(panel.state().protocol, 0);
    QCOMPARE(panel.state().baudRate, 9600u);
    QCOMPARE(panel.combo(ControlId::ProtocolCombo)->currentText(), QStringLiteral("OSKA-DEFAULT"));
    QCOMPARE(panel.profile.written, QStringList{"CAMTYPE"});
}

// The layout table the window is built from holds the keypad's controls in tab order.
void TestKeypadDlg::controlsFollowLayoutTable() {
    const DialogTemplate layout = LoadDialogTemplate(102);
    QCOMPARE(layout.caption, QStringLiteral("PC-ZORVIK"));
    QCOMPARE(layout.size, QSize(295, 145));
    QCOMPARE(layout.fontFace, QStringLiteral("Tahoma"));
    QCOMPARE(layout.fontPoints, 10);
    QCOMPARE(layout.controls.size(), int(std::size(kControls)));
    for (int i = 0; i < layout.controls.size(); ++i) {
        const ControlTemplate& got = layout.controls.at(i);
        const ExpectedControl& want = kControls[i];
        const QByteArray where = QByteArray::number(i);
        QVERIFY2(got.id == want.id, where.constData());
        QVERIFY2(got.kind == QLatin1String(want.kind), where.constData());
        QVERIFY2(got.caption == QLatin1String(want.caption), where.constData());
        QVERIFY2(got.rect == want.rect, where.constData());
    }
}

// Dialog units to pixels as the dialog manager's MulDiv rounds them: x * baseX / 4 and
// y * baseY / 8, halves up. The rectangles below lean on this conversion.
void TestKeypadDlg::dialogUnits_data() {
    QTest::addColumn<QSize>("base");
    QTest::addColumn<QRect>("units");
    QTest::addColumn<QRect>("pixels");
    QTest::newRow("key 1, 6 x 13") << QSize(6, 13) << QRect(7, 55, 24, 20) << QRect(11, 89, 36, 33);
    QTest::newRow("status list, 6 x 13")
        << QSize(6, 13) << QRect(88, 7, 93, 85) << QRect(132, 11, 140, 138);
    QTest::newRow("one unit, 6 x 13") << QSize(6, 13) << QRect(1, 1, 1, 1) << QRect(2, 2, 2, 2);
    QTest::newRow("window, 7 x 16")
        << QSize(7, 16) << QRect(0, 0, 295, 145) << QRect(0, 0, 516, 290);
    QTest::newRow("status list, 7 x 16")
        << QSize(7, 16) << QRect(88, 7, 93, 85) << QRect(154, 14, 163, 170);
}

void TestKeypadDlg::dialogUnits() {
    QFETCH(QSize, base);
    QFETCH(QRect, units);
    QFETCH(QRect, pixels);
    const DialogUnits du{base.width(), base.height()};
    QCOMPARE(du.ToPixels(units), pixels);
    QCOMPARE(du.ToPixels(units.size()), pixels.size());
}

void TestKeypadDlg::controlsSitAtTheirRectangles() {
    Panel panel;
    const DialogUnits du = DialogUnits::ForFont(panel.dlg->font());
    QVERIFY(du.baseX > 0 && du.baseY > 0);
    // The status list may be wider than its rectangle, to hold its lines in this font; what
    // lies beyond its right edge moves right by as much, and the window grows with it.
    const ExpectedControl* list =
        std::find_if(std::begin(kControls), std::end(kControls),
                     [](const auto& c) { return c.id == ControlId::StatusList; });
    const int widening = panel.control(ControlId::StatusList)->width() - du.X(list->rect.width());
    QVERIFY(widening >= 0);
    QCOMPARE(panel.dlg->size(), du.ToPixels(QSize(295, 145)) + QSize(widening, 0));
    QList<QWidget*> widgets;
    for (QObject* child : panel.dlg->children()) {
        if (child->isWidgetType())
            widgets << static_cast<QWidget*>(child);
    }
    QCOMPARE(widgets.size(), int(std::size(kControls)));
    for (int i = 0; i < widgets.size(); ++i) {
        const ExpectedControl& want = kControls[i];
        QWidget* w = widgets.at(i);
        QRect pixels = du.ToPixels(want.rect);
        if (want.id == ControlId::StatusList)
            pixels.setWidth(pixels.width() + widening);
        else if (want.rect.x() >= list->rect.x() + list->rect.width())
            pixels.translate(widening, 0);
        const QByteArray where =
            QByteArray::number(i) + " " + want.caption + " " + QByteArray::number(want.id);
        QVERIFY2(ControlIdOf(w) == want.id, where.constData());
        if (QLatin1String(want.kind) == QLatin1String("combo")) {
            QVERIFY2(w->pos() == pixels.topLeft(), where.constData());
            QVERIFY2(w->width() == pixels.width(), where.constData());
            QVERIFY2(w->height() == w->sizeHint().height(), where.constData());
        } else {
            QVERIFY2(w->geometry() == pixels, where.constData());
        }
        if (want.id == -1)
            continue;
        QVERIFY2(panel.control(want.id) == w, where.constData());
        QVERIFY2(!w->objectName().isEmpty(), where.constData());
        QVERIFY2(w->isVisible(), where.constData());
        if (auto* button = qobject_cast<QPushButton*>(w))
            QVERIFY2(button->text() == QLatin1String(want.caption), where.constData());
    }
}

// Keys are named by their captions. A combo box is named by the label beside it through the
// label relation; its name itself is its current text, as Qt gives it on this platform.
void TestKeypadDlg::accessibleNames() {
    Panel panel;
    for (const ExpectedControl& c : kControls) {
        if (QLatin1String(c.kind) == QLatin1String("button"))
            QCOMPARE(AccessibleName(panel.control(c.id)), QString::fromLatin1(c.caption));
    }
    const QList<QPair<int, QString>> labels = {{ControlId::ProtocolCombo, "Protocol : "},
                                               {ControlId::ComPortCombo, "COM PORT"},
                                               {ControlId::BaudRateCombo, "Baudrate"},
                                               {ControlId::CameraTypeCombo, "Camera :"}};
    for (const auto& [id, label] : labels) {
        QComboBox* box = panel.combo(id);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(box);
        QVERIFY(iface);
        const QString name = iface->text(QAccessible::Name);
        qInfo("accessible name of combo %d: \"%s\"", id, qPrintable(name));
        QVERIFY(!name.isEmpty());
        QCOMPARE(name, box->currentText());
        QCOMPARE(iface->text(QAccessible::Value), box->currentText());
        QStringList labelledBy;
        for (const auto& relation : iface->relations(QAccessible::Label))
            labelledBy << relation.first->text(QAccessible::Name);
        QCOMPARE(labelledBy, QStringList{label});
    }
}

void TestKeypadDlg::tabOrderFollowsTable() {
    Panel panel;
    QVERIFY(QTest::qWaitForWindowActive(panel.dlg.get()));
    // The first tab stop has the focus when the window opens.
    QCOMPARE(OwningControlId(QApplication::focusWidget()), int(ControlId::Key1));
    QList<int> expected;
    for (const ExpectedControl& c : kControls) {
        const QLatin1String kind(c.kind);
        if (kind == QLatin1String("button") || kind == QLatin1String("combo"))
            expected << c.id;
    }
    QList<int> visited{OwningControlId(QApplication::focusWidget())};
    for (int i = 0; i < expected.size(); ++i) {
        panel.tap(Qt::Key_Tab);
        visited << OwningControlId(QApplication::focusWidget());
    }
    QCOMPARE(visited, expected + QList<int>{expected.first()});
}

void TestKeypadDlg::windowTitle() {
    Panel panel;
    QCOMPARE(panel.dlg->windowTitle(), QStringLiteral("OSKA-ZORVIK"));
    QVERIFY(!panel.dlg->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!panel.dlg->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!panel.dlg->windowIcon().isNull());
}

// F1 opens the About box modally; its OK closes it.
void TestKeypadDlg::f1OpensAboutBox() {
    Panel panel;
    QVERIFY(QTest::qWaitForWindowActive(panel.dlg.get()));
    QString title;
    QStringList texts;
    bool modal = false;
    bool hadIcon = false;
    bool okClosed = false;
    bool seen = false;
    int tries = 0;
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, this, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box || box == panel.dlg.get()) {
            if (++tries > 300)
                poll.stop();
            return;
        }
        poll.stop();
        seen = true;
        title = box->windowTitle();
        modal = box->isModal() && qobject_cast<CAboutDlg*>(box);
        for (QLabel* label : box->findChildren<QLabel*>()) {
            if (!label->text().isEmpty())
                texts << label->text();
            if (!label->pixmap().isNull())
                hadIcon = true;
        }
        auto* ok = qobject_cast<QPushButton*>(FindControl(box, 1));
        if (ok && ok->text() == QLatin1String("OK") && ok->isDefault()) {
            QTest::mouseClick(ok, Qt::LeftButton);
            okClosed = !box->isVisible();
        }
        if (box->isVisible())
            static_cast<QDialog*>(box)->reject();
    });
    poll.start();
    panel.tap(Qt::Key_F1);
    poll.stop();
    QVERIFY(seen);
    QCOMPARE(title, QStringLiteral("About Velmor"));
    QVERIFY(modal);
    QCOMPARE(texts, QStringList{"Velmor Version 1.0"});
    QVERIFY(hadIcon);
    QVERIFY(okClosed);
    QVERIFY(!QApplication::activeModalWidget() ||
            QApplication::activeModalWidget() == panel.dlg.get());
    QVERIFY(panel.dlg->isVisible());
}

void TestKeypadDlg::escapeClosesWindow() {
    Panel panel;
    QVERIFY(QTest::qWaitForWindowActive(panel.dlg.get()));
    QSignalSpy finished(panel.dlg.get(), &QDialog::finished);
    panel.tap(Qt::Key_Escape);
    QVERIFY(!panel.dlg->isVisible());
    QCOMPARE(finished.count(), 1);
    QVERIFY(panel.messages.shown.isEmpty());
}

// Minimised, the window paints only its icon, 32 pixels square at the centre of its client
// area; an odd pixel to spare goes to the left or the top.
void TestKeypadDlg::minimisedWindowShowsItsIcon() {
    Panel panel;
    panel.dlg->setFixedSize(101, 80);
    panel.dlg->setWindowState(Qt::WindowMinimized);
    QVERIFY(panel.dlg->isMinimized());
    QImage shot(101, 80, QImage::Format_ARGB32_Premultiplied);
    shot.fill(Qt::transparent);
    panel.dlg->render(&shot, QPoint(), QRegion(), {});
    QImage expected(shot.size(), shot.format());
    expected.fill(Qt::transparent);
    QPainter(&expected).drawPixmap(35, 24, LoadAppIcon().pixmap(32, 32));
    QCOMPARE(shot, expected);
}

void TestKeypadDlg::usableFace_data() {
    QTest::addColumn<QString>("wanted");
    // The face the platform draws for a family; for any other, a mathematics face.
    QTest::addColumn<Stored>("drawn");
    QTest::addColumn<QString>("face");
    QTest::newRow("present") << "Tahoma" << Stored{{"Tahoma", "Tahoma"}} << "Tahoma";
    QTest::newRow("present, in other case") << "tahoma" << Stored{{"tahoma", "Tahoma"}} << "tahoma";
    QTest::newRow("the platform's stand-in is a dialog face")
        << "MS Sans Serif" << Stored{{"MS Sans Serif", "Microsoft Sans Serif"}} << "MS Sans Serif";
    QTest::newRow("missing, a Wine prefix on DejaVu")
        << "Tahoma" << Stored{{"DejaVu Sans", "DejaVu Sans"}} << "DejaVu Sans";
    QTest::newRow("missing, the first dialog face drawn as itself")
        << "MS Shell Dlg"
        << Stored{{"Microsoft Sans Serif", "Tahoma"},
                  {"Segoe UI", "Segoe UI"},
                  {"DejaVu Sans", "DejaVu Sans"}}
        << "Segoe UI";
    QTest::newRow("no dialog face at all") << "Tahoma" << Stored{} << "Tahoma";
}

// A face drawn as some face outside the dialog faces (here a mathematics face, whose line
// box is taller than a combo box's field) gives way to the first dialog face there is.
void TestKeypadDlg::usableFace() {
    QFETCH(QString, wanted);
    QFETCH(Stored, drawn);
    QFETCH(QString, face);
    const QStringList faces = {"Tahoma", "Microsoft Sans Serif", "Segoe UI", "DejaVu Sans"};
    const auto drawnAs = [&drawn](const QString& family) {
        return drawn.value(family, QStringLiteral("DejaVu Math TeX Gyre")).toString();
    };
    QCOMPARE(UsableFace(wanted, faces, drawnAs), face);
}

void TestKeypadDlg::statusLinesShowWhole_data() {
    QTest::addColumn<Stored>("stored");
    QTest::newRow("OSKA-DEFAULT, ZOOM") << Stored{};
    QTest::newRow("PELCO D, B/D") << Stored{{"PROTOCOL", 1}, {"CAMTYPE", 1}};
}

// Every status line is shown in full in the list. A banner line is a rule across the list:
// it may be cut at the list's edge, but never shortened with an ellipsis.
void TestKeypadDlg::statusLinesShowWhole() {
    QFETCH(Stored, stored);
    Panel panel(stored);
    auto* list = qobject_cast<QListWidget*>(panel.control(ControlId::StatusList));
    QVERIFY(list);
    const int room = list->viewport()->width();
    for (int i = 0; i < list->count(); ++i) {
        QStyleOptionViewItem option;
        option.initFrom(list);
        const QModelIndex index = list->model()->index(i, 0);
        const int needed = list->itemDelegate()->sizeHint(option, index).width();
        const QString text = list->item(i)->text();
        const QByteArray what = "line " + QByteArray::number(i) + " \"" + text.toLatin1() +
                                "\" needs " + QByteArray::number(needed) + " px, the list shows " +
                                QByteArray::number(room) + " px";
        if (text == kBanner)
            QVERIFY2(needed <= room || list->textElideMode() == Qt::ElideNone, what.constData());
        else
            QVERIFY2(needed <= room, what.constData());
    }
}

// Every key and combo box shows its text: in the window's picture each holds dark pixels
// inside its edges, where its caption or its row is drawn. A key without a caption holds
// none, so the count tells a missing text.
void TestKeypadDlg::controlsShowTheirText() {
    Panel panel;
    QVERIFY(panel.exposed);
    const auto darkPixels = [&panel](int id) {
        const QImage shot = panel.dlg->grab().toImage();
        const qreal ratio = shot.devicePixelRatio();
        QRect inside = panel.control(id)->geometry().adjusted(4, 4, -4, -4);
        if (panel.combo(id))
            inside.setWidth(inside.width() * 2 / 3);  // the arrow is dark too
        int dark = 0;
        for (int y = int(inside.top() * ratio); y <= int(inside.bottom() * ratio); ++y) {
            for (int x = int(inside.left() * ratio); x <= int(inside.right() * ratio); ++x)
                dark += qGray(shot.pixel(x, y)) < 80 ? 1 : 0;
        }
        return dark;
    };
    for (const ExpectedControl& c : kControls) {
        const QLatin1String kind(c.kind);
        if (kind == QLatin1String("button") || kind == QLatin1String("combo"))
            QVERIFY2(darkPixels(c.id) > 0,
                     qPrintable(QStringLiteral("%1 %2").arg(c.id).arg(QLatin1String(c.caption))));
    }
    qobject_cast<QPushButton*>(panel.control(ControlId::Power))->setText(QString());
    QCOMPARE(darkPixels(ControlId::Power), 0);
}

QTEST_MAIN(TestKeypadDlg)
#include "tst_keypad_dlg.moc"
