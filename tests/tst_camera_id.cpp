#include <QRandomGenerator>
#include <QtTest>

#include "keypad_rig.h"

// The camera address typed on the digit keys (on the panel or the PC), its line in the
// status list, and its commit by ENT, CLR and CAM, with the keypad's core driven as the
// dialog drives it.

namespace {

// The list keeps the ten lines it started with; only line 8 ever changes.
bool ListIntact(const KeypadRig& rig, const QStringList& start) {
    const QStringList& lines = rig.controller.StatusTexts();
    if (lines.size() != 10)
        return false;
    for (int i = 0; i < 10; ++i) {
        if (i != 8 && lines.at(i) != start.at(i))
            return false;
    }
    return true;
}

}  // namespace

class TestCameraId : public QObject {
    Q_OBJECT
private slots:
    void startState();
    void stateTable_data();
    void stateTable();
    void matchesStateTable();
};

void TestCameraId::startState() {
    KeypadRig rig;
    QCOMPARE(rig.controller.PendingId(), 0);
    QCOMPARE(rig.controller.DigitCount(), 0);
    QCOMPARE(rig.Camera(), 0);
    QCOMPARE(rig.Line8(), QStringLiteral("CAM ID : 0"));
}

// Each row starts at start-up (camera 0, nothing typed, line 8 "CAM ID : 0"); "9 ENT"
// puts it in state 0 with camera 9 in force, so that a commit of 0 shows.
void TestCameraId::stateTable_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("pendingId");
    QTest::addColumn<int>("digitCount");
    QTest::addColumn<int>("cameraId");
    QTest::addColumn<QString>("line8");
    QTest::addColumn<int>("rangeErrors");
    QTest::addColumn<QByteArray>("frame");  // the camera-select frame, if any

    const QByteArray none;
    // State 0: nothing typed since the last commit or clear.
    QTest::newRow("0 digit") << "9 ENT 5" << 5 << 1 << 9 << "CAM ID : 5" << 0 << none;
    QTest::newRow("0 ENT at start") << "ENT" << 0 << 0 << 0 << "CAM ID : 0" << 0 << none;
    QTest::newRow("0 ENT again") << "4 2 ENT ENT" << 42 << 0 << 42 << "CAM ID : 42" << 0 << none;
    QTest::newRow("0 ENT out of range")
        << "9 ENT 2 5 6 ENT ENT" << 256 << 0 << 9 << "CAM ID : 256" << 2 << none;
    QTest::newRow("0 ENT after CLR commits the number typed before")
        << "1 2 ENT CLR ENT" << 12 << 0 << 12 << "CAM ID : 0" << 0 << none;
    QTest::newRow("0 CLR at start") << "CLR" << 0 << 0 << 0 << "CAM ID : 0" << 0 << none;
    QTest::newRow("0 CLR after commit")
        << "4 2 ENT CLR" << 42 << 0 << 0 << "CAM ID : 0" << 0 << none;
    QTest::newRow("0 CAM at start *00740000B5")
        << "CAM" << 0 << 0 << 0 << "CAM ID : 0" << 0 << QByteArray("*00740000B5");
    QTest::newRow("0 CAM after commit *2A742A00DB")
        << "4 2 ENT CAM" << 42 << 0 << 42 << "CAM ID : 42" << 0 << QByteArray("*2A742A00DB");
    QTest::newRow("0 CAM out of range")
        << "9 ENT 2 5 6 ENT CAM" << 256 << 0 << 9 << "CAM ID : 256" << 2 << none;

    // State 1: one digit typed.
    QTest::newRow("1 digit") << "9 ENT 4 2" << 42 << 2 << 9 << "CAM ID : 42" << 0 << none;
    QTest::newRow("1 ENT") << "4 ENT" << 4 << 0 << 4 << "CAM ID : 4" << 0 << none;
    QTest::newRow("1 CLR") << "9 ENT 4 CLR" << 4 << 0 << 0 << "CAM ID : 0" << 0 << none;
    QTest::newRow("1 CAM *09740400C2")
        << "9 ENT 4 CAM" << 4 << 0 << 4 << "CAM ID : 4" << 0 << QByteArray("*09740400C2");

    // State 2: two digits typed.
    QTest::newRow("2 digit") << "9 ENT 4 2 7" << 427 << 3 << 9 << "CAM ID : 427" << 0 << none;
    QTest::newRow("2 ENT") << "4 2 ENT" << 42 << 0 << 42 << "CAM ID : 42" << 0 << none;
    QTest::newRow("2 CLR") << "9 ENT 4 2 CLR" << 42 << 0 << 0 << "CAM ID : 0" << 0 << none;
    QTest::newRow("2 CAM *09742A00D1")
        << "9 ENT 4 2 CAM" << 42 << 0 << 42 << "CAM ID : 42" << 0 << QByteArray("*09742A00D1");
    QTest::newRow("2 CAM leading zero *09740700C5")
        << "9 ENT 0 7 CAM" << 7 << 0 << 7 << "CAM ID : 7" << 0 << QByteArray("*09740700C5");

    // State 3: three digits typed; the number may be out of range.
    QTest::newRow("3 digit wraps") << "9 ENT 1 2 3 8" << 8 << 1 << 9 << "CAM ID : 8" << 0 << none;
    QTest::newRow("3 digit wraps after out of range")
        << "9 ENT 4 2 7 0" << 0 << 1 << 9 << "CAM ID : 0" << 0 << none;
    QTest::newRow("3 ENT") << "1 2 3 ENT" << 123 << 0 << 123 << "CAM ID : 123" << 0 << none;
    QTest::newRow("3 ENT leading zeros") << "0 0 7 ENT" << 7 << 0 << 7 << "CAM ID : 7" << 0 << none;
    QTest::newRow("3 ENT 255") << "2 5 5 ENT" << 255 << 0 << 255 << "CAM ID : 255" << 0 << none;
    QTest::newRow("3 ENT out of range")
        << "9 ENT 4 2 7 ENT" << 427 << 0 << 9 << "CAM ID : 427" << 1 << none;
    QTest::newRow("3 ENT out of range, then a digit starts a new number")
        << "9 ENT 2 5 6 ENT 3" << 3 << 1 << 9 << "CAM ID : 3" << 1 << none;
    QTest::newRow("3 CLR") << "9 ENT 1 2 3 CLR" << 123 << 0 << 0 << "CAM ID : 0" << 0 << none;
    QTest::newRow("3 CLR out of range")
        << "9 ENT 4 2 7 CLR" << 427 << 0 << 0 << "CAM ID : 0" << 0 << none;
    QTest::newRow("3 CAM *09747B00D7")
        << "9 ENT 1 2 3 CAM" << 123 << 0 << 123 << "CAM ID : 123" << 0 << QByteArray("*09747B00D7");
    QTest::newRow("3 CAM 255 from 12 *0C74FF00F4")
        << "1 2 ENT 2 5 5 CAM" << 255 << 0 << 255 << "CAM ID : 255" << 0
        << QByteArray("*0C74FF00F4");
    QTest::newRow("3 CAM out of range")
        << "9 ENT 4 2 7 CAM" << 427 << 3 << 9 << "CAM ID : 427" << 1 << none;
    QTest::newRow("3 CAM 300") << "9 ENT 3 0 0 CAM" << 300 << 3 << 9 << "CAM ID : 300" << 1 << none;
    // CAM left the count at 3, so the next digit starts a new number.
    QTest::newRow("3 CAM out of range, then a digit and CAM *09740600C4")
        << "9 ENT 3 0 0 CAM 6 CAM" << 6 << 0 << 6 << "CAM ID : 6" << 1 << QByteArray("*09740600C4");

    // The PC's keys: the digits of both blocks, Enter for ENT and Delete for CLR.
    QTest::newRow("PC digits and Enter")
        << "9 ENT PC-4 PC-Num2 PC-Enter" << 42 << 0 << 42 << "CAM ID : 42" << 0 << none;
    QTest::newRow("PC digits 0 and 9 of both blocks")
        << "PC-Num9 PC-0 PC-9 PC-Num0" << 0 << 1 << 0 << "CAM ID : 0" << 0 << none;
    QTest::newRow("PC Enter out of range")
        << "9 ENT PC-3 PC-0 PC-0 PC-Enter" << 300 << 0 << 9 << "CAM ID : 300" << 1 << none;
    QTest::newRow("PC Delete") << "9 ENT PC-Num4 PC-Del" << 4 << 0 << 0 << "CAM ID : 0" << 0
                               << none;
}

void TestCameraId::stateTable() {
    QFETCH(QString, keys);
    QFETCH(int, pendingId);
    QFETCH(int, digitCount);
    QFETCH(int, cameraId);
    QFETCH(QString, line8);
    QFETCH(int, rangeErrors);
    QFETCH(QByteArray, frame);

    KeypadRig rig;
    const QStringList start = rig.controller.StatusTexts();
    QVERIFY(rig.Press(keys));
    QCOMPARE(rig.controller.PendingId(), pendingId);
    QCOMPARE(rig.controller.DigitCount(), digitCount);
    QCOMPARE(rig.Camera(), cameraId);
    QCOMPARE(rig.Line8(), line8);
    QCOMPARE(rig.notices, QList<Notice>(rangeErrors, Notice::CameraIdRange));
    QCOMPARE(rig.TakeLine(), frame);
    // Typing and committing send nothing and do not pause.
    QCOMPARE(rig.pause.pauses, frame.isEmpty() ? QVector<int>() : FramePauses(11));
    QVERIFY(ListIntact(rig, start));
    // COMMUNICATION SET rewrites line 8 with the text it showed.
    QVERIFY(rig.controller.ApplyCommunicationSettings());
    QCOMPARE(rig.Line8(), line8);
}

void TestCameraId::matchesStateTable() {
    // Long runs of random keys against a plain model of the state table.
    struct Model {
        int pending = 0;
        int count = 0;
        int camera = 0;
        QString line8 = QStringLiteral("CAM ID : 0");
        int messages = 0;
        int frames = 0;
    };
    const QStringList keys = {"0", "1", "2", "3",   "4",   "5",  "6",
                              "7", "8", "9", "ENT", "CLR", "CAM"};
    QRandomGenerator random(20240611);
    for (int run = 0; run < 20; ++run) {
        KeypadRig rig;
        const QStringList start = rig.controller.StatusTexts();
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
            QVERIFY2(rig.controller.PendingId() == model.pending, where);
            QVERIFY2(rig.controller.DigitCount() == model.count, where);
            QVERIFY2(rig.Camera() == model.camera, where);
            QVERIFY2(rig.Line8() == model.line8, where);
            QVERIFY2(rig.notices.size() == model.messages, where);
            QVERIFY2(rig.device.writes.size() == 11 * model.frames, where);
            QVERIFY2(ListIntact(rig, start), where);
        }
    }
}

QTEST_GUILESS_MAIN(TestCameraId)
#include "tst_camera_id.moc"
