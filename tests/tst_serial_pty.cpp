// The keypad on a real line: a pseudo-terminal pair stands in for the COM port, the core
// opens its slave through the profile's port mapping as the dialog has it do, and the test
// reads what arrives on the master and looks at the line settings from that side.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

#include "keypad_rig.h"
#include "pty_pair.h"
#include "serial/device/local_serial_device.h"

namespace {

constexpr qint64 kNsPerMs = 1000000;
constexpr int kQuietMs = 50;

// Stamps every write's start and return on one clock, so the gaps left between bytes can be
// checked as the writer sees them. A hook runs before each write (to stall the line).
class TimedDevice : public ForwardingDevice {
public:
    struct Record {
        uint32_t result;
        int timeoutMs;
        qint64 startNs;
        qint64 endNs;
    };

    using ForwardingDevice::ForwardingDevice;
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
};

// Settings the device must undo: output processing that rewrites 0x0A and 0x0D, software
// flow control, parity, two stop bits, a foreign speed, and the RTS/CTS handshake.
enum class Spoiled { No, Yes, WithHandshake };

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

// The keypad's core on a pseudo-terminal: COM<comPort> names its slave in the profile,
// bytes go through the real device with real pauses. The line is spoiled, if asked, before
// the dialog starts.
struct PtyRig {
    explicit PtyRig(Stored stored = {}, int comPort = 1, Spoiled spoiled = Spoiled::No) {
        stored.insert(QStringLiteral("Ports/COM%1").arg(comPort), pty.slavePath());
        if (spoiled != Spoiled::No)
            SpoilLineSettings(pty.slaveFd, spoiled == Spoiled::WithHandshake);
        core = std::make_unique<KeypadRig>(stored, &device);
        core->pause.real = true;
    }
    speed_t Speed() const {
        const struct termios line = pty.LineSettings();
        return ::cfgetospeed(&line);
    }

    PtyPair pty;
    LocalSerialDevice serial;
    TimedDevice device{serial};
    std::unique_ptr<KeypadRig> core;
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
    int camera;
    const char* key;
    const char* frame;  // OSKA-DEFAULT as text, PELCO D in hex
    QByteArray Bytes() const { return protocol == 0 ? QByteArray(frame) : Hex(frame); }
};

// Expected bytes worked out by hand. The PELCO D rows put 0x0A, 0x0D, 0x11, 0x13, 0x7F and
// 0xFF (newline, carriage return, XON, XOFF, DEL, sync) in the address and checksum places,
// where any line processing would show.
const FrameCase kFrames[] = {
    {"OSKA camera 12 Z/I", 0, 12, "Z/I", "*0C750100CA"},
    {"OSKA camera 0 Z/I", 0, 0, "Z/I", "*00750100B7"},
    {"OSKA camera 255 Z/I", 0, 255, "Z/I", "*FF750100E3"},
    {"OSKA camera 10 Z/O", 0, 10, "Z/O", "*0A750300CA"},
    {"OSKA camera 19 M/U", 0, 19, "M/U", "*13751000BB"},
    {"PELCO camera 12 Z/I", 1, 12, "Z/I", "FF 0C 00 20 00 00 2C"},
    {"PELCO camera 0x0A Z/I", 1, 0x0A, "Z/I", "FF 0A 00 20 00 00 2A"},
    {"PELCO camera 0x0D stop", 1, 0x0D, "stop", "FF 0D 00 00 00 00 0D"},
    {"PELCO camera 0x11 F/N", 1, 0x11, "F/N", "FF 11 01 00 00 00 12"},
    {"PELCO camera 0x13 Z/O", 1, 0x13, "Z/O", "FF 13 00 40 00 00 53"},
    {"PELCO checksum 0x0D", 1, 12, "F/N", "FF 0C 01 00 00 00 0D"},
    {"PELCO checksum 0x7F", 1, 0x5F, "Z/I", "FF 5F 00 20 00 00 7F"},
    {"PELCO checksum wraps to 0x0A", 1, 0xEA, "Z/I", "FF EA 00 20 00 00 0A"},
    {"PELCO checksum wraps to 0x0D", 1, 0xED, "Z/I", "FF ED 00 20 00 00 0D"},
    {"PELCO checksum wraps to 0x11", 1, 0xF1, "Z/I", "FF F1 00 20 00 00 11"},
    {"PELCO checksum wraps to 0x13", 1, 0xF3, "Z/I", "FF F3 00 20 00 00 13"},
    {"PELCO camera 255 Z/I", 1, 255, "Z/I", "FF FF 00 20 00 00 1F"},
    {"PELCO camera 1 stop", 1, 1, "stop", "FF 01 00 00 00 00 01"},
};

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
    void refusesNonTerminal_data();
    void refusesNonTerminal();
    void refusesBaudZero();
    void stalledByteTimesOutAndIsDropped_data();
    void stalledByteTimesOutAndIsDropped();
    void stalledFrameStopsAtRefusedByte_data();
    void stalledFrameStopsAtRefusedByte();
    void acceptedBytesSurviveALaterRefusal();
    void unpluggedLine();
    void unpluggedLineBackAtItsStableName_data();
    void unpluggedLineBackAtItsStableName();
    void noByteSentTwice();
    void pausesBetweenBytesAndFrames();
    void closePortPausesAndReleases();
};

void TestSerialPty::frameArrivesByteForByte_data() {
    QTest::addColumn<int>("index");
    for (int i = 0; i < int(std::size(kFrames)); ++i) QTest::newRow(kFrames[i].name) << i;
}

void TestSerialPty::frameArrivesByteForByte() {
    QFETCH(int, index);
    const FrameCase& f = kFrames[index];
    const QByteArray expected = f.Bytes();

    PtyRig rig({{"PROTOCOL", f.protocol}});
    QVERIFY(rig.pty.ok());
    QVERIFY(rig.core->controller.PortOpen());
    rig.core->Select(f.camera);
    QVERIFY(rig.core->Press(QString::fromLatin1(f.key)));

    QCOMPARE(rig.pty.Read(expected.size()).toHex(' '), expected.toHex(' '));
    QCOMPARE(rig.pty.ReadAvailable(kQuietMs), QByteArray());
    QCOMPARE(rig.core->notices, QList<Notice>());
    QCOMPARE(rig.core->pause.pauses, FramePauses(expected.size()));
    QCOMPARE(rig.device.writes.size(), expected.size());
    for (const auto& w : rig.device.writes) QCOMPARE(w.result, 1u);
}

// Whatever the last program left on the line, the port opens raw at its rate; the stops to
// cameras 10, 13, 17, 19 and 127 carry 0A 0D 11 13 7F FF 00, which output processing or
// software flow control would change or hold back.
void TestSerialPty::lineSettings_data() {
    QTest::addColumn<Stored>("stored");
    QTest::addColumn<uint>("speed");
    QTest::addColumn<bool>("handshake");
    QTest::addColumn<int>("timeoutMs");

    const Stored pelco{{"PROTOCOL", 1}};
    const auto other = [](int baud) { return Stored{{"PROTOCOL", 2}, {"BAUDRATE", baud}}; };
    QTest::newRow("2400, PELCO D") << pelco << uint(B2400) << false << 8;
    QTest::newRow("4800, protocol 2") << other(4800) << uint(B4800) << false << 4;
    QTest::newRow("9600, protocol 2") << other(9600) << uint(B9600) << false << 2;
    QTest::newRow("19200, protocol 2") << other(19200) << uint(B19200) << false << 1;
    QTest::newRow("2400, left with RTS/CTS") << pelco << uint(B2400) << true << 8;
    QTest::newRow("9600, left with RTS/CTS") << other(9600) << uint(B9600) << true << 2;
    QTest::newRow("19200, left with RTS/CTS") << other(19200) << uint(B19200) << true << 1;
}

void TestSerialPty::lineSettings() {
    QFETCH(Stored, stored);
    QFETCH(uint, speed);
    QFETCH(bool, handshake);
    QFETCH(int, timeoutMs);

    PtyRig rig(stored, 1, handshake ? Spoiled::WithHandshake : Spoiled::Yes);
    QVERIFY(rig.core->controller.PortOpen());
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

    QVERIFY(
        rig.core->Press(QStringLiteral("1 0 ENT stop 1 3 ENT stop 1 7 ENT stop 1 9 ENT stop "
                                       "1 2 7 ENT stop")));
    const QByteArray raw =
        Hex("FF 0A 00 00 00 00 0A FF 0D 00 00 00 00 0D FF 11 00 00 00 00 11"
            "FF 13 00 00 00 00 13 FF 7F 00 00 00 00 7F");
    QCOMPARE(rig.pty.Read(raw.size()).toHex(' '), raw.toHex(' '));
    QCOMPARE(rig.pty.ReadAvailable(kQuietMs), QByteArray());
    QCOMPARE(rig.device.writes.last().timeoutMs, timeoutMs);
}

void TestSerialPty::portOpenedWriteOnly() {
    PtyRig rig;
    QVERIFY(rig.core->controller.PortOpen());
    QCOMPARE(AccessModesOf(rig.pty.slavePath(), rig.pty.slaveFd), QVector<int>{O_WRONLY});
    QVERIFY(rig.core->controller.ReleasePort().wasOpen);
    QCOMPARE(AccessModesOf(rig.pty.slavePath(), rig.pty.slaveFd), QVector<int>{});
}

// A stop sent just before the port is released must not be thrown away by the close.
void TestSerialPty::bytesSentBeforeCloseReachTheLine() {
    PtyRig rig;
    QVERIFY(rig.core->Press(QStringLiteral("stop")));
    QVERIFY(rig.core->controller.ReleasePort().wasOpen);
    QCOMPARE(rig.pty.ReadAvailable(kQuietMs), QByteArray("*00750900BF"));
}

// A second program with the same port gets nothing until the first lets go.
void TestSerialPty::secondOpenerFails() {
    PtyRig rig;
    QVERIFY(rig.core->controller.PortOpen());

    LocalSerialDevice otherDevice;
    KeypadRig other({{"Ports/COM1", rig.pty.slavePath()}}, &otherDevice);
    QVERIFY(!other.controller.PortOpen());
    QVERIFY2(other.controller.OpenFailureReason().contains(QLatin1String("held by another")),
             qPrintable(other.controller.OpenFailureReason()));
    LocalSerialDevice bare;
    QVERIFY(!bare.Open(rig.pty.slavePath(), 9600));

    // The refused openers left the holder's line as it was.
    QVERIFY(rig.core->Press(QStringLiteral("stop")));
    QCOMPARE(rig.pty.Read(11), QByteArray("*00750900BF"));
    QVERIFY(other.Press(QStringLiteral("Z/I")));
    QCOMPARE(other.notices, QList<Notice>{Notice::TransferError});

    QVERIFY(rig.core->controller.ReleasePort().wasOpen);
    other.controller.OnSelChangeBaudRate(1);
    QVERIFY(other.controller.ApplyCommunicationSettings());
    QVERIFY(other.Press(QStringLiteral("stop")));
    QCOMPARE(rig.pty.Read(11), QByteArray("*00750900BF"));
    QCOMPARE(rig.Speed(), speed_t(B4800));
    QCOMPARE(rig.pty.ReadAvailable(kQuietMs), QByteArray());
    QVERIFY(other.controller.ReleasePort().wasOpen);
}

void TestSerialPty::comNumberFromProfile() {
    PtyRig rig({{"COMPORT", 7}, {"PROTOCOL", 1}}, 7);
    QVERIFY(rig.core->controller.PortOpen());
    QCOMPARE(rig.core->controller.StatusTexts().value(4), QStringLiteral("PORT : COM7"));
    rig.core->Select(12);
    QVERIFY(rig.core->Press(QStringLiteral("Z/I stop")));
    QCOMPARE(rig.pty.Read(14).toHex(' '),
             Hex("FF 0C 00 20 00 00 2C FF 0C 00 00 00 00 0C").toHex(' '));
    QCOMPARE(rig.Speed(), speed_t(B2400));

    // Opened again at another rate, the line takes that rate.
    rig.core->controller.OnSelChangeBaudRate(3);
    QVERIFY(rig.core->controller.ApplyCommunicationSettings());
    QCOMPARE(rig.Speed(), speed_t(B19200));
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

    LocalSerialDevice serial;
    KeypadRig rig({{"Ports/COM1", path}}, &serial);
    QVERIFY(!rig.controller.PortOpen());
    QVERIFY(rig.Press(QStringLiteral("Z/I")));
    QCOMPARE(rig.notices, QList<Notice>{Notice::TransferError});

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
    PtyRig rig({{"PROTOCOL", 2}, {"BAUDRATE", 0}}, 1, Spoiled::Yes);
    QVERIFY(!rig.core->controller.PortOpen());
    QVERIFY(rig.core->Press(QStringLiteral("stop")));
    QCOMPARE(rig.core->notices, QList<Notice>{Notice::TransferError});
    // The line was not touched and is not held: its speed is still the foreign one, and
    // it opens at a rate picked.
    QCOMPARE(rig.Speed(), speed_t(B115200));
    rig.core->controller.OnSelChangeBaudRate(2);
    QVERIFY(rig.core->controller.ApplyCommunicationSettings());
    QVERIFY(rig.core->Press(QStringLiteral("stop")));
    QCOMPARE(rig.pty.Read(7).toHex(' '), Hex("FF 00 00 00 00 00 00").toHex(' '));
}

// A line that takes nothing: the first byte of the next frame waits its time-out, then is
// dropped for good; the frame after goes out whole. Stored rates outside the rows come from
// a hand-edited profile under a protocol other than the two.
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

    PtyRig rig({{"PROTOCOL", 2}, {"BAUDRATE", baud}});
    QVERIFY(rig.core->controller.PortOpen());
    const qint64 filled = StallLine(rig.pty);
    QVERIFY(rig.core->Press(QStringLiteral("stop")));
    QCOMPARE(rig.core->notices, QList<Notice>{Notice::TransferError});
    QCOMPARE(rig.device.writes.size(), 1);
    const TimedDevice::Record refused = rig.device.writes.first();
    QCOMPARE(refused.result, 0u);
    // The time-out the device was given bounds how long a stalled line holds the window.
    QCOMPARE(refused.timeoutMs, timeoutMs);
    QVERIFY2(
        refused.endNs - refused.startNs >= timeoutMs * kNsPerMs,
        qPrintable(
            QStringLiteral("returned after %1 us").arg((refused.endNs - refused.startNs) / 1000)));
    QVERIFY(rig.core->controller.PortOpen());

    const QByteArray drained = rig.pty.ReadAvailable(kQuietMs);
    QVERIFY(filled > 0);
    QCOMPARE(drained.count('x'), drained.size());
    // The refused byte never follows, not even when the line is free again.
    QVERIFY(rig.core->Press(QStringLiteral("stop")));
    QCOMPARE(rig.pty.Read(7).toHex(' '), Hex("FF 00 00 00 00 00 00").toHex(' '));
    QCOMPARE(rig.pty.ReadAvailable(kQuietMs * 2), QByteArray());
}

void TestSerialPty::stalledFrameStopsAtRefusedByte_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("stallAt");
    QTest::addColumn<QByteArray>("frame");
    const QByteArray oska = "*0C750100CA";
    const QByteArray pelco = Hex("FF 0C 00 20 00 00 2C");
    QTest::newRow("OSKA first byte") << 0 << 0 << oska;
    QTest::newRow("OSKA fourth byte") << 0 << 3 << oska;
    QTest::newRow("OSKA last byte") << 0 << 10 << oska;
    QTest::newRow("PELCO first byte") << 1 << 0 << pelco;
    QTest::newRow("PELCO fourth byte") << 1 << 3 << pelco;
    QTest::newRow("PELCO checksum") << 1 << 6 << pelco;
}

void TestSerialPty::stalledFrameStopsAtRefusedByte() {
    QFETCH(int, protocol);
    QFETCH(int, stallAt);
    QFETCH(QByteArray, frame);

    PtyRig rig({{"PROTOCOL", protocol}});
    rig.core->Select(12);
    qint64 filled = 0;
    rig.device.beforeWrite = [&](int index) {
        if (index == stallAt)
            filled = StallLine(rig.pty);
    };
    QVERIFY(rig.core->Press(QStringLiteral("Z/I")));
    rig.device.beforeWrite = nullptr;

    QCOMPARE(rig.core->notices, QList<Notice>{Notice::TransferError});
    QCOMPARE(rig.device.writes.size(), stallAt + 1);
    QCOMPARE(rig.device.writes.last().result, 0u);
    QCOMPARE(rig.core->pause.pauses, QVector<int>(stallAt, 2) << 25);
    // The bytes before the refused one went out; the refused one and the rest never do.
    const QByteArray drained = rig.pty.ReadAvailable(kQuietMs);
    QVERIFY(filled > 0);
    QCOMPARE(drained.left(stallAt).toHex(' '), frame.left(stallAt).toHex(' '));
    QCOMPARE(drained.mid(stallAt).count('x'), drained.size() - stallAt);
    QVERIFY(rig.core->controller.PortOpen());

    // The next frame starts again from its first byte.
    QVERIFY(rig.core->Press(QStringLiteral("Z/I")));
    QCOMPARE(rig.pty.Read(frame.size()).toHex(' '), frame.toHex(' '));
    QCOMPARE(rig.pty.ReadAvailable(kQuietMs), QByteArray());
    QCOMPARE(rig.core->notices.size(), 1);
}

void TestSerialPty::acceptedBytesSurviveALaterRefusal() {
    PtyRig rig({{"PROTOCOL", 1}});
    rig.core->Select(12);
    // A slow reader: the line already holds more than its reader has taken.
    const QByteArray backlog(8000, 'x');
    QCOMPARE(::write(rig.pty.slaveFd, backlog.constData(), backlog.size()),
             ssize_t(backlog.size()));
    QVERIFY(rig.core->Press(QStringLiteral("Z/I")));
    QCOMPARE(rig.core->notices, QList<Notice>());
    const QByteArray accepted = Hex("FF 0C 00 20 00 00 2C");

    // The line stalls; the stop's first byte is refused.
    rig.device.beforeWrite = [&rig](int) { StallLine(rig.pty); };
    QVERIFY(rig.core->Press(QStringLiteral("stop")));
    rig.device.beforeWrite = nullptr;
    QCOMPARE(rig.core->notices, QList<Notice>{Notice::TransferError});

    // Giving up the refused byte must not take back the frame reported as sent.
    const QByteArray drained = rig.pty.ReadAvailable(kQuietMs);
    QVERIFY2(drained.contains(accepted),
             qPrintable(QStringLiteral("the accepted frame is lost: %1 of %2 bytes arrived")
                            .arg(drained.size() - drained.count('x'))
                            .arg(accepted.size())));
    QCOMPARE(drained.size() - drained.count('x'), accepted.size());
}

void TestSerialPty::unpluggedLine() {
    PtyRig rig;
    rig.core->Select(12);
    rig.pty.CloseMaster();
    QVERIFY(rig.core->Press(QStringLiteral("Z/I stop")));
    QCOMPARE(rig.core->notices, QList<Notice>(2, Notice::TransferError));
    // The line is looked at before each byte: the lost device is let go before anything is
    // written to it, and the stop never reaches it.
    QCOMPARE(rig.device.writes.size(), 0);
    QVERIFY(!rig.core->controller.PortOpen());
    QVERIFY(rig.core->controller.PortHealing());
    QCOMPARE(rig.core->controller.StatusTexts().value(3), QStringLiteral("Can't Open!"));
    QVERIFY(!rig.core->controller.ReleasePort().wasOpen);
    QVERIFY(!rig.core->controller.PortHealing());
}

// An adapter unplugged with a movement running comes back as another device under the same
// stable name: the attempt opens it there, and its first bytes are the owed stop, whole.
void TestSerialPty::unpluggedLineBackAtItsStableName_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QByteArray>("stop");
    QTest::addColumn<QByteArray>("move");
    QTest::newRow("OSKA, key released while down")
        << 0 << "Z/I stop" << QByteArray("*0C750900D2") << QByteArray("*0C750100CA");
    QTest::newRow("PELCO D, key still held")
        << 1 << "PC-Up" << Hex("FF 0C 00 00 00 00 0C") << Hex("FF 0C 00 20 00 00 2C");
    QTest::newRow("OSKA, noticed with no frame going, key still held")
        << 0 << "look" << QByteArray("*0C750900D2") << QByteArray("*0C750100CA");
}

void TestSerialPty::unpluggedLineBackAtItsStableName() {
    QFETCH(int, protocol);
    QFETCH(QString, actions);
    QFETCH(QByteArray, stop);
    QFETCH(QByteArray, move);
    QTemporaryDir byId;
    const QString link = byId.filePath(QStringLiteral("usb-Velmor_Cam_Line-if00-port0"));
    auto first = std::make_unique<PtyPair>();
    QVERIFY(QFile::link(first->slavePath(), link));
    LocalSerialDevice serial;
    TimedDevice device{serial};
    KeypadRig rig({{"Ports/COM1", link}, {"PROTOCOL", protocol}}, &device);
    rig.pause.real = true;
    rig.Select(12);
    QVERIFY(rig.Press(QStringLiteral("PC-Up")));
    QCOMPARE(first->Read(move.size()), move);
    QVERIFY(rig.Press(QStringLiteral("look")));  // a line still there stays open
    QVERIFY(rig.controller.PortOpen());
    first.reset();  // unplugged: both ends gone
    QVERIFY(rig.Press(actions));
    QVERIFY(rig.controller.PortHealing());
    QVERIFY(rig.Press(QStringLiteral("nodevice")));  // nothing at the name yet
    PtyPair second;
    QVERIFY(QFile::remove(link) && QFile::link(second.slavePath(), link));
    QVERIFY(rig.Press(QStringLiteral("heal")));
    QVERIFY(rig.controller.PortOpen());
    QCOMPARE(rig.controller.StatusTexts().value(4), QStringLiteral("PORT : COM1"));
    QCOMPARE(second.Read(stop.size()).toHex(' '), stop.toHex(' '));
    QVERIFY(rig.Press(QStringLiteral("PC-Up stop")));
    QCOMPARE(second.Read(2 * stop.size()).toHex(' '), (move + stop).toHex(' '));
    QCOMPARE(second.ReadAvailable(kQuietMs), QByteArray());
    QCOMPARE(rig.mender.delays, (QVector<int>{200, 500}));
}

void TestSerialPty::noByteSentTwice() {
    // The stop a camera understands, worked out by hand: OSKA-DEFAULT '*', the address in hex,
    // "750900" and the sum of those nine characters; PELCO D FF, the address, four zeros and
    // the address as checksum.
    const auto stopOf = [](int protocol, int camera) {
        if (protocol != 0)
            return QByteArray::fromHex("FF") + char(camera) + QByteArray(4, '\0') + char(camera);
        QByteArray stop = "*" + QByteArray::number(camera, 16).toUpper().rightJustified(2, '0');
        stop += "750900";
        int sum = 0;
        for (char c : stop) sum += uint8_t(c);
        return stop + QByteArray::number(sum & 0xFF, 16).toUpper().rightJustified(2, '0');
    };
    for (int protocol : {0, 1}) {
        PtyRig rig({{"PROTOCOL", protocol}});
        QByteArray expected;
        int moving = -1;  // the camera whose movement has had no stop yet
        for (int round = 0; round < 2; ++round) {
            for (const FrameCase& f : kFrames) {
                if (f.protocol != protocol)
                    continue;
                rig.core->Select(f.camera);
                QVERIFY(rig.core->Press(QString::fromLatin1(f.key)));
                // A camera still moving is stopped before a frame that moves or stops another.
                if (moving >= 0 && moving != f.camera)
                    expected += stopOf(protocol, moving);
                expected += f.Bytes();
                moving = QByteArray(f.key) == "stop" ? -1 : f.camera;
            }
        }
        const QByteArray line =
            rig.pty.Read(expected.size(), 5000) + rig.pty.ReadAvailable(kQuietMs);
        QCOMPARE(line.toHex(' '), expected.toHex(' '));
        qint64 accepted = 0;
        for (const auto& w : rig.device.writes) accepted += w.result;
        QCOMPARE(accepted, qint64(expected.size()));
        QCOMPARE(rig.core->notices, QList<Notice>());
    }
}

void TestSerialPty::pausesBetweenBytesAndFrames() {
    PtyRig rig({{"PROTOCOL", 1}});
    QVERIFY(rig.core->Press(QStringLiteral("1 ENT Z/I stop OSKA Z/O stop PELCO INIT")));
    QVector<int> frameLengths = {7, 7, 11, 11, 7};
    // A frame whose first byte is refused still keeps the next frame 25 ms away.
    rig.device.beforeWrite = [&rig](int) { StallLine(rig.pty); };
    QVERIFY(rig.core->Press(QStringLiteral("stop")));
    rig.device.beforeWrite = nullptr;
    QCOMPARE(rig.core->notices.size(), 1);
    rig.pty.ReadAvailable(kQuietMs);
    QVERIFY(rig.core->Press(QStringLiteral("stop")));
    frameLengths << 1 << 7;

    // Gaps run from the return of one write to the call of the next, as the writer sees them.
    const auto& w = rig.device.writes;
    int first = 0;
    for (int frame = 0; frame < frameLengths.size(); ++frame) {
        const int last = first + frameLengths[frame] - 1;
        for (int i = first + 1; i <= last; ++i) {
            const qint64 gap = w[i].startNs - w[i - 1].endNs;
            QVERIFY2(gap >= 2 * kNsPerMs,
                     qPrintable(
                         QStringLiteral("byte gap %1 us in frame %2").arg(gap / 1000).arg(frame)));
        }
        if (frame + 1 < frameLengths.size()) {
            // After a whole frame the last byte's pause comes before the frame's own.
            const int floorMs = w[last].result == 1 ? 2 + 25 : 25;
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
    PtyRig rig;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(rig.core->controller.ReleasePort().wasOpen);
    const qint64 took = timer.nsecsElapsed();
    QVERIFY2(took >= 100 * kNsPerMs,
             qPrintable(QStringLiteral("releasing the port took %1 us").arg(took / 1000)));
    QCOMPARE(rig.core->pause.pauses, QVector<int>{100});
    QVERIFY(!rig.core->controller.PortOpen());
    QVERIFY(!rig.core->controller.ReleasePort().wasOpen);

    // A released port takes no frame: nothing reaches the line and nothing holds it.
    QVERIFY(rig.core->Press(QStringLiteral("Z/I")));
    QCOMPARE(rig.core->notices, QList<Notice>{Notice::TransferError});
    QCOMPARE(rig.pty.ReadAvailable(kQuietMs), QByteArray());
    QCOMPARE(AccessModesOf(rig.pty.slavePath(), rig.pty.slaveFd), QVector<int>{});
}

QTEST_GUILESS_MAIN(TestSerialPty)
#include "tst_serial_pty.moc"
