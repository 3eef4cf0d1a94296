// The Windows serial device: the line it sets up whatever the last program left, which
// write errors mean the line is gone, and, on a port that tools/windows/wine_line_check.py
// maps to a pseudo-terminal (VELMOR_TEST_PORT), both read back off a real handle under Wine,
// with what a held line does to writes, closes and a stop sender's write.
#include <QtTest>

#include <windows.h>

#include <atomic>

#include "serial/device/line_settings_win.h"
#include "serial/device/local_serial_device.h"
#include "serial/failsafe/line_timing.h"
#include "serial/failsafe/raw_io.h"
#include "serial/ports/port_claim_win.h"

namespace {

QByteArray Bytes(const DCB& dcb) {
    return QByteArray(reinterpret_cast<const char*>(&dcb), sizeof dcb);
}

DCB Left(const QByteArray& bytes) {
    DCB dcb;
    memcpy(&dcb, bytes.constData(), sizeof dcb);
    return dcb;
}

// The rules a picky driver checks a DCB by, and the line this program writes on.
void VerifyLine(const DCB& dcb, uint32_t baud) {
    QCOMPARE(dcb.BaudRate, DWORD(baud));
    QCOMPARE(int(dcb.ByteSize), 8);
    QCOMPARE(int(dcb.Parity), NOPARITY);
    QCOMPARE(int(dcb.StopBits), ONESTOPBIT);
    QCOMPARE(int(dcb.fParity), FALSE);
    QCOMPARE(int(dcb.fOutxCtsFlow), FALSE);
    QCOMPARE(int(dcb.fOutxDsrFlow), FALSE);
    QCOMPARE(int(dcb.fOutX), FALSE);
    QCOMPARE(int(dcb.fInX), FALSE);
    QCOMPARE(int(dcb.fDtrControl), DTR_CONTROL_ENABLE);
    QCOMPARE(int(dcb.fRtsControl), RTS_CONTROL_ENABLE);
    QCOMPARE(int(dcb.fAbortOnError), FALSE);
    QCOMPARE(int(dcb.XonChar), 0x11);
    QCOMPARE(int(dcb.XoffChar), 0x13);
    QVERIFY2(DWORD(dcb.XonLim) + dcb.XoffLim <= kLineQueueBytes,
             qPrintable(QStringLiteral("limits %1 and %2").arg(dcb.XonLim).arg(dcb.XoffLim)));
}

HANDLE OpenRaw(const QString& port) {
    const QString path = QStringLiteral("\\\\.\\") + port;
    return CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

// The harness's far end of the line (VELMOR_TEST_TALK): it reads nothing while "hold"
// exists, and keeps the count of what it read in "received".
struct FarEnd {
    QString folder = qEnvironmentVariable("VELMOR_TEST_TALK");

    void Hold(bool held) const {
        QFile hold(folder + QStringLiteral("/hold"));
        if (held) {
            QVERIFY(hold.open(QIODevice::WriteOnly));
        } else {
            QVERIFY(hold.remove());
        }
    }
    qint64 Received() const {
        QFile count(folder + QStringLiteral("/received"));
        return count.open(QIODevice::ReadOnly) ? count.readAll().toLongLong() : -1;
    }
    // The count once it has stood still for a while (the far end reads every 10 ms).
    qint64 Settled() const {
        qint64 last = Received();
        for (QDeadlineTimer deadline(20000); !deadline.hasExpired();) {
            QThread::msleep(200);
            const qint64 now = Received();
            if (now == last)
                return now;
            last = now;
        }
        return last;
    }
};

enum class Then { Close, Release, Beside };

}  // namespace

class TestDeviceWin : public QObject {
    Q_OBJECT
private slots:
    void lineSettings_data();
    void lineSettings();
    void goneErrors_data();
    void goneErrors();
    void portSetUp();
    void heldLine_data();
    void heldLine();
    void portHangsUp();
};

void TestDeviceWin::lineSettings_data() {
    QTest::addColumn<QByteArray>("left");
    QTest::addColumn<uint>("baud");
    DCB zero{};
    zero.DCBlength = sizeof zero;
    QTest::newRow("a DCB of zeros, 2400") << Bytes(zero) << 2400u;
    DCB same = zero;
    same.XonChar = same.XoffChar = 0x11;
    same.XonLim = same.XoffLim = 65535;
    QTest::newRow("XON == XOFF, limits past any queue, 9600") << Bytes(same) << 9600u;
    DCB flow = same;
    flow.XonChar = flow.XoffChar = 0;
    flow.fOutX = flow.fInX = flow.fOutxCtsFlow = flow.fOutxDsrFlow = TRUE;
    flow.fRtsControl = RTS_CONTROL_HANDSHAKE;
    flow.fDtrControl = DTR_CONTROL_HANDSHAKE;
    flow.fAbortOnError = flow.fParity = TRUE;
    flow.Parity = EVENPARITY;
    flow.ByteSize = 7;
    flow.StopBits = TWOSTOPBITS;
    QTest::newRow("7E2 with every flow control, 19200") << Bytes(flow) << 19200u;
}

void TestDeviceWin::lineSettings() {
    QFETCH(QByteArray, left);
    QFETCH(uint, baud);
    DCB given = Left(left);
    given.EofChar = 0x1A;
    const DCB set = LineSettings(given, baud);
    VerifyLine(set, baud);
    // What the line does not decide is the driver's, kept as it was.
    QCOMPARE(set.DCBlength, given.DCBlength);
    QCOMPARE(int(set.EofChar), 0x1A);
}

void TestDeviceWin::goneErrors_data() {
    QTest::addColumn<uint>("error");
    QTest::addColumn<bool>("gone");
    const struct {
        const char* name;
        DWORD error;
        bool gone;
    } rows[] = {
        {"ERROR_BAD_COMMAND", ERROR_BAD_COMMAND, true},
        {"ERROR_DEVICE_REMOVED", ERROR_DEVICE_REMOVED, true},
        {"ERROR_ACCESS_DENIED", ERROR_ACCESS_DENIED, true},
        {"ERROR_GEN_FAILURE", ERROR_GEN_FAILURE, true},
        {"ERROR_DEVICE_NOT_CONNECTED", ERROR_DEVICE_NOT_CONNECTED, true},
        {"ERROR_OPERATION_ABORTED", ERROR_OPERATION_ABORTED, true},
        {"ERROR_INVALID_HANDLE", ERROR_INVALID_HANDLE, true},
        {"ERROR_NOT_READY", ERROR_NOT_READY, true},
        // A stall is not a loss: the line is kept and the next frame tries again.
        {"ERROR_SEM_TIMEOUT", ERROR_SEM_TIMEOUT, false},
        {"ERROR_COUNTER_TIMEOUT", ERROR_COUNTER_TIMEOUT, false},
        {"ERROR_TIMEOUT", ERROR_TIMEOUT, false},
        {"ERROR_IO_PENDING", ERROR_IO_PENDING, false},
        {"ERROR_INVALID_PARAMETER", ERROR_INVALID_PARAMETER, false},
        {"ERROR_SUCCESS", ERROR_SUCCESS, false},
    };
    for (const auto& row : rows) QTest::newRow(row.name) << uint(row.error) << row.gone;
}

void TestDeviceWin::goneErrors() {
    QFETCH(uint, error);
    QFETCH(bool, gone);
    QCOMPARE(LineGoneError(error), gone);
}

// A port left by another program with one character for XON and XOFF and limits past its
// queue is set up sanely, and its write time-out never goes below the floor.
void TestDeviceWin::portSetUp() {
    const QString port = qEnvironmentVariable("VELMOR_TEST_PORT");
    if (port.isEmpty())
        QSKIP("no port mapped (VELMOR_TEST_PORT): tools/windows/wine_line_check.py maps one");
    const HANDLE raw = OpenRaw(port);
    QVERIFY(raw != INVALID_HANDLE_VALUE);
    DCB left{};
    left.DCBlength = sizeof left;
    QVERIFY(GetCommState(raw, &left));
    left.XonChar = left.XoffChar = 0;
    left.XonLim = left.XoffLim = 60000;
    QVERIFY(SetCommState(raw, &left));
    DCB check{};
    check.DCBlength = sizeof check;
    QVERIFY(GetCommState(raw, &check));
    QCOMPARE(check.XonChar, check.XoffChar);  // else this case would prove nothing
    CloseHandle(raw);

    LocalSerialDevice device;
    QVERIFY(device.Open(port, 9600));
    const auto handle = reinterpret_cast<HANDLE>(device.NativeHandle());
    DCB got{};
    got.DCBlength = sizeof got;
    QVERIFY(GetCommState(handle, &got));
    VerifyLine(got, 9600);
    const uint8_t byte = 0xFF;
    QCOMPARE(device.Write(&byte, 1, 1), 1u);
    COMMTIMEOUTS timeouts{};
    QVERIFY(GetCommTimeouts(handle, &timeouts));
    QCOMPARE(int(timeouts.WriteTotalTimeoutConstant), LineTiming::kWriteFloorMs);
    QCOMPARE(int(timeouts.WriteTotalTimeoutMultiplier), 0);
    QVERIFY(!device.LineLost());
}

void TestDeviceWin::heldLine_data() {
    QTest::addColumn<bool>("held");
    QTest::addColumn<int>("then");
    QTest::newRow("a frame, then a close at once: every byte arrives") << false << int(Then::Close);
    QTest::newRow("held: the close ends within its bound") << true << int(Then::Close);
    QTest::newRow("held: a short write keeps what it counted") << true << int(Then::Release);
    QTest::newRow("held: a stop sender writes beside the line's own write")
        << true << int(Then::Beside);
}

// The far end stops reading until the line fills (a stalled line, as a held key meets
// it), or not; then the line is closed, let go, or a stop sender writes on the handle
// while another thread is inside a write on it, as the crash handler does with the
// window's thread held. Every byte the device counted as sent reaches the far end; none
// it did not count does.
void TestDeviceWin::heldLine() {
    QFETCH(bool, held);
    QFETCH(int, then);
    const QString port = qEnvironmentVariable("VELMOR_TEST_PORT");
    const FarEnd farEnd;
    if (port.isEmpty() || farEnd.folder.isEmpty())
        QSKIP("no far end to hold (VELMOR_TEST_PORT, VELMOR_TEST_TALK)");
    // A row that fails half-way leaves the far end reading for the next.
    const auto reading =
        qScopeGuard([&] { QFile::remove(farEnd.folder + QStringLiteral("/hold")); });
    LocalSerialDevice device;
    QVERIFY(device.Open(port, 9600));
    const qint64 before = farEnd.Settled();
    QVERIFY(before >= 0);
    qint64 counted = 0;
    if (held) {
        farEnd.Hold(true);
        // Whole kilobytes, then single bytes into what room a kilobyte did not fit.
        const QByteArray chunk(1024, 'x');
        const auto bytes = reinterpret_cast<const uint8_t*>(chunk.constData());
        QDeadlineTimer deadline(60000);
        for (const uint32_t size : {uint32_t(chunk.size()), 1u}) {
            uint32_t took = 0;
            do {
                took = device.Write(bytes, size, 1);
                counted += took;
            } while (took == size && !deadline.hasExpired());
            QVERIFY2(took < size, "the held line never filled");
        }
        QVERIFY(!device.LineLost());
    } else {
        const uint8_t frame[] = "a0PL0000080";
        QCOMPARE(device.Write(frame, 11, 1), 11u);
        counted = 11;
    }
    const auto handle = device.NativeHandle();
    const uint8_t stop[] = {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01};
    if (then == int(Then::Close)) {
        QElapsedTimer closing;
        closing.start();
        device.Close();
        // Order, not speed: the drain's bound, far inside this.
        QVERIFY2(closing.elapsed() < 5000, qPrintable(QString::number(closing.elapsed())));
        if (held)
            farEnd.Hold(false);
        // Closed for good: the port opens again at once.
        QVERIFY(device.Open(port, 9600));
        if (!held)
            QCOMPARE(farEnd.Settled() - before, counted);
        return;
    }
    if (then == int(Then::Beside)) {
        std::atomic<int> inside{0};
        std::atomic<uint32_t> took{99};
        const uint8_t byte = 0x55;
        QScopedPointer<QThread> line(QThread::create([&] {
            inside = 1;
            took = device.Write(&byte, 1, 4000);
            inside = 2;
        }));
        line->start();
        while (inside == 0) QThread::msleep(1);
        QThread::msleep(100);  // into its wait for the driver
        QVERIFY(!WriteLineBytes(handle, LineKind::Serial, stop, sizeof stop));
        // The stop sender gave up on the held line while the other write was still inside.
        QCOMPARE(inside.load(), 1);
        farEnd.Hold(false);
        QVERIFY(line->wait(20000));
        QCOMPARE(took.load(), 1u);
        counted += 1;
        // The line reads again: the stop sender's next write goes whole.
        QVERIFY(WriteLineBytes(handle, LineKind::Serial, stop, sizeof stop));
        counted += sizeof stop;
    } else {
        farEnd.Hold(false);
    }
    QCOMPARE(farEnd.Settled() - before, counted);
}

// The line hangs up under an open port (VELMOR_TEST_HANGUP names the file whose making
// asks the harness to hang it up): the device says the line is lost, keeps its handle for
// the link to close, takes no more writes, and once closed lets the port's claim go.
void TestDeviceWin::portHangsUp() {
    const QString port = qEnvironmentVariable("VELMOR_TEST_PORT");
    const QString hangUp = qEnvironmentVariable("VELMOR_TEST_HANGUP");
    if (port.isEmpty() || hangUp.isEmpty())
        QSKIP("no port to hang up (VELMOR_TEST_PORT, VELMOR_TEST_HANGUP)");
    LocalSerialDevice device;
    QVERIFY(device.Open(port, 9600));
    const uint8_t byte = 0xFF;
    QCOMPARE(device.Write(&byte, 1, 1), 1u);
    QFile ask(hangUp);
    QVERIFY(ask.open(QIODevice::WriteOnly));
    ask.close();
    QDeadlineTimer deadline(20000);
    while (device.Write(&byte, 1, 1) == 1 && !deadline.hasExpired()) QThread::msleep(20);
    QVERIFY(device.LineLost());
    QVERIFY(device.NativeHandle() != -1);
    QCOMPARE(device.Write(&byte, 1, 1), 0u);
    QVERIFY(device.LineLost());
    device.Close();
    QCOMPARE(device.NativeHandle(), intptr_t(-1));
    const QString claimName = PortClaimName(port);
    const HANDLE claim = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(claimName.utf16()));
    QVERIFY(claim);
    QVERIFY(GetLastError() != ERROR_ALREADY_EXISTS);
    CloseHandle(claim);
}

QTEST_GUILESS_MAIN(TestDeviceWin)
#include "tst_device_win.moc"
