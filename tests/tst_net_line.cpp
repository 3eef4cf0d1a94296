// The line to a serial server on the network: frames through ser2net (a serial server
// nobody here wrote) to a pseudo-terminal behind it, read byte by byte, and the reasons
// hostile servers in this test get. Everything on the loopback address.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <mutex>
#include <thread>

#include "fakes.h"
#include "keypad_rig.h"
#include "profile/port_map.h"
#include "protocol/frame_builder.h"
#include "pty_pair.h"
#include "ser2net_server.h"
#include "serial/device/system_serial_device.h"
#include "serial/failsafe/stop_sender.h"
#include "serial/failsafe/telnet_escape.h"
#include "serial/line/serial_link.h"
#include "serial/net/net_address.h"
#include "serial/net/net_serial_device.h"
#include "serial/ports/problem_words.h"
#include "serial/telnet/telnet_conversation.h"

namespace {

constexpr int kQuietMs = 150;
// Far more than the kernel buffers of both ends hold, so a server that never reads must
// stop the line before the loop ends.
constexpr int kMaxStallBytes = 4 << 20;

// The link on the platform's device, COM1 mapped to an entry, with real pauses.
struct LinkRig {
    explicit LinkRig(const QString& entry) {
        profile.values.insert(QStringLiteral("Ports/COM1"), entry);
        pause.real = true;
    }
    // Sends a frame as the keypad builds it; how many of its bytes left.
    int Send(const QByteArray& frame) {
        const int whole =
            link.SendFrame(reinterpret_cast<const uint8_t*>(frame.constData()), int(frame.size()));
        link.SettleFailedFrame();
        return whole;
    }

    MemoryProfile profile;
    SystemSerialDevice device;
    RecordingPause pause;
    CSerialLink link{device, pause, [this](int port) { return ResolvePort(port, profile); }};
};

// The frame of a command to a camera, or its stop (no command), as the keypad builds them.
QByteArray Frame(int protocol, int cameraId, const QList<int>& command = {}) {
    TxFrame frame = command.isEmpty()
                        ? FrameBuilder::WriteStop({}, protocol)
                        : FrameBuilder::WriteCommand({}, protocol, command[0], command[1],
                                                     command[2], command[3]);
    frame = FrameBuilder::CompleteFrame(frame, protocol, cameraId);
    return QByteArray(reinterpret_cast<const char*>(frame.data()),
                      FrameBuilder::FrameLength(protocol));
}

enum class Hostility {
    NeverReads,
    TelnetJunk,
    Flood,
    ClosesMidFrame,
    ClosesIdle,
    FullBacklog,
    Refuses
};

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
        if (how == Hostility::ClosesIdle) {
            ::close(peer);
            return;
        }
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

// What a fault server does, on a loopback port of its own, with the system's default
// buffers unless rcvbuf says otherwise.
struct FaultScript {
    QByteArray hello;      // sent as soon as the client is accepted
    QByteArray confirm;    // sent once the last of the client's settings has arrived
    int stallFromMs = -1;  // reads nothing from then on, for stallMs
    int stallMs = 0;
    int rcvbuf = 0;
};

class FaultServer {
public:
    explicit FaultServer(const FaultScript& script) : script(script) {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        if (script.rcvbuf > 0)
            ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &script.rcvbuf, sizeof script.rcvbuf);
        struct sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        ::listen(listener, 4);
        worker = std::thread([this] { Serve(); });
    }
    ~FaultServer() {
        stop = true;
        ::shutdown(listener, SHUT_RDWR);
        worker.join();
        ::close(listener);
    }
    QByteArray Received() const {
        const std::lock_guard<std::mutex> hold(lock);
        return received;
    }
    // The bytes that arrived once the stall was over, and what the server's own system had
    // taken (acknowledged, unread) by the end of it.
    int lateBytes() const { return late; }
    int heldAtStallEnd() const { return held; }
    bool stallOver() const { return over; }
    // Ends the stall now.
    void Resume() { resumed = true; }
    // Sends bytes to the client at once.
    void Say(const QByteArray& bytes) {
        const std::lock_guard<std::mutex> hold(lock);
        toSay += bytes;
    }

    uint16_t port = 0;

private:
    void Serve() {
        struct pollfd wait = {listener, POLLIN, 0};
        while (!stop && ::poll(&wait, 1, 20) == 0) {
        }
        if (stop)
            return;
        const int peer = ::accept(listener, nullptr, nullptr);
        if (peer < 0)
            return;
        QElapsedTimer clock;
        clock.start();
        ::send(peer, script.hello.constData(), size_t(script.hello.size()), MSG_NOSIGNAL);
        bool confirmed = script.confirm.isEmpty();
        while (!stop) {
            QByteArray said;
            {
                const std::lock_guard<std::mutex> hold(lock);
                said.swap(toSay);
            }
            ::send(peer, said.constData(), size_t(said.size()), MSG_NOSIGNAL);
            const qint64 now = clock.elapsed();
            const bool ended = now >= script.stallFromMs + script.stallMs || resumed;
            const bool stalled = script.stallFromMs >= 0 && now >= script.stallFromMs && !ended;
            if (stalled) {
                QThread::msleep(1);
                continue;
            }
            if (script.stallFromMs >= 0 && ended && !over) {
                ::ioctl(peer, FIONREAD, &held);
                over = true;
            }
            struct pollfd p = {peer, POLLIN, 0};
            if (::poll(&p, 1, 5) <= 0)
                continue;
            char buffer[4096];
            const ssize_t got = ::recv(peer, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got <= 0)
                break;
            const std::lock_guard<std::mutex> hold(lock);
            received.append(buffer, int(got));
            if (over)
                late += int(got);
            if (!confirmed && received.contains(QByteArray::fromHex("fffa2c050bfff0"))) {
                confirmed = true;
                ::send(peer, script.confirm.constData(), size_t(script.confirm.size()),
                       MSG_NOSIGNAL);
            }
        }
        ::close(peer);
    }

    FaultScript script;
    int listener = -1;
    mutable std::mutex lock;
    QByteArray received;
    QByteArray toSay;
    std::atomic<int> late{0};
    int held = 0;
    std::atomic<bool> over{false};
    std::atomic<bool> resumed{false};
    std::atomic<bool> stop{false};
    std::thread worker;
};

// The data a Telnet server reads out of the bytes: commands and sub-negotiations left out,
// IAC IAC read as 0xFF and, outside binary mode, CR NUL as CR.
QByteArray TelnetData(const QByteArray& wire, bool binary) {
    QByteArray data;
    for (int i = 0; i < wire.size(); ++i) {
        const uint8_t b = uint8_t(wire[i]);
        if (b != 0xFF) {
            data += char(b);
            if (b == 0x0D && !binary && i + 1 < wire.size() && wire[i + 1] == 0)
                ++i;
            continue;
        }
        const uint8_t command = i + 1 < wire.size() ? uint8_t(wire[i + 1]) : 0;
        if (command == 0xFF) {
            data += char(0xFF);
            ++i;
        } else if (command == 0xFA) {
            const int end = wire.indexOf(QByteArray::fromHex("fff0"), i);
            i = end < 0 ? int(wire.size()) : end + 1;
        } else {
            i += command >= 0xFB ? 2 : 1;
        }
    }
    return data;
}

// The bytes the time line of the rig says left, in order.
QByteArray BytesThatLeft(const QString& log) {
    QByteArray bytes;
    for (const QString& item : log.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (QRegularExpression(QStringLiteral("^[0-9A-F]{2}$")).match(item).hasMatch())
            bytes += QByteArray::fromHex(item.toLatin1());
    return bytes;
}

std::atomic<int> lookupsRunning{0};
std::atomic<int> mostLookupsAtOnce{0};

// A name service that takes 3 s for every name and cannot be stopped, then gives the
// loopback address.
class SlowNameService : public NetSocket::Platform::Lookup {
public:
    explicit SlowNameService(uint16_t port) : port(port) {
        const int running = ++lookupsRunning;
        for (int most = mostLookupsAtOnce; running > most;)
            mostLookupsAtOnce.compare_exchange_weak(most, running);
        service = std::thread([this] {
            QThread::msleep(3000);
            --lookupsRunning;
            done = true;
        });
    }
    ~SlowNameService() override { service.join(); }
    bool Wait(const QDeadlineTimer& deadline) override {
        while (!done && !deadline.hasExpired()) QThread::msleep(5);
        return done;
    }
    QList<NetSocket::Platform::Address> Addresses(QString&) override {
        struct sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        return {{AF_INET, SOCK_STREAM, 0,
                 QByteArray(reinterpret_cast<const char*>(&address), sizeof address)}};
    }
    bool Cancel() override { return done; }

    static std::unique_ptr<NetSocket::Platform::Lookup> Start(const QString&, uint16_t port) {
        return std::make_unique<SlowNameService>(port);
    }

private:
    uint16_t port;
    std::atomic<bool> done{false};
    std::thread service;
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
    void telnetConversation_data();
    void telnetConversation();
    void telnetPhases_data();
    void telnetPhases();
    void throughSer2Net_data();
    void throughSer2Net();
    void hostileServers_data();
    void hostileServers();
    void faultServers_data();
    void faultServers();
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
    TelnetComPort telnet;
    // The option and binary mode first; then 2400 baud, 8N1, no flow control, DTR and RTS on.
    QCOMPARE(telnet.Offers().toHex(' '), QByteArray("ff fb 2c ff fb 00 ff fd 00"));
    QCOMPARE(telnet.Settings(2400).toHex(' '),
             QByteArray("ff fa 2c 01 00 00 09 60 ff f0 ff fa 2c 02 08 ff f0 "
                        "ff fa 2c 03 01 ff f0 ff fa 2c 04 01 ff f0 ff fa 2c 05 01 ff f0 "
                        "ff fa 2c 05 08 ff f0 ff fa 2c 05 0b ff f0"));
    // Data bytes as the device writes them, escaped by the session's binary mode.
    const auto escaped = [&telnet](const uint8_t* data, int count) {
        uint8_t wire[32];
        const bool binary = telnet.BinaryOut() == TelnetComPort::Answer::Yes;
        return QByteArray(reinterpret_cast<const char*>(wire),
                          TelnetEscape::Escape(data, count, wire, binary))
            .toHex(' ');
    };
    // Camera 255's frame: 0xFF doubled; CR stays bare only once the server agreed to binary.
    QCOMPARE(escaped(frame, sizeof frame), QByteArray("ff ff ff ff 00 20 00 00 1f"));
    const uint8_t camera13[] = {0xFF, 0x0D, 0x00, 0x20, 0x00, 0x00, 0x2D};
    QCOMPARE(escaped(camera13, sizeof camera13), QByteArray("ff ff 0d 00 00 20 00 00 2d"));
    telnet.Feed("\xff\xfd\x00", 3);
    QCOMPARE(escaped(camera13, sizeof camera13), QByteArray("ff ff 0d 00 20 00 00 2d"));
}

// A server's bytes fed to the conversation in one piece after the offers and settings
// (2400 baud): the answers owed, and what the conversation made of them.
void TestNetLine::telnetConversation_data() {
    QTest::addColumn<QByteArray>("serverHex");
    QTest::addColumn<QByteArray>("answersHex");
    QTest::addColumn<QString>("state");  // com port, binary out, binary in, confirmed, suspended
    QTest::addColumn<QString>("fault");
    const QByteArray agrees = "ff fd 2c ff fd 00 ff fb 00 ";
    const QByteArray confirms =
        "ff fa 2c 65 00 00 09 60 ff f0 ff fa 2c 66 08 ff f0 ff fa 2c 67 01 ff f0 "
        "ff fa 2c 68 01 ff f0 ff fa 2c 69 01 ff f0 ff fa 2c 69 08 ff f0 ff fa 2c 69 0b ff f0";
    QTest::newRow("agrees, confirms") << agrees + confirms << QByteArray() << "YYYcs"
                                      << "";
    // SGA and ECHO offered, SGA, TTYPE and NAWS asked for, each twice: refused once each.
    QTest::newRow("strict server's requests")
        << "ff fb 03 ff fd 03 ff fb 01 ff fd 18 ff fd 1f ff fb 03 ff fd 03 ff fd 18 ff fd 1f "
           "ff fb 01" +
               agrees
        << QByteArray("ff fe 03 ff fc 03 ff fe 01 ff fc 18 ff fc 1f") << "YYY-s"
        << "";
    QTest::newRow("refuses the option and binary")
        << QByteArray("ff fe 2c ff fe 00 ff fc 00") << QByteArray() << "NNN-s"
        << "";
    QTest::newRow("another rate") << agrees + confirms.left(18) + "12 c0 ff f0" << QByteArray()
                                  << "YYY-s"
                                  << "confirmed the baud rate (2400) as 4800 baud";
    QTest::newRow("DTR left off") << agrees + QByteArray(confirms).replace("69 08", "69 09")
                                  << QByteArray() << "YYYcs"
                                  << "confirmed DTR on as value 9";
    QTest::newRow("suspends, resumes")
        << agrees + "ff fa 2c 6c ff f0 ff fa 2c 6d ff f0 ff fa 2c 6c ff f0" << QByteArray()
        << "YYY-S"
        << "";
    // Binary granted, then withdrawn: the change is acknowledged.
    QTest::newRow("withdraws binary")
        << agrees + "ff fe 00 ff fc 00 ff fe 00" << QByteArray("ff fc 00 ff fe 00") << "YNN-s"
        << "";
    // A sub-negotiation that never ends is given up; the DO that follows is still heard.
    QTest::newRow("endless sub-negotiation")
        << "ff fa 2c " + QByteArray("41 ").repeated(100) + agrees << QByteArray() << "YYY-s"
        << "";
    QTest::newRow("junk and unknown commands")
        << "00 0d 0a ff f1 ff f6 ff ff 41 ff 07 ff f0 " + agrees << QByteArray() << "YYY-s"
        << "";
}

void TestNetLine::telnetConversation() {
    QFETCH(QByteArray, serverHex);
    QFETCH(QByteArray, answersHex);
    QFETCH(QString, state);
    QFETCH(QString, fault);
    TelnetComPort telnet;
    telnet.Offers();
    telnet.Settings(2400);
    const QByteArray server = QByteArray::fromHex(serverHex);
    QCOMPARE(telnet.Feed(server.constData(), int(server.size())).toHex(' '), answersHex);
    const auto letter = [](TelnetComPort::Answer a) {
        return a == TelnetComPort::Answer::Yes ? 'Y' : a == TelnetComPort::Answer::No ? 'N' : '?';
    };
    const QString seen = QString() + letter(telnet.ComPort()) + letter(telnet.BinaryOut()) +
                         letter(telnet.BinaryIn()) + (telnet.SettingsConfirmed() ? 'c' : '-') +
                         (telnet.Suspended() ? 'S' : 's');
    QCOMPARE(seen, state);
    QCOMPARE(telnet.SettingsFault(), fault);
    // The same bytes again, one at a time: nothing is answered twice.
    QByteArray again;
    for (char c : server) again += telnet.Feed(&c, 1);
    const bool changesAnswered = QTest::currentDataTag() == QLatin1String("withdraws binary");
    if (!changesAnswered)
        QCOMPARE(again.toHex(' '), QByteArray());
}

// The opening and the open line as the device feeds them: "start", "time" (the phase's time
// is up), "end" (the connection ended), or the hex of bytes the server sent.
void TestNetLine::telnetPhases_data() {
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("settingsSent");
    QTest::addColumn<QString>("refusal");  // in the words, for Refused
    using State = TelnetConversation::State;
    const QString agrees = "fffd2cfffd00fffb00";
    const QString confirms =
        "fffa2c6500000960fff0fffa2c6608fff0fffa2c6701fff0fffa2c6801fff0fffa2c6901fff0";
    const QString suspend = "fffa2c6cfff0";
    const QString resume = "fffa2c6dfff0";
    QTest::newRow("agrees, confirms")
        << QStringList{"start", agrees, confirms} << int(State::Open) << true << "";
    QTest::newRow("confirms with the flow held")
        << QStringList{"start", agrees, confirms + suspend} << int(State::Held) << true << "";
    QTest::newRow("held, then let go") << QStringList{"start", agrees, confirms + suspend, resume}
                                       << int(State::Open) << true << "";
    QTest::newRow("refuses the option")
        << QStringList{"start", "fffe2cfffe00fffc00"} << int(State::Refused) << false
        << "refused the COM-PORT-OPTION, so it cannot set its port to 2400 baud";
    QTest::newRow("no answer to the offers")
        << QStringList{"start", "time", agrees} << int(State::Refused) << false
        << "did not answer the offer of the COM-PORT-OPTION within 1.5 s";
    QTest::newRow("option agreed, binary unanswered")
        << QStringList{"start", "fffd2c", "time"} << int(State::Setting) << true << "";
    QTest::newRow("settings unconfirmed")
        << QStringList{"start", agrees, "fffa2c6500000960fff0", "time", confirms}
        << int(State::Refused) << true
        << "did not confirm 8 data bits, no parity, 1 stop bit, no flow control within 1.5 s";
    QTest::newRow("ended while setting")
        << QStringList{"start", agrees, "end", confirms} << int(State::Ended) << true << "";
}

void TestNetLine::telnetPhases() {
    QFETCH(QStringList, events);
    QFETCH(int, state);
    QFETCH(bool, settingsSent);
    QFETCH(QString, refusal);
    using Event = TelnetConversation::Event;
    TelnetConversation telnet(QStringLiteral("127.0.0.1:4001"), 2400);
    QByteArray sent;
    int clocks = 0;
    for (const QString& event : events) {
        const QByteArray bytes = QByteArray::fromHex(event.toLatin1());
        const TelnetConversation::Actions actions =
            event == "start"  ? telnet.Handle(Event::Start)
            : event == "time" ? telnet.Handle(Event::TimeUp)
            : event == "end"  ? telnet.Handle(Event::Ended)
                             : telnet.Handle(Event::Received, bytes.constData(), int(bytes.size()));
        sent += actions.send;
        clocks += actions.startClock ? 1 : 0;
    }
    QCOMPARE(int(telnet.Current()), state);
    // The offers, then the settings once, each phase with a clock of its own.
    QVERIFY(sent.startsWith(QByteArray::fromHex("fffb2cfffb00fffd00")));
    QCOMPARE(sent.count(QByteArray::fromHex("fffa2c01")), settingsSent ? 1 : 0);
    QCOMPARE(clocks, settingsSent ? 2 : 1);
    QVERIFY2(telnet.Refusal().contains(refusal), qPrintable(telnet.Refusal()));
    QCOMPARE(telnet.Refusal().isEmpty(), refusal.isEmpty());
    QCOMPARE(telnet.Opening(), int(TelnetConversation::State::Setting) == state);
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
    LinkRig rig(server.Entry(telnet));
    const uint32_t baud = protocol == 1 ? 2400 : 9600;
    const QByteArray frame = Frame(protocol, cameraId, command);
    QVERIFY2(rig.link.OpenPort(1, baud) == 1,
             qPrintable(DescribeProblem(rig.link.LastPort(), rig.link.LastProblem())));
    QVERIFY2(rig.Send(frame) == frame.size(),
             qPrintable(DescribeProblem(rig.link.LastPort(), rig.link.WriteProblem())));
    QCOMPARE(rig.Send(Frame(protocol, cameraId)), frame.size());
    const QByteArray seen = pty.Read(expectedHex.count(' ') + 1, 3000);
    QCOMPARE(seen.toHex(' '), expectedHex);
    QCOMPARE(pty.ReadAvailable(kQuietMs), QByteArray());
    qInfo("%s: the pty saw %s", QTest::currentDataTag(), seen.toHex(' ').constData());
    // The far port's speed: set through the Telnet option, at each COMMUNICATION SET; a raw
    // accepter keeps its own 9600.
    for (const uint32_t rate : {2400u, 9600u}) {
        rig.link.ClosePort();
        QCOMPARE(rig.link.OpenPort(1, rate), 1);
        QCOMPARE(rig.Send(frame), frame.size());
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
                                 << "the frame was given up so that it cannot arrive late";
    QTest::newRow("Telnet junk") << int(Hostility::TelnetJunk) << true << false << "";
    QTest::newRow("flood") << int(Hostility::Flood) << true << false << "";
    QTest::newRow("closes mid-frame")
        << int(Hostility::ClosesMidFrame) << true << true << "127.0.0.1:";
    QTest::newRow("closes with no frame going")
        << int(Hostility::ClosesIdle) << true << true << "127.0.0.1:";
    QTest::newRow("backlog full, never accepts")
        << int(Hostility::FullBacklog) << false << false << "no answer from 127.0.0.1:";
    QTest::newRow("refuses") << int(Hostility::Refuses) << false << false
                             << "refused the connection";
    QTest::newRow("name that does not resolve")
        << -1 << false << false << "cannot find host cams.invalid";
}

void TestNetLine::hostileServers() {
    QFETCH(int, how);
    QFETCH(bool, opens);
    QFETCH(bool, writesFail);
    QFETCH(QString, reason);
    std::unique_ptr<HostileServer> server;
    if (how >= 0)
        server = std::make_unique<HostileServer>(Hostility(how));
    LinkRig rig(server ? server->Entry() : QStringLiteral("rfc2217://cams.invalid:4001"));
    // Opened on a thread with no event loop while this one is blocked: the device's own
    // bounds end the opening, and no event loop was made for it.
    int opened = 0;
    bool loopMade = true;
    std::thread opener([&] {
        opened = rig.link.OpenPort(1, 9600);
        loopMade = QThread::currentThread()->eventDispatcher() != nullptr;
    });
    opener.join();
    QVERIFY(!loopMade);
    QCOMPARE(opened == 1, opens);
    if (!opens) {
        const QString why = DescribeProblem(rig.link.LastPort(), rig.link.LastProblem());
        QVERIFY2(why.contains(reason), qPrintable(why));
        qInfo("%s: %s", QTest::currentDataTag(), qPrintable(why));
        return;
    }
    // The line looked at between frames, as the link does: what the server sent is read
    // and dropped, and a server that went is noticed without a frame.
    if (how == int(Hostility::ClosesIdle))
        QTRY_VERIFY(!rig.device.CheckLine() && rig.device.LineLost());
    else
        QVERIFY(rig.device.CheckLine() && !rig.device.LineLost());
    // A failing server with the frames as fast as the line takes them; a working one with
    // the line's pauses, as the keypad sends.
    rig.pause.real = !writesFail;
    const QByteArray frame = Frame(1, 1, {0x00, 0x20, 0x00, 0x00});
    int sent = 0;
    bool failed = false;
    const int limit = writesFail ? kMaxStallBytes : 100 * int(frame.size());
    while (sent < limit && !failed) {
        const int whole = rig.Send(frame);
        sent += whole;
        failed = whole != frame.size();
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

enum class Fault { Stall, ReleasedInStall, Strict, OtherRate, NotBinary, Suspends, SlowLookup };

// Each fault through the keypad's core as the dialog drives it, with the real pauses and
// the system's default buffers: the bytes that reached the server, and the words the
// operator was given.
void TestNetLine::faultServers_data() {
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("words");       // in the reason the operator is given
    QTest::addColumn<QByteArray>("reached");  // every byte that reached the server; "*": any
    const QByteArray offers = "ff fb 2c ff fb 00 ff fd 00";
    const QByteArray settings2400 =
        "ff fa 2c 01 00 00 09 60 ff f0 ff fa 2c 02 08 ff f0 ff fa 2c 03 01 ff f0 "
        "ff fa 2c 04 01 ff f0 ff fa 2c 05 01 ff f0 ff fa 2c 05 08 ff f0 ff fa 2c 05 0b ff f0";
    QTest::newRow("stall while Up is held") << int(Fault::Stall) << true
                                            << "the frame was given up so that it cannot "
                                               "arrive late"
                                            << QByteArray("*");
    // The port released while bytes wait unsent: they are dropped, not sent once the server
    // reads again.
    QTest::newRow("released during a stall") << int(Fault::ReleasedInStall) << true
                                             << "the frame was given up so that it cannot "
                                                "arrive late"
                                             << QByteArray("*");
    QTest::newRow("strict server refuses the option")
        << int(Fault::Strict) << false << "127.0.0.1:%1 refused the COM-PORT-OPTION"
        << offers + " ff fe 03 ff fc 18 ff fc 1f ff fe 01";
    QTest::newRow("server confirms another rate")
        << int(Fault::OtherRate) << false
        << "the line settings were refused: 127.0.0.1:%1 confirmed the baud rate (2400) as "
           "4800 baud"
        << offers + " " + settings2400;
    QTest::newRow("server not in binary mode, camera 13")
        << int(Fault::NotBinary) << true << "" << QByteArray("*");
    QTest::newRow("server suspends the data")
        << int(Fault::Suspends) << true << "(FLOWCONTROL-SUSPEND)" << offers + " " + settings2400;
    QTest::newRow("slow name service")
        << int(Fault::SlowLookup) << false
        << "cannot find host cams.example: the name service did not answer within 2 s"
        << QByteArray();
}

void TestNetLine::faultServers() {
    QFETCH(int, fault);
    QFETCH(bool, opens);
    QFETCH(QString, words);
    QFETCH(QByteArray, reached);
    const Fault how = Fault(fault);
    const QByteArray agrees = QByteArray::fromHex("fffd2cfffd00fffb00");
    QByteArray confirms = QByteArray::fromHex(
        "fffa2c6500000960fff0fffa2c6608fff0fffa2c6701fff0fffa2c6801fff0"
        "fffa2c6901fff0fffa2c6908fff0fffa2c690bfff0");
    FaultScript script;
    script.hello = agrees;
    script.confirm = confirms;
    switch (how) {
        case Fault::Stall:
            // Up is held for 15 s; the server stops reading at once, for 22 s. Its window is
            // small, so that it closes within the hold.
            script.stallFromMs = 300;
            script.stallMs = 22000;
            script.rcvbuf = 1024;
            break;
        case Fault::ReleasedInStall:
            script.stallFromMs = 300;
            script.stallMs = 60000;  // until the test resumes it
            script.rcvbuf = 1024;
            break;
        case Fault::Strict:
            // Suppress-go-ahead, echo, terminal type and window size asked for; the option
            // and binary mode refused.
            script.hello =
                QByteArray::fromHex("fffb03fffd18fffd1ffffb01fffd18fffb03fffe2cfffe00fffc00");
            break;
        case Fault::OtherRate:
            script.confirm.replace(QByteArray::fromHex("00000960"),
                                   QByteArray::fromHex("000012c0"));
            break;
        case Fault::NotBinary:
            script.hello = QByteArray::fromHex("fffd2cfffe00fffc00");
            break;
        case Fault::Suspends:
            script.confirm += QByteArray::fromHex("fffa2c6cfff0");
            break;
        case Fault::SlowLookup:
            break;
    }
    FaultServer server(script);
    const bool telnet = how != Fault::Stall && how != Fault::ReleasedInStall;
    QString entry = QStringLiteral("%1://127.0.0.1:%2")
                        .arg(telnet ? QStringLiteral("rfc2217") : QStringLiteral("tcp"))
                        .arg(server.port);
    if (how == Fault::SlowLookup) {
        entry = QStringLiteral("rfc2217://cams.example:%1").arg(server.port);
        NetSocket::Platform::SetResolver(&SlowNameService::Start);
    }
    if (words.contains(QLatin1String("%1")))
        words = words.arg(server.port);
    SystemSerialDevice line;
    QElapsedTimer opening;
    opening.start();
    KeypadRig rig({{"PROTOCOL", 1}, {"BAUDRATE", 2400}, {"Ports/COM1", entry}}, &line);
    const qint64 openMs = opening.elapsed();
    rig.pause.real = true;
    QCOMPARE(rig.controller.PortOpen(), opens);
    QStringList told;
    if (!opens) {
        told << rig.controller.OpenFailureReason();
        QCOMPARE(rig.controller.StatusTexts().value(3), QStringLiteral("Can't OPEN!"));
        for (const QString& text : rig.controller.StatusTexts())
            QVERIFY2(!text.startsWith(QLatin1String("BAUD")), qPrintable(text));
    }
    int lateBytes = -1;
    if (how == Fault::Stall) {
        QElapsedTimer held;
        held.start();
        qint64 toldAtMs = -1;
        while (held.elapsed() < 15000) {
            rig.Press(QStringLiteral("PC-Up"));
            if (toldAtMs < 0 && !rig.notices.isEmpty()) {
                toldAtMs = held.elapsed();
                told << rig.controller.WriteFailureReason();
            }
        }
        rig.Press(QStringLiteral("stop"));
        qInfo("stall: at the release the operator read: %s",
              qPrintable(rig.controller.WriteFailureReason()));
        // The operator was told before the key was released.
        QVERIFY2(toldAtMs >= 0 && toldAtMs < 15000, qPrintable(QString::number(toldAtMs)));
        QTRY_VERIFY_WITH_TIMEOUT(server.stallOver(), 10000);
        QTest::qWait(1000);
        lateBytes = server.lateBytes();
        qInfo(
            "stall: told after %lld ms of the hold; the server's own system held %d bytes at "
            "the end of the stall, %d bytes arrived in all once it read again",
            toldAtMs, server.heldAtStallEnd(), lateBytes);
        // Beyond what the server's own system had taken (and acknowledged) before its window
        // closed, at most one frame on the wire.
        QVERIFY2(lateBytes - server.heldAtStallEnd() <= NetSerialDevice::kMaxQueuedBytes,
                 qPrintable(QString::number(lateBytes)));
    }
    if (how == Fault::ReleasedInStall) {
        QElapsedTimer held;
        held.start();
        while (rig.notices.isEmpty() && held.elapsed() < 11000) rig.Press(QStringLiteral("PC-Up"));
        QVERIFY(!rig.notices.isEmpty());
        told << rig.controller.WriteFailureReason();
        rig.Press(QStringLiteral("stop"));
        // Released at once, well within the time a silent peer is given.
        QVERIFY2(held.elapsed() < 11000 - NetSocket::kPeerGoneMs,
                 qPrintable(QString::number(held.elapsed())));
        rig.controller.ReleasePort();
        // The server reads again soon after, long before a silent peer would be given up.
        QTest::qWait(300);
        server.Resume();
        QTRY_VERIFY_WITH_TIMEOUT(server.stallOver(), 2000);
        QTest::qWait(1000);
        qInfo(
            "released during a stall: the server's system held %d bytes; %d arrived once it "
            "read again",
            server.heldAtStallEnd(), server.lateBytes());
        QCOMPARE(server.lateBytes(), server.heldAtStallEnd());
    }
    if (telnet && opens)
        QCOMPARE(line.NativeKind(),
                 how == Fault::NotBinary ? LineKind::TelnetTextSocket : LineKind::TelnetSocket);
    if (how == Fault::NotBinary) {
        // A peer that stops acknowledging is given up within a few seconds.
        const int fd = int(line.NativeHandle());
        unsigned int userTimeout = 0;
        int keepAlive = 0;
        socklen_t size = sizeof userTimeout;
        ::getsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, &size);
        size = sizeof keepAlive;
        ::getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &keepAlive, &size);
        QCOMPARE(int(userTimeout), NetSocket::kPeerGoneMs);
        QCOMPARE(keepAlive, 1);
    }
    if (how == Fault::Suspends) {
        // Held since the opening, let go and held again, each seen by looking at the line
        // alone: nothing is written meanwhile (every byte that reached the server is above).
        QVERIFY(line.FlowHeld());
        server.Say(QByteArray::fromHex("fffa2c6dfff0"));
        QTRY_VERIFY(line.CheckLine() && !line.FlowHeld());
        server.Say(QByteArray::fromHex("fffa2c6cfff0"));
        QTRY_VERIFY(line.CheckLine() && line.FlowHeld());
    }
    if (how == Fault::NotBinary || how == Fault::Suspends) {
        rig.TakeLog();
        rig.Select(13);
        rig.Press(QStringLiteral("Z/I stop"));
        const QString log = rig.TakeLog();
        if (how == Fault::Suspends) {
            QVERIFY2(rig.notices.contains(Notice::TransferError), qPrintable(log));
            told << rig.controller.WriteFailureReason();
        } else {
            QVERIFY2(rig.notices.isEmpty(), qPrintable(log));
        }
        // Camera 13's frames arrive whole: the server reads each byte as itself.
        const QByteArray left = BytesThatLeft(log);
        QTRY_COMPARE_WITH_TIMEOUT(TelnetData(server.Received(), false).toHex(' '), left.toHex(' '),
                                  2000);
        if (how == Fault::NotBinary) {
            QVERIFY2(left.contains(QByteArray::fromHex("ff0d0020")), left.toHex(' ').constData());
            QVERIFY(server.Received().contains(QByteArray::fromHex("ffff0d000020")));
            // A stop sender on this line writes camera 13's stop as the program would.
            const QByteArray stop = QByteArray::fromHex("ff0d000000000d");
            MovementRecord record{};
            MovementLog::LineOpened(record, line.NativeKind());
            MovementLog::BeginMovement(record, reinterpret_cast<const uint8_t*>(stop.constData()),
                                       int(stop.size()));
            const int before = int(server.Received().size());
            QCOMPARE(SendOwedBytes(line.NativeHandle(), record), int(stop.size()));
            QTRY_COMPARE_WITH_TIMEOUT(server.Received().mid(before).toHex(' '),
                                      QByteArray("ff ff 0d 00 00 00 00 00 0d 00"), 2000);
        }
    }
    if (how == Fault::SlowLookup) {
        // Its own bound, not the connect's; a second COMMUNICATION SET at once waits for the
        // first lookup to end and starts no second one beside it.
        QVERIFY2(openMs < 2900, qPrintable(QString::number(openMs)));
        QVERIFY(!rig.controller.ApplyCommunicationSettings());
        told << rig.controller.OpenFailureReason();
        QCOMPARE(mostLookupsAtOnce.load(), 1);
        NetSocket::Platform::SetResolver(nullptr);
    }
    rig.controller.ReleasePort();
    const QByteArray seen = server.Received();
    if (reached != "*")
        QCOMPARE(seen.toHex(' '), reached);
    for (const QString& reason : told) {
        qInfo("%s: the operator read: %s", QTest::currentDataTag(), qPrintable(reason));
        QVERIFY2(reason.contains(words), qPrintable(reason));
    }
    if (!words.isEmpty())
        QVERIFY(!told.isEmpty());
    qInfo("%s: %lld bytes reached the server", QTest::currentDataTag(), qlonglong(seen.size()));
}

QTEST_GUILESS_MAIN(TestNetLine)
#include "tst_net_line.moc"
