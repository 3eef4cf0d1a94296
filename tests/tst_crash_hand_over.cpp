#include <QtTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "control/keypad_controller.h"
#include "fakes.h"
#include "protocol/control_ids.h"
#include "pty_pair.h"
#include "serial/device/local_serial_device.h"
#include "serial/failsafe/line_guard.h"
#include "serial/failsafe/raw_io.h"
#include "serial/guardian/crash_stop.h"
#include "serial/guardian/stop_guard.h"
#include "serial/line/pause.h"

// Who sends what once the program's own writer stops, decided by the movement record alone:
// a byte the writer had in hand when it died, and a crash on a thread other than the one
// that writes the line while a held arrow key sends frame after frame. The line carries
// whole frames and one stop, last.

namespace {

const QByteArray kOskaMove("*05750100BC");
const QByteArray kOskaStop("*05750900C4");
const QByteArray kPelcoMove = QByteArray::fromHex("FF050020000025");
const QByteArray kPelcoStop = QByteArray::fromHex("FF050000000005");

// Tells the crash handler of the line, as the program's guard does.
class CrashLineGuard : public LineGuard {
public:
    MovementRecord& Record() override { return record; }
    void LineOpened(intptr_t line) override { SetCrashStopLine(line); }
    void LineClosed() override { SetCrashStopLine(-1); }
    MovementRecord record{};
};

// The child: the keypad's core on the pty's slave with real pauses, the Up key held (a
// frame per repeat), and another thread that crashes by signalNumber after delayUs, or
// sends it to the process as kill(1) does, for whichever thread the system picks.
[[noreturn]] void RunAndCrash(const QString& slave, int protocol, int signalNumber, int delayUs,
                              bool fromOutside) {
    CrashLineGuard guard;
    ArmCrashStop(guard.record);
    LocalSerialDevice device;
    PrecisePause pause;
    MemoryProfile profile;
    profile.values.insert(QStringLiteral("Ports/COM1"), slave);
    profile.values.insert(QStringLiteral("Settings/COMUINIT"), 1);
    profile.values.insert(QStringLiteral("Settings/PROTOCOL"), protocol);
    profile.values.insert(QStringLiteral("Settings/COMPORT"), 1);
    profile.values.insert(QStringLiteral("Settings/BAUDRATE"), 9600);
    KeypadController controller(KeypadServices{device, pause, profile, nullptr, &guard});
    controller.OnInitDialog();
    controller.PressKey(ControlId::Key5);
    controller.PressKey(ControlId::Ent);
    std::thread crasher([signalNumber, delayUs, fromOutside] {
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
        if (fromOutside)
            ::kill(::getpid(), signalNumber);
        else
            ::raise(signalNumber);
    });
    for (;;) controller.PressPcKey(VirtualKey::Up);
}

// How a crash reaches the line's thread while it holds a byte in hand.
enum class InHold { SentFromOutside, OwnFault, OwnAbort };

// The child: a held Up's PELCO D frame on line, three bytes out and the fourth in hand. Sent
// from outside, the crash comes once that byte went and before the record counts it; the
// thread's own fault and abort() come before it went. ready and go: the pipes by which the
// parent learns the byte went and says that it sent the signal.
[[noreturn]] void CrashInTheHold(int line, InHold how, int ready, int go) {
    static MovementRecord record{};
    ArmCrashStop(record);
    SetCrashStopLine(line);
    const auto* move = reinterpret_cast<const uint8_t*>(kPelcoMove.constData());
    MovementLog::LineOpened(record, LineKind::Serial);
    MovementLog::BeginMovement(record, reinterpret_cast<const uint8_t*>(kPelcoStop.constData()),
                               int(kPelcoStop.size()));
    MovementLog::BeginFrame(record, move, int(kPelcoMove.size()));
    for (int i = 0; i < 4; ++i) {
        const ByteInHandHold hold;
        MovementLog::BeginByte(record);
        if (i == 3 && how == InHold::OwnFault) {
            int* volatile nowhere = nullptr;
            *nowhere = 1;
        }
        if (i == 3 && how == InHold::OwnAbort)
            std::abort();
        WriteLineBytes(line, LineKind::Serial, move + i, 1);
        char word = 'r';
        if (i == 3 && ::write(ready, &word, 1) == 1) [[maybe_unused]]
            const ssize_t n = ::read(go, &word, 1);
        MovementLog::ByteSent(record, LineClockNs());
    }
    ::_exit(0);
}

// What a forked child left: the line, read until the child is gone, its standard error at
// its end (a guardian beside it holds that until it ends too) and the line quiet, since a
// loaded machine may hold a stop back for longer than any quiet spell; what was said on
// standard error; and the child's wait status.
struct ChildEnd {
    QByteArray line;
    QByteArray said;
    int status = 0;
};

// parent runs once the child started, before the line is read; what it returns was said.
template <typename Child, typename Parent>
ChildEnd RunChild(PtyPair& pty, Child child, Parent parent) {
    ChildEnd end;
    int said[2];
    if (::pipe(said) != 0)
        return end;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(said[1], STDERR_FILENO);
        const struct rlimit noCore = {0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        child();
    }
    ::close(said[1]);
    if (pid > 0)
        end.said = parent(pid, said[0]);
    ::fcntl(said[0], F_SETFL, O_NONBLOCK);
    pid_t ended = pid < 0 ? pid : 0;
    bool saidAll = false;
    while (ended == 0 || !saidAll) {
        end.line += pty.ReadAvailable(100);
        char text[256];
        ssize_t n;
        while ((n = ::read(said[0], text, sizeof(text))) > 0) end.said += QByteArray(text, int(n));
        saidAll = n == 0;
        if (ended == 0)
            ended = ::waitpid(pid, &end.status, WNOHANG);
    }
    end.line += pty.ReadAvailable(100);
    ::close(said[0]);
    return end;
}

// The program's guardian: its one child.
pid_t GuardianOf(pid_t pid) {
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    return children.open(QIODevice::ReadOnly) ? children.readAll().trimmed().toInt() : 0;
}

// Whether process pid has the file at path open.
bool Holds(pid_t pid, const QByteArray& path) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        if (fd.symLinkTarget() == QString::fromLocal8Bit(path))
            return true;
    }
    return false;
}

// The state letter of process pid (its first thread): 'S' while it waits in a system call.
char StateOf(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    const int end = int(text.lastIndexOf(") "));
    return end < 0 ? '?' : text.at(end + 2);
}

// Stops the guardian once it has taken the line at path.
void StopHolding(pid_t guardian, const QByteArray& path) {
    while (!Holds(guardian, path)) ::usleep(1000);
    ::kill(guardian, SIGSTOP);
    int status = 0;
    ::waitpid(guardian, &status, WUNTRACED);
}

// The child: a program whose guardian answers a close too late, once (stopped past the
// program's wait); at the next close the guardian goes on only while the program waits for
// the answer. It ends with 0 only if the guardian had let go of the line by the time the
// close returned.
[[noreturn]] void CloseAfterALateAnswer(const QByteArray& path) {
    StopGuard& guard = StopGuard::Start(0, nullptr);
    const pid_t guardian = GuardianOf(::getpid());
    guard.LineOpened(::open(path.constData(), O_WRONLY | O_NOCTTY));
    StopHolding(guardian, path);
    guard.LineClosed();
    ::kill(guardian, SIGCONT);
    // Let go, and its answer to the first round sent.
    while (Holds(guardian, path) || StateOf(guardian) != 'S') ::usleep(1000);

    guard.LineOpened(::open(path.constData(), O_WRONLY | O_NOCTTY));
    StopHolding(guardian, path);
    std::atomic<int> phase{0};
    std::thread resumer([&phase, guardian] {
        while (phase == 0 || (phase == 1 && StateOf(::getpid()) != 'S')) ::usleep(200);
        ::kill(guardian, SIGCONT);
    });
    phase = 1;
    guard.LineClosed();
    phase = 2;
    const bool held = Holds(guardian, path);
    resumer.join();
    if (held)
        SayOnStandardError("the close took an earlier round's answer\n");
    ::_exit(held ? 1 : 0);
}

// The child: a program gone with a stop owed, its line left with the guardian.
[[noreturn]] void LeaveTheStopOwed(const QByteArray& path) {
    StopGuard& guard = StopGuard::Start(0, nullptr);
    MovementRecord& record = guard.Record();
    MovementLog::LineOpened(record, LineKind::Serial);
    MovementLog::BeginMovement(record, reinterpret_cast<const uint8_t*>(kPelcoStop.constData()),
                               int(kPelcoStop.size()));
    guard.LineOpened(::open(path.constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK));
    ::_exit(0);
}

}  // namespace

class TestCrashHandOver : public QObject {
    Q_OBJECT
private slots:
    void byteInHand_data();
    void byteInHand();
    void crashOnAnotherThread_data();
    void crashOnAnotherThread();
    void crashInTheHold_data();
    void crashInTheHold();
    void guardianTriesAgain_data();
    void guardianTriesAgain();
    void lateAnswerFromTheGuardian();
};

void TestCrashHandOver::byteInHand_data() {
    QTest::addColumn<QByteArray>("move");
    QTest::addColumn<QByteArray>("stop");
    QTest::addColumn<bool>("stopInFlight");
    QTest::addColumn<int>("handed");
    QTest::addColumn<QByteArray>("owed");
    QTest::addColumn<int>("kind");
    const int serial = int(LineKind::Serial);
    const int socket = int(LineKind::Socket);
    const int telnet = int(LineKind::TelnetSocket);
    QTest::newRow("OSKA-DEFAULT, the first byte of the move in hand")
        << kOskaMove << kOskaStop << false << 1 << kOskaMove + kOskaStop << serial;
    QTest::newRow("OSKA-DEFAULT, the fifth byte of the move in hand")
        << kOskaMove << kOskaStop << false << 5 << kOskaMove.mid(4) + kOskaStop << serial;
    QTest::newRow("PELCO D, the last byte of the move in hand")
        << kPelcoMove << kPelcoStop << false << 7 << kPelcoMove.right(1) + kPelcoStop << serial;
    QTest::newRow("OSKA-DEFAULT, the last byte of the stop in hand")
        << kOskaMove << kOskaStop << true << 11 << kOskaStop.right(1) + kOskaStop << serial;
    QTest::newRow("PELCO D, the stop's sync byte in hand")
        << kPelcoMove << kPelcoStop << true << 1 << kPelcoStop + kPelcoStop << serial;
    QTest::newRow("raw socket, PELCO D, the last byte of the move in hand")
        << kPelcoMove << kPelcoStop << false << 7 << kPelcoStop << socket;
    QTest::newRow("Telnet socket, OSKA-DEFAULT, the fifth byte of the move in hand")
        << kOskaMove << kOskaStop << false << 5 << kOskaMove.mid(5) + kOskaStop << telnet;
    QTest::newRow("raw socket, PELCO D, the stop's sync byte in hand")
        << kPelcoMove << kPelcoStop << true << 1 << kPelcoStop.mid(1) << socket;
}

// The writer died with a byte in the system's hands: on a local line the next sender sends it
// again, then the rest, so the stop that follows starts whole on the line; a stop in flight
// goes again, whole, after it.
void TestCrashHandOver::byteInHand() {
    QFETCH(QByteArray, move);
    QFETCH(QByteArray, stop);
    QFETCH(bool, stopInFlight);
    QFETCH(int, handed);
    QFETCH(QByteArray, owed);
    QFETCH(int, kind);

    MovementRecord record{};
    MovementLog::LineOpened(record, static_cast<LineKind>(kind));
    const auto bytes = [](const QByteArray& frame) {
        return reinterpret_cast<const uint8_t*>(frame.constData());
    };
    MovementLog::BeginMovement(record, bytes(stop), int(stop.size()));
    if (stopInFlight)
        MovementLog::BeginStop(record);
    else
        MovementLog::BeginFrame(record, bytes(move), int(move.size()));
    for (int i = 0; i < handed; ++i) {
        MovementLog::BeginByte(record);
        if (i + 1 < handed)
            MovementLog::ByteSent(record, 0);
    }
    QCOMPARE(record.handing, uint8_t(1));
    MovementLog::TakeOver(record);
    const MovementLog::Owed due = MovementLog::OwedBytes(record);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(due.bytes), due.count), owed);
    QCOMPARE(record.handing, uint8_t(0));
    // Taken over once; a second sender after it finds nothing more in hand.
    MovementLog::TakeOver(record);
    QCOMPARE(MovementLog::OwedBytes(record).count, due.count);
}

void TestCrashHandOver::crashOnAnotherThread_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<int>("delayUs");
    QTest::addColumn<bool>("fromOutside");
    // Delays spread over a frame's bytes and pauses, so that the crash lands before a
    // byte, inside a pause and between frames.
    const int delays[] = {3000, 9100, 14700, 21300, 26900, 33100, 47900, 52300};
    for (int protocol : {0, 1}) {
        for (int signalNumber : {SIGSEGV, SIGABRT}) {
            for (int delay : delays)
                QTest::addRow("%s, %s, after %d us", protocol ? "PELCO D" : "OSKA-DEFAULT",
                              signalNumber == SIGSEGV ? "SIGSEGV" : "SIGABRT", delay)
                    << protocol << signalNumber << delay << false;
        }
        // Sent to the process, it may interrupt the line's own thread mid-write.
        for (int delay : delays)
            QTest::addRow("%s, SIGSEGV sent from outside, after %d us",
                          protocol ? "PELCO D" : "OSKA-DEFAULT", delay)
                << protocol << SIGSEGV << delay << true;
    }
}

void TestCrashHandOver::crashOnAnotherThread() {
    QFETCH(int, protocol);
    QFETCH(int, signalNumber);
    QFETCH(int, delayUs);
    QFETCH(bool, fromOutside);

    PtyPair pty;
    QVERIFY(pty.ok());
    const QString slave = pty.slavePath();
    const ChildEnd end = RunChild(
        pty, [&] { RunAndCrash(slave, protocol, signalNumber, delayUs, fromOutside); },
        [](pid_t, int) { return QByteArray(); });
    const QByteArray& line = end.line;

    QVERIFY(WIFSIGNALED(end.status));
    QCOMPARE(WTERMSIG(end.status), signalNumber);
    QVERIFY2(end.said.contains("the moving camera was sent the stop"), end.said.constData());
    const QByteArray move = protocol ? kPelcoMove : kOskaMove;
    const QByteArray stop = protocol ? kPelcoStop : kOskaStop;
    const QByteArray shown = line.toHex(' ');
    QVERIFY2(line.size() % move.size() == 0, shown.constData());
    int stops = 0;
    for (int at = 0; at < line.size(); at += move.size()) {
        const QByteArray frame = line.mid(at, move.size());
        QVERIFY2(frame == move || frame == stop, shown.constData());
        stops += frame == stop;
    }
    QCOMPARE(stops, 1);
    QVERIFY2(line.endsWith(stop), shown.constData());
}

void TestCrashHandOver::crashInTheHold_data() {
    QTest::addColumn<int>("how");
    QTest::addColumn<int>("signalNumber");
    QTest::addRow("a SIGSEGV sent to the thread from outside")
        << int(InHold::SentFromOutside) << SIGSEGV;
    QTest::addRow("a SIGSEGV of the thread's own") << int(InHold::OwnFault) << SIGSEGV;
    QTest::addRow("the thread's own abort()") << int(InHold::OwnAbort) << SIGABRT;
}

// A crash signal sent from outside waits until the byte in hand is counted, so the byte goes
// once; the thread's own fault or abort reaches the handler at once, which sends the byte in
// doubt again. Either way the line carries the frame whole and the stop.
void TestCrashHandOver::crashInTheHold() {
    QFETCH(int, how);
    QFETCH(int, signalNumber);

    PtyPair pty;
    QVERIFY(pty.ok());
    int ready[2], go[2];
    QCOMPARE(::pipe(ready), 0);
    QCOMPARE(::pipe(go), 0);
    bool sent = how != int(InHold::SentFromOutside);
    const ChildEnd end = RunChild(
        pty, [&] { CrashInTheHold(pty.slaveFd, InHold(how), ready[1], go[0]); },
        [&](pid_t child, int) {
            // The child's ends: a child gone early ends the read.
            ::close(ready[1]);
            ::close(go[0]);
            char word = 0;
            if (!sent && ::read(ready[0], &word, 1) == 1)
                sent = ::syscall(SYS_tgkill, child, child, SIGSEGV) == 0;
            [[maybe_unused]] const ssize_t n = ::write(go[1], &word, 1);
            return QByteArray();
        });
    ::close(ready[0]);
    ::close(go[1]);

    QVERIFY(sent);
    QVERIFY(WIFSIGNALED(end.status));
    QCOMPARE(WTERMSIG(end.status), signalNumber);
    QVERIFY2(end.said.contains("the moving camera was sent the stop"), end.said.constData());
    QCOMPARE(end.line.toHex(' '), (kPelcoMove + kPelcoStop).toHex(' '));
}

void TestCrashHandOver::guardianTriesAgain_data() {
    QTest::addColumn<bool>("frees");
    QTest::addColumn<QByteArray>("said");
    QTest::addRow("a line that frees 300 ms after the program went")
        << true << QByteArray("the guardian sent the stop");
    QTest::addRow("a line that never frees") << false << QByteArray("took no stop within 3 s");
}

// The program went with a stop owed on a stalled line: the guardian tries again until the
// line takes the stop whole, or says that it did not.
void TestCrashHandOver::guardianTriesAgain() {
    QFETCH(bool, frees);
    QFETCH(QByteArray, said);

    PtyPair pty;
    QVERIFY(pty.ok());
    // Output held, as by a far end's XOFF: the line takes no byte until it is let go on.
    QCOMPARE(::tcflow(pty.slaveFd, TCOOFF), 0);
    const QByteArray path = pty.slavePath().toLocal8Bit();
    const ChildEnd end = RunChild(
        pty, [&] { LeaveTheStopOwed(path); },
        [&](pid_t child, int saying) {
            QByteArray text(256, 0);
            siginfo_t gone{};
            if (frees) {
                ::waitid(P_PID, static_cast<id_t>(child), &gone, WEXITED | WNOWAIT);
                ::usleep(300 * 1000);
                ::tcflow(pty.slaveFd, TCOON);
                return QByteArray();
            }
            const ssize_t n = ::read(saying, text.data(), text.size());
            return text.left(n > 0 ? int(n) : 0);
        });

    QVERIFY2(end.said.contains(said), end.said.constData());
    QCOMPARE(end.line.toHex(' '), (frees ? kPelcoStop : QByteArray()).toHex(' '));
}

void TestCrashHandOver::lateAnswerFromTheGuardian() {
    PtyPair pty;
    QVERIFY(pty.ok());
    const QByteArray path = pty.slavePath().toLocal8Bit();
    const ChildEnd end = RunChild(
        pty, [&] { CloseAfterALateAnswer(path); }, [](pid_t, int) { return QByteArray(); });
    QVERIFY2(WIFEXITED(end.status) && WEXITSTATUS(end.status) == 0, end.said.constData());
}

QTEST_GUILESS_MAIN(TestCrashHandOver)
#include "tst_crash_hand_over.moc"
