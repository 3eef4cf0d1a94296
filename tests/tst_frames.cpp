#include <QtTest>
#include <utility>

#include "keypad_rig.h"
#include "protocol/control_ids.h"
#include "protocol/frame_builder.h"

// Frames as they reach the line, byte for byte, with the keypad's core driven as the dialog
// drives it. Every expected frame is written out, OSKA-DEFAULT frames as their text and
// PELCO D frames in hex; none is built by the code under test.

namespace {

using Notices = QList<Notice>;
constexpr Notice kTransfer = Notice::TransferError;
constexpr Notice kRange = Notice::CameraIdRange;

// The camera in force, the number typed and its digits, the POWER alternation, and the
// frames begun (each ends in one 25 ms pause).
QString State(const KeypadRig& rig) {
    return QStringLiteral("camera %1, typed %2/%3, power %4, frames %5")
        .arg(rig.Camera())
        .arg(rig.controller.PendingId())
        .arg(rig.controller.DigitCount())
        .arg(rig.controller.PowerToggle())
        .arg(rig.pause.pauses.count(25));
}

QByteArray Tail(const TxFrame& frame) {
    return QByteArray(reinterpret_cast<const char*>(frame.data()) + 7, 4);
}

}  // namespace

class TestFrames : public QObject {
    Q_OBJECT
private slots:
    void keyRows_data();
    void keyRows();
    void scripts_data();
    void scripts();
    void keysWithoutAction_data();
    void keysWithoutAction();
    void leftoversAfterProtocolSwitch();

    void frameLog_data();
    void frameLog();
    void overclaimedByteFails();
    void pausesTakeRealTime();
    void linkWithoutPort_data();
    void linkWithoutPort();
    void opening_data();
    void opening();

    void hexDigit_data();
    void hexDigit();
    void hexPair_data();
    void hexPair();
    void buildersWriteOnlyTheirBytes_data();
    void buildersWriteOnlyTheirBytes();
};

// Every key with a frame, in both protocols, to cameras 12 and 171 (0xAB, whose address
// digits are letters). RESET, CAM, SET and INIT are disabled on the panel under PELCO D;
// run there, their command characters land behind the untouched (here zero) byte 2.
void TestFrames::keyRows_data() {
    QTest::addColumn<int>("camera");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QByteArray>("oska");
    QTest::addColumn<QByteArray>("pelco");
    QTest::addColumn<int>("cameraAfter");
    QTest::addColumn<QByteArray>("oskaStop");  // empty: no movement, no stop on release
    QTest::addColumn<QByteArray>("pelcoStop");

    struct Row {
        const char* keys;
        const char* oska;
        const char* pelco;
        int cameraAfter;
        bool moves;
    };
    const Row camera12[] = {
        {"Z/I", "*0C750100CA", "FF 0C 00 20 00 00 2C", 12, true},
        {"Z/O", "*0C750300CC", "FF 0C 00 40 00 00 4C", 12, true},
        {"F/F", "*0C750500CE", "FF 0C 00 80 00 00 8C", 12, true},
        {"F/N", "*0C750600CF", "FF 0C 01 00 00 00 0D", 12, true},
        {"UP", "*0C750100CA", "FF 0C 00 20 00 00 2C", 12, true},
        {"DOWN", "*0C750300CC", "FF 0C 00 40 00 00 4C", 12, true},
        {"LEFT", "*0C750600CF", "FF 0C 01 00 00 00 0D", 12, true},
        {"RIGHT", "*0C750500CE", "FF 0C 00 80 00 00 8C", 12, true},
        {"M/U", "*0C751000CA", "FF 0C 00 23 00 5F 8E", 12, true},
        {"SET", "*0C750D00DD", "FF 0C 30 44 00 00 80", 12, true},
        {"INIT", "*0C750E00DE", "FF 0C 30 45 00 00 81", 12, false},
        {"POWER", "*0C750A00DA", "FF 0C 08 00 00 00 14", 12, false},
        {"RESET", "*0C710000C5", "FF 0C 00 37 31 30 A4", 12, false},
        {"0 0 7 CAM", "*0C740700CF", "FF 0C 00 37 34 30 A7", 7, false},
        // The PC Left arrow sends the F/F frame and Right the F/N frame.
        {"PC-Up", "*0C750100CA", "FF 0C 00 20 00 00 2C", 12, true},
        {"PC-Down", "*0C750300CC", "FF 0C 00 40 00 00 4C", 12, true},
        {"PC-Left", "*0C750500CE", "FF 0C 00 80 00 00 8C", 12, true},
        {"PC-Right", "*0C750600CF", "FF 0C 01 00 00 00 0D", 12, true},
    };
    const Row camera171[] = {
        {"Z/I", "*AB750100DA", "FF AB 00 20 00 00 CB", 171, true},
        {"Z/O", "*AB750300DC", "FF AB 00 40 00 00 EB", 171, true},
        {"F/F", "*AB750500DE", "FF AB 00 80 00 00 2B", 171, true},
        {"F/N", "*AB750600DF", "FF AB 01 00 00 00 AC", 171, true},
        {"UP", "*AB750100DA", "FF AB 00 20 00 00 CB", 171, true},
        {"DOWN", "*AB750300DC", "FF AB 00 40 00 00 EB", 171, true},
        {"LEFT", "*AB750600DF", "FF AB 01 00 00 00 AC", 171, true},
        {"RIGHT", "*AB750500DE", "FF AB 00 80 00 00 2B", 171, true},
        {"M/U", "*AB751000DA", "FF AB 00 23 00 5F 2D", 171, true},
        {"SET", "*AB750D00ED", "FF AB 30 44 00 00 1F", 171, true},
        {"INIT", "*AB750E00EE", "FF AB 30 45 00 00 20", 171, false},
        {"POWER", "*AB750A00EA", "FF AB 08 00 00 00 B3", 171, false},
        {"RESET", "*AB710000D5", "FF AB 00 37 31 30 43", 171, false},
        {"1 6 5 CAM", "*AB74A500EE", "FF AB 00 37 34 41 57", 165, false},
    };
    const auto add = [](int camera, const Row& row, const char* oskaStop, const char* pelcoStop) {
        QTest::addRow("%s camera %d", row.keys, camera)
            << camera << QString::fromLatin1(row.keys) << QByteArray(row.oska) << Hex(row.pelco)
            << row.cameraAfter << QByteArray(row.moves ? oskaStop : "")
            << Hex(row.moves ? pelcoStop : "");
    };
    for (const Row& row : camera12) add(12, row, "*0C750900D2", "FF 0C 00 00 00 00 0C");
    for (const Row& row : camera171) add(171, row, "*AB750900E2", "FF AB 00 00 00 00 AB");
}

void TestFrames::keyRows() {
    QFETCH(int, camera);
    QFETCH(QString, keys);
    QFETCH(QByteArray, oska);
    QFETCH(QByteArray, pelco);
    QFETCH(int, cameraAfter);
    QFETCH(QByteArray, oskaStop);
    QFETCH(QByteArray, pelcoStop);

    for (int protocol : {ProtocolOskaDefault, ProtocolPelcoD}) {
        const QByteArray frame = protocol == ProtocolOskaDefault ? oska : pelco;
        const QByteArray stop = protocol == ProtocolOskaDefault ? oskaStop : pelcoStop;
        KeypadRig rig({{"PROTOCOL", protocol}});
        rig.Select(camera);
        QVERIFY(rig.Press(keys));
        QCOMPARE(rig.TakeLine(), frame);
        QCOMPARE(rig.pause.pauses, FramePauses(frame.size()));
        QCOMPARE(rig.Camera(), cameraAfter);
        QCOMPARE(rig.notices, Notices());
        QCOMPARE(rig.controller.MovementActive(), !stop.isEmpty());
        if (stop.isEmpty())
            continue;
        // Pressed again before its release (a repeat, a second click), the row goes out
        // again; the release sends the stop.
        QVERIFY(rig.Press(keys + QStringLiteral(" stop")));
        QCOMPARE(rig.TakeLine(), frame + stop);
        QVERIFY(!rig.controller.MovementActive());
    }
}

// Runs of keys from start-up with the stored protocol: all that reached the line, the
// notices, and the state left behind.
void TestFrames::scripts_data() {
    QTest::addColumn<Stored>("stored");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<Notices>("notices");
    QTest::addColumn<QString>("state");

    const Stored oska, pelco{{"PROTOCOL", 1}}, other{{"PROTOCOL", 2}};
    QTest::newRow("camera 0 Z/I") << oska << "Z/I" << QByteArray("*00750100B7") << Notices()
                                  << "camera 0, typed 0/0, power 0, frames 1";
    QTest::newRow("camera 255 Z/I stop")
        << oska << "2 5 5 ENT Z/I stop" << QByteArray("*FF750100E3*FF750900EB") << Notices()
        << "camera 255, typed 255/0, power 0, frames 2";
    QTest::newRow("camera 1 POWER") << oska << "1 ENT POWER" << QByteArray("*01750A00C8")
                                    << Notices() << "camera 1, typed 1/0, power 0, frames 1";
    QTest::newRow("PELCO D camera 255 Z/I stop")
        << pelco << "2 5 5 ENT Z/I stop" << Hex("FF FF 00 20 00 00 1F FF FF 00 00 00 00 FF")
        << Notices() << "camera 255, typed 255/0, power 0, frames 2";
    QTest::newRow("PELCO D camera 0 stop") << pelco << "stop" << Hex("FF 00 00 00 00 00 00")
                                           << Notices() << "camera 0, typed 0/0, power 0, frames 1";
    QTest::newRow("PELCO D camera 1 stop M/U POWER SET INIT")
        << pelco << "1 ENT stop M/U POWER SET INIT"
        << Hex("FF 01 00 00 00 00 01 FF 01 00 23 00 5F 83 FF 01 08 00 00 00 09"
               "FF 01 30 44 00 00 75 FF 01 30 45 00 00 76")
        << Notices() << "camera 1, typed 1/0, power 1, frames 5";

    // Under PELCO D a stop clears command 1 whatever set it.
    const struct {
        const char* key;
        const char* frame;
        int power;
    } setters[] = {{"POWER", "FF 0C 08 00 00 00 14", 1},
                   {"F/N", "FF 0C 01 00 00 00 0D", 0},
                   {"M/U", "FF 0C 00 23 00 5F 8E", 0},
                   {"SET", "FF 0C 30 44 00 00 80", 0}};
    for (const auto& row : setters)
        QTest::addRow("stop after %s", row.key)
            << pelco << QStringLiteral("1 2 ENT %1 stop").arg(QLatin1String(row.key))
            << Hex(row.frame) + Hex("FF 0C 00 00 00 00 0C") << Notices()
            << QStringLiteral("camera 12, typed 12/0, power %1, frames 2").arg(row.power);

    // POWER under PELCO D alternates 0x08 and 0x88. Neither POWER under OSKA-DEFAULT in
    // between, nor another camera, nor a frame that failed holds the alternation back.
    QTest::newRow("POWER alternation")
        << pelco << "1 ENT POWER OSKA POWER POWER PELCO POWER POWER 1 2 ENT POWER stop"
        << Hex("FF 01 08 00 00 00 09") + "*01750A00C8*01750A00C8" +
               Hex("FF 01 88 00 00 00 89 FF 01 08 00 00 00 09 FF 0C 88 00 00 00 94"
                   "FF 0C 00 00 00 00 0C")
        << Notices() << "camera 12, typed 12/0, power 0, frames 7";
    QTest::newRow("POWER flips on failed frames")
        << pelco << "1 ENT POWER refuse POWER POWER refuse@4 POWER"
        << Hex("FF 01 08 00 00 00 09 FF 01 08 00 00 00 09 FF 01 88")
        << Notices{kTransfer, kTransfer} << "camera 1, typed 1/0, power 0, frames 4";

    // Camera select goes to the camera in force and commits the typed ID; the next frame
    // is addressed to the new camera.
    QTest::newRow("CAM 12 from 0")
        << oska << "0 1 2 CAM Z/I" << QByteArray("*00740C00C8*0C750100CA") << Notices()
        << "camera 12, typed 12/0, power 0, frames 2";
    QTest::newRow("CAM 7 from 5") << oska << "5 ENT 0 0 7 CAM Z/I"
                                  << QByteArray("*05740700C1*07750100BE") << Notices()
                                  << "camera 7, typed 7/0, power 0, frames 2";
    QTest::newRow("CAM 255 from 12")
        << oska << "1 2 ENT 2 5 5 CAM Z/I" << QByteArray("*0C74FF00F4*FF750100E3") << Notices()
        << "camera 255, typed 255/0, power 0, frames 2";
    QTest::newRow("CAM 0 from 12")
        << oska << "1 2 ENT 0 0 0 CAM Z/I" << QByteArray("*0C740000C8*00750100B7") << Notices()
        << "camera 0, typed 0/0, power 0, frames 2";
    QTest::newRow("CAM 9 from 9") << oska << "9 ENT 0 0 9 CAM Z/I"
                                  << QByteArray("*09740900C7*09750100C0") << Notices()
                                  << "camera 9, typed 9/0, power 0, frames 2";
    QTest::newRow("CAM 12 from 12")
        << oska << "1 2 ENT 0 1 2 CAM Z/I" << QByteArray("*0C740C00DB*0C750100CA") << Notices()
        << "camera 12, typed 12/0, power 0, frames 2";
    QTest::newRow("CAM commits though its frame failed")
        << oska << "1 2 ENT 4 0 refuse CAM stop" << QByteArray("*28750900C9") << Notices{kTransfer}
        << "camera 40, typed 40/0, power 0, frames 2";
    for (const char* typed : {"2 5 6", "3 0 0", "9 9 9"}) {
        const int id = QString::fromLatin1(typed).remove(QLatin1Char(' ')).toInt();
        for (const auto& [name, stored] :
             {std::pair{"OSKA-DEFAULT", oska}, std::pair{"PELCO D", pelco}, std::pair{"2", other}})
            QTest::addRow("CAM %d under protocol %s", id, name)
                << stored << QStringLiteral("5 ENT %1 CAM").arg(typed) << QByteArray()
                << Notices{kRange}
                << QStringLiteral("camera 5, typed %1/3, power 0, frames 0").arg(id);
    }

    // A hand-edited protocol of 2: the rows with a protocol of their own send nothing; the
    // rest go out in PELCO D framing.
    for (const char* key : {"Z/I", "Z/O", "F/F", "F/N", "UP", "DOWN", "LEFT", "RIGHT", "M/U",
                            "POWER", "PC-Left", "PC-Up", "PC-Right", "PC-Down"})
        QTest::addRow("protocol 2 %s", key)
            << other << QStringLiteral("1 2 ENT 7 ") + key << QByteArray() << Notices()
            << "camera 12, typed 7/1, power 0, frames 0";
    const struct {
        const char* key;
        const char* frame;
        const char* state;
    } framed[] = {
        {"SET", "FF 0C 30 44 00 00 80", "camera 12, typed 7/1, power 0, frames 1"},
        {"INIT", "FF 0C 30 45 00 00 81", "camera 12, typed 7/1, power 0, frames 1"},
        {"stop", "FF 0C 00 00 00 00 0C", "camera 12, typed 7/1, power 0, frames 1"},
        {"RESET", "FF 0C 00 37 31 30 A4", "camera 12, typed 7/1, power 0, frames 1"},
        {"CAM", "FF 0C 00 37 34 30 A7", "camera 7, typed 7/0, power 0, frames 1"},
    };
    for (const auto& row : framed)
        QTest::addRow("protocol 2 %s", row.key)
            << other << QStringLiteral("1 2 ENT 7 ") + row.key << Hex(row.frame) << Notices()
            << QString::fromLatin1(row.state);
}

void TestFrames::scripts() {
    QFETCH(Stored, stored);
    QFETCH(QString, keys);
    QFETCH(QByteArray, line);
    QFETCH(Notices, notices);
    QFETCH(QString, state);

    KeypadRig rig(stored);
    QVERIFY(rig.Press(keys));
    QCOMPARE(rig.TakeLine(), line);
    QCOMPARE(rig.notices, notices);
    QCOMPARE(State(rig), state);
    // Each byte that left was followed by its 2 ms.
    QCOMPARE(rig.pause.pauses.count(2), line.size());
}

// Controls and PC keys the keypad has no action for change nothing, in either protocol.
void TestFrames::keysWithoutAction_data() {
    QTest::addColumn<int>("controlId");
    QTest::addColumn<int>("virtualKey");

    using namespace ControlId;
    QTest::newRow("COMMUNICATION SET, Home") << CommunicationSet << 0x24;
    QTest::newRow("protocol combo, Select") << ProtocolCombo << 0x29;  // just past the arrows
    QTest::newRow("camera-type combo, /") << CameraTypeCombo << 0x2F;  // just below "0"
    QTest::newRow("status list, :") << ControlId::StatusList << 0x3A;  // just past "9"
    QTest::newRow("no control 1003, A") << 1003 << 0x41;
    QTest::newRow("control 0, numpad *") << 0 << 0x6A;  // just past numpad 9
}

void TestFrames::keysWithoutAction() {
    QFETCH(int, controlId);
    QFETCH(int, virtualKey);

    for (int protocol : {ProtocolOskaDefault, ProtocolPelcoD}) {
        KeypadRig rig({{"PROTOCOL", protocol}});
        QVERIFY(rig.Press(QStringLiteral("1 2 ENT 3 4")));
        const QStringList lines = rig.controller.StatusTexts();
        QCOMPARE(rig.controller.PressKey(controlId), Notice::None);
        QCOMPARE(rig.controller.PressPcKey(virtualKey), Notice::None);
        QCOMPARE(rig.TakeLog(), QString());
        QCOMPARE(State(rig), QStringLiteral("camera 12, typed 34/2, power 0, frames 0"));
        QCOMPARE(rig.controller.StatusTexts(), lines);
        QVERIFY(!rig.controller.MovementActive());
    }
}

// The buffer is never cleared: a PELCO D frame leaves the OSKA-DEFAULT tail in bytes 7 to
// 10 unsent, and back under OSKA-DEFAULT every byte that goes out is rewritten first, so
// none of the binary bytes PELCO D left in 0 to 6 reaches the line.
void TestFrames::leftoversAfterProtocolSwitch() {
    KeypadRig rig;
    rig.Select(12);
    QVERIFY(rig.Press(QStringLiteral("Z/I")));
    QCOMPARE(rig.TakeLine(), QByteArray("*0C750100CA"));
    // The running zoom is stopped in its own protocol first.
    QVERIFY(rig.Press(QStringLiteral("PELCO M/U stop POWER")));
    QCOMPARE(rig.TakeLine(), "*0C750900D2" + Hex("FF 0C 00 23 00 5F 8E FF 0C 00 00 00 00 0C"
                                                 "FF 0C 08 00 00 00 14"));
    QCOMPARE(Tail(rig.controller.Settings().txFrame), QByteArray("00D2"));

    const struct {
        const char* keys;
        QByteArray line;
    } steps[] = {
        {"OSKA stop", "*0C750900D2"},
        {"PELCO POWER", Hex("FF 0C 88 00 00 00 94")},
        {"OSKA RESET", "*0C710000C5"},
        {"PELCO POWER", Hex("FF 0C 08 00 00 00 14")},
        {"OSKA F/N stop", "*0C750600CF*0C750900D2"},
        {"PELCO POWER", Hex("FF 0C 88 00 00 00 94")},
        {"OSKA 1 2 CAM", "*0C740C00DB"},
    };
    for (const auto& step : steps) {
        QVERIFY(rig.Press(QString::fromLatin1(step.keys)));
        QCOMPARE(rig.TakeLine(), step.line);
    }
    QCOMPARE(rig.notices, Notices());
}

// The time line of one frame to camera 12, whole or with a byte refused: the bytes before
// the refused one leave with their pauses, the operator is told, and only then does the
// frame's closing pause follow.
void TestFrames::frameLog_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("log");

    QTest::newRow("OSKA-DEFAULT stop")
        << 0 << "stop"
        << "2A p2 30 p2 43 p2 37 p2 35 p2 30 p2 39 p2 30 p2 30 p2 44 p2 32 p2 p25";
    QTest::newRow("PELCO D stop") << 1 << "stop"
                                  << "FF p2 0C p2 00 p2 00 p2 00 p2 00 p2 0C p2 p25";
    QTest::newRow("OSKA-DEFAULT first refused") << 0 << "refuse Z/I"
                                                << "TransferError p25";
    QTest::newRow("OSKA-DEFAULT fourth refused") << 0 << "refuse@4 Z/I"
                                                 << "2A p2 30 p2 43 p2 TransferError p25";
    QTest::newRow("OSKA-DEFAULT last refused")
        << 0 << "refuse@11 Z/I"
        << "2A p2 30 p2 43 p2 37 p2 35 p2 30 p2 31 p2 30 p2 30 p2 43 p2 TransferError p25";
    QTest::newRow("PELCO D first refused") << 1 << "refuse Z/I"
                                           << "TransferError p25";
    QTest::newRow("PELCO D fourth refused") << 1 << "refuse@4 Z/I"
                                            << "FF p2 0C p2 00 p2 TransferError p25";
    QTest::newRow("PELCO D last refused")
        << 1 << "refuse@7 Z/I"
        << "FF p2 0C p2 00 p2 20 p2 00 p2 00 p2 TransferError p25";
}

void TestFrames::frameLog() {
    QFETCH(int, protocol);
    QFETCH(QString, keys);
    QFETCH(QString, log);

    KeypadRig rig({{"PROTOCOL", protocol}});
    rig.Select(12);
    QVERIFY(rig.Press(keys));
    QCOMPARE(rig.TakeLog(), log);
    QVERIFY(rig.controller.PortOpen());

    // The next frame starts again from its first byte and goes out whole. After a frame cut
    // short on the line, it waits first until a receiver has dropped that frame: 140 ms after
    // its last byte, of which its byte pause and the closing pause have passed.
    rig.TakeLine();
    rig.pause.pauses.clear();
    QVERIFY(rig.Press(QStringLiteral("Z/I")));
    QCOMPARE(rig.TakeLine(),
             protocol == 0 ? QByteArray("*0C750100CA") : Hex("FF 0C 00 20 00 00 2C"));
    const bool cut = log.startsWith(protocol == 0 ? "2A" : "FF") && log.contains("Error");
    QCOMPARE(rig.pause.pauses, (cut ? QVector<int>{140 - 2 - 25} : QVector<int>()) +
                                   FramePauses(protocol == 0 ? 11 : 7));
    QCOMPARE(rig.notices.size(), log.count(QStringLiteral("TransferError")));
}

void TestFrames::overclaimedByteFails() {
    // Only a result of exactly one byte counts as the byte written.
    KeypadRig rig({{"PROTOCOL", 1}});
    rig.loggedDevice.overclaim = 1;
    QVERIFY(rig.Press(QStringLiteral("Z/I")));
    QCOMPARE(rig.TakeLog(), QStringLiteral("FF TransferError p25"));
    QCOMPARE(rig.notices, Notices{kTransfer});
}

void TestFrames::pausesTakeRealTime() {
    // Lower bounds only: no byte sooner than 2 ms after the one before, no frame sooner
    // than 27 ms after the last byte of the frame before.
    KeypadRig rig;
    rig.pause.real = true;
    QVERIFY(rig.Press(QStringLiteral("Z/I stop")));
    const auto& writes = rig.device.writes;
    QCOMPARE(writes.size(), 22);
    for (int i = 1; i < writes.size(); ++i) {
        const qint64 gap = writes.at(i).nsecs - writes.at(i - 1).nsecs;
        const qint64 least = i == 11 ? 27'000'000 : 2'000'000;
        QVERIFY2(gap >= least,
                 qPrintable(QStringLiteral("byte %1 followed after %2 ns").arg(i).arg(gap)));
    }
}

// Without an open port every frame fails at once: nothing reaches the device, and each
// notice is followed by the frame's closing pause.
void TestFrames::linkWithoutPort_data() {
    QTest::addColumn<Stored>("stored");
    QTest::addColumn<QString>("closing");  // what closes an open port: "release" or "reopen"
    QTest::addColumn<QString>("reason");   // part of the reason the open failed; empty: none

    QTest::newRow("an entry that names no device") << Stored{{"Ports/COM1", 3}} << ""
                                                   << "can't be used";
    QTest::newRow("a stored rate of 0 under protocol 2")
        << Stored{{"PROTOCOL", 2}, {"BAUDRATE", 0}} << ""
        << "a rate of 0 baud";
    QTest::newRow("released at the end of the run") << Stored{} << "release"
                                                    << "";
    QTest::newRow("refused at COMMUNICATION SET") << Stored{} << "reopen"
                                                  << "could not be opened";
}

void TestFrames::linkWithoutPort() {
    QFETCH(Stored, stored);
    QFETCH(QString, closing);
    QFETCH(QString, reason);

    KeypadRig rig(stored);
    QCOMPARE(rig.controller.PortOpen(), !closing.isEmpty());
    if (closing == QLatin1String("release")) {
        QVERIFY(rig.controller.ReleasePort().wasOpen);
        QCOMPARE(rig.TakeLog(), QStringLiteral("close p100"));
    } else if (closing == QLatin1String("reopen")) {
        rig.device.openResult = false;
        QVERIFY(!rig.controller.ApplyCommunicationSettings());
        QVERIFY(rig.TakeLog().startsWith(QLatin1String("close p100 open ")));
    }
    QVERIFY(!rig.controller.PortOpen());
    QVERIFY2(reason.isEmpty() ? rig.controller.OpenFailureReason().isEmpty()
                              : rig.controller.OpenFailureReason().contains(reason),
             qPrintable(rig.controller.OpenFailureReason()));

    rig.pause.pauses.clear();
    QVERIFY(rig.Press(QStringLiteral("SET stop RESET PELCO F/N")));
    QCOMPARE(rig.TakeLog(), QStringLiteral("TransferError p25 TransferError p25 "
                                           "TransferError p25 TransferError p25"));
    QCOMPARE(rig.TakeLine(), QByteArray());
    QCOMPARE(rig.notices, Notices(4, kTransfer));
}

// The rate the port opens at, and the time-out each byte is given: 19200 / rate ms, at
// least 1 ms and at most that of 2400 baud. A protocol other than the two keeps any stored
// rate.
void TestFrames::opening_data() {
    QTest::addColumn<Stored>("stored");
    QTest::addColumn<int>("baudRow");  // picked, then COMMUNICATION SET; -1: none
    QTest::addColumn<uint>("baud");
    QTest::addColumn<int>("timeoutMs");

    QTest::newRow("OSKA-DEFAULT") << Stored{} << -1 << 9600u << 2;
    QTest::newRow("PELCO D") << Stored{{"PROTOCOL", 1}} << -1 << 2400u << 8;
    QTest::newRow("4800 picked") << Stored{} << 1 << 4800u << 4;
    QTest::newRow("19200 picked") << Stored{{"PROTOCOL", 1}} << 3 << 19200u << 1;
    for (uint baud : {1u, 300u, 2399u, 38400u, 115200u})
        QTest::addRow("%u under protocol 2", baud)
            << Stored{{"PROTOCOL", 2}, {"BAUDRATE", baud}} << -1 << baud << (baud < 38400u ? 8 : 1);
}

void TestFrames::opening() {
    QFETCH(Stored, stored);
    QFETCH(int, baudRow);
    QFETCH(uint, baud);
    QFETCH(int, timeoutMs);

    KeypadRig rig(stored);
    if (baudRow >= 0) {
        rig.controller.OnSelChangeBaudRate(baudRow);
        QVERIFY(rig.controller.ApplyCommunicationSettings());
    }
    QVERIFY(rig.controller.PortOpen());
    QCOMPARE(rig.device.openedBaud, baud);
    QVERIFY(rig.Press(QStringLiteral("stop")));
    QCOMPARE(rig.device.lastTimeoutMs, timeoutMs);
}

void TestFrames::hexDigit_data() {
    QTest::addColumn<int>("nibble");
    QTest::addColumn<int>("digit");
    const char digits[] = "0123456789ABCDEF";
    for (int n = 0; n < 16; ++n) QTest::addRow("%d", n) << n << int(digits[n]);
}

void TestFrames::hexDigit() {
    QFETCH(int, nibble);
    QFETCH(int, digit);
    QCOMPARE(int(FrameBuilder::HexDigit(nibble)), digit);
}

void TestFrames::hexPair_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("digits");

    QTest::newRow("0") << 0 << QByteArray("00");
    QTest::newRow("9") << 9 << QByteArray("09");
    QTest::newRow("10") << 10 << QByteArray("0A");
    QTest::newRow("0x7B") << 0x7B << QByteArray("7B");
    QTest::newRow("0xA5") << 0xA5 << QByteArray("A5");
    QTest::newRow("255") << 255 << QByteArray("FF");
    QTest::newRow("256 keeps the low byte") << 256 << QByteArray("00");
    QTest::newRow("sum 0x1B7") << 0x1B7 << QByteArray("B7");
    QTest::newRow("sum 0x1E3") << 0x1E3 << QByteArray("E3");
    QTest::newRow("-1") << -1 << QByteArray("FF");
}

void TestFrames::hexPair() {
    QFETCH(int, value);
    QFETCH(QByteArray, digits);

    TxFrame frame;
    for (int i = 0; i < 16; ++i) frame[i] = static_cast<uint8_t>(0xE0 + i);
    frame = FrameBuilder::HexPair(frame, value);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(frame.data()) + 11, 2), digits);
    for (int i = 0; i < 16; ++i) {
        if (i != 11 && i != 12)
            QCOMPARE(int(frame[i]), 0xE0 + i);
    }
}

// Each builder against a buffer of markers: the bytes it writes, written out, and every
// other byte left as the frames before left it.
void TestFrames::buildersWriteOnlyTheirBytes_data() {
    QTest::addColumn<int>("builder");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("frame");  // 16 bytes; ".." for a marker left alone

    enum { Command, Stop, Reset, CameraSelect, Complete };
    QTest::newRow("command oska") << int(Command) << 0
                                  << ".. .. .. 37 35 30 31 30 30 .. .. .. .. .. .. ..";
    QTest::newRow("command pelco")
        << int(Command) << 1 << ".. .. 30 31 00 00 .. .. .. .. .. .. .. .. .. ..";
    QTest::newRow("stop oska") << int(Stop) << 0
                               << ".. .. .. 37 35 30 39 30 30 .. .. .. .. .. .. ..";
    QTest::newRow("stop pelco") << int(Stop) << 1
                                << ".. .. 00 00 00 00 .. .. .. .. .. .. .. .. .. ..";
    QTest::newRow("stop unknown protocol")
        << int(Stop) << 2 << ".. .. 00 00 00 00 .. .. .. .. .. .. .. .. .. ..";
    QTest::newRow("reset") << int(Reset) << 0 << ".. .. .. 37 31 30 30 30 30 .. .. .. .. .. .. ..";
    QTest::newRow("camera select 0xAB")
        << int(CameraSelect) << 0 << ".. .. .. 37 34 41 42 30 30 .. .. 41 42 .. .. ..";
    // '*' + "0C" + markers E3 to E8 = 0x5FE: checksum "FE", its digits left in 11 and 12.
    QTest::newRow("complete oska camera 12")
        << int(Complete) << 0 << "2A 30 43 .. .. .. .. .. .. 46 45 46 45 .. .. ..";
    // 0C + E2 + E3 + E4 + E5 = 0x39A: checksum 9A; the sync byte is not summed.
    QTest::newRow("complete pelco camera 12")
        << int(Complete) << 1 << "FF 0C .. .. .. .. 9A .. .. .. .. .. .. .. .. ..";
}

void TestFrames::buildersWriteOnlyTheirBytes() {
    QFETCH(int, builder);
    QFETCH(int, protocol);
    QFETCH(QString, frame);

    TxFrame before;
    for (int i = 0; i < 16; ++i) before[i] = static_cast<uint8_t>(0xE0 + i);
    TxFrame after;
    switch (builder) {
        case 0:
            after = FrameBuilder::WriteCommand(before, protocol, '0', '1', 0, 0);
            break;
        case 1:
            after = FrameBuilder::WriteStop(before, protocol);
            break;
        case 2:
            after = FrameBuilder::WriteReset(before);
            break;
        case 3:
            after = FrameBuilder::WriteCameraSelect(before, 0xAB);
            break;
        default:
            after = FrameBuilder::CompleteFrame(before, protocol, 12);
            break;
    }
    const QStringList expected = frame.split(QLatin1Char(' '));
    for (int i = 0; i < 16; ++i) {
        const QString want = expected.at(i) == QLatin1String("..")
                                 ? QString::number(before[i], 16).toUpper()
                                 : expected.at(i);
        QVERIFY2(
            QString::number(after[i], 16).toUpper().rightJustified(2, QLatin1Char('0')) == want,
            qPrintable(QStringLiteral("byte %1").arg(i)));
    }
}

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
