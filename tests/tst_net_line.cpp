// The line to a serial server on the network: frames through ser2net (a serial server
// nobody here wrote) to a pseudo-terminal behind it, read byte by byte, and the reasons
// hostile servers in this test get. Everything on the loopback address.
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <thread>

#include "fakes.h"
#include "profile/port_map.h"
#include "protocol/camera_id_entry.h"
#include "protocol/command_set.h"
#include "protocol/status_list.h"
#include "pty_pair.h"
#include "ser2net_server.h"
#include "serial/device/system_serial_device.h"
#include "serial/line/serial_link.h"
#include "serial/net/net_address.h"
#include "serial/net/telnet_com_port.h"
#include "serial/ports/problem_words.h"

namespace {

constexpr int kQuietMs = 150;
// Far more than the kernel buffers of both ends hold, so a server that never reads must
// stop the line before the loop ends.
constexpr int kMaxStallBytes = 4 << 20;

// The link on the platform's device, COM1 mapped to an entry, with real pauses.
struct NetRig {
    explicit NetRig(const QString& entry) {
        profile.values.insert(QStringLiteral("Ports/COM1"), entry);
        pause.real = true;
    }
    Notice Send(int protocol, int cameraId, int a, int b, int c, int d) {
        state.protocol = protocol;
        state.cameraId = cameraId;
        const Notice notice = commands.SendCommand(a, b, c, d);
        commands.SettleFailedFrame();
        return notice;
    }

    MemoryProfile profile;
    SystemSerialDevice device;
    RecordingPause pause;
    ControllerState state;
    CSerialLink link{device, pause, [this](int port) { return ResolvePort(port, profile); }};
    StatusList lines;
    CameraIdEntry entry{state, lines};
    CommandSet commands{state, link, entry};
};

enum class Hostility { NeverReads, TelnetJunk, Flood, ClosesMidFrame, FullBacklog, Refuses };

// A server that misbehaves in one way, on a loopback port of its own.
class HostileServer {
public:
    explicit HostileServer(Hostility how) : how(how) {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        if (how == Hostility::NeverReads) {
            // A small window: the connection fills after a few kilobytes.
            const int size = 1024;
            ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        struct sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        if (how == Hostility::Refuses) {
            ::close(listener);
            listener = -1;
            return;
        }
        ::listen(listener, 0);
        if (how == Hostility::FullBacklog) {
            // Connections nobody accepts fill the queue; later connects get no answer.
            for (int& filler : fillers) {
                filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
                ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
            }
            QThread::msleep(50);
            return;
        }
        worker = std::thread([this] { Serve(); });
    }
    ~HostileServer() {
        stop = true;
        if (worker.joinable())
            worker.join();
        for (int fd : fillers) ::close(fd);
        if (listener >= 0)
            ::close(listener);
    }
    QString Entry() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(port); }
    std::atomic<int> received{0};

private:
    void Serve() {
        const int peer = ::accept(listener, nullptr, nullptr);
        uint8_t junk[512];
        for (size_t i = 0; i < sizeof junk; ++i)
            junk[i] = i % 7 == 0 ? 0xFF : uint8_t(0xF0 + i % 16);  // IAC, SB, WILL, SE...
        while (!stop && peer >= 0) {
            if (how == Hostility::TelnetJunk || how == Hostility::Flood) [[maybe_unused]]
                const ssize_t sent = ::send(peer, junk, how == Hostility::Flood ? sizeof junk : 9,
                                            MSG_DONTWAIT | MSG_NOSIGNAL);
            if (how != Hostility::NeverReads) {
                char buffer[256];
                const ssize_t got = ::recv(peer, buffer, sizeof buffer, MSG_DONTWAIT);
                if (got > 0)
                    received += int(got);
                if (how == Hostility::ClosesMidFrame && received >= 3)
                    break;
            }
            if (how != Hostility::Flood)
                QThread::usleep(500);
        }
        ::close(peer);
    }

    Hostility how;
    int listener = -1;
    int fillers[3] = {-1, -1, -1};
    uint16_t port = 0;
    std::atomic<bool> stop{false};
    std::thread worker;
};

speed_t LineSpeed(const PtyPair& pty) {
    const struct termios settings = pty.LineSettings();
    return cfgetospeed(&settings);
}

}  // namespace

class TestNetLine : public QObject {
    Q_OBJECT
private slots:
    void parsesEntries_data();
    void parsesEntries();
    void escapesForTelnet();
    void throughSer2Net_data();
    void throughSer2Net();
    void hostileServers_data();
    void hostileServers();
};

void TestNetLine::parsesEntries_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("stored");  // empty: refused
    QTest::addColumn<QString>("why");
    QTest::newRow("raw IPv4") << "tcp://192.168.1.50:4001"
                              << "tcp://192.168.1.50:4001"
                              << "";
    QTest::newRow("telnet name, upper-case scheme") << "  RFC2217://cams.local:2217 "
                                                    << "rfc2217://cams.local:2217"
                                                    << "";
    QTest::newRow("IPv6 in brackets") << "tcp://[::1]:7000"
                                      << "tcp://[::1]:7000"
                                      << "";
    QTest::newRow("IPv6 without brackets") << "tcp://::1:7000"
                                           << ""
                                           << "brackets";
    QTest::newRow("no port") << "tcp://cams.local"
                             << ""
                             << "needs ':'";
    QTest::newRow("port 0") << "tcp://cams.local:0"
                            << ""
                            << "1 to 65535";
    QTest::newRow("port too large") << "tcp://cams.local:65536"
                                    << ""
                                    << "1 to 65535";
    QTest::newRow("signed port") << "tcp://cams.local:+80"
                                 << ""
                                 << "1 to 65535";
    QTest::newRow("path after the port") << "tcp://cams.local:80/x"
                                         << ""
                                         << "1 to 65535";
    QTest::newRow("user in the host") << "tcp://me@cams:80"
                                      << ""
                                      << "'@'";
    QTest::newRow("empty host") << "rfc2217://:80"
                                << ""
                                << "host name";
    QTest::newRow("unclosed bracket") << "tcp://[::1:80"
                                      << ""
                                      << "never closes";
}

void TestNetLine::parsesEntries() {
    QFETCH(QString, entry);
    QFETCH(QString, stored);
    QFETCH(QString, why);
    // As the Serial ports dialog checks a typed entry and stores it.
    const PortTarget target = CheckPortEntry(entry);
    if (stored.isEmpty()) {
        QCOMPARE(target.problem.fault, PortFault::UnusableEntry);
        QVERIFY2(target.problem.detail.contains(why), qPrintable(target.problem.detail));
        return;
    }
    QVERIFY2(target.problem.isNone(), qPrintable(target.problem.detail));
    QCOMPARE(target.device, stored);
    QCOMPARE(AbsolutePortEntry(entry), stored);
}

void TestNetLine::escapesForTelnet() {
    const uint8_t frame[] = {0xFF, 0xFF, 0x00, 0x20, 0x00, 0x00, 0x1F};
    QCOMPARE(TelnetComPort::Escaped(frame, sizeof frame).toHex(' '),
             QByteArray("ff ff ff ff 00 20 00 00 1f"));
    // The option, binary mode, then 2400 baud, 8N1, no flow control, DTR and RTS on.
    QCOMPARE(TelnetComPort::Opening(2400).toHex(' '),
             QByteArray("ff fb 2c ff fb 00 ff fd 00 "
                        "ff fa 2c 01 00 00 09 60 ff f0 ff fa 2c 02 08 ff f0 "
                        "ff fa 2c 03 01 ff f0 ff fa 2c 04 01 ff f0 ff fa 2c 05 01 ff f0 "
                        "ff fa 2c 05 08 ff f0 ff fa 2c 05 0b ff f0"));
}

void TestNetLine::throughSer2Net_data() {
    QTest::addColumn<bool>("telnet");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("cameraId");
    QTest::addColumn<QList<int>>("command");
    QTest::addColumn<QByteArray>("expectedHex");  // the held key's frame, then the stop
    const QList<int> pelcoZoomIn = {0x00, 0x20, 0x00, 0x00};
    const QList<int> oskaZoomIn = {'0', '1', 0, 0};
    const QByteArray pelco255 = "ff ff 00 20 00 00 1f ff ff 00 00 00 00 ff";
    const QByteArray oska0 = QByteArray("*00750100B7*00750900BF").toHex(' ');
    QTest::newRow("RFC 2217, PELCO D camera 255") << true << 1 << 255 << pelcoZoomIn << pelco255;
    QTest::newRow("RFC 2217, OSKA-DEFAULT camera 0") << true << 0 << 0 << oskaZoomIn << oska0;
    QTest::newRow("raw, PELCO D camera 255") << false << 1 << 255 << pelcoZoomIn << pelco255;
    QTest::newRow("raw, OSKA-DEFAULT camera 0") << false << 0 << 0 << oskaZoomIn << oska0;
}

void TestNetLine::throughSer2Net() {
    QFETCH(bool, telnet);
    QFETCH(int, protocol);
    QFETCH(int, cameraId);
    QFETCH(QList<int>, command);
    QFETCH(QByteArray, expectedHex);
    PtyPair pty;
    QVERIFY(pty.ok());
    Ser2NetServer server(pty.slavePath());
    QVERIFY2(server.ok(), qPrintable(server.error));
    NetRig rig(server.Entry(telnet));
    const uint32_t baud = protocol == 1 ? 2400 : 9600;
    QCOMPARE(rig.link.OpenPort(1, baud), 1);
    QVERIFY2(rig.Send(protocol, cameraId, command[0], command[1], command[2], command[3]) ==
                 Notice::None,
             qPrintable(DescribeProblem(rig.link.LastPort(), rig.link.WriteProblem())));
    QCOMPARE(rig.commands.SendStop(), Notice::None);
    const QByteArray seen = pty.Read(expectedHex.count(' ') + 1, 3000);
    QCOMPARE(seen.toHex(' '), expectedHex);
    QCOMPARE(pty.ReadAvailable(kQuietMs), QByteArray());
    qInfo("%s: the pty saw %s", QTest::currentDataTag(), seen.toHex(' ').constData());
    // The far port's speed: set through the Telnet option, at each COMMUNICATION SET; a raw
    // accepter keeps its own 9600.
    for (const uint32_t rate : {2400u, 9600u}) {
        rig.link.ClosePort();
        QCOMPARE(rig.link.OpenPort(1, rate), 1);
        QCOMPARE(rig.Send(protocol, cameraId, command[0], command[1], command[2], command[3]),
                 Notice::None);
        QVERIFY(!pty.Read(1, 3000).isEmpty());  // ser2net set the port up before passing it
        const speed_t wanted = telnet ? (rate == 2400 ? B2400 : B9600) : B9600;
        QTRY_COMPARE_WITH_TIMEOUT(LineSpeed(pty), wanted, 2000);
        pty.ReadAvailable(kQuietMs);
    }
    rig.link.ClosePort();
}

void TestNetLine::hostileServers_data() {
    QTest::addColumn<int>("how");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<bool>("writesFail");
    QTest::addColumn<QString>("reason");
    QTest::newRow("never reads") << int(Hostility::NeverReads) << true << true
                                 << "took no more bytes within";
    QTest::newRow("Telnet junk") << int(Hostility::TelnetJunk) << true << false << "";
    QTest::newRow("flood") << int(Hostility::Flood) << true << false << "";
    QTest::newRow("closes mid-frame")
        << int(Hostility::ClosesMidFrame) << true << true << "127.0.0.1:";
    QTest::newRow("backlog full, never accepts")
        << int(Hostility::FullBacklog) << false << false << "no answer from 127.0.0.1:";
    QTest::newRow("refuses") << int(Hostility::Refuses) << false << false
                             << "refused the connection";
    QTest::newRow("name that does not resolve") << -1 << false << false << "could not be resolved";
}

void TestNetLine::hostileServers() {
    QFETCH(int, how);
    QFETCH(bool, opens);
    QFETCH(bool, writesFail);
    QFETCH(QString, reason);
    std::unique_ptr<HostileServer> server;
    if (how >= 0)
        server = std::make_unique<HostileServer>(Hostility(how));
    NetRig rig(server ? server->Entry() : QStringLiteral("rfc2217://cams.invalid:4001"));
    // The window's timers keep running while the connect waits.
    int ticks = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
    tick.start(20);
    QCOMPARE(rig.link.OpenPort(1, 9600) == 1, opens);
    tick.stop();
    if (!opens) {
        const QString why = DescribeProblem(rig.link.LastPort(), rig.link.LastProblem());
        QVERIFY2(why.contains(reason), qPrintable(why));
        qInfo("%s: %s", QTest::currentDataTag(), qPrintable(why));
        if (how == int(Hostility::FullBacklog))
            QVERIFY2(ticks >= 50, qPrintable(QString::number(ticks)));
        return;
    }
    rig.pause.real = false;  // the frames as fast as the line takes them
    const uint8_t frame[] = {0xFF, 0x01, 0x00, 0x20, 0x00, 0x00, 0x21};
    int sent = 0;
    bool failed = false;
    const int limit = writesFail ? kMaxStallBytes : 2000 * int(sizeof frame);
    while (sent < limit && !failed) {
        const int whole = rig.link.SendFrame(frame, sizeof frame);
        sent += whole;
        failed = whole != int(sizeof frame);
        if (how == int(Hostility::ClosesMidFrame))
            QThread::msleep(1);  // as the line's byte pauses would
    }
    QCOMPARE(failed, writesFail);
    const QString why = DescribeProblem(rig.link.LastPort(), rig.link.WriteProblem());
    qInfo("%s: %d bytes went out; %s", QTest::currentDataTag(), sent,
          why.isEmpty() ? "every frame whole" : qPrintable(why));
    if (writesFail)
        QVERIFY2(!why.isEmpty() && why.contains(reason), qPrintable(why));
    else
        QTRY_COMPARE_WITH_TIMEOUT(server->received.load(), sent, 3000);
    rig.link.ClosePort();
}

QTEST_GUILESS_MAIN(TestNetLine)
#include "tst_net_line.moc"
