#include <QtTest>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "control/keypad_controller.h"
#include "fakes.h"
#include "protocol/control_ids.h"
#include "serial/failsafe/line_guard.h"
#include "serial/failsafe/stop_sender.h"

// The movement record as the line keeps it, and the stop sender on it: a program that dies
// at any point of a movement leaves on the line whole frames ending in one stop, to the
// camera that moved.

namespace {

const QByteArray kOskaMove("*05750100BC");
const QByteArray kOskaStop("*05750900C4");
const QByteArray kPelcoMove = QByteArray::fromHex("FF050020000025");
const QByteArray kPelcoStop = QByteArray::fromHex("FF050000000005");

class LoggingGuard : public LineGuard {
public:
    explicit LoggingGuard(const RecordingDevice& device) : device(device) {}
    MovementRecord& Record() override { return record; }
    void LineOpened(intptr_t) override { log << QStringLiteral("opened"); }
    void LineClosed() override {
        log << QStringLiteral("closed with the device %1").arg(device.isOpen ? "open" : "shut");
    }
    MovementRecord record{};
    QStringList log;
    const RecordingDevice& device;
};

// Dies at its crashAt-th pause: the stop sender then writes what the record owes into a
// pipe, and the program's line takes nothing more.
class DyingPause : public Pause {
public:
    void Sleep(int) override {
        if (++count != crashAt)
            return;
        sent = SendOwedBytes(pipeIn, *record);
        device->isOpen = false;
    }
    int count = 0;
    int crashAt = 0;
    int sent = -1;
    int pipeIn = -1;
    MovementRecord* record = nullptr;
    RecordingDevice* device = nullptr;
};

const uint8_t* Data(const QByteArray& bytes) {
    return reinterpret_cast<const uint8_t*>(bytes.constData());
}

// A record whose movement frame went out up to sent bytes, its stop owed.
MovementRecord Moving(const QByteArray& move, const QByteArray& stop, int sent, LineKind kind) {
    MovementRecord record{};
    MovementLog::LineOpened(record, kind);
    MovementLog::BeginMovement(record, Data(stop), int(stop.size()));
    MovementLog::BeginFrame(record, Data(move), int(move.size()));
    for (int i = 0; i < sent; ++i) {
        MovementLog::BeginByte(record);
        MovementLog::ByteSent(record, 0);
    }
    return record;
}

QByteArray ReadAll(int fd) {
    QByteArray bytes;
    char chunk[256];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof(chunk))) > 0) bytes.append(chunk, int(n));
    return bytes;
}

}  // namespace

Q_DECLARE_METATYPE(LineKind)

class TestStopRecord : public QObject {
    Q_OBJECT
private slots:
    void deathAnywhere_data();
    void deathAnywhere();
    void guardLetsGoBeforeTheDevice();
    void secondSenderAfterARefusal_data();
    void secondSenderAfterARefusal();
    void stopAsTheLineCarriesIt_data();
    void stopAsTheLineCarriesIt();
};

void TestStopRecord::deathAnywhere_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("actions");
    QTest::addColumn<int>("crashAt");
    QTest::addColumn<bool>("owesStop");
    QTest::addColumn<LineKind>("kind");
    // Up, Up, stop: each frame's bytes and then the frame's pause are pauses to die in. Over
    // Telnet the PELCO D 0xFF goes doubled.
    const struct {
        int protocol;
        LineKind kind;
        const char* line;
    } lines[] = {{0, LineKind::Serial, "serial"},
                 {1, LineKind::Serial, "serial"},
                 {0, LineKind::Socket, "raw TCP"},
                 {1, LineKind::TelnetSocket, "Telnet"}};
    for (const auto& line : lines) {
        const int pauses = 3 * ((line.protocol ? kPelcoMove : kOskaMove).size() + 1);
        for (int at = 1; at <= pauses; ++at)
            QTest::addRow("%s over %s, Up Up stop, death at pause %d",
                          line.protocol ? "PELCO D" : "OSKA", line.line, at)
                << line.protocol << "PC-Up PC-Up stop" << at << (at <= pauses * 2 / 3) << line.kind;
    }
    QTest::newRow("POWER in flight, nothing moving")
        << 0 << "POWER" << 3 << false << LineKind::Serial;
    QTest::newRow("Z/I key held, death mid-frame") << 1 << "Z/I" << 4 << true << LineKind::Serial;
    QTest::newRow("nothing sent") << 0 << "" << 1 << false << LineKind::Serial;
}

void TestStopRecord::deathAnywhere() {
    QFETCH(int, protocol);
    QFETCH(QString, actions);
    QFETCH(int, crashAt);
    QFETCH(bool, owesStop);
    QFETCH(LineKind, kind);

    int pipeEnds[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pipeEnds), 0);
    RecordingDevice device;
    device.kind = kind;
    DyingPause pause;
    MemoryProfile profile;
    LoggingGuard guard(device);
    KeypadController controller(KeypadServices{device, pause, profile, nullptr, &guard});
    controller.OnInitDialog();
    controller.OnSelChangeProtocol(protocol);
    controller.PressKey(ControlId::Key5);
    controller.PressKey(ControlId::Ent);
    pause = DyingPause{};
    pause.crashAt = crashAt;
    pause.pipeIn = pipeEnds[1];
    pause.record = &guard.record;
    pause.device = &device;
    for (const QString& action : actions.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (action == QLatin1String("PC-Up"))
            controller.PressPcKey(VirtualKey::Up);
        else if (action == QLatin1String("stop"))
            controller.SendStop();
        else
            controller.PressKey(action == QLatin1String("POWER") ? ControlId::Power
                                                                 : ControlId::ZoomIn);
    }
    if (pause.sent < 0)
        pause.Sleep(0);  // the death comes after the actions
    const QByteArray wire = ReadAll(pipeEnds[0]);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    const QByteArray after =
        kind == LineKind::TelnetSocket ? QByteArray(wire).replace("\xff\xff", "\xff") : wire;
    if (kind == LineKind::TelnetSocket)
        QCOMPARE(wire.size(), after.size() + after.count('\xff'));
    const QByteArray line = device.Bytes() + after;
    const QByteArray move = protocol ? kPelcoMove : kOskaMove;
    const QByteArray stop = protocol ? kPelcoStop : kOskaStop;
    QCOMPARE(pause.sent, int(after.size()));
    QCOMPARE(line.size() % move.size(), 0);
    QCOMPARE(line.endsWith(stop), owesStop || actions.endsWith(QLatin1String("stop")));
    QVERIFY2(line.count(stop) <= 1, line.toHex().constData());
    if (actions == QLatin1String("POWER"))
        QCOMPARE(line.size(), move.size());
    if (actions.isEmpty())
        QVERIFY(line.isEmpty());
    // A second sender after the first owes nothing.
    QCOMPARE(MovementLog::OwedBytes(guard.record).count, 0);
}

void TestStopRecord::guardLetsGoBeforeTheDevice() {
    RecordingDevice device;
    RecordingPause pause;
    MemoryProfile profile;
    LoggingGuard guard(device);
    KeypadController controller(KeypadServices{device, pause, profile, nullptr, &guard});
    controller.OnInitDialog();
    controller.ApplyCommunicationSettings();
    controller.ReleasePort();
    QCOMPARE(guard.log, QStringList({"opened", "closed with the device open", "opened",
                                     "closed with the device open"}));
}

// The crash handler's line takes only so many bytes, then nothing: the guardian after it
// sends the rest of what is owed, and a stop cut short goes again whole.
void TestStopRecord::secondSenderAfterARefusal_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("moveSent");  // of the movement frame, before the crash
    QTest::addColumn<int>("taken");     // bytes the first sender's line takes
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::newRow("OSKA stop refused at its first byte")
        << 0 << 11 << 0 << QByteArray() << kOskaStop;
    QTest::newRow("OSKA stop cut after five bytes")
        << 0 << 11 << 5 << kOskaStop.left(5) << kOskaStop;
    QTest::newRow("PELCO D stop cut before its checksum")
        << 1 << 7 << 6 << kPelcoStop.left(6) << kPelcoStop;
    QTest::newRow("rest of the movement went, the stop cut after two bytes")
        << 0 << 6 << 7 << kOskaMove.mid(6) + kOskaStop.left(2) << kOskaStop;
    QTest::newRow("rest of the movement cut: only the stop")
        << 1 << 4 << 1 << kPelcoMove.mid(4, 1) << kPelcoStop;
    QTest::newRow("all went: nothing more")
        << 1 << 3 << 64 << kPelcoMove.mid(3) + kPelcoStop << QByteArray();
}

void TestStopRecord::secondSenderAfterARefusal() {
    QFETCH(int, protocol);
    QFETCH(int, moveSent);
    QFETCH(int, taken);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);

    MovementRecord record = Moving(protocol ? kPelcoMove : kOskaMove,
                                   protocol ? kPelcoStop : kOskaStop, moveSent, LineKind::Serial);
    // A pipe of one page, filled but for taken bytes; a full pipe refuses the next byte.
    int full[2];
    QCOMPARE(::pipe2(full, O_NONBLOCK), 0);
    const int room = ::fcntl(full[1], F_SETPIPE_SZ, 4096);
    QCOMPARE(room, 4096);
    if (taken < room)
        QCOMPARE(::write(full[1], QByteArray(room - taken, 'x').constData(), room - taken),
                 ssize_t(room - taken));
    QCOMPARE(SendOwedBytes(full[1], record), int(first.size()));
    ::close(full[1]);
    const QByteArray wire = ReadAll(full[0]);
    ::close(full[0]);
    QCOMPARE(wire.right(first.size()).toHex(' '), first.toHex(' '));
    QCOMPARE(wire.size(), std::max(room - taken, 0) + first.size());

    int pipeEnds[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pipeEnds), 0);
    QCOMPARE(SendOwedBytes(pipeEnds[1], record), int(second.size()));
    QCOMPARE(ReadAll(pipeEnds[0]).toHex(' '), second.toHex(' '));
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    QCOMPARE(MovementLog::OwedBytes(record).count, 0);
}

// Over Telnet 0xFF goes doubled, and where the sending side is not in binary mode CR goes as
// CR NUL, as the program's own line writes them: the stop to camera 13 carries 0x0D twice,
// camera 255's 0xFF twice.
void TestStopRecord::stopAsTheLineCarriesIt_data() {
    QTest::addColumn<LineKind>("kind");
    QTest::addColumn<QByteArray>("stop");
    QTest::addColumn<QByteArray>("wire");
    const QByteArray stop13 = QByteArray::fromHex("FF0D000000000D");
    const QByteArray stop255 = QByteArray::fromHex("FFFF00000000FF");
    const QByteArray oska13("*0D750900D3");
    QTest::newRow("serial, camera 13") << LineKind::Serial << stop13 << stop13;
    QTest::newRow("raw TCP, camera 255") << LineKind::Socket << stop255 << stop255;
    QTest::newRow("Telnet binary, camera 13")
        << LineKind::TelnetSocket << stop13 << QByteArray::fromHex("FFFF0D000000000D");
    QTest::newRow("Telnet binary, camera 255")
        << LineKind::TelnetSocket << stop255 << QByteArray::fromHex("FFFFFFFF00000000FFFF");
    QTest::newRow("Telnet not binary, camera 13")
        << LineKind::TelnetTextSocket << stop13 << QByteArray::fromHex("FFFF0D00000000000D00");
    QTest::newRow("Telnet not binary, camera 255")
        << LineKind::TelnetTextSocket << stop255 << QByteArray::fromHex("FFFFFFFF00000000FFFF");
    QTest::newRow("Telnet not binary, OSKA camera 13")
        << LineKind::TelnetTextSocket << oska13 << oska13;
}

void TestStopRecord::stopAsTheLineCarriesIt() {
    QFETCH(LineKind, kind);
    QFETCH(QByteArray, stop);
    QFETCH(QByteArray, wire);

    MovementRecord record = Moving(QByteArray(), stop, 0, kind);
    int pipeEnds[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pipeEnds), 0);
    QCOMPARE(SendOwedBytes(pipeEnds[1], record), int(stop.size()));
    QCOMPARE(ReadAll(pipeEnds[0]).toHex(' '), wire.toHex(' '));
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

QTEST_GUILESS_MAIN(TestStopRecord)
#include "tst_stop_record.moc"
