#include <QtTest>

#include "fakes.h"
#include "protocol/control_ids.h"
#include "protocol/keypad_controller.h"

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

}  // namespace

class TestController : public QObject {
    Q_OBJECT
private slots:
    void movement_data();
    void movement();
    void failedFramePauseFollowsTheNotice();
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

void TestController::failedFramePauseFollowsTheNotice() {
    Rig rig;
    rig.device.refuseNth = rig.device.attempts + 4;
    QCOMPARE(rig.controller.PressKey(ControlId::ZoomIn), Notice::TransferError);
    // Three bytes out, each with its pause; the frame's own pause waits for the operator.
    QCOMPARE(rig.pause.pauses, (QVector<int>{2, 2, 2}));
    rig.controller.SettleFailedFrame();
    rig.controller.SettleFailedFrame();
    QCOMPARE(rig.pause.pauses, (QVector<int>{2, 2, 2, 25}));

    // Unsettled, the pause is paid before the next frame's first byte.
    rig.pause.pauses.clear();
    rig.device.refuseNth = rig.device.attempts + 1;
    QCOMPARE(rig.controller.SendStop(), Notice::TransferError);
    QCOMPARE(rig.pause.pauses, QVector<int>());
    QCOMPARE(rig.controller.SendStop(), Notice::None);
    QCOMPARE(rig.pause.pauses.first(), 25);
    QCOMPARE(rig.pause.pauses.size(), 1 + 11 + 1);
}

QTEST_GUILESS_MAIN(TestController)
#include "tst_controller.moc"
