#include <QtTest>

#include "control/keypad_controller.h"
#include "fakes.h"
#include "keypad_rig.h"
#include "protocol/control_ids.h"
#include "serial/mender/threaded_mender.h"
#include "serial/ports/port_name.h"

// The core driven as the panel drives it, without a window: which actions start and end
// a movement, what a protocol change does to one, and when a failed frame's pause falls.

namespace {

struct Rig {
    Rig() { controller.OnInitDialog(); }

    // Carries out one action by its caption; false for an unknown one.
    bool Act(const QString& action) {
        static const QHash<QString, int> keys = {
            {QStringLiteral("Z/I"), ControlId::ZoomIn},  {QStringLiteral("INIT"), ControlId::Init},
            {QStringLiteral("POWER"), ControlId::Power}, {QStringLiteral("ENT"), ControlId::Ent},
            {QStringLiteral("2"), ControlId::Key2},      {QStringLiteral("5"), ControlId::Key5},
            {QStringLiteral("6"), ControlId::Key6},
        };
        if (keys.contains(action))
            notices << controller.PressKey(keys.value(action));
        else if (action == QLatin1String("PC-Up"))
            notices << controller.PressPcKey(VirtualKey::Up);
        else if (action == QLatin1String("stop"))
            notices << controller.SendStop();
        else if (action == QLatin1String("oska") || action == QLatin1String("pelco"))
            notices << controller.OnSelChangeProtocol(action == QLatin1String("pelco") ? 1 : 0);
        else if (action == QLatin1String("refuse"))
            device.refuseNth = device.attempts + 1;
        else
            return false;
        notices.removeAll(Notice::None);
        return true;
    }

    RecordingDevice device;
    RecordingPause pause;
    MemoryProfile profile;
    KeypadController controller{KeypadServices{device, pause, profile}};
    QList<Notice> notices;
};

// Opens only after a while, as a Bluetooth port does while it connects, and notes the thread
// it was opened on.
class SlowOpeningDevice : public ForwardingDevice {
public:
    using ForwardingDevice::ForwardingDevice;
    bool Open(const QString& name, uint32_t baud) override {
        openThread = QThread::currentThread();
        QThread::msleep(300);
        return ForwardingDevice::Open(name, baud);
    }
    QThread* openThread = nullptr;
};

// Tells who holds a port by trying it, as Windows must, and notes the thread it tried on.
class TryingCatalog : public PortCatalog {
public:
    QList<SerialPortFacts> Ports() const override { return {}; }
    QString Holder(const QString&) const override {
        triedOn = QThread::currentThread();
        return QStringLiteral("another program");
    }
    mutable QThread* triedOn = nullptr;
};

}  // namespace

class TestController : public QObject {
    Q_OBJECT
private slots:
    void movement_data();
    void movement();
    void stopOwedToAnotherCamera_data();
    void stopOwedToAnotherCamera();
    void failedFramePauseFollowsTheNotice();
    void lineDropsAndHeals_data();
    void lineDropsAndHeals();
    void remoteHolds_data();
    void remoteHolds();
    void openingLeavesTheWindowLive_data();
    void openingLeavesTheWindowLive();
};

void TestController::movement_data() {
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QString>("moving");  // after each action
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QList<Notice>>("notices");

    const QByteArray zoom = "*00750100B7", stop = "*00750900BF";
    QTest::newRow("Z/I until the stop") << "Z/I stop"
                                        << "1 0" << zoom + stop << QList<Notice>();
    QTest::newRow("PC arrow until the stop") << "PC-Up stop"
                                             << "1 0" << zoom + stop << QList<Notice>();
    QTest::newRow("INIT and POWER start none")
        << "INIT POWER"
        << "0 0" << QByteArray("*00750E00CB*00750A00C7") << QList<Notice>();
    QTest::newRow("protocol change stops in the old protocol first")
        << "Z/I pelco"
        << "1 0" << zoom + stop << QList<Notice>();
    QTest::newRow("protocol change with nothing moving sends nothing")
        << "pelco oska"
        << "0 0" << QByteArray() << QList<Notice>();
    QTest::newRow("the same protocol again leaves the movement")
        << "Z/I oska"
        << "1 1" << zoom << QList<Notice>();
    QTest::newRow("a refused stop still ends the movement")
        << "Z/I refuse stop"
        << "1 1 0" << zoom << QList<Notice>{Notice::TransferError};
    QTest::newRow("a typed 256 is not committed")
        << "2 5 6 ENT"
        << "0 0 0 0" << QByteArray() << QList<Notice>{Notice::CameraIdRange};
}

void TestController::movement() {
    QFETCH(QString, actions);
    QFETCH(QString, moving);
    QFETCH(QByteArray, line);
    QFETCH(QList<Notice>, notices);

    Rig rig;
    const QStringList steps = actions.split(QLatin1Char(' '));
    const QStringList movingAfter = moving.split(QLatin1Char(' '));
    QCOMPARE(steps.size(), movingAfter.size());
    for (int i = 0; i < steps.size(); ++i) {
        QVERIFY2(rig.Act(steps[i]), qPrintable(steps[i]));
        QCOMPARE(rig.controller.MovementActive(), movingAfter[i] == QLatin1String("1"));
    }
    QCOMPARE(rig.device.Bytes(), line);
    QCOMPARE(rig.notices, notices);
    QCOMPARE(rig.controller.Settings().cameraId, 0);
}

// A camera stops only on the stop of its own address and protocol: the stop owed to the camera
// that moved (held, or refused at its release) goes out whole before any movement or stop for
// another camera, and a frame for that camera waits until it has.
void TestController::stopOwedToAnotherCamera_data() {
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("frames");  // bytes that went of each frame tried, in order
    QTest::addColumn<int>("refused");     // notices of a failed frame

    const QByteArray zoom0 = "*00750100B7", stop0 = "*00750900BF";
    const QByteArray zoom5 = "*05750100BC", stop5 = "*05750900C4";
    const QByteArray pelcoZoom5 = QByteArray::fromHex("FF050020000025");
    const QByteArray pelcoStop5 = QByteArray::fromHex("FF050000000005");
    QTest::newRow("OSKA stop refused, PELCO Z/I: the OSKA stop first")
        << "5 ENT Z/I refuse stop pelco Z/I stop" << zoom5 + stop5 + pelcoZoom5 + pelcoStop5
        << "11 0 11 7 7" << 1;
    QTest::newRow("the owed OSKA stop refused again: no PELCO movement")
        << "5 ENT Z/I refuse stop pelco refuse PC-Up Z/I stop"
        << zoom5 + stop5 + pelcoZoom5 + pelcoStop5 << "11 0 0 11 7 7" << 2;
    QTest::newRow("camera changed while Z/I held: the camera that moved stops first")
        << "Z/I 5 ENT stop" << zoom0 + stop0 + stop5 << "11 11 11" << 0;
    QTest::newRow("camera changed while the arrow is held")
        << "PC-Up 5 ENT stop" << zoom0 + stop0 + stop5 << "11 11 11" << 0;
    QTest::newRow("camera changed while held, another movement")
        << "Z/I 5 ENT PC-Up stop" << zoom0 + stop0 + zoom5 + stop5 << "11 11 11 11" << 0;
    QTest::newRow("camera changed while held, the moved camera's stop refused")
        << "Z/I 5 ENT refuse stop stop" << zoom0 + stop0 + stop5 << "11 0 11 11" << 1;
    QTest::newRow("the same camera: nothing more")
        << "Z/I PC-Up stop" << zoom0 + zoom0 + stop0 << "11 11 11" << 0;
    QTest::newRow("the same camera after a refused stop: its movement and stop only")
        << "Z/I refuse stop Z/I stop" << zoom0 + zoom0 + stop0 << "11 0 11 11" << 1;
    QTest::newRow("a stop with nothing owed, camera changed") << "5 ENT stop" << stop5 << "11" << 0;
}

void TestController::stopOwedToAnotherCamera() {
    QFETCH(QString, actions);
    QFETCH(QByteArray, line);
    QFETCH(QString, frames);
    QFETCH(int, refused);

    Rig rig;
    for (const QString& action : actions.split(QLatin1Char(' ')))
        QVERIFY2(rig.Act(action), qPrintable(action));
    QCOMPARE(rig.device.Bytes().toHex(' '), line.toHex(' '));
    QCOMPARE(rig.notices, QList<Notice>(refused, Notice::TransferError));
    // Each byte with its pause, each frame with its own; a refused frame's comes before the
    // next one.
    QVector<int> pauses;
    const QStringList sent = frames.split(QLatin1Char(' '));
    for (int i = 0; i < sent.size(); ++i) {
        pauses += QVector<int>(sent[i].toInt(), 2);
        if (sent[i] != QLatin1String("0") || i + 1 < sent.size())
            pauses << 25;
    }
    QCOMPARE(rig.pause.pauses, pauses);
}

void TestController::failedFramePauseFollowsTheNotice() {
    Rig rig;
    rig.device.refuseNth = rig.device.attempts + 4;
    QCOMPARE(rig.controller.PressKey(ControlId::ZoomIn), Notice::TransferError);
    // Three bytes out, each with its pause; the frame's own pause waits for the operator.
    QCOMPARE(rig.pause.pauses, (QVector<int>{2, 2, 2}));
    rig.controller.SettleFailedFrame();
    rig.controller.SettleFailedFrame();
    QCOMPARE(rig.pause.pauses, (QVector<int>{2, 2, 2, 25}));

    // The stop after the cut frame waits until a receiver has dropped it, 140 ms after its
    // last byte. Unsettled, a failure's pause is paid before the next frame's first byte.
    rig.pause.pauses.clear();
    rig.device.refuseNth = rig.device.attempts + 1;
    QCOMPARE(rig.controller.SendStop(), Notice::TransferError);
    QCOMPARE(rig.pause.pauses, QVector<int>({140 - 2 - 25}));
    QCOMPARE(rig.controller.SendStop(), Notice::None);
    QCOMPARE(rig.pause.pauses.mid(1, 1), QVector<int>({25}));
    QCOMPARE(rig.pause.pauses.size(), 1 + 1 + 11 + 1);
}

namespace {

// A frame in the rig's time line: each byte followed by its 2 ms pause, then the frame's 25.
QString Sent(const QByteArray& frame) {
    QStringList items;
    for (char byte : frame) items << QByteArray(1, byte).toHex().toUpper() << QStringLiteral("p2");
    return (items << QStringLiteral("p25")).join(QLatin1Char(' '));
}

}  // namespace

// A line that drops (the device says it is gone) is let go and opened again by itself,
// one attempt at a time after a growing pause; the first bytes on the line that is back
// are the stop owed, whole, with its pauses, and the status lines follow the line.
// One movement at a time, owned by whoever started it: a remote client's lives on its lease,
// another client's down is refused and its up ends nothing, the local operator always wins.
// PELCO D; the local operator's camera is 5, the clients name theirs.
void TestController::remoteHolds_data() {
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QString>("timeLine");  // {Z/I 12}, {stop 12}: whole frames
    QTest::newRow("held and let go") << "r1:Z/I@12 r1:up"
                                     << "{Z/I 12} r1:ok {stop 12} r1:ok";
    QTest::newRow("another client is refused, its up ends nothing")
        << "r1:Z/I@12 r2:Z/O@5 r2:up r1:up"
        << "{Z/I 12} r1:ok r2:HeldByOther(r1) r2:NotHolder(r1) {stop 12} r1:ok";
    QTest::newRow("a repeated down sends nothing; a lapse stops it once")
        << "r1:Z/I@12 r1:Z/I@12 r1:renew lapse lapse r1:up"
        << "{Z/I 12} r1:ok r1:ok r1:ok {stop 12} r1:lease-ended r1:NotHolder";
    QTest::newRow("another key of the holder's, then another camera's: the stop between")
        << "r1:Z/I@12 r1:Z/O@12 r1:Z/I@7 r1:gone"
        << "{Z/I 12} r1:ok {Z/O 12} r1:ok {stop 12} {Z/I 7} r1:ok {stop 7} r1:stopped";
    QTest::newRow("the local operator takes over, the stop first")
        << "r1:Z/I@12 PC-Up r1:up stop"
        << "{Z/I 12} r1:ok {stop 12} r1:taken-over {Z/I 5} r1:NotHolder(the local operator) "
           "{stop 5}";
    QTest::newRow("the local operator's release ends a client's movement")
        << "r1:Z/I@12 stop"
        << "{Z/I 12} r1:ok r1:taken-over {stop 12} {stop 5}";
    QTest::newRow("a client cannot take the local operator's movement")
        << "PC-Up r1:Z/I@12 stop"
        << "{Z/I 5} r1:HeldByOther(the local operator) {stop 5}";
    QTest::newRow("a stop the line refuses at the lapse stays owed and goes by itself")
        << "r1:Z/I@12 refuse lapse look"
        << "{Z/I 12} r1:ok r1:lease-ended {stop 12}";
    QTest::newRow("keys a client may not use, and a line that is down")
        << "r1:INIT@3 r1:POWER@300 r1:POWER@3 r1:ENT@3 unplug r1:Z/I@3"
        << "r1:KeyDisabled r1:CameraRange {POWER 3} r1:ok r1:UnknownKey close r1:LineDown";
}

void TestController::remoteHolds() {
    QFETCH(QString, actions);
    QFETCH(QString, timeLine);

    KeypadRig rig({{"PROTOCOL", 1}});
    rig.Select(5);
    rig.TakeLog();
    QVERIFY2(rig.Press(actions), qPrintable(actions));
    QString expected = timeLine;
    const QRegularExpression frame(QStringLiteral("\\{(\\S+) (\\d+)\\}"));
    for (QRegularExpressionMatch m = frame.match(expected); m.hasMatch();
         m = frame.match(expected)) {
        const int camera = m.captured(2).toInt();
        const QString key = m.captured(1);
        const uint8_t command2 = key == QLatin1String("Z/I")   ? 0x20
                                 : key == QLatin1String("Z/O") ? 0x40
                                                               : 0x00;
        const uint8_t command1 = key == QLatin1String("POWER") ? 0x08 : 0x00;
        QByteArray bytes = QByteArray::fromHex("FF") + char(camera) + char(command1) +
                           char(command2) + QByteArray(2, '\0');
        bytes += char((camera + command1 + command2) & 0xFF);
        expected.replace(m.capturedStart(), m.capturedLength(), Sent(bytes));
    }
    const QString log = rig.TakeLog().remove(QRegularExpression(QStringLiteral(" p\\d+(?= |$)")));
    expected.remove(QRegularExpression(QStringLiteral(" p\\d+(?= |$)")));
    QCOMPARE(log, expected);
}

void TestController::lineDropsAndHeals_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QString>("timeLine");  // {move}, {stop}, {power}: whole frames
    QTest::addColumn<QString>("delays");    // the pauses before the attempts

    const QString down = QStringLiteral("close TransferError p25");
    QTest::newRow("Up held, line lost, released while down, line back")
        << 0 << "PC-Up drop PC-Up stop lines heal lines PC-Up stop"
        << "{move} " + down +
               " TransferError p25 <Can't Open!> attempt open /dev/ttyS0 9600 "
               "{stop} <OSKA-DEF PROTOCOL> {move} {stop}"
        << "200";
    QTest::newRow("PELCO D: lost as the stop goes, back")
        << 1 << "Z/I drop stop heal lines"
        << "{move} " + down + " attempt open /dev/ttyS0 2400 {stop} <PELCO D PROTOCOL>"
        << "200";
    QTest::newRow("lost mid-stop: the whole stop again")
        << 0 << "Z/I drop@4 stop heal"
        << "{move} 2A p2 30 p2 30 p2 " + down + " attempt open /dev/ttyS0 9600 {stop}"
        << "200";
    QTest::newRow("attempts that find no device back off")
        << 1 << "Z/I drop stop nodevice nodevice nodevice nodevice lines heal"
        << "{move} " + down +
               " attempt open /dev/ttyS0 2400 attempt open /dev/ttyS0 2400 attempt open "
               "/dev/ttyS0 2400 attempt open /dev/ttyS0 2400 <Can't Open!> attempt open "
               "/dev/ttyS0 2400 {stop}"
        << "200 500 1000 1000 1000";
    QTest::newRow("a frame while down fails and is not kept")
        << 0 << "Z/I drop stop POWER heal"
        << "{move} " + down + " TransferError p25 attempt open /dev/ttyS0 9600 {stop}"
        << "200";
    QTest::newRow("a movement while down is not kept")
        << 1 << "Z/I drop stop PC-Down heal"
        << "{move} " + down + " TransferError p25 attempt open /dev/ttyS0 2400 {stop}"
        << "200";
    QTest::newRow("lost again as the owed stop goes out")
        << 0 << "Z/I drop stop drop heal lines heal"
        << "{move} " + down +
               " attempt open /dev/ttyS0 9600 close <Can't Open!> attempt open "
               "/dev/ttyS0 9600 {stop}"
        << "200 200";
    QTest::newRow("COMMUNICATION SET ends the healing, the stop first")
        << 0 << "Z/I drop stop COMSET heal lines"
        << "{move} " + down + " open /dev/ttyS0 9600 {stop} no-attempt <OSKA-DEF PROTOCOL>"
        << "200";
    QTest::newRow("COMMUNICATION SET on another port lets the stop go")
        << 1 << "Z/I drop stop COM2 COMSET heal"
        << "{move} " + down + " open /dev/ttyS1 2400 no-attempt"
        << "200";
    QTest::newRow("the line back is the one opened, whatever the rows say since")
        << 0 << "Z/I drop stop COM2 heal port"
        << "{move} " + down + " attempt open /dev/ttyS0 9600 {stop} <PORT : COM1>"
        << "200";
    QTest::newRow("the program's end stops the healing") << 0 << "Z/I drop stop end heal"
                                                         << "{move} " + down + " no-attempt"
                                                         << "200";
    QTest::newRow("lost with no frame going: noticed, back, then keys work")
        << 0 << "look unplug lines heal lines POWER"
        << "close <Can't Open!> attempt open /dev/ttyS0 9600 <OSKA-DEF PROTOCOL> {power}"
        << "200";
    QTest::newRow("lost under a held key: the stop as soon as it is back")
        << 1 << "PC-Up unplug heal stop"
        << "{move} close attempt open /dev/ttyS0 2400 {stop} {stop}"
        << "200";
    QTest::newRow("lost under a held key, released while down")
        << 0 << "Z/I unplug stop heal"
        << "{move} close TransferError p25 attempt open /dev/ttyS0 9600 {stop}"
        << "200";
    QTest::newRow("a stalled stop stays owed, the line stays open; it goes before the next frame")
        << 0 << "Z/I refuse stop lines POWER COMSET"
        << "{move} TransferError p25 <OSKA-DEF PROTOCOL> {stop} {power} close p100 open "
           "/dev/ttyS0 9600"
        << "";
    QTest::newRow("a new movement's stop takes the place of one owed")
        << 1 << "Z/I refuse stop PC-Up stop COMSET"
        << "{move} TransferError p25 {move} {stop} close p100 open /dev/ttyS0 2400"
        << "";
}

void TestController::lineDropsAndHeals() {
    QFETCH(int, protocol);
    QFETCH(QString, actions);
    QFETCH(QString, timeLine);
    QFETCH(QString, delays);

    KeypadRig rig({{"PROTOCOL", protocol}});
    QVERIFY2(rig.Press(actions), qPrintable(actions));
    const bool pelco = protocol == 1;
    const QString expected =
        QString(timeLine)
            .replace(QLatin1String("{move}"),
                     Sent(pelco ? Hex("FF000020000020") : QByteArray("*00750100B7")))
            .replace(QLatin1String("{stop}"),
                     Sent(pelco ? Hex("FF000000000000") : QByteArray("*00750900BF")))
            .replace(QLatin1String("{power}"), Sent("*00750A00C7"))
            // The rows name the built-in ports as Linux does.
            .replace(QLatin1String("/dev/ttyS0"), BuiltInPortName(1))
            .replace(QLatin1String("/dev/ttyS1"), BuiltInPortName(2));
    QCOMPARE(rig.TakeLog(), expected);
    QStringList pauses;
    for (int ms : rig.mender.delays) pauses << QString::number(ms);
    QCOMPARE(pauses.join(QLatin1Char(' ')), delays);
    // A line back after a drop shows the lines of an open port, ten in all.
    QCOMPARE(rig.controller.StatusTexts().size(), 10);
    QCOMPARE(rig.controller.PortHealing(), !rig.controller.PortOpen() && rig.mender.Scheduled());
    QCOMPARE(rig.controller.LineDropReason().isEmpty(), !rig.controller.PortHealing());
    QCOMPARE(rig.controller.AbandonedStopReason().isEmpty(), !actions.contains("COM2 COMSET"));
}

void TestController::openingLeavesTheWindowLive_data() {
    QTest::addColumn<bool>("atStart");
    QTest::addColumn<bool>("endsMeanwhile");
    QTest::newRow("start") << true << false;
    QTest::newRow("COMMUNICATION SET") << false << false;
    QTest::newRow("program ends while COMMUNICATION SET opens") << false << true;
}

void TestController::openingLeavesTheWindowLive() {
    QFETCH(bool, atStart);
    QFETCH(bool, endsMeanwhile);
    RecordingDevice line;
    SlowOpeningDevice device(line);
    RecordingPause pause;
    MemoryProfile profile;
    ThreadedLineMender mender;
    TryingCatalog ports;
    KeypadController controller{KeypadServices{device, pause, profile, &ports, nullptr, &mender}};
    if (!atStart)
        controller.OnInitDialog();
    device.openThread = nullptr;
    // The window's own loop: it must run while the port opens.
    int turns = 0;
    bool released = true;
    QTimer turn;
    connect(&turn, &QTimer::timeout, this, [&] {
        if (++turns == 1 && endsMeanwhile)
            released = controller.ReleasePort().wasOpen;
    });
    turn.start(10);
    if (atStart)
        controller.OnInitDialog();
    else
        controller.ApplyCommunicationSettings();
    turn.stop();

    QVERIFY(device.openThread);
    QVERIFY(device.openThread != QThread::currentThread());
    QVERIFY(turns > 0);
    // A port released while it opened is let go once the opening returns, and was never
    // the program's to report as released.
    QCOMPARE(released, !endsMeanwhile);
    QCOMPARE(line.isOpen, !endsMeanwhile);
    QCOMPARE(controller.PortOpen(), !endsMeanwhile);
    QCOMPARE(controller.StatusTexts().value(3).contains(QLatin1String("PROTOCOL")), !endsMeanwhile);
}

QTEST_GUILESS_MAIN(TestController)
#include "tst_controller.moc"
