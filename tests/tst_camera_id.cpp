#include <QtTest>

#include "fakes.h"
#include "protocol/camera_id_entry.h"
#include "protocol/command_set.h"
#include "protocol/status_list.h"
#include "serial/line/serial_link.h"

// The camera address typed on the digit keys, its line in the status list, and its commit
// by ENT, CLR and CAM.

namespace {

const QString kRange = QStringLiteral("Camera ID Range (0 ~ 255) Error!");

QString Line(int index) {
    return QStringLiteral("line %1").arg(index);
}

// The entry wired as the dialog wires it, on a ten-line status list and a recording port.
struct Rig {
    explicit Rig(int cameraId = 0) {
        for (int i = 0; i < 10; ++i) lines.InsertLine(i, Line(i));
        link.OpenPort(1, 9600);
        state.cameraId = cameraId;
    }

    // Carries out space-separated keys: digits, ENT, CLR and CAM. False for anything else.
    bool Press(const QString& keys) {
        for (const QString& key : keys.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            bool isDigit = false;
            const int digit = key.toInt(&isDigit);
            if (isDigit && key.size() == 1)
                entry.EnterDigit(digit);
            else if (key == QLatin1String("ENT"))
                Tell(entry.CommitCameraId() ? Notice::None : Notice::CameraIdRange);
            else if (key == QLatin1String("CLR"))
                entry.ClearCameraId();
            else if (key == QLatin1String("CAM"))
                Tell(commands.SelectCamera());
            else
                return false;
        }
        return true;
    }

    QByteArray TakeLine() {
        const QByteArray bytes = device.Bytes().toHex(' ').toUpper();
        device.ClearRecord();
        return bytes;
    }

    // The list keeps ten lines, and only line 8 ever changes.
    bool ListIntact() const {
        if (lines.Lines().size() != 10)
            return false;
        for (int i = 0; i < 10; ++i) {
            if (i != CameraIdEntry::kStatusLine && lines.Lines().at(i) != Line(i))
                return false;
        }
        return true;
    }
    QString Line8() const { return lines.Lines().value(CameraIdEntry::kStatusLine); }
    // The operator is told, as the panel tells them.
    void Tell(Notice notice) {
        if (notice == Notice::CameraIdRange)
            messages.ShowMessage(kRange);
        else if (notice == Notice::TransferError)
            messages.ShowMessage(QStringLiteral("Transfer Error!"));
    }

    ControllerState state;
    RecordingDevice device;
    RecordingPause pause;
    RecordingMessages messages;
    StatusList lines;
    CSerialLink link{device, pause, [](int port) { return QStringLiteral("COM%1").arg(port); }};
    CameraIdEntry entry{state, lines};
    CommandSet commands{state, link, entry};
};

}  // namespace

class TestCameraId : public QObject {
    Q_OBJECT
private slots:
    void startState();
    void stateTable_data();
    void stateTable();
    void typingFourDigits();
    void leadingZerosThenEnt();
    void outOfRangeEnt();
    void enter255();
    void clearThenEnt();
    void outOfRangeCamThenDigit();
    void listKeepsTenLines();
    void matchesStateTable();
};

void TestCameraId::startState() {
    Rig rig(9);
    rig.entry.EnterDigit(5);
    rig.entry.EnterDigit(5);
    rig.entry.Reset();
    QCOMPARE(rig.entry.PendingId(), 0);
    QCOMPARE(rig.entry.DigitCount(), 0);
    QCOMPARE(rig.state.cameraId, 0);
    QCOMPARE(CameraIdEntry::CamIdLine(0), QStringLiteral("CAM ID : 0"));
    QCOMPARE(CameraIdEntry::CamIdLine(427), QStringLiteral("CAM ID : 427"));
    QVERIFY(CameraIdEntry::InRange(0));
    QVERIFY(CameraIdEntry::InRange(255));
    QVERIFY(!CameraIdEntry::InRange(256));
    QVERIFY(!CameraIdEntry::InRange(-1));
}

void TestCameraId::stateTable_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("cameraBefore");
    QTest::addColumn<int>("pendingId");
    QTest::addColumn<int>("digitCount");
    QTest::addColumn<int>("cameraId");
    QTest::addColumn<QString>("line8");
    QTest::addColumn<int>("messages");
    QTest::addColumn<QByteArray>("frame");  // the camera-select frame, if any

    const QString untouched = Line(8);
    const QByteArray none;

    // State 0: nothing typed since the last commit or clear.
    QTest::newRow("0 digit") << "5" << 9 << 5 << 1 << 9 << "CAM ID : 5" << 0 << none;
    QTest::newRow("0 ENT at start") << "ENT" << 9 << 0 << 0 << 0 << untouched << 0 << none;
    QTest::newRow("0 ENT again") << "4 2 ENT ENT" << 9 << 42 << 0 << 42 << "CAM ID : 42" << 0
                                 << none;
    QTest::newRow("0 ENT out of range")
        << "2 5 6 ENT ENT" << 9 << 256 << 0 << 9 << "CAM ID : 256" << 2 << none;
    QTest::newRow("0 CLR at start") << "CLR" << 9 << 0 << 0 << 0 << "CAM ID : 0" << 0 << none;
    QTest::newRow("0 CLR after commit")
        << "4 2 ENT CLR" << 9 << 42 << 0 << 0 << "CAM ID : 0" << 0 << none;
    QTest::newRow("0 CAM at start *09740000BE") << "CAM" << 9 << 0 << 0 << 0 << untouched << 0
                                                << QByteArray("2A 30 39 37 34 30 30 30 30 42 45");
    QTest::newRow("0 CAM after commit *2A742A00DB")
        << "4 2 ENT CAM" << 9 << 42 << 0 << 42 << "CAM ID : 42" << 0
        << QByteArray("2A 32 41 37 34 32 41 30 30 44 42");
    QTest::newRow("0 CAM out of range")
        << "2 5 6 ENT CAM" << 9 << 256 << 0 << 9 << "CAM ID : 256" << 2 << none;

    // State 1: one digit typed.
    QTest::newRow("1 digit") << "4 2" << 9 << 42 << 2 << 9 << "CAM ID : 42" << 0 << none;
    QTest::newRow("1 ENT") << "4 ENT" << 9 << 4 << 0 << 4 << "CAM ID : 4" << 0 << none;
    QTest::newRow("1 CLR") << "4 CLR" << 9 << 4 << 0 << 0 << "CAM ID : 0" << 0 << none;
    QTest::newRow("1 CAM *09740400C2") << "4 CAM" << 9 << 4 << 0 << 4 << "CAM ID : 4" << 0
                                       << QByteArray("2A 30 39 37 34 30 34 30 30 43 32");

    // State 2: two digits typed.
    QTest::newRow("2 digit") << "4 2 7" << 9 << 427 << 3 << 9 << "CAM ID : 427" << 0 << none;
    QTest::newRow("2 ENT") << "4 2 ENT" << 9 << 42 << 0 << 42 << "CAM ID : 42" << 0 << none;
    QTest::newRow("2 CLR") << "4 2 CLR" << 9 << 42 << 0 << 0 << "CAM ID : 0" << 0 << none;
    QTest::newRow("2 CAM *09742A00D1") << "4 2 CAM" << 9 << 42 << 0 << 42 << "CAM ID : 42" << 0
                                       << QByteArray("2A 30 39 37 34 32 41 30 30 44 31");
    QTest::newRow("2 CAM leading zero *09740700C5")
        << "0 7 CAM" << 9 << 7 << 0 << 7 << "CAM ID : 7" << 0
        << QByteArray("2A 30 39 37 34 30 37 30 30 43 35");

    // State 3: three digits typed; the number may be out of range.
    QTest::newRow("3 digit wraps") << "1 2 3 8" << 9 << 8 << 1 << 9 << "CAM ID : 8" << 0 << none;
    QTest::newRow("3 digit wraps after out of range")
        << "4 2 7 0" << 9 << 0 << 1 << 9 << "CAM ID : 0" << 0 << none;
    QTest::newRow("3 ENT") << "1 2 3 ENT" << 9 << 123 << 0 << 123 << "CAM ID : 123" << 0 << none;
    QTest::newRow("3 ENT 255") << "2 5 5 ENT" << 9 << 255 << 0 << 255 << "CAM ID : 255" << 0
                               << none;
    QTest::newRow("3 ENT out of range")
        << "4 2 7 ENT" << 9 << 427 << 0 << 9 << "CAM ID : 427" << 1 << none;
    QTest::newRow("3 CLR") << "1 2 3 CLR" << 9 << 123 << 0 << 0 << "CAM ID : 0" << 0 << none;
    QTest::newRow("3 CLR out of range")
        << "4 2 7 CLR" << 9 << 427 << 0 << 0 << "CAM ID : 0" << 0 << none;
    QTest::newRow("3 CAM *09747B00D7") << "1 2 3 CAM" << 9 << 123 << 0 << 123 << "CAM ID : 123" << 0
                                       << QByteArray("2A 30 39 37 34 37 42 30 30 44 37");
    QTest::newRow("3 CAM 255 from 12 *0C74FF00F4")
        << "2 5 5 CAM" << 12 << 255 << 0 << 255 << "CAM ID : 255" << 0
        << QByteArray("2A 30 43 37 34 46 46 30 30 46 34");
    QTest::newRow("3 CAM out of range")
        << "4 2 7 CAM" << 9 << 427 << 3 << 9 << "CAM ID : 427" << 1 << none;
    QTest::newRow("3 CAM 300") << "3 0 0 CAM" << 9 << 300 << 3 << 9 << "CAM ID : 300" << 1 << none;
}

void TestCameraId::stateTable() {
    QFETCH(QString, keys);
    QFETCH(int, cameraBefore);
    QFETCH(int, pendingId);
    QFETCH(int, digitCount);
    QFETCH(int, cameraId);
    QFETCH(QString, line8);
    QFETCH(int, messages);
    QFETCH(QByteArray, frame);

    Rig rig(cameraBefore);
    QVERIFY(rig.Press(keys));
    QCOMPARE(rig.entry.PendingId(), pendingId);
    QCOMPARE(rig.entry.DigitCount(), digitCount);
    QCOMPARE(rig.state.cameraId, cameraId);
    QCOMPARE(rig.Line8(), line8);
    QCOMPARE(rig.messages.shown, QStringList(messages, kRange));
    QCOMPARE(rig.TakeLine(), frame);
    QVERIFY(rig.ListIntact());
    if (line8 != Line(8))
        QCOMPARE(rig.entry.CamIdText(), line8);
}

void TestCameraId::typingFourDigits() {
    Rig rig(9);
    const struct {
        int digit;
        const char* line;
        int count;
    } steps[] = {
        {1, "CAM ID : 1", 1},
        {2, "CAM ID : 12", 2},
        {3, "CAM ID : 123", 3},
        {4, "CAM ID : 4", 1},
    };
    for (const auto& step : steps) {
        rig.entry.EnterDigit(step.digit);
        QCOMPARE(rig.Line8(), QString::fromLatin1(step.line));
        QCOMPARE(rig.entry.CamIdText(), QString::fromLatin1(step.line));
        QCOMPARE(rig.entry.DigitCount(), step.count);
        QVERIFY(rig.ListIntact());
    }
    QCOMPARE(rig.entry.PendingId(), 4);
    QCOMPARE(rig.state.cameraId, 9);
    QCOMPARE(rig.TakeLine(), QByteArray());
    QCOMPARE(rig.messages.shown, QStringList());
}

void TestCameraId::leadingZerosThenEnt() {
    Rig rig(9);
    const char* shown[] = {"CAM ID : 0", "CAM ID : 0", "CAM ID : 7"};
    const int digits[] = {0, 0, 7};
    for (int i = 0; i < 3; ++i) {
        rig.entry.EnterDigit(digits[i]);
        QCOMPARE(rig.Line8(), QString::fromLatin1(shown[i]));
    }
    QVERIFY(rig.entry.CommitCameraId());
    QCOMPARE(rig.state.cameraId, 7);
    QCOMPARE(rig.entry.DigitCount(), 0);
    QCOMPARE(rig.Line8(), QStringLiteral("CAM ID : 7"));
    // Committing sends nothing and does not pause.
    QCOMPARE(rig.device.attempts, 0);
    QCOMPARE(rig.pause.pauses, QVector<int>());
    QCOMPARE(rig.messages.shown, QStringList());
}

void TestCameraId::outOfRangeEnt() {
    Rig rig(9);
    QVERIFY(rig.Press(QStringLiteral("2 5 6 ENT")));
    QCOMPARE(rig.messages.shown, QStringList{kRange});
    QCOMPARE(rig.state.cameraId, 9);
    QCOMPARE(rig.Line8(), QStringLiteral("CAM ID : 256"));
    QCOMPARE(rig.entry.PendingId(), 256);
    QCOMPARE(rig.entry.DigitCount(), 0);

    // The next digit starts a new number.
    rig.entry.EnterDigit(3);
    QCOMPARE(rig.entry.PendingId(), 3);
    QCOMPARE(rig.entry.DigitCount(), 1);
    QCOMPARE(rig.Line8(), QStringLiteral("CAM ID : 3"));
    QCOMPARE(rig.state.cameraId, 9);
    QCOMPARE(rig.device.attempts, 0);
    QVERIFY(rig.ListIntact());
}

void TestCameraId::enter255() {
    Rig rig(9);
    QVERIFY(rig.Press(QStringLiteral("2 5 5 ENT")));
    QCOMPARE(rig.state.cameraId, 255);
    QCOMPARE(rig.messages.shown, QStringList());
    QCOMPARE(rig.device.attempts, 0);
}

void TestCameraId::clearThenEnt() {
    Rig rig(9);
    QVERIFY(rig.Press(QStringLiteral("1 2 ENT")));
    QCOMPARE(rig.state.cameraId, 12);
    QCOMPARE(rig.Line8(), QStringLiteral("CAM ID : 12"));

    rig.entry.ClearCameraId();
    QCOMPARE(rig.state.cameraId, 0);
    QCOMPARE(rig.Line8(), QStringLiteral("CAM ID : 0"));
    QCOMPARE(rig.entry.CamIdText(), QStringLiteral("CAM ID : 0"));
    QCOMPARE(rig.entry.PendingId(), 12);

    // ENT without a digit commits the number typed before; line 8 keeps showing 0.
    QVERIFY(rig.entry.CommitCameraId());
    QCOMPARE(rig.state.cameraId, 12);
    QCOMPARE(rig.Line8(), QStringLiteral("CAM ID : 0"));
    QCOMPARE(rig.entry.CamIdText(), QStringLiteral("CAM ID : 0"));
    QCOMPARE(rig.device.attempts, 0);
    QVERIFY(rig.ListIntact());
}

void TestCameraId::outOfRangeCamThenDigit() {
    Rig rig(9);
    QVERIFY(rig.Press(QStringLiteral("3 0 0 CAM")));
    QCOMPARE(rig.messages.shown, QStringList{kRange});
    QCOMPARE(rig.TakeLine(), QByteArray());
    QCOMPARE(rig.entry.DigitCount(), 3);

    // CAM left the count at 3, so the next digit wraps to a new number.
    rig.entry.EnterDigit(6);
    QCOMPARE(rig.entry.PendingId(), 6);
    QCOMPARE(rig.entry.DigitCount(), 1);
    QCOMPARE(rig.Line8(), QStringLiteral("CAM ID : 6"));
    QVERIFY(rig.Press(QStringLiteral("CAM")));
    QCOMPARE(rig.TakeLine(), QByteArray("2A 30 39 37 34 30 36 30 30 43 34"));  // *09740600C4
    QCOMPARE(rig.state.cameraId, 6);
}

void TestCameraId::listKeepsTenLines() {
    // Every digit and clear deletes line 8 and inserts it again at the same index.
    Rig rig;
    const QString keys = QStringLiteral("1 2 3 4 5 6 7 8 9 0 CLR ENT CAM CLR CLR 9 9 9 ENT CAM");
    for (const QString& key : keys.split(QLatin1Char(' '))) {
        QVERIFY(rig.Press(key));
        QVERIFY2(rig.ListIntact(), qPrintable(key));
    }
}

void TestCameraId::matchesStateTable() {
    // Long runs of random keys against a plain model of the state table.
    struct Model {
        int pending = 0;
        int count = 0;
        int camera = 0;
        QString line8 = QStringLiteral("line 8");
        int messages = 0;
        int frames = 0;
    };
    const QStringList keys = {"0", "1", "2", "3",   "4",   "5",  "6",
                              "7", "8", "9", "ENT", "CLR", "CAM"};
    QRandomGenerator random(20240611);
    for (int run = 0; run < 20; ++run) {
        Rig rig;
        Model model;
        QString typed;
        for (int step = 0; step < 200; ++step) {
            const QString key = keys.at(int(random.bounded(keys.size())));
            typed += key + QLatin1Char(' ');
            QVERIFY(rig.Press(key));
            if (key == QLatin1String("ENT")) {
                model.count = 0;
                if (model.pending > 255)
                    ++model.messages;
                else
                    model.camera = model.pending;
            } else if (key == QLatin1String("CLR")) {
                model.camera = 0;
                model.count = 0;
                model.line8 = QStringLiteral("CAM ID : 0");
            } else if (key == QLatin1String("CAM")) {
                if (model.pending > 255) {
                    ++model.messages;
                } else {
                    ++model.frames;
                    model.camera = model.pending;
                    model.count = 0;
                }
            } else {
                if (model.count == 3)
                    model.count = 0;
                model.pending = model.count == 0 ? key.toInt() : model.pending * 10 + key.toInt();
                ++model.count;
                model.line8 = QStringLiteral("CAM ID : %1").arg(model.pending);
            }
            const QByteArray where = typed.toLatin1();
            QVERIFY2(rig.entry.PendingId() == model.pending, where);
            QVERIFY2(rig.entry.DigitCount() == model.count, where);
            QVERIFY2(rig.state.cameraId == model.camera, where);
            QVERIFY2(rig.Line8() == model.line8, where);
            QVERIFY2(rig.messages.shown.size() == model.messages, where);
            QVERIFY2(rig.device.writes.size() == 11 * model.frames, where);
            QVERIFY2(rig.ListIntact(), where);
        }
    }
}

QTEST_GUILESS_MAIN(TestCameraId)
#include "tst_camera_id.moc"
