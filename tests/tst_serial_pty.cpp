// The serial link on a real line: a pseudo-terminal pair stands in for the COM port, the
// link opens its slave through the profile's port mapping, and the test reads what
// arrives on the master and looks at the line settings from that side.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <iterator>

#include "fakes.h"
#include "profile/port_map.h"
#include "protocol/camera_id_entry.h"
#include "protocol/command_set.h"
#include "protocol/status_list.h"
#include "pty_pair.h"
#include "serial/device/local_serial_device.h"
#include "serial/line/serial_link.h"

namespace {

constexpr qint64 kNsPerMs = 1000000;
// The line timing the link owes, written out here rather than taken from the link.
constexpr int kBytePauseMs = 2;
constexpr int kFramePauseMs = 25;
constexpr int kClosePauseMs = 100;
constexpr int kQuietMs = 50;

// Wraps the real device and stamps every write's start and return on one clock, so the
// gaps the link leaves between bytes can be checked as the writer sees them. A hook runs
// before each write (to stall the line at a chosen byte).
class TimedDevice : public SerialDevice {
public:
    struct Record {
        uint32_t result;
        int timeoutMs;
        qint64 startNs;
        qint64 endNs;
    };

    explicit TimedDevice(SerialDevice& inner) : inner(inner) { clock.start(); }

    bool Open(const QString& name, uint32_t baud) override { return inner.Open(name, baud); }
    void Close() override { inner.Close(); }
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override {
        if (beforeWrite)
            beforeWrite(writes.size());
        const qint64 start = clock.nsecsElapsed();
        const uint32_t result = inner.Write(data, count, timeoutMs);
        writes.append({result, timeoutMs, start, clock.nsecsElapsed()});
        return result;
    }

    std::function<void(int index)> beforeWrite;
    QVector<Record> writes;
    QElapsedTimer clock;

private:
    SerialDevice& inner;
};

// One link on one pseudo-terminal, with COM<port> mapped to the slave in the profile,
// real pauses, and the command set on top.
struct LineRig {
    explicit LineRig(int comPort = 1) {
        profile.values.insert(QStringLiteral("Ports/COM%1").arg(comPort), pty.slavePath());
        pause.real = true;
    }

    int Open(uint32_t baud = 9600, int comPort = 1) { return link.OpenPort(comPort, baud); }

    void SendFrame(int protocol, int cameraId, int a, int b, int c, int d) {
        state.protocol = protocol;
        state.cameraId = cameraId;
        // As the panel does: the operator is told, then the frame's closing pause follows.
        if (commands.SendCommand(a, b, c, d) != Notice::None) {
            messages.ShowMessage(QString::fromLatin1(kTransferErrorText));
            commands.SettleFailedFrame();
        }
    }

    PtyPair pty;
    MemoryProfile profile;
    LocalSerialDevice serial;
    TimedDevice device{serial};
    RecordingPause pause;
    RecordingMessages messages;
    ControllerState state;
    CSerialLink link{device, pause, [this](int port) { return PortDeviceName(port, profile); }};
    StatusList lines;
    CameraIdEntry entry{state, lines};
    CommandSet commands{state, link, entry};
};

// Fills the line until it takes not one byte more. Large writes stop while the kernel's
// last buffer still has room for a few bytes, so the end is topped up byte by byte; each
// round waits a moment so that bytes the kernel is still moving cannot free room later.
qint64 StallLine(PtyPair& pty) {
    const int flags = ::fcntl(pty.slaveFd, F_GETFL);
    ::fcntl(pty.slaveFd, F_SETFL, flags | O_NONBLOCK);
    qint64 total = 0;
    for (;;) {
        qint64 round = pty.FillUntilStalled();
        const char byte = 'x';
        while (::write(pty.slaveFd, &byte, 1) == 1) {
            ++round;
        }
        total += round;
        if (round == 0)
            break;
        QThread::msleep(5);
    }
    ::fcntl(pty.slaveFd, F_SETFL, flags);
    return total;
}

struct FrameCase {
    const char* name;
    int protocol;
    int cameraId;
    int a, b, c, d;
    const char* expectedHex;
};

// Expected bytes worked out by hand from the framing rules. The PELCO D rows put 0x0A,
// 0x0D, 0x11, 0x13 and 0xFF (newline, carriage return, XON, XOFF, sync) in the address,
// command, data and checksum places, where any line processing would show.
const FrameCase kFrames[] = {
    {"OSKA cam 12 zoom in *0C750100CA", ProtocolOskaDefault, 12, '0', '1', 0, 0,
     "2A 30 43 37 35 30 31 30 30 43 41"},
    {"OSKA cam 0 zoom in *00750100B7", ProtocolOskaDefault, 0, '0', '1', 0, 0,
     "2A 30 30 37 35 30 31 30 30 42 37"},
    {"OSKA cam 255 zoom in *FF750100E3", ProtocolOskaDefault, 255, '0', '1', 0, 0,
     "2A 46 46 37 35 30 31 30 30 45 33"},
    {"OSKA cam 10 zoom out *0A750300CA", ProtocolOskaDefault, 10, '0', '3', 0, 0,
     "2A 30 41 37 35 30 33 30 30 43 41"},
    {"OSKA cam 19 menu up *13751000BB", ProtocolOskaDefault, 19, '1', '0', 0, 0,
     "2A 31 33 37 35 31 30 30 30 42 42"},
    {"PELCO cam 12 zoom in", ProtocolPelcoD, 12, 0x00, 0x20, 0x00, 0x00, "FF 0C 00 20 00 00 2C"},
    {"PELCO cam 0x0A zoom in", ProtocolPelcoD, 0x0A, 0x00, 0x20, 0x00, 0x00,
     "FF 0A 00 20 00 00 2A"},
    {"PELCO cam 0x0D stop", ProtocolPelcoD, 0x0D, 0x00, 0x00, 0x00, 0x00, "FF 0D 00 00 00 00 0D"},
    {"PELCO cam 0x11 focus near", ProtocolPelcoD, 0x11, 0x01, 0x00, 0x00, 0x00,
     "FF 11 01 00 00 00 12"},
    {"PELCO cam 0x13 zoom out", ProtocolPelcoD, 0x13, 0x00, 0x40, 0x00, 0x00,
     "FF 13 00 40 00 00 53"},
    {"PELCO cam 0x13 control bytes everywhere", ProtocolPelcoD, 0x13, 0x0A, 0x0D, 0x11, 0x13,
     "FF 13 0A 0D 11 13 4E"},
    {"PELCO cam 0x0A with sync byte as data", ProtocolPelcoD, 0x0A, 0x0D, 0x11, 0x13, 0xFF,
     "FF 0A 0D 11 13 FF 3A"},
    {"PELCO checksum wraps to 0x0A", ProtocolPelcoD, 0xEA, 0x00, 0x20, 0x00, 0x00,
     "FF EA 00 20 00 00 0A"},
    {"PELCO checksum wraps to 0x11", ProtocolPelcoD, 0xF1, 0x00, 0x20, 0x00, 0x00,
     "FF F1 00 20 00 00 11"},
    {"PELCO checksum wraps to 0x13", ProtocolPelcoD, 0xF3, 0x00, 0x20, 0x00, 0x00,
     "FF F3 00 20 00 00 13"},
    {"PELCO cam 255 zoom in", ProtocolPelcoD, 255, 0x00, 0x20, 0x00, 0x00, "FF FF 00 20 00 00 1F"},
    {"PELCO cam 1 stop", ProtocolPelcoD, 1, 0x00, 0x00, 0x00, 0x00, "FF 01 00 00 00 00 01"},
};

QByteArray Hex(const char* spaced) {
    return QByteArray::fromHex(QByteArray(spaced));
}

// The pauses of one frame whose first bytesSent bytes went out.
QVector<int> FramePauses(int bytesSent) {
    QVector<int> pauses(bytesSent, kBytePauseMs);
    pauses.append(kFramePauseMs);
    return pauses;
}

// Settings the link must undo: output processing that rewrites 0x0A and 0x0D, software
// flow control, parity, two stop bits, a foreign speed, and the RTS/CTS handshake.
void SpoilLineSettings(int fd, bool hardwareHandshake) {
    struct termios settings {};
    ::tcgetattr(fd, &settings);
    settings.c_oflag |= OPOST | ONLCR | OCRNL;
    settings.c_iflag |= IXON | IXOFF | INPCK;
    settings.c_cflag |= CSTOPB | PARENB;
    if (hardwareHandshake)
        settings.c_cflag |= CRTSCTS;
    else
        settings.c_cflag &= ~CRTSCTS;
    ::cfsetspeed(&settings, B115200);
    ::tcsetattr(fd, TCSANOW, &settings);
}

// The access mode of each descriptor this process holds on path, except skipFd.
QVector<int> AccessModesOf(const QString& path, int skipFd) {
    QVector<int> modes;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& entry : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        const int fd = entry.toInt();
        if (fd == skipFd || QFile::symLinkTarget(fds.filePath(entry)) != path)
            continue;
        QFile info(QStringLiteral("/proc/self/fdinfo/%1").arg(fd));
        if (!info.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : info.readAll().split('\n')) {
            if (line.startsWith("flags:"))
                modes << (line.mid(6).trimmed().toInt(nullptr, 8) & O_ACCMODE);
        }
    }
    return modes;
}

}  // namespace

class TestSerialPty : public QObject {
    Q_OBJECT
private slots:
    void frameArrivesByteForByte_data();
    void frameArrivesByteForByte();
    void lineSettings_data();
    void lineSettings();
    void portOpenedWriteOnly();
    void bytesSentBeforeCloseReachTheLine();
    void secondOpenerFails();
    void comNumberFromProfile();
    void fallbackDeviceName_data();
    void fallbackDeviceName();
    void refusesNonTerminal_data();
    void refusesNonTerminal();
    void refusesBaudZero();
    void stalledByteTimesOutAndIsDropped_data();
    void stalledByteTimesOutAndIsDropped();
    void stalledFrameStopsAtRefusedByte_data();
    void stalledFrameStopsAtRefusedByte();
    void acceptedBytesSurviveALaterRefusal();
    void unpluggedLine();
    void noByteSentTwice();
    void pausesBetweenBytesAndFrames();
    void closePortPausesAndReleases();
};

void TestSerialPty::frameArrivesByteForByte_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("cameraId");
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("c");
    QTest::addColumn<int>("d");
    QTest::addColumn<QByteArray>("expected");
    for (const FrameCase& f : kFrames)
        QTest::newRow(f.name) << f.protocol << f.cameraId << f.a << f.b << f.c << f.d
                              << Hex(f.expectedHex);
}

void TestSerialPty::frameArrivesByteForByte() {
    QFETCH(int, protocol);
    QFETCH(int, cameraId);
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, c);
    QFETCH(int, d);
    QFETCH(QByteArray, expected);

    LineRig rig;
    QVERIFY(rig.pty.ok());
    QCOMPARE(rig.Open(9600), 1);
    rig.SendFrame(protocol, cameraId, a, b, c, d);

    QCOMPARE(rig.pty.Read(expected.size()).toHex(' '), expected.toHex(' '));
    QCOMPARE(rig.pty.ReadAvailable(kQuietMs), QByteArray());
    QCOMPARE(rig.messages.shown, QStringList());
    QCOMPARE(rig.pause.pauses, FramePauses(expected.size()));
    QCOMPARE(rig.device.writes.size(), expected.size());
    for (const auto& w : rig.device.writes) {
        QCOMPARE(w.result, 1u);
    }
}

void TestSerialPty::lineSettings_data() {
    QTest::addColumn<uint>("baud");
    QTest::addColumn<uint>("speed");
    QTest::addColumn<bool>("handshake");
    QTest::newRow("2400") << 2400u << uint(B2400) << false;
    QTest::newRow("4800") << 4800u << uint(B4800) << false;
    QTest::newRow("9600") << 9600u << uint(B9600) << false;
    QTest::newRow("19200") << 19200u << uint(B19200) << false;
    QTest::newRow("2400, left with RTS/CTS") << 2400u << uint(B2400) << true;
    QTest::newRow("9600, left with RTS/CTS") << 9600u << uint(B9600) << true;
    QTest::newRow("19200, left with RTS/CTS") << 19200u << uint(B19200) << true;
}

void TestSerialPty::lineSettings() {
    QFETCH(uint, baud);
    QFETCH(uint, speed);
    QFETCH(bool, handshake);

    LineRig rig;
    SpoilLineSettings(rig.pty.slaveFd, handshake);
    QCOMPARE(rig.Open(baud), 1);

    const struct termios line = rig.pty.LineSettings();
    QCOMPARE(uint(::cfgetospeed(&line)), speed);
    QCOMPARE(uint(::cfgetispeed(&line)), speed);
    QCOMPARE(line.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(line.c_cflag & PARENB, tcflag_t(0));
    QCOMPARE(line.c_iflag & INPCK, tcflag_t(0));
    QCOMPARE(line.c_cflag & CSTOPB, tcflag_t(0));
    QCOMPARE(line.c_iflag & (IXON | IXOFF), tcflag_t(0));
    QCOMPARE(line.c_oflag & OPOST, tcflag_t(0));
    // Whatever the last program left, a write never waits for CTS.
    QCOMPARE(line.c_cflag & CRTSCTS, tcflag_t(0));

    // With output processing left on, 0x0A would leave as 0x0D 0x0A and 0x0D as 0x0A.
    const QByteArray raw = Hex("0A 0D 11 13 FF 00 7F");
    for (char byte : raw)
        QCOMPARE(rig.link.WriteBytes(reinterpret_cast<const uint8_t*>(&byte), 1), 1u);
    QCOMPARE(rig.pty.Read(raw.size()).toHex(' '), raw.toHex(' '));
    QCOMPARE(rig.pty.ReadAvailable(kQuietMs), QByteArray());
    QCOMPARE(rig.device.writes.last().timeoutMs, int(19200 / baud));
}

void TestSerialPty::portOpenedWriteOnly() {
    LineRig rig;
    QCOMPARE(rig.Open(), 1);
    QCOMPARE(AccessModesOf(rig.pty.slavePath(), rig.pty.slaveFd), QVector<int>{O_WRONLY});
    rig.link.ClosePort();
    QCOMPARE(AccessModesOf(rig.pty.slavePath(), rig.pty.slaveFd), QVector<int>{});
}

// A stop sent just before the port is closed must not be thrown away by the close.
void TestSerialPty::bytesSentBeforeCloseReachTheLine() {
    LineRig rig;
    QCOMPARE(rig.Open(), 1);
    const QByteArray stop = "*00750900BF";
    for (char byte : stop)
        QCOMPARE(rig.link.WriteBytes(reinterpret_cast<const uint8_t*>(&byte), 1), 1u);
    rig.link.ClosePort();
    QCOMPARE(rig.pty.ReadAvailable(kQuietMs), stop);
}

void TestSerialPty::secondOpenerFails() {
    LineRig rig;
    QCOMPARE(rig.Open(), 1);

    LocalSerialDevice otherDevice;
    RecordingPause otherPause;
    CSerialLink other(otherDevice, otherPause,
                      [&rig](int port) { return PortDeviceName(port, rig.profile); });
    QCOMPARE(other.OpenPort(1, 9600), 0);
    QVERIFY(!other.isOpen());
    LocalSerialDevice bare;
    QVERIFY(!bare.Open(rig.pty.slavePath(), 9600));

    // The refused openers left the holder's line as it was.
    const uint8_t first = 0x41;
    QCOMPARE(rig.link.WriteBytes(&first, 1), 1u);
    QCOMPARE(rig.pty.Read(1), QByteArray("A"));
    QCOMPARE(other.WriteBytes(&first, 1), 0u);

    rig.link.ClosePort();
    QCOMPARE(other.OpenPort(1, 4800), 1);
    QVERIFY(other.isOpen());
    const uint8_t second = 0x42;
    QCOMPARE(other.WriteBytes(&second, 1), 1u);
    QCOMPARE(rig.pty.Read(1), QByteArray("B"));
    const struct termios line = rig.pty.LineSettings();
    QCOMPARE(uint(::cfgetospeed(&line)), uint(B4800));
    QCOMPARE(rig.pty.ReadAvailable(kQuietMs), QByteArray());
    other.ClosePort();
}

void TestSerialPty::comNumberFromProfile() {
    LineRig rig(7);
    QCOMPARE(rig.Open(9600, 7), 1);
    rig.SendFrame(ProtocolPelcoD, 12, 0x00, 0x20, 0x00, 0x00);
    QCOMPARE(rig.pty.Read(7).toHex(' '), Hex("FF 0C 00 20 00 00 2C").toHex(' '));
    rig.link.ClosePort();

    // Opened again at another rate, the line takes that rate.
    QCOMPARE(rig.Open(2400, 7), 1);
    const struct termios line = rig.pty.LineSettings();
    QCOMPARE(uint(::cfgetospeed(&line)), uint(B2400));
    rig.link.ClosePort();
}

void TestSerialPty::fallbackDeviceName_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("mappedKey");
    QTest::addColumn<QString>("mappedValue");
    QTest::addColumn<QString>("expected");
    QTest::newRow("COM1 unmapped") << 1 << QString() << QString() << "/dev/ttyS0";
    QTest::newRow("COM3 unmapped") << 3 << QString() << QString() << "/dev/ttyS2";
    QTest::newRow("COM4 unmapped") << 4 << QString() << QString() << "/dev/ttyS3";
    QTest::newRow("COM7 unmapped") << 7 << QString() << QString() << "/dev/ttyS6";
    QTest::newRow("COM12 unmapped") << 12 << QString() << QString() << "/dev/ttyS11";
    QTest::newRow("COM2 beside a mapped COM1") << 2 << "COM1"
                                               << "/dev/ttyUSB0"
                                               << "/dev/ttyS1";
    QTest::newRow("COM1 mapped") << 1 << "COM1"
                                 << "/dev/ttyUSB0"
                                 << "/dev/ttyUSB0";
    QTest::newRow("COM7 mapped") << 7 << "COM7"
                                 << "/dev/ttyACM2"
                                 << "/dev/ttyACM2";
}

void TestSerialPty::fallbackDeviceName() {
    QFETCH(int, port);
    QFETCH(QString, mappedKey);
    QFETCH(QString, mappedValue);
    QFETCH(QString, expected);
    MemoryProfile profile;
    if (!mappedKey.isEmpty())
        profile.values.insert(QStringLiteral("Ports/") + mappedKey, mappedValue);
    QCOMPARE(PortDeviceName(port, profile), expected);
}

void TestSerialPty::refusesNonTerminal_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("regular file") << "file";
    QTest::newRow("directory") << "directory";
    QTest::newRow("/dev/null") << "null";
    QTest::newRow("named pipe") << "fifo";
    QTest::newRow("missing path") << "missing";
}

void TestSerialPty::refusesNonTerminal() {
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path;
    if (kind == QLatin1String("file")) {
        path = dir.filePath(QStringLiteral("port"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (kind == QLatin1String("directory")) {
        path = dir.path();
    } else if (kind == QLatin1String("null")) {
        path = QStringLiteral("/dev/null");
    } else if (kind == QLatin1String("fifo")) {
        path = dir.filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
    } else {
        path = dir.filePath(QStringLiteral("no-such-port"));
    }
    // A reader on the pipe, so that a wrongly opened pipe would take bytes.
    const int pipeReader = kind == QLatin1String("fifo")
                               ? ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK)
                               : -1;

    LineRig rig;
    rig.profile.values.insert(QStringLiteral("Ports/COM1"), path);
    QCOMPARE(rig.Open(9600), 0);
    QVERIFY(!rig.link.isOpen());
    const uint8_t byte = 0x0A;
    QCOMPARE(rig.link.WriteBytes(&byte, 1), 0u);
    rig.SendFrame(ProtocolOskaDefault, 12, '0', '1', 0, 0);
    QCOMPARE(rig.messages.shown, QStringList{QString::fromLatin1(kTransferErrorText)});

    if (kind == QLatin1String("file"))
        QCOMPARE(QFileInfo(path).size(), qint64(0));
    if (kind == QLatin1String("missing"))
        QVERIFY(!QFileInfo::exists(path));
    if (pipeReader >= 0) {
        char buffer[64];
        QCOMPARE(::read(pipeReader, buffer, sizeof buffer), ssize_t(0));
        ::close(pipeReader);
    }
}

void TestSerialPty::refusesBaudZero() {
    LineRig rig;
    SpoilLineSettings(rig.pty.slaveFd, false);
    QCOMPARE(rig.Open(0), 0);
    QVERIFY(!rig.link.isOpen());
    const uint8_t byte = 0x31;
    QCOMPARE(rig.link.WriteBytes(&byte, 1), 0u);
    // The line was not touched and is not held: its speed is still the foreign one, and
    // another opener gets it.
    const struct termios line = rig.pty.LineSettings();
    QCOMPARE(uint(::cfgetospeed(&line)), uint(B115200));
    QCOMPARE(rig.Open(9600), 1);
    QCOMPARE(rig.link.WriteBytes(&byte, 1), 1u);
    QCOMPARE(rig.pty.Read(1), QByteArray("1"));
}

void TestSerialPty::stalledByteTimesOutAndIsDropped_data() {
    QTest::addColumn<uint>("baud");
    QTest::addColumn<int>("timeoutMs");
    QTest::newRow("hand-edited 1") << 1u << 8;
    QTest::newRow("hand-edited 600") << 600u << 8;
    QTest::newRow("2400") << 2400u << 8;
    QTest::newRow("4800") << 4800u << 4;
    QTest::newRow("9600") << 9600u << 2;
    QTest::newRow("19200") << 19200u << 1;
    QTest::newRow("38400 never without time-out") << 38400u << 1;
    QTest::newRow("115200 never without time-out") << 115200u << 1;
}

void TestSerialPty::stalledByteTimesOutAndIsDropped() {
    QFETCH(uint, baud);
    QFETCH(int, timeoutMs);

    LineRig rig;
    QCOMPARE(rig.Open(baud), 1);
    const qint64 filled = StallLine(rig.pty);

    const uint8_t refused = 0xA5;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(rig.link.WriteBytes(&refused, 1), 0u);
    const qint64 took = timer.nsecsElapsed();
    QVERIFY2(took >= timeoutMs * kNsPerMs,
             qPrintable(QStringLiteral("returned after %1 us").arg(took / 1000)));
    // The time-out the device was given bounds how long a stalled line holds the window.
    QCOMPARE(rig.device.writes.last().timeoutMs, timeoutMs);
    QVERIFY(rig.link.isOpen());

    const QByteArray drained = rig.pty.ReadAvailable(kQuietMs);
    QVERIFY(filled > 0);
    QCOMPARE(drained.count('x'), drained.size());

    const uint8_t next = 0x5A;
    QCOMPARE(rig.link.WriteBytes(&next, 1), 1u);
    QCOMPARE(rig.pty.Read(1), QByteArray("Z"));
    // The refused byte never follows, not even when the line is free again.
    QCOMPARE(rig.link.WriteBytes(&next, 1), 1u);
    QCOMPARE(rig.pty.ReadAvailable(kQuietMs * 2), QByteArray("Z"));
}

void TestSerialPty::stalledFrameStopsAtRefusedByte_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("stallAt");
    QTest::addColumn<QByteArray>("frame");
    const QByteArray oska = Hex("2A 30 43 37 35 30 31 30 30 43 41");
    const QByteArray pelco = Hex("FF 0C 00 20 00 00 2C");
    QTest::newRow("OSKA first byte") << int(ProtocolOskaDefault) << 0 << oska;
    QTest::newRow("OSKA fourth byte") << int(ProtocolOskaDefault) << 3 << oska;
    QTest::newRow("OSKA last byte") << int(ProtocolOskaDefault) << 10 << oska;
    QTest::newRow("PELCO first byte") << int(ProtocolPelcoD) << 0 << pelco;
    QTest::newRow("PELCO fourth byte") << int(ProtocolPelcoD) << 3 << pelco;
    QTest::newRow("PELCO checksum") << int(ProtocolPelcoD) << 6 << pelco;
}

void TestSerialPty::stalledFrameStopsAtRefusedByte() {
    QFETCH(int, protocol);
    QFETCH(int, stallAt);
    QFETCH(QByteArray, frame);

    LineRig rig;
    QCOMPARE(rig.Open(9600), 1);
    qint64 filled = 0;
    rig.device.beforeWrite = [&](int index) {
        if (index == stallAt)
            filled = StallLine(rig.pty);
    };
    if (protocol == ProtocolOskaDefault)
        rig.SendFrame(protocol, 12, '0', '1', 0, 0);
    else
        rig.SendFrame(protocol, 12, 0x00, 0x20, 0x00, 0x00);
    rig.device.beforeWrite = nullptr;

    QCOMPARE(rig.messages.shown, QStringList{QString::fromLatin1(kTransferErrorText)});
    QCOMPARE(rig.device.writes.size(), stallAt + 1);
    QCOMPARE(rig.device.writes.last().result, 0u);
    QCOMPARE(rig.pause.pauses, FramePauses(stallAt));
    // The bytes before the refused one went out; the refused one and the rest never do.
    const QByteArray drained = rig.pty.ReadAvailable(kQuietMs);
    QVERIFY(filled > 0);
    QCOMPARE(drained.left(stallAt).toHex(' '), frame.left(stallAt).toHex(' '));
    QCOMPARE(drained.mid(stallAt).count('x'), drained.size() - stallAt);
    QVERIFY(rig.link.isOpen());

    // The next frame starts again from its first byte.
    if (protocol == ProtocolOskaDefault)
        rig.SendFrame(protocol, 12, '0', '1', 0, 0);
    else
        rig.SendFrame(protocol, 12, 0x00, 0x20, 0x00, 0x00);
    QCOMPARE(rig.pty.Read(frame.size()).toHex(' '), frame.toHex(' '));
    QCOMPARE(rig.pty.ReadAvailable(kQuietMs), QByteArray());
    QCOMPARE(rig.messages.shown.size(), 1);
}

void TestSerialPty::acceptedBytesSurviveALaterRefusal() {
    LineRig rig;
    QCOMPARE(rig.Open(9600), 1);
    // A slow reader: the line already holds more than its reader has taken.
    const QByteArray backlog(8000, 'x');
    QCOMPARE(::write(rig.pty.slaveFd, backlog.constData(), backlog.size()),
             ssize_t(backlog.size()));
    rig.SendFrame(ProtocolPelcoD, 12, 0x00, 0x20, 0x00, 0x00);
    QCOMPARE(rig.messages.shown, QStringList());
    const QByteArray accepted = Hex("FF 0C 00 20 00 00 2C");

    // The line stalls; the next frame's first byte is refused.
    rig.device.beforeWrite = [&rig](int) { StallLine(rig.pty); };
    rig.SendFrame(ProtocolPelcoD, 12, 0x00, 0x00, 0x00, 0x00);
    rig.device.beforeWrite = nullptr;
    QCOMPARE(rig.messages.shown, QStringList{QString::fromLatin1(kTransferErrorText)});

    // Giving up the refused byte must not take back the frame the link reported as sent.
    const QByteArray drained = rig.pty.ReadAvailable(kQuietMs);
    QVERIFY2(drained.contains(accepted),
             qPrintable(QStringLiteral("the accepted frame is lost: %1 of %2 bytes arrived")
                            .arg(drained.size() - drained.count('x'))
                            .arg(accepted.size())));
    QCOMPARE(drained.size() - drained.count('x'), accepted.size());
}

void TestSerialPty::unpluggedLine() {
    LineRig rig;
    QCOMPARE(rig.Open(9600), 1);
    rig.pty.CloseMaster();

    const uint8_t byte = 0x55;
    QCOMPARE(rig.link.WriteBytes(&byte, 1), 0u);
    rig.SendFrame(ProtocolPelcoD, 12, 0x00, 0x20, 0x00, 0x00);
    QCOMPARE(rig.messages.shown, QStringList{QString::fromLatin1(kTransferErrorText)});
    rig.SendFrame(ProtocolOskaDefault, 12, '0', '1', 0, 0);
    QCOMPARE(rig.messages.shown.size(), 2);
    // One attempt for the lone byte and one for each frame's first byte.
    QCOMPARE(rig.device.writes.size(), 3);
    for (const auto& w : rig.device.writes) {
        QCOMPARE(w.result, 0u);
    }
    rig.link.ClosePort();
    QVERIFY(!rig.link.isOpen());
}

void TestSerialPty::noByteSentTwice() {
    LineRig rig;
    QCOMPARE(rig.Open(19200), 1);
    QByteArray expected;
    for (int round = 0; round < 2; ++round) {
        for (const FrameCase& f : kFrames) {
            rig.SendFrame(f.protocol, f.cameraId, f.a, f.b, f.c, f.d);
            expected += Hex(f.expectedHex);
        }
    }
    const QByteArray line = rig.pty.Read(expected.size(), 5000) + rig.pty.ReadAvailable(kQuietMs);
    QCOMPARE(line.size(), expected.size());
    QCOMPARE(line.toHex(' '), expected.toHex(' '));
    qint64 accepted = 0;
    for (const auto& w : rig.device.writes) {
        accepted += w.result;
    }
    QCOMPARE(accepted, qint64(expected.size()));
    QCOMPARE(rig.messages.shown, QStringList());
}

void TestSerialPty::pausesBetweenBytesAndFrames() {
    LineRig rig;
    QCOMPARE(rig.Open(9600), 1);
    QVector<int> frameLengths;
    for (int i = 0; i < 6; ++i) {
        const FrameCase& f = kFrames[i * 3 % std::size(kFrames)];
        rig.SendFrame(f.protocol, f.cameraId, f.a, f.b, f.c, f.d);
        frameLengths << Hex(f.expectedHex).size();
    }
    // A frame whose first byte is refused still keeps the next frame 25 ms away.
    bool stalled = false;
    rig.device.beforeWrite = [&](int) {
        if (!stalled)
            StallLine(rig.pty);
        stalled = true;
    };
    rig.SendFrame(ProtocolPelcoD, 1, 0, 0, 0, 0);
    rig.device.beforeWrite = nullptr;
    QCOMPARE(rig.messages.shown.size(), 1);
    rig.pty.ReadAvailable(kQuietMs);
    rig.SendFrame(ProtocolPelcoD, 1, 0, 0, 0, 0);
    frameLengths << 1 << 7;

    // Gaps run from the return of one write to the call of the next, as the writer sees them.
    const auto& w = rig.device.writes;
    int first = 0;
    for (int frame = 0; frame < frameLengths.size(); ++frame) {
        const int last = first + frameLengths[frame] - 1;
        for (int i = first + 1; i <= last; ++i) {
            const qint64 gap = w[i].startNs - w[i - 1].endNs;
            QVERIFY2(gap >= kBytePauseMs * kNsPerMs,
                     qPrintable(
                         QStringLiteral("byte gap %1 us in frame %2").arg(gap / 1000).arg(frame)));
        }
        if (frame + 1 < frameLengths.size()) {
            // After a whole frame the last byte's pause comes before the frame's own.
            const int floorMs = w[last].result == 1 ? kBytePauseMs + kFramePauseMs : kFramePauseMs;
            const qint64 gap = w[last + 1].startNs - w[last].endNs;
            QVERIFY2(
                gap >= floorMs * kNsPerMs,
                qPrintable(
                    QStringLiteral("frame gap %1 us after frame %2").arg(gap / 1000).arg(frame)));
        }
        first = last + 1;
    }
    QCOMPARE(first, w.size());
}

void TestSerialPty::closePortPausesAndReleases() {
    LineRig rig;
    QCOMPARE(rig.Open(9600), 1);
    QElapsedTimer timer;
    timer.start();
    rig.link.ClosePort();
    const qint64 took = timer.nsecsElapsed();
    QVERIFY2(took >= kClosePauseMs * kNsPerMs,
             qPrintable(QStringLiteral("ClosePort took %1 us").arg(took / 1000)));
    QCOMPARE(rig.pause.pauses.last(), kClosePauseMs);
    QVERIFY(!rig.link.isOpen());

    // A closed link holds no port: writes return 0 and nothing reaches the line.
    const uint8_t byte = 0x37;
    QCOMPARE(rig.link.WriteBytes(&byte, 1), 0u);
    rig.SendFrame(ProtocolPelcoD, 12, 0x00, 0x20, 0x00, 0x00);
    QCOMPARE(rig.messages.shown, QStringList{QString::fromLatin1(kTransferErrorText)});
    QCOMPARE(rig.pty.ReadAvailable(kQuietMs), QByteArray());
    QCOMPARE(AccessModesOf(rig.pty.slavePath(), rig.pty.slaveFd), QVector<int>{});

    // A link that never opened is the same.
    LineRig fresh;
    QCOMPARE(fresh.link.WriteBytes(&byte, 1), 0u);
}

QTEST_GUILESS_MAIN(TestSerialPty)
#include "tst_serial_pty.moc"
