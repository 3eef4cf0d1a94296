#include <QtTest>

#include "fakes.h"
#include "protocol/camera_id_entry.h"
#include "protocol/command_set.h"
#include "protocol/control_ids.h"
#include "protocol/frame_builder.h"
#include "protocol/status_list.h"
#include "serial/line/serial_link.h"

// Frames as they reach the line, byte for byte. Every expected frame below is written out
// literally (the OSKA-DEFAULT text is in the row name), never built by the code under test.

namespace {

// One time line for the writes, pauses and messages of a rig: "2A" is a byte that left,
// "p2" a pause of 2 ms, "msg" an operator message. Order matters as much as counts.
class LoggedDevice : public SerialDevice {
public:
    LoggedDevice(RecordingDevice& inner, QStringList& log) : inner(inner), log(log) {}
    bool Open(const QString& name, uint32_t baud) override {
        log << QStringLiteral("open");
        return inner.Open(name, baud);
    }
    void Close() override {
        log << QStringLiteral("close");
        inner.Close();
    }
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override {
        const uint32_t written = inner.Write(data, count, timeoutMs);
        for (uint32_t i = 0; i < written; ++i)
            log << QStringLiteral("%1").arg(data[i], 2, 16, QLatin1Char('0')).toUpper();
        return written + overclaim;
    }
    // Added to every result: a platform that reports more than it was asked to write.
    uint32_t overclaim = 0;

private:
    RecordingDevice& inner;
    QStringList& log;
};

const QString kTransfer = QStringLiteral("Transfer Error!");
const QString kRange = QStringLiteral("Camera ID Range (0 ~ 255) Error!");

// The frame layer wired as the dialog wires it, with every platform service recorded.
struct Rig {
    explicit Rig(int32_t protocol = ProtocolOskaDefault, int32_t cameraId = 0) {
        state.protocol = protocol;
        state.cameraId = cameraId;
        for (int i = 0; i < 10; ++i) lines.InsertLine(i, QStringLiteral("line %1").arg(i));
        opened = link.OpenPort(1, 9600);
        log.clear();
        namedPorts.clear();
    }

    // The bytes that reached the line since the last call, as upper-case hex pairs.
    QByteArray TakeLine() {
        const QByteArray bytes = device.Bytes().toHex(' ').toUpper();
        device.ClearRecord();
        return bytes;
    }
    QString TakeLog() {
        const QString text = log.join(QLatin1Char(' '));
        log.clear();
        return text;
    }
    // Refuses the n-th byte of the next frame (1-based).
    void RefuseByte(int n) { device.refuseNth = device.attempts + n; }
    // As the panel does: the operator is told, then the failed frame's closing pause follows.
    void Tell(Notice notice) {
        if (notice == Notice::None)
            return;
        log << QStringLiteral("msg");
        messages.ShowMessage(notice == Notice::TransferError ? kTransfer : kRange);
        commands.SettleFailedFrame();
    }

    ControllerState state;
    RecordingDevice device;
    RecordingPause pause;
    RecordingMessages messages;
    QStringList log;
    QList<int> namedPorts;
    LoggedDevice loggedDevice{device, log};
    LoggedPause loggedPause{pause, log};
    StatusList lines;
    CSerialLink link{loggedDevice, loggedPause, [this](int port) {
                         namedPorts << port;
                         return QStringLiteral("port-%1").arg(port);
                     }};
    CameraIdEntry entry{state, lines};
    CommandSet commands{state, link, entry};
    int opened = 0;

    // Types id on the digit keys as digits digits, with leading zeros where it has fewer.
    void Type(int id, int digits) {
        for (int place = digits - 1; place >= 0; --place) {
            int power = 1;
            for (int i = 0; i < place; ++i) power *= 10;
            entry.EnterDigit(id / power % 10);
        }
    }
};

// Carries out one operator action by its caption; false for an unknown name.
bool Act(Rig& rig, const QString& action) {
    static const QHash<QString, int> keys = {
        {QStringLiteral("Z/I"), ControlId::ZoomIn},   {QStringLiteral("Z/O"), ControlId::ZoomOut},
        {QStringLiteral("F/F"), ControlId::FocusFar}, {QStringLiteral("F/N"), ControlId::FocusNear},
        {QStringLiteral("UP"), ControlId::Up},        {QStringLiteral("DOWN"), ControlId::Down},
        {QStringLiteral("LEFT"), ControlId::Left},    {QStringLiteral("RIGHT"), ControlId::Right},
        {QStringLiteral("M/U"), ControlId::MenuUp},   {QStringLiteral("SET"), ControlId::Set},
        {QStringLiteral("INIT"), ControlId::Init},    {QStringLiteral("POWER"), ControlId::Power},
        {QStringLiteral("RESET"), ControlId::Reset},  {QStringLiteral("CAM"), ControlId::Cam},
    };
    static const QHash<QString, int> arrows = {
        {QStringLiteral("PC-Left"), VirtualKey::Left},
        {QStringLiteral("PC-Up"), VirtualKey::Up},
        {QStringLiteral("PC-Right"), VirtualKey::Right},
        {QStringLiteral("PC-Down"), VirtualKey::Down},
    };
    if (keys.contains(action))
        rig.Tell(rig.commands.RunKeyRow(keys.value(action)));
    else if (arrows.contains(action))
        rig.Tell(rig.commands.RunArrowRow(arrows.value(action)));
    else if (action == QLatin1String("stop"))
        rig.Tell(rig.commands.SendStop());
    else
        return false;
    return true;
}

QVector<int> FramePauses(int bytes) {
    QVector<int> pauses(bytes, 2);
    pauses << 25;
    return pauses;
}

}  // namespace

class TestFrames : public QObject {
    Q_OBJECT
private slots:
    void keyRows_data();
    void keyRows();
    void arrowRows_data();
    void arrowRows();
    void keysWithoutRow_data();
    void keysWithoutRow();
    void sameFrames_data();
    void sameFrames();
    void referenceFrames_data();
    void referenceFrames();

    void powerAlternation();
    void powerToggleFlipsOnFailedFrame();
    void stopClearsCommandOne_data();
    void stopClearsCommandOne();

    void cameraSelect_data();
    void cameraSelect();
    void cameraSelectOutOfRange_data();
    void cameraSelectOutOfRange();
    void cameraSelectCommitsOnFailedFrame();

    void unknownProtocol_data();
    void unknownProtocol();
    void leftoversAfterProtocolSwitch();

    void refusedByte_data();
    void refusedByte();
    void overclaimedByteFails();
    void wholeFramePauses_data();
    void wholeFramePauses();
    void pausesTakeRealTime();
    void linkWithoutPort();

    void hexDigit_data();
    void hexDigit();
    void hexPair_data();
    void hexPair();
    void buildersWriteOnlyTheirBytes_data();
    void buildersWriteOnlyTheirBytes();

    void openPortBaudZeroFails();
    void writeTimeout_data();
    void writeTimeout();
    void closePortPauses();
    void openPortUsesPortNamer();
};

void TestFrames::keyRows_data() {
    QTest::addColumn<int>("controlId");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("cameraId");
    QTest::addColumn<int>("pendingId");
    QTest::addColumn<QByteArray>("press");
    QTest::addColumn<int>("cameraAfter");
    QTest::addColumn<QByteArray>("release");  // empty: the key has no stop on release

    using namespace ControlId;
    const QByteArray oskaStop12 = "2A 30 43 37 35 30 39 30 30 44 32";  // *0C750900D2
    const QByteArray pelcoStop12 = "FF 0C 00 00 00 00 0C";
    const QByteArray oskaStop171 = "2A 41 42 37 35 30 39 30 30 45 32";  // *AB750900E2
    const QByteArray pelcoStop171 = "FF AB 00 00 00 00 AB";

    // Camera 12.
    QTest::newRow("Z/I oska *0C750100CA")
        << ZoomIn << 0 << 12 << 0 << QByteArray("2A 30 43 37 35 30 31 30 30 43 41") << 12
        << oskaStop12;
    QTest::newRow("Z/O oska *0C750300CC")
        << ZoomOut << 0 << 12 << 0 << QByteArray("2A 30 43 37 35 30 33 30 30 43 43") << 12
        << oskaStop12;
    QTest::newRow("F/F oska *0C750500CE")
        << FocusFar << 0 << 12 << 0 << QByteArray("2A 30 43 37 35 30 35 30 30 43 45") << 12
        << oskaStop12;
    QTest::newRow("F/N oska *0C750600CF")
        << FocusNear << 0 << 12 << 0 << QByteArray("2A 30 43 37 35 30 36 30 30 43 46") << 12
        << oskaStop12;
    QTest::newRow("UP oska *0C750100CA")
        << Up << 0 << 12 << 0 << QByteArray("2A 30 43 37 35 30 31 30 30 43 41") << 12 << oskaStop12;
    QTest::newRow("DOWN oska *0C750300CC")
        << Down << 0 << 12 << 0 << QByteArray("2A 30 43 37 35 30 33 30 30 43 43") << 12
        << oskaStop12;
    QTest::newRow("LEFT oska *0C750600CF")
        << Left << 0 << 12 << 0 << QByteArray("2A 30 43 37 35 30 36 30 30 43 46") << 12
        << oskaStop12;
    QTest::newRow("RIGHT oska *0C750500CE")
        << Right << 0 << 12 << 0 << QByteArray("2A 30 43 37 35 30 35 30 30 43 45") << 12
        << oskaStop12;
    QTest::newRow("M/U oska *0C751000CA")
        << MenuUp << 0 << 12 << 0 << QByteArray("2A 30 43 37 35 31 30 30 30 43 41") << 12
        << oskaStop12;
    QTest::newRow("SET oska *0C750D00DD")
        << Set << 0 << 12 << 0 << QByteArray("2A 30 43 37 35 30 44 30 30 44 44") << 12
        << oskaStop12;
    QTest::newRow("INIT oska *0C750E00DE")
        << Init << 0 << 12 << 0 << QByteArray("2A 30 43 37 35 30 45 30 30 44 45") << 12
        << QByteArray();
    QTest::newRow("POWER oska *0C750A00DA")
        << Power << 0 << 12 << 0 << QByteArray("2A 30 43 37 35 30 41 30 30 44 41") << 12
        << QByteArray();
    QTest::newRow("RESET oska *0C710000C5")
        << Reset << 0 << 12 << 0 << QByteArray("2A 30 43 37 31 30 30 30 30 43 35") << 12
        << QByteArray();
    QTest::newRow("CAM 7 oska *0C740700CF")
        << Cam << 0 << 12 << 7 << QByteArray("2A 30 43 37 34 30 37 30 30 43 46") << 7
        << QByteArray();

    QTest::newRow("Z/I pelco") << ZoomIn << 1 << 12 << 0 << QByteArray("FF 0C 00 20 00 00 2C") << 12
                               << pelcoStop12;
    QTest::newRow("Z/O pelco") << ZoomOut << 1 << 12 << 0 << QByteArray("FF 0C 00 40 00 00 4C")
                               << 12 << pelcoStop12;
    QTest::newRow("F/F pelco") << FocusFar << 1 << 12 << 0 << QByteArray("FF 0C 00 80 00 00 8C")
                               << 12 << pelcoStop12;
    QTest::newRow("F/N pelco") << FocusNear << 1 << 12 << 0 << QByteArray("FF 0C 01 00 00 00 0D")
                               << 12 << pelcoStop12;
    QTest::newRow("UP pelco") << Up << 1 << 12 << 0 << QByteArray("FF 0C 00 20 00 00 2C") << 12
                              << pelcoStop12;
    QTest::newRow("DOWN pelco") << Down << 1 << 12 << 0 << QByteArray("FF 0C 00 40 00 00 4C") << 12
                                << pelcoStop12;
    QTest::newRow("LEFT pelco") << Left << 1 << 12 << 0 << QByteArray("FF 0C 01 00 00 00 0D") << 12
                                << pelcoStop12;
    QTest::newRow("RIGHT pelco") << Right << 1 << 12 << 0 << QByteArray("FF 0C 00 80 00 00 8C")
                                 << 12 << pelcoStop12;
    QTest::newRow("M/U pelco") << MenuUp << 1 << 12 << 0 << QByteArray("FF 0C 00 23 00 5F 8E") << 12
                               << pelcoStop12;
    QTest::newRow("SET pelco") << Set << 1 << 12 << 0 << QByteArray("FF 0C 30 44 00 00 80") << 12
                               << pelcoStop12;
    QTest::newRow("INIT pelco") << Init << 1 << 12 << 0 << QByteArray("FF 0C 30 45 00 00 81") << 12
                                << QByteArray();
    QTest::newRow("POWER pelco first")
        << Power << 1 << 12 << 0 << QByteArray("FF 0C 08 00 00 00 14") << 12 << QByteArray();
    // RESET and CAM are disabled under PELCO D on the panel; were they run, their command
    // characters land in bytes 3 to 5 behind the untouched (here zero) byte 2.
    QTest::newRow("RESET pelco framing")
        << Reset << 1 << 12 << 0 << QByteArray("FF 0C 00 37 31 30 A4") << 12 << QByteArray();
    QTest::newRow("CAM 7 pelco framing")
        << Cam << 1 << 12 << 7 << QByteArray("FF 0C 00 37 34 30 A7") << 7 << QByteArray();

    // Camera 171 = 0xAB: the address digits are letters.
    QTest::newRow("Z/I oska *AB750100DA")
        << ZoomIn << 0 << 171 << 0 << QByteArray("2A 41 42 37 35 30 31 30 30 44 41") << 171
        << oskaStop171;
    QTest::newRow("Z/O oska *AB750300DC")
        << ZoomOut << 0 << 171 << 0 << QByteArray("2A 41 42 37 35 30 33 30 30 44 43") << 171
        << oskaStop171;
    QTest::newRow("F/F oska *AB750500DE")
        << FocusFar << 0 << 171 << 0 << QByteArray("2A 41 42 37 35 30 35 30 30 44 45") << 171
        << oskaStop171;
    QTest::newRow("F/N oska *AB750600DF")
        << FocusNear << 0 << 171 << 0 << QByteArray("2A 41 42 37 35 30 36 30 30 44 46") << 171
        << oskaStop171;
    QTest::newRow("UP oska *AB750100DA")
        << Up << 0 << 171 << 0 << QByteArray("2A 41 42 37 35 30 31 30 30 44 41") << 171
        << oskaStop171;
    QTest::newRow("DOWN oska *AB750300DC")
        << Down << 0 << 171 << 0 << QByteArray("2A 41 42 37 35 30 33 30 30 44 43") << 171
        << oskaStop171;
    QTest::newRow("LEFT oska *AB750600DF")
        << Left << 0 << 171 << 0 << QByteArray("2A 41 42 37 35 30 36 30 30 44 46") << 171
        << oskaStop171;
    QTest::newRow("RIGHT oska *AB750500DE")
        << Right << 0 << 171 << 0 << QByteArray("2A 41 42 37 35 30 35 30 30 44 45") << 171
        << oskaStop171;
    QTest::newRow("M/U oska *AB751000DA")
        << MenuUp << 0 << 171 << 0 << QByteArray("2A 41 42 37 35 31 30 30 30 44 41") << 171
        << oskaStop171;
    QTest::newRow("SET oska *AB750D00ED")
        << Set << 0 << 171 << 0 << QByteArray("2A 41 42 37 35 30 44 30 30 45 44") << 171
        << oskaStop171;
    QTest::newRow("INIT oska *AB750E00EE")
        << Init << 0 << 171 << 0 << QByteArray("2A 41 42 37 35 30 45 30 30 45 45") << 171
        << QByteArray();
    QTest::newRow("POWER oska *AB750A00EA")
        << Power << 0 << 171 << 0 << QByteArray("2A 41 42 37 35 30 41 30 30 45 41") << 171
        << QByteArray();
    QTest::newRow("RESET oska *AB710000D5")
        << Reset << 0 << 171 << 0 << QByteArray("2A 41 42 37 31 30 30 30 30 44 35") << 171
        << QByteArray();
    QTest::newRow("CAM 165 oska *AB74A500EE")
        << Cam << 0 << 171 << 165 << QByteArray("2A 41 42 37 34 41 35 30 30 45 45") << 165
        << QByteArray();

    QTest::newRow("Z/I pelco 171")
        << ZoomIn << 1 << 171 << 0 << QByteArray("FF AB 00 20 00 00 CB") << 171 << pelcoStop171;
    QTest::newRow("Z/O pelco 171")
        << ZoomOut << 1 << 171 << 0 << QByteArray("FF AB 00 40 00 00 EB") << 171 << pelcoStop171;
    QTest::newRow("F/F pelco 171")
        << FocusFar << 1 << 171 << 0 << QByteArray("FF AB 00 80 00 00 2B") << 171 << pelcoStop171;
    QTest::newRow("F/N pelco 171")
        << FocusNear << 1 << 171 << 0 << QByteArray("FF AB 01 00 00 00 AC") << 171 << pelcoStop171;
    QTest::newRow("UP pelco 171") << Up << 1 << 171 << 0 << QByteArray("FF AB 00 20 00 00 CB")
                                  << 171 << pelcoStop171;
    QTest::newRow("DOWN pelco 171")
        << Down << 1 << 171 << 0 << QByteArray("FF AB 00 40 00 00 EB") << 171 << pelcoStop171;
    QTest::newRow("LEFT pelco 171")
        << Left << 1 << 171 << 0 << QByteArray("FF AB 01 00 00 00 AC") << 171 << pelcoStop171;
    QTest::newRow("RIGHT pelco 171")
        << Right << 1 << 171 << 0 << QByteArray("FF AB 00 80 00 00 2B") << 171 << pelcoStop171;
    QTest::newRow("M/U pelco 171")
        << MenuUp << 1 << 171 << 0 << QByteArray("FF AB 00 23 00 5F 2D") << 171 << pelcoStop171;
    QTest::newRow("SET pelco 171")
        << Set << 1 << 171 << 0 << QByteArray("FF AB 30 44 00 00 1F") << 171 << pelcoStop171;
    QTest::newRow("INIT pelco 171")
        << Init << 1 << 171 << 0 << QByteArray("FF AB 30 45 00 00 20") << 171 << QByteArray();
    QTest::newRow("POWER pelco 171 first")
        << Power << 1 << 171 << 0 << QByteArray("FF AB 08 00 00 00 B3") << 171 << QByteArray();
    QTest::newRow("RESET pelco 171 framing")
        << Reset << 1 << 171 << 0 << QByteArray("FF AB 00 37 31 30 43") << 171 << QByteArray();
    QTest::newRow("CAM 165 pelco 171 framing")
        << Cam << 1 << 171 << 165 << QByteArray("FF AB 00 37 34 41 57") << 165 << QByteArray();
}

void TestFrames::keyRows() {
    QFETCH(int, controlId);
    QFETCH(int, protocol);
    QFETCH(int, cameraId);
    QFETCH(int, pendingId);
    QFETCH(QByteArray, press);
    QFETCH(int, cameraAfter);
    QFETCH(QByteArray, release);

    Rig rig(protocol, cameraId);
    rig.Type(pendingId, 3);
    QVERIFY(CommandSet::HasRow(controlId));
    rig.Tell(rig.commands.RunKeyRow(controlId));
    QCOMPARE(rig.TakeLine(), press);
    QCOMPARE(rig.state.cameraId, cameraAfter);
    QCOMPARE(rig.pause.pauses, FramePauses(protocol == 0 ? 11 : 7));
    QCOMPARE(rig.messages.shown, QStringList());

    QCOMPARE(CommandSet::IsStopKey(controlId), !release.isEmpty());
    if (!release.isEmpty()) {
        rig.Tell(rig.commands.SendStop());
        QCOMPARE(rig.TakeLine(), release);
    }
}

void TestFrames::arrowRows_data() {
    QTest::addColumn<int>("virtualKey");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QByteArray>("press");
    QTest::addColumn<QByteArray>("release");

    const QByteArray oskaStop = "2A 30 43 37 35 30 39 30 30 44 32";
    const QByteArray pelcoStop = "FF 0C 00 00 00 00 0C";
    // Left gives the F/F frame and Right the F/N frame.
    QTest::newRow("Up oska *0C750100CA")
        << VirtualKey::Up << 0 << QByteArray("2A 30 43 37 35 30 31 30 30 43 41") << oskaStop;
    QTest::newRow("Down oska *0C750300CC")
        << VirtualKey::Down << 0 << QByteArray("2A 30 43 37 35 30 33 30 30 43 43") << oskaStop;
    QTest::newRow("Left oska *0C750500CE")
        << VirtualKey::Left << 0 << QByteArray("2A 30 43 37 35 30 35 30 30 43 45") << oskaStop;
    QTest::newRow("Right oska *0C750600CF")
        << VirtualKey::Right << 0 << QByteArray("2A 30 43 37 35 30 36 30 30 43 46") << oskaStop;
    QTest::newRow("Up pelco") << VirtualKey::Up << 1 << QByteArray("FF 0C 00 20 00 00 2C")
                              << pelcoStop;
    QTest::newRow("Down pelco") << VirtualKey::Down << 1 << QByteArray("FF 0C 00 40 00 00 4C")
                                << pelcoStop;
    QTest::newRow("Left pelco") << VirtualKey::Left << 1 << QByteArray("FF 0C 00 80 00 00 8C")
                                << pelcoStop;
    QTest::newRow("Right pelco") << VirtualKey::Right << 1 << QByteArray("FF 0C 01 00 00 00 0D")
                                 << pelcoStop;
}

void TestFrames::arrowRows() {
    QFETCH(int, virtualKey);
    QFETCH(int, protocol);
    QFETCH(QByteArray, press);
    QFETCH(QByteArray, release);

    Rig rig(protocol, 12);
    QVERIFY(CommandSet::IsArrowKey(virtualKey));
    rig.Tell(rig.commands.RunArrowRow(virtualKey));
    QCOMPARE(rig.TakeLine(), press);
    // Each automatic repeat sends the row again.
    rig.Tell(rig.commands.RunArrowRow(virtualKey));
    QCOMPARE(rig.TakeLine(), press);
    rig.Tell(rig.commands.SendStop());
    QCOMPARE(rig.TakeLine(), release);
    QCOMPARE(rig.messages.shown, QStringList());
}

void TestFrames::keysWithoutRow_data() {
    QTest::addColumn<int>("controlId");
    QTest::addColumn<int>("virtualKey");

    using namespace ControlId;
    QTest::newRow("digit 1") << Key1 << VirtualKey::Enter;
    QTest::newRow("digit 0") << Key0 << VirtualKey::Delete;
    QTest::newRow("ENT") << Ent << 0x24;  // Home
    QTest::newRow("CLR") << Clr << 0x29;  // Select, just past the arrows
    QTest::newRow("COMMUNICATION SET") << CommunicationSet << VirtualKey::Digit0;
    QTest::newRow("protocol combo") << ProtocolCombo << VirtualKey::Numpad9;
    QTest::newRow("status list") << ControlId::StatusList << 0x41;
    QTest::newRow("no control 1003") << 1003 << 0;
}

void TestFrames::keysWithoutRow() {
    QFETCH(int, controlId);
    QFETCH(int, virtualKey);

    for (int protocol : {0, 1}) {
        Rig rig(protocol, 12);
        rig.Type(34, 2);
        QVERIFY(!CommandSet::HasRow(controlId));
        QCOMPARE(rig.commands.RunKeyRow(controlId), Notice::None);
        QCOMPARE(rig.commands.RunArrowRow(virtualKey), Notice::None);
        QVERIFY(!CommandSet::IsStopKey(controlId));
        QVERIFY(!CommandSet::IsArrowKey(virtualKey));
        QCOMPARE(rig.TakeLog(), QString());
        QCOMPARE(rig.state.cameraId, 12);
        QCOMPARE(rig.entry.PendingId(), 34);
    }
}

void TestFrames::sameFrames_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("Z/I = UP oska") << "Z/I"
                                   << "UP" << 0 << QByteArray("2A 30 43 37 35 30 31 30 30 43 41");
    QTest::newRow("Z/O = DOWN oska")
        << "Z/O"
        << "DOWN" << 0 << QByteArray("2A 30 43 37 35 30 33 30 30 43 43");
    QTest::newRow("F/F = RIGHT oska")
        << "F/F"
        << "RIGHT" << 0 << QByteArray("2A 30 43 37 35 30 35 30 30 43 45");
    QTest::newRow("F/N = LEFT oska")
        << "F/N"
        << "LEFT" << 0 << QByteArray("2A 30 43 37 35 30 36 30 30 43 46");
    QTest::newRow("F/F = PC Left oska")
        << "F/F"
        << "PC-Left" << 0 << QByteArray("2A 30 43 37 35 30 35 30 30 43 45");
    QTest::newRow("F/N = PC Right oska")
        << "F/N"
        << "PC-Right" << 0 << QByteArray("2A 30 43 37 35 30 36 30 30 43 46");
    QTest::newRow("Z/I = UP pelco") << "Z/I"
                                    << "UP" << 1 << QByteArray("FF 0C 00 20 00 00 2C");
    QTest::newRow("Z/O = DOWN pelco") << "Z/O"
                                      << "DOWN" << 1 << QByteArray("FF 0C 00 40 00 00 4C");
    QTest::newRow("F/F = RIGHT pelco") << "F/F"
                                       << "RIGHT" << 1 << QByteArray("FF 0C 00 80 00 00 8C");
    QTest::newRow("F/N = LEFT pelco") << "F/N"
                                      << "LEFT" << 1 << QByteArray("FF 0C 01 00 00 00 0D");
    QTest::newRow("F/F = PC Left pelco") << "F/F"
                                         << "PC-Left" << 1 << QByteArray("FF 0C 00 80 00 00 8C");
    QTest::newRow("F/N = PC Right pelco") << "F/N"
                                          << "PC-Right" << 1 << QByteArray("FF 0C 01 00 00 00 0D");
}

void TestFrames::sameFrames() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(int, protocol);
    QFETCH(QByteArray, frame);

    Rig rig(protocol, 12);
    QVERIFY(Act(rig, first));
    const QByteArray firstLine = rig.TakeLine();
    QVERIFY(Act(rig, second));
    QCOMPARE(rig.TakeLine(), firstLine);
    QCOMPARE(firstLine, frame);
}

void TestFrames::referenceFrames_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("cameraId");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("camera 0 zoom in *00750100B7")
        << 0 << 0 << "Z/I" << QByteArray("2A 30 30 37 35 30 31 30 30 42 37");
    QTest::newRow("camera 255 zoom in *FF750100E3")
        << 0 << 255 << "Z/I" << QByteArray("2A 46 46 37 35 30 31 30 30 45 33");
    QTest::newRow("camera 255 stop *FF750900EB")
        << 0 << 255 << "stop" << QByteArray("2A 46 46 37 35 30 39 30 30 45 42");
    QTest::newRow("camera 12 zoom in *0C750100CA")
        << 0 << 12 << "Z/I" << QByteArray("2A 30 43 37 35 30 31 30 30 43 41");
    QTest::newRow("camera 12 stop *0C750900D2")
        << 0 << 12 << "stop" << QByteArray("2A 30 43 37 35 30 39 30 30 44 32");
    QTest::newRow("camera 12 RESET *0C710000C5")
        << 0 << 12 << "RESET" << QByteArray("2A 30 43 37 31 30 30 30 30 43 35");
    QTest::newRow("camera 12 M/U *0C751000CA")
        << 0 << 12 << "M/U" << QByteArray("2A 30 43 37 35 31 30 30 30 43 41");
    QTest::newRow("camera 12 POWER *0C750A00DA")
        << 0 << 12 << "POWER" << QByteArray("2A 30 43 37 35 30 41 30 30 44 41");
    QTest::newRow("camera 1 POWER *01750A00C8")
        << 0 << 1 << "POWER" << QByteArray("2A 30 31 37 35 30 41 30 30 43 38");

    QTest::newRow("pelco camera 255 zoom in")
        << 1 << 255 << "Z/I" << QByteArray("FF FF 00 20 00 00 1F");
    QTest::newRow("pelco camera 255 stop")
        << 1 << 255 << "stop" << QByteArray("FF FF 00 00 00 00 FF");
    QTest::newRow("pelco camera 0 stop") << 1 << 0 << "stop" << QByteArray("FF 00 00 00 00 00 00");
    QTest::newRow("pelco camera 12 zoom in")
        << 1 << 12 << "Z/I" << QByteArray("FF 0C 00 20 00 00 2C");
    QTest::newRow("pelco camera 12 stop")
        << 1 << 12 << "stop" << QByteArray("FF 0C 00 00 00 00 0C");
    QTest::newRow("pelco camera 1 stop") << 1 << 1 << "stop" << QByteArray("FF 01 00 00 00 00 01");
    QTest::newRow("pelco camera 1 M/U") << 1 << 1 << "M/U" << QByteArray("FF 01 00 23 00 5F 83");
    QTest::newRow("pelco camera 1 POWER")
        << 1 << 1 << "POWER" << QByteArray("FF 01 08 00 00 00 09");
    QTest::newRow("pelco camera 1 SET") << 1 << 1 << "SET" << QByteArray("FF 01 30 44 00 00 75");
    QTest::newRow("pelco camera 1 INIT") << 1 << 1 << "INIT" << QByteArray("FF 01 30 45 00 00 76");
    QTest::newRow("pelco camera 12 F/N") << 1 << 12 << "F/N" << QByteArray("FF 0C 01 00 00 00 0D");
    QTest::newRow("pelco camera 12 LEFT")
        << 1 << 12 << "LEFT" << QByteArray("FF 0C 01 00 00 00 0D");
    QTest::newRow("pelco camera 12 PC Right")
        << 1 << 12 << "PC-Right" << QByteArray("FF 0C 01 00 00 00 0D");
}

void TestFrames::referenceFrames() {
    QFETCH(int, protocol);
    QFETCH(int, cameraId);
    QFETCH(QString, action);
    QFETCH(QByteArray, frame);

    Rig rig(protocol, cameraId);
    QVERIFY(Act(rig, action));
    QCOMPARE(rig.TakeLine(), frame);
    QCOMPARE(rig.messages.shown, QStringList());
}

void TestFrames::powerAlternation() {
    Rig rig(ProtocolPelcoD, 1);
    QCOMPARE(rig.commands.PowerToggle(), 0);

    QVERIFY(Act(rig, QStringLiteral("POWER")));
    QCOMPARE(rig.TakeLine(), QByteArray("FF 01 08 00 00 00 09"));
    QCOMPARE(rig.commands.PowerToggle(), 1);

    // POWER under OSKA-DEFAULT in between leaves the alternation alone.
    rig.state.protocol = ProtocolOskaDefault;
    QVERIFY(Act(rig, QStringLiteral("POWER")));
    QCOMPARE(rig.TakeLine(), QByteArray("2A 30 31 37 35 30 41 30 30 43 38"));
    QVERIFY(Act(rig, QStringLiteral("POWER")));
    QCOMPARE(rig.TakeLine(), QByteArray("2A 30 31 37 35 30 41 30 30 43 38"));
    QCOMPARE(rig.commands.PowerToggle(), 1);

    rig.state.protocol = ProtocolPelcoD;
    QVERIFY(Act(rig, QStringLiteral("POWER")));
    QCOMPARE(rig.TakeLine(), QByteArray("FF 01 88 00 00 00 89"));
    QCOMPARE(rig.commands.PowerToggle(), 0);

    QVERIFY(Act(rig, QStringLiteral("POWER")));
    QCOMPARE(rig.TakeLine(), QByteArray("FF 01 08 00 00 00 09"));
    QCOMPARE(rig.commands.PowerToggle(), 1);

    // Changing the camera does not reset it either.
    rig.state.cameraId = 12;
    QVERIFY(Act(rig, QStringLiteral("POWER")));
    QCOMPARE(rig.TakeLine(), QByteArray("FF 0C 88 00 00 00 94"));

    // No stop follows POWER; a later stop clears command 1 again.
    QVERIFY(!CommandSet::IsStopKey(ControlId::Power));
    QVERIFY(Act(rig, QStringLiteral("stop")));
    QCOMPARE(rig.TakeLine(), QByteArray("FF 0C 00 00 00 00 0C"));
    QCOMPARE(rig.messages.shown, QStringList());
}

void TestFrames::powerToggleFlipsOnFailedFrame() {
    Rig rig(ProtocolPelcoD, 1);
    QVERIFY(Act(rig, QStringLiteral("POWER")));
    QCOMPARE(rig.TakeLine(), QByteArray("FF 01 08 00 00 00 09"));

    // The 88 frame fails at its first byte; the toggle still flips.
    rig.RefuseByte(1);
    QVERIFY(Act(rig, QStringLiteral("POWER")));
    QCOMPARE(rig.TakeLine(), QByteArray());
    QCOMPARE(rig.messages.shown, QStringList{kTransfer});
    QCOMPARE(rig.commands.PowerToggle(), 0);

    QVERIFY(Act(rig, QStringLiteral("POWER")));
    QCOMPARE(rig.TakeLine(), QByteArray("FF 01 08 00 00 00 09"));

    // Failing mid-frame flips it just the same.
    rig.RefuseByte(4);
    QVERIFY(Act(rig, QStringLiteral("POWER")));
    QCOMPARE(rig.TakeLine(), QByteArray("FF 01 88"));
    QCOMPARE(rig.commands.PowerToggle(), 0);
    QCOMPARE(rig.messages.shown.size(), 2);
}

void TestFrames::stopClearsCommandOne_data() {
    QTest::addColumn<QString>("movement");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("after POWER") << "POWER" << QByteArray("FF 0C 08 00 00 00 14");
    QTest::newRow("after F/N") << "F/N" << QByteArray("FF 0C 01 00 00 00 0D");
    QTest::newRow("after M/U") << "M/U" << QByteArray("FF 0C 00 23 00 5F 8E");
    QTest::newRow("after SET") << "SET" << QByteArray("FF 0C 30 44 00 00 80");
}

void TestFrames::stopClearsCommandOne() {
    QFETCH(QString, movement);
    QFETCH(QByteArray, frame);

    Rig rig(ProtocolPelcoD, 12);
    QVERIFY(Act(rig, movement));
    QCOMPARE(rig.TakeLine(), frame);
    QVERIFY(Act(rig, QStringLiteral("stop")));
    QCOMPARE(rig.TakeLine(), QByteArray("FF 0C 00 00 00 00 0C"));
}

void TestFrames::cameraSelect_data() {
    QTest::addColumn<int>("cameraBefore");
    QTest::addColumn<int>("pendingId");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("zoomAfter");  // Z/I, addressed to the new camera

    QTest::newRow("12 from 0 *00740C00C8")
        << 0 << 12 << QByteArray("2A 30 30 37 34 30 43 30 30 43 38")
        << QByteArray("2A 30 43 37 35 30 31 30 30 43 41");
    QTest::newRow("7 from 5 *05740700C1")
        << 5 << 7 << QByteArray("2A 30 35 37 34 30 37 30 30 43 31")
        << QByteArray("2A 30 37 37 35 30 31 30 30 42 45");
    QTest::newRow("255 from 12 *0C74FF00F4")
        << 12 << 255 << QByteArray("2A 30 43 37 34 46 46 30 30 46 34")
        << QByteArray("2A 46 46 37 35 30 31 30 30 45 33");
    QTest::newRow("0 from 12 *0C740000C8")
        << 12 << 0 << QByteArray("2A 30 43 37 34 30 30 30 30 43 38")
        << QByteArray("2A 30 30 37 35 30 31 30 30 42 37");
    QTest::newRow("same camera 9 *09740900C7")
        << 9 << 9 << QByteArray("2A 30 39 37 34 30 39 30 30 43 37")
        << QByteArray("2A 30 39 37 35 30 31 30 30 43 30");
    QTest::newRow("same camera 12 *0C740C00DB")
        << 12 << 12 << QByteArray("2A 30 43 37 34 30 43 30 30 44 42")
        << QByteArray("2A 30 43 37 35 30 31 30 30 43 41");
}

void TestFrames::cameraSelect() {
    QFETCH(int, cameraBefore);
    QFETCH(int, pendingId);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, zoomAfter);

    Rig rig(ProtocolOskaDefault, cameraBefore);
    rig.Type(pendingId, 3);
    const QStringList typed = rig.lines.Lines();
    rig.Tell(rig.commands.SelectCamera());
    QCOMPARE(rig.TakeLine(), frame);
    QCOMPARE(rig.state.cameraId, pendingId);
    QCOMPARE(rig.entry.PendingId(), pendingId);
    QCOMPARE(rig.entry.DigitCount(), 0);
    QCOMPARE(rig.messages.shown, QStringList());
    // Camera select rewrites no status line.
    QCOMPARE(rig.lines.Lines(), typed);

    QVERIFY(Act(rig, QStringLiteral("Z/I")));
    QCOMPARE(rig.TakeLine(), zoomAfter);
}

void TestFrames::cameraSelectOutOfRange_data() {
    QTest::addColumn<int>("pendingId");
    QTest::newRow("256") << 256;
    QTest::newRow("300") << 300;
    QTest::newRow("999") << 999;
}

void TestFrames::cameraSelectOutOfRange() {
    QFETCH(int, pendingId);

    for (int protocol : {0, 1, 2}) {
        Rig rig(protocol, 5);
        rig.Type(pendingId, 3);
        rig.Tell(rig.commands.SelectCamera());
        QCOMPARE(rig.TakeLog(), QStringLiteral("msg"));
        QCOMPARE(rig.messages.shown, QStringList{kRange});
        QCOMPARE(rig.state.cameraId, 5);
        QCOMPARE(rig.entry.PendingId(), pendingId);
        QCOMPARE(rig.entry.DigitCount(), 3);
    }
}

void TestFrames::cameraSelectCommitsOnFailedFrame() {
    Rig rig(ProtocolOskaDefault, 12);
    rig.Type(40, 2);
    rig.RefuseByte(1);
    rig.Tell(rig.commands.SelectCamera());
    QCOMPARE(rig.TakeLine(), QByteArray());
    QCOMPARE(rig.messages.shown, QStringList{kTransfer});
    QCOMPARE(rig.state.cameraId, 40);
    QCOMPARE(rig.entry.DigitCount(), 0);

    QVERIFY(Act(rig, QStringLiteral("stop")));
    QCOMPARE(rig.TakeLine(), QByteArray("2A 32 38 37 35 30 39 30 30 43 39"));  // *28750900C9
}

void TestFrames::unknownProtocol_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QByteArray>("frame");  // empty: nothing at all happens
    QTest::addColumn<int>("cameraAfter");

    for (const char* silent : {"Z/I", "Z/O", "F/F", "F/N", "UP", "DOWN", "LEFT", "RIGHT", "M/U",
                               "POWER", "PC-Left", "PC-Up", "PC-Right", "PC-Down"})
        QTest::newRow(silent) << QString::fromLatin1(silent) << QByteArray() << 12;
    QTest::newRow("SET") << "SET" << QByteArray("FF 0C 30 44 00 00 80") << 12;
    QTest::newRow("INIT") << "INIT" << QByteArray("FF 0C 30 45 00 00 81") << 12;
    QTest::newRow("stop") << "stop" << QByteArray("FF 0C 00 00 00 00 0C") << 12;
    QTest::newRow("RESET") << "RESET" << QByteArray("FF 0C 00 37 31 30 A4") << 12;
    QTest::newRow("CAM 7") << "CAM" << QByteArray("FF 0C 00 37 34 30 A7") << 7;
}

void TestFrames::unknownProtocol() {
    QFETCH(QString, action);
    QFETCH(QByteArray, frame);
    QFETCH(int, cameraAfter);

    Rig rig(2, 12);
    rig.Type(7, 1);
    QVERIFY(Act(rig, action));
    QCOMPARE(rig.TakeLine(), frame);
    QCOMPARE(rig.state.cameraId, cameraAfter);
    QCOMPARE(rig.pause.pauses, frame.isEmpty() ? QVector<int>() : FramePauses(7));
    QCOMPARE(rig.messages.shown, QStringList());
    QCOMPARE(rig.commands.PowerToggle(), 0);
}

void TestFrames::leftoversAfterProtocolSwitch() {
    Rig rig(ProtocolOskaDefault, 12);
    QVERIFY(Act(rig, QStringLiteral("Z/I")));
    QCOMPARE(rig.TakeLine(), QByteArray("2A 30 43 37 35 30 31 30 30 43 41"));

    rig.state.protocol = ProtocolPelcoD;
    QVERIFY(Act(rig, QStringLiteral("M/U")));
    QCOMPARE(rig.TakeLine(), QByteArray("FF 0C 00 23 00 5F 8E"));
    // Bytes 7 to 10 still hold the OSKA-DEFAULT tail and were not sent.
    const auto& frame = rig.state.txFrame;
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(frame.data()) + 7, 4), QByteArray("00CA"));
    QVERIFY(Act(rig, QStringLiteral("POWER")));
    QCOMPARE(rig.TakeLine(), QByteArray("FF 0C 08 00 00 00 14"));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(frame.data()) + 7, 4), QByteArray("00CA"));

    // Back under OSKA-DEFAULT every byte that goes out is rewritten first: none of the
    // binary PELCO D bytes in 0 to 6 survives into any kind of frame.
    rig.state.protocol = ProtocolOskaDefault;
    const struct {
        const char* action;
        QByteArray line;
    } after[] = {
        {"stop", "2A 30 43 37 35 30 39 30 30 44 32"},
        {"RESET", "2A 30 43 37 31 30 30 30 30 43 35"},
        {"F/N", "2A 30 43 37 35 30 36 30 30 43 46"},
    };
    for (const auto& step : after) {
        rig.state.protocol = ProtocolPelcoD;
        QVERIFY(Act(rig, QStringLiteral("M/U")));
        QCOMPARE(rig.TakeLine(), QByteArray("FF 0C 00 23 00 5F 8E"));
        rig.state.protocol = ProtocolOskaDefault;
        QVERIFY(Act(rig, QString::fromLatin1(step.action)));
        QCOMPARE(rig.TakeLine(), step.line);
    }
    rig.state.protocol = ProtocolPelcoD;
    QVERIFY(Act(rig, QStringLiteral("M/U")));
    rig.TakeLine();
    rig.state.protocol = ProtocolOskaDefault;
    rig.Type(12, 2);
    rig.Tell(rig.commands.SelectCamera());
    QCOMPARE(rig.TakeLine(), QByteArray("2A 30 43 37 34 30 43 30 30 44 42"));
    QCOMPARE(rig.messages.shown, QStringList());
}

void TestFrames::refusedByte_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("refused");  // 1-based byte of the frame
    QTest::addColumn<QString>("log");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("oska first") << 0 << 1 << "msg p25" << QByteArray();
    QTest::newRow("oska fourth") << 0 << 4 << "2A p2 30 p2 43 p2 msg p25" << QByteArray("2A 30 43");
    QTest::newRow("oska last") << 0 << 11
                               << "2A p2 30 p2 43 p2 37 p2 35 p2 30 p2 31 p2 30 p2 30 p2 43 p2 "
                                  "msg p25"
                               << QByteArray("2A 30 43 37 35 30 31 30 30 43");
    QTest::newRow("pelco first") << 1 << 1 << "msg p25" << QByteArray();
    QTest::newRow("pelco fourth") << 1 << 4 << "FF p2 0C p2 00 p2 msg p25"
                                  << QByteArray("FF 0C 00");
    QTest::newRow("pelco last") << 1 << 7 << "FF p2 0C p2 00 p2 20 p2 00 p2 00 p2 msg p25"
                                << QByteArray("FF 0C 00 20 00 00");
}

void TestFrames::refusedByte() {
    QFETCH(int, protocol);
    QFETCH(int, refused);
    QFETCH(QString, log);
    QFETCH(QByteArray, line);

    Rig rig(protocol, 12);
    rig.RefuseByte(refused);
    QVERIFY(Act(rig, QStringLiteral("Z/I")));
    QCOMPARE(rig.TakeLog(), log);
    QCOMPARE(rig.TakeLine(), line);
    QCOMPARE(rig.messages.shown, QStringList{kTransfer});
    QVERIFY(rig.link.isOpen());

    // The next frame starts again from byte 0 and goes out whole.
    rig.pause.pauses.clear();
    QVERIFY(Act(rig, QStringLiteral("Z/I")));
    QCOMPARE(rig.TakeLine(), protocol == 0 ? QByteArray("2A 30 43 37 35 30 31 30 30 43 41")
                                           : QByteArray("FF 0C 00 20 00 00 2C"));
    QCOMPARE(rig.pause.pauses, FramePauses(protocol == 0 ? 11 : 7));
    QCOMPARE(rig.messages.shown.size(), 1);
}

void TestFrames::overclaimedByteFails() {
    // Only a result of exactly one byte counts as the byte written.
    Rig rig(ProtocolPelcoD, 12);
    rig.loggedDevice.overclaim = 1;
    QVERIFY(Act(rig, QStringLiteral("Z/I")));
    QCOMPARE(rig.TakeLog(), QStringLiteral("FF msg p25"));
    QCOMPARE(rig.messages.shown, QStringList{kTransfer});
}

void TestFrames::wholeFramePauses_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("log");

    QTest::newRow("oska") << 0
                          << "2A p2 30 p2 43 p2 37 p2 35 p2 30 p2 39 p2 30 p2 30 p2 44 p2 32 p2 "
                             "p25";
    QTest::newRow("pelco") << 1 << "FF p2 0C p2 00 p2 00 p2 00 p2 00 p2 0C p2 p25";
}

void TestFrames::wholeFramePauses() {
    QFETCH(int, protocol);
    QFETCH(QString, log);

    Rig rig(protocol, 12);
    QVERIFY(Act(rig, QStringLiteral("stop")));
    QCOMPARE(rig.TakeLog(), log);
    QCOMPARE(rig.pause.pauses, FramePauses(protocol == 0 ? 11 : 7));
    QCOMPARE(rig.device.writes.size(), protocol == 0 ? 11 : 7);
}

void TestFrames::pausesTakeRealTime() {
    // Lower bounds only: no byte sooner than 2 ms after the one before, no frame sooner
    // than 27 ms after the last byte of the frame before.
    Rig rig(ProtocolOskaDefault, 12);
    rig.pause.real = true;
    QVERIFY(Act(rig, QStringLiteral("Z/I")));
    QVERIFY(Act(rig, QStringLiteral("stop")));
    const auto& writes = rig.device.writes;
    QCOMPARE(writes.size(), 22);
    for (int i = 1; i < writes.size(); ++i) {
        const qint64 gap = writes.at(i).nsecs - writes.at(i - 1).nsecs;
        const qint64 least = i == 11 ? 27'000'000 : 2'000'000;
        QVERIFY2(gap >= least,
                 qPrintable(QStringLiteral("byte %1 followed after %2 ns").arg(i).arg(gap)));
    }
}

void TestFrames::linkWithoutPort() {
    for (bool closedAfterOpen : {false, true}) {
        Rig rig(ProtocolOskaDefault, 12);
        if (closedAfterOpen) {
            QCOMPARE(rig.opened, 1);
            rig.link.ClosePort();
        } else {
            rig.device.openResult = false;
            QCOMPARE(rig.link.OpenPort(1, 9600), 0);
        }
        QVERIFY(!rig.link.isOpen());
        rig.TakeLog();
        rig.pause.pauses.clear();

        for (const char* action : {"Z/I", "stop", "RESET"})
            QVERIFY(Act(rig, QString::fromLatin1(action)));
        rig.state.protocol = ProtocolPelcoD;
        QVERIFY(Act(rig, QStringLiteral("F/N")));
        QCOMPARE(rig.TakeLog(), QStringLiteral("msg p25 msg p25 msg p25 msg p25"));
        QCOMPARE(rig.TakeLine(), QByteArray());
        QCOMPARE(rig.messages.shown, QStringList(4, kTransfer));
        QCOMPARE(rig.link.WriteBytes(rig.state.txFrame.data(), 1), 0u);
    }
}

void TestFrames::hexDigit_data() {
    QTest::addColumn<int>("nibble");
    QTest::addColumn<int>("digit");
    const char digits[] = "0123456789ABCDEF";
    for (int n = 0; n < 16; ++n) QTest::addRow("%d", n) << n << int(digits[n]);
}

void TestFrames::hexDigit() {
    QFETCH(int, nibble);
    QFETCH(int, digit);
    QCOMPARE(int(FrameBuilder::HexDigit(nibble)), digit);
}

void TestFrames::hexPair_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("digits");

    QTest::newRow("0") << 0 << QByteArray("00");
    QTest::newRow("9") << 9 << QByteArray("09");
    QTest::newRow("10") << 10 << QByteArray("0A");
    QTest::newRow("0x7B") << 0x7B << QByteArray("7B");
    QTest::newRow("0xA5") << 0xA5 << QByteArray("A5");
    QTest::newRow("255") << 255 << QByteArray("FF");
    QTest::newRow("256 keeps the low byte") << 256 << QByteArray("00");
    QTest::newRow("sum 0x1B7") << 0x1B7 << QByteArray("B7");
    QTest::newRow("sum 0x1E3") << 0x1E3 << QByteArray("E3");
    QTest::newRow("-1") << -1 << QByteArray("FF");
}

void TestFrames::hexPair() {
    QFETCH(int, value);
    QFETCH(QByteArray, digits);

    Rig rig;
    auto& frame = rig.state.txFrame;
    for (int i = 0; i < 16; ++i) frame[i] = static_cast<uint8_t>(0xE0 + i);
    frame = FrameBuilder::HexPair(frame, value);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(frame.data()) + 11, 2), digits);
    for (int i = 0; i < 16; ++i) {
        if (i != 11 && i != 12)
            QCOMPARE(int(frame[i]), 0xE0 + i);
    }
    QCOMPARE(rig.TakeLog(), QString());
}

// Each builder against a buffer of markers: the bytes it writes, written out, and every
// other byte left as the frames before left it.
void TestFrames::buildersWriteOnlyTheirBytes_data() {
    QTest::addColumn<int>("builder");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("frame");  // 16 bytes; ".." for a marker left alone

    using namespace FrameBuilder;
    enum { Command, Stop, Reset, CameraSelect, Complete };
    QTest::newRow("command oska") << int(Command) << 0
                                  << ".. .. .. 37 35 30 31 30 30 .. .. .. .. .. .. ..";
    QTest::newRow("command pelco")
        << int(Command) << 1 << ".. .. 30 31 00 00 .. .. .. .. .. .. .. .. .. ..";
    QTest::newRow("stop oska") << int(Stop) << 0
                               << ".. .. .. 37 35 30 39 30 30 .. .. .. .. .. .. ..";
    QTest::newRow("stop pelco") << int(Stop) << 1
                                << ".. .. 00 00 00 00 .. .. .. .. .. .. .. .. .. ..";
    QTest::newRow("stop unknown protocol")
        << int(Stop) << 2 << ".. .. 00 00 00 00 .. .. .. .. .. .. .. .. .. ..";
    QTest::newRow("reset") << int(Reset) << 0 << ".. .. .. 37 31 30 30 30 30 .. .. .. .. .. .. ..";
    QTest::newRow("camera select 0xAB")
        << int(CameraSelect) << 0 << ".. .. .. 37 34 41 42 30 30 .. .. 41 42 .. .. ..";
    // '*' + "0C" + markers E3 to E8 = 0x5FE: checksum "FE", its digits left in 11 and 12.
    QTest::newRow("complete oska camera 12")
        << int(Complete) << 0 << "2A 30 43 .. .. .. .. .. .. 46 45 46 45 .. .. ..";
    // 0C + E2 + E3 + E4 + E5 = 0x39A: checksum 9A; the sync byte is not summed.
    QTest::newRow("complete pelco camera 12")
        << int(Complete) << 1 << "FF 0C .. .. .. .. 9A .. .. .. .. .. .. .. .. ..";
}

void TestFrames::buildersWriteOnlyTheirBytes() {
    QFETCH(int, builder);
    QFETCH(int, protocol);
    QFETCH(QString, frame);

    TxFrame before;
    for (int i = 0; i < 16; ++i) before[i] = static_cast<uint8_t>(0xE0 + i);
    TxFrame after;
    switch (builder) {
        case 0:
            after = FrameBuilder::WriteCommand(before, protocol, '0', '1', 0, 0);
            break;
        case 1:
            after = FrameBuilder::WriteStop(before, protocol);
            break;
        case 2:
            after = FrameBuilder::WriteReset(before);
            break;
        case 3:
            after = FrameBuilder::WriteCameraSelect(before, 0xAB);
            break;
        default:
            after = FrameBuilder::CompleteFrame(before, protocol, 12);
            break;
    }
    const QStringList expected = frame.split(QLatin1Char(' '));
    for (int i = 0; i < 16; ++i) {
        const QString want = expected.at(i) == QLatin1String("..")
                                 ? QString::number(before[i], 16).toUpper()
                                 : expected.at(i);
        QVERIFY2(
            QString::number(after[i], 16).toUpper().rightJustified(2, QLatin1Char('0')) == want,
            qPrintable(QStringLiteral("byte %1").arg(i)));
    }
}

void TestFrames::openPortBaudZeroFails() {
    Rig rig;
    rig.link.ClosePort();
    QCOMPARE(rig.link.OpenPort(1, 0), 0);
    QVERIFY(!rig.link.isOpen());
    QCOMPARE(rig.link.WriteBytes(rig.state.txFrame.data(), 1), 0u);
    QCOMPARE(CSerialLink::WriteTimeoutMs(0), 0);
}

void TestFrames::writeTimeout_data() {
    QTest::addColumn<uint>("baud");
    QTest::addColumn<int>("timeoutMs");

    QTest::newRow("1") << 1u << 8;
    QTest::newRow("300") << 300u << 8;
    QTest::newRow("2399") << 2399u << 8;
    QTest::newRow("2400") << 2400u << 8;
    QTest::newRow("4800") << 4800u << 4;
    QTest::newRow("9600") << 9600u << 2;
    QTest::newRow("19200") << 19200u << 1;
    QTest::newRow("38400") << 38400u << 1;
    QTest::newRow("115200") << 115200u << 1;
}

void TestFrames::writeTimeout() {
    QFETCH(uint, baud);
    QFETCH(int, timeoutMs);

    QCOMPARE(CSerialLink::WriteTimeoutMs(baud), timeoutMs);

    Rig rig;
    rig.link.ClosePort();
    QCOMPARE(rig.link.OpenPort(2, baud), 1);
    QCOMPARE(rig.device.openedBaud, baud);
    const uint8_t byte = 0x2A;
    QCOMPARE(rig.link.WriteBytes(&byte, 1), 1u);
    QCOMPARE(rig.device.lastTimeoutMs, timeoutMs);
    // The time-out is per byte.
    const uint8_t three[] = {1, 2, 3};
    QCOMPARE(rig.link.WriteBytes(three, 3), 3u);
    QCOMPARE(rig.device.lastTimeoutMs, 3 * timeoutMs);
}

void TestFrames::closePortPauses() {
    Rig rig;
    QCOMPARE(rig.opened, 1);
    QVERIFY(rig.link.isOpen());
    rig.link.ClosePort();
    QCOMPARE(rig.TakeLog(), QStringLiteral("close p100"));
    QCOMPARE(rig.device.closeCount, 1);
    QCOMPARE(rig.pause.pauses, QVector<int>{100});
    QVERIFY(!rig.link.isOpen());
}

void TestFrames::openPortUsesPortNamer() {
    Rig rig;
    rig.link.ClosePort();
    rig.namedPorts.clear();

    QCOMPARE(rig.link.OpenPort(3, 4800), 1);
    QCOMPARE(rig.namedPorts, QList<int>{3});
    QCOMPARE(rig.device.openedName, QStringLiteral("port-3"));
    QCOMPARE(rig.device.openedBaud, 4800u);
    QVERIFY(rig.link.isOpen());

    rig.link.ClosePort();
    rig.device.openResult = false;
    QCOMPARE(rig.link.OpenPort(7, 2400), 0);
    QCOMPARE(rig.namedPorts, (QList<int>{3, 7}));
    QCOMPARE(rig.device.openedName, QStringLiteral("port-7"));
    QCOMPARE(rig.device.openedBaud, 2400u);
    QVERIFY(!rig.link.isOpen());
}

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
