// Port names, the reasons a port fails and exclusive use, on real pseudo-terminals and with
// a second process holding or trying the line.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <climits>

#include "control/keypad_controller.h"
#include "fakes.h"
#include "profile/port_map.h"
#include "profile/profile_store.h"
#include "protocol/control_ids.h"
#include "pty_pair.h"
#include "serial/device/local_serial_device.h"
#include "serial/ports/port_holder.h"
#include "serial/ports/problem_words.h"

Q_DECLARE_METATYPE(PortFault)

namespace {

const QByteArray kPelcoZoomIn = QByteArray::fromHex("FF0C002000002C");

// The keypad's core on the real device with the profile given, pauses recorded.
struct Rig {
    explicit Rig(ProfileStore& profile) : controller(KeypadServices{device, pause, profile}) {}

    // The first time, starts the keypad on COM1 and picks PELCO D and camera 12; after that,
    // COMMUNICATION SET, as the operator is told to press. Then sends FF 0C 00 20 00 00 2C
    // (zoom in); false when the port did not open.
    bool SendZoomIn() {
        if (!started) {
            started = true;
            controller.OnInitDialog();
            controller.OnSelChangeProtocol(ProtocolPelcoD);
            for (int key : {ControlId::Key1, ControlId::Key2, ControlId::Ent})
                controller.PressKey(key);
        } else {
            controller.ApplyCommunicationSettings();
        }
        if (!controller.PortOpen())
            return false;
        return controller.PressKey(ControlId::ZoomIn) == Notice::None;
    }

    LocalSerialDevice device;
    RecordingPause pause;
    KeypadController controller;
    bool started = false;
};

// A second program holding the line with flock, until destroyed.
struct FlockHolder {
    explicit FlockHolder(const QString& path) {
        // flock keeps the lock itself (-o) while cat waits for its input to end.
        process.start(QStringLiteral("flock"),
                      {QStringLiteral("-o"), path, QStringLiteral("sh"), QStringLiteral("-c"),
                       QStringLiteral("echo locked; exec cat")});
        held = process.waitForReadyRead(5000) && process.readAll().startsWith("locked");
    }
    ~FlockHolder() {
        process.closeWriteChannel();
        process.waitForFinished();
    }
    QProcess process;
    bool held = false;
};

// The exit status of a second program that tries to flock the path without waiting.
int TryFlock(const QString& path) {
    return QProcess::execute(QStringLiteral("flock"),
                             {QStringLiteral("-n"), QStringLiteral("-E"), QStringLiteral("9"), path,
                              QStringLiteral("true")});
}

}  // namespace

class TestPorts : public QObject {
    Q_OBJECT
private slots:
    void resolveEntry_data();
    void resolveEntry();
    void commaEntryOnTheRealLine_data();
    void commaEntryOnTheRealLine();
    void relativeEntryFromAnyFolder();
    void failureReasons_data();
    void failureReasons();
    void deviceRefusesMultiplexer();
    void faultFromErrno_data();
    void faultFromErrno();
    void describeProblem_data();
    void describeProblem();
    void heldByAnotherProgram();
    void holdsTheLineAgainstOthers();
    void holderFromProc_data();
    void holderFromProc();
    void firstStartMapping_data();
    void firstStartMapping();
    void byIdNames();
    void sectionKeysOfTheRealStore();
    void portToolTip_data();
    void portToolTip();
};

void TestPorts::resolveEntry_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<QVariant>("entry");  // under devRoot: "@" stands for the folder
    QTest::addColumn<QString>("device");
    QTest::addColumn<PortFault>("fault");
    const QVariant none;
    QTest::newRow("absent") << 1 << none << "/dev/ttyS0" << PortFault::None;
    QTest::newRow("COM4 absent") << 4 << none << "/dev/ttyS3" << PortFault::None;
    QTest::newRow("INT_MAX + 1 read back")
        << INT_MIN << none << "/dev/ttyS-2147483649" << PortFault::None;
    QTest::newRow("INT_MAX") << INT_MAX << none << "/dev/ttyS2147483646" << PortFault::None;
    QTest::newRow("empty") << 2 << QVariant(QString()) << "/dev/ttyS1" << PortFault::None;
    QTest::newRow("absolute") << 1 << QVariant("/dev/ttyUSB7") << "/dev/ttyUSB7" << PortFault::None;
    QTest::newRow("spaces") << 1 << QVariant("  /dev/ttyUSB7 ") << "/dev/ttyUSB7"
                            << PortFault::None;
    QTest::newRow("relative") << 1 << QVariant("ttyUSB7") << "@/ttyUSB7" << PortFault::None;
    QTest::newRow("relative pts") << 1 << QVariant("pts/1") << "@/pts/1" << PortFault::None;
    QTest::newRow("dots") << 1 << QVariant("/dev/x/../ttyUSB7") << "/dev/ttyUSB7"
                          << PortFault::None;
    QTest::newRow("by-id link") << 1 << QVariant("serial/by-id/usb-X-port0") << "@/ttyFAKE0"
                                << PortFault::None;
    QTest::newRow("a list") << 1 << QVariant(QStringList{"/tmp/a", "b"}) << "/tmp/a,b"
                            << PortFault::None;
    QTest::newRow("multiplexer") << 1 << QVariant("/dev/ptmx") << "" << PortFault::Multiplexer;
    QTest::newRow("multiplexer, relative") << 1 << QVariant("ptmx") << "" << PortFault::Multiplexer;
    QTest::newRow("multiplexer in pts")
        << 1 << QVariant("/dev/pts/ptmx") << "" << PortFault::Multiplexer;
    QTest::newRow("controlling terminal")
        << 1 << QVariant("/dev/tty") << "" << PortFault::NotSerial;
    QTest::newRow("control character")
        << 1 << QVariant("/dev/tty\nUSB0") << "" << PortFault::UnusableEntry;
    QTest::newRow("not text") << 1 << QVariant(5) << "" << PortFault::UnusableEntry;
    QTest::newRow("an @") << 1 << QVariant("/dev/serial/by-id/usb-A@1") << ""
                          << PortFault::UnusableEntry;
    QTest::newRow("not ASCII") << 1 << QVariant(QStringLiteral("/dev/ttyUSB\u00e9")) << ""
                               << PortFault::UnusableEntry;
}

void TestPorts::resolveEntry() {
    QFETCH(int, port);
    QFETCH(QVariant, entry);
    QFETCH(QString, device);
    QFETCH(PortFault, fault);
    QTemporaryDir dev;
    QVERIFY(QDir(dev.path()).mkpath(QStringLiteral("serial/by-id")));
    QFile(dev.filePath(QStringLiteral("ttyFAKE0"))).open(QIODevice::WriteOnly);
    QVERIFY(QFile::link(QStringLiteral("../../ttyFAKE0"),
                        dev.filePath(QStringLiteral("serial/by-id/usb-X-port0"))));
    // The multiplexer rows name the real one, relative to the real /dev.
    const bool realDev = entry.toString().contains(QLatin1String("ptmx"));
    const QString root = realDev ? QStringLiteral("/dev") : dev.path();

    MemoryProfile profile;
    if (entry.isValid())
        profile.values.insert(QStringLiteral("Ports/COM%1").arg(port), entry);
    const PortTarget target = ResolvePort(port, profile, root);
    QCOMPARE(target.device, QString(device).replace(QLatin1Char('@'), root));
    QCOMPARE(target.problem.fault, fault);
}

// A comma in a path is part of the path: the frame reaches the line behind it and no
// other device is opened.
void TestPorts::commaEntryOnTheRealLine_data() {
    QTest::addColumn<QString>("written");  // the line as typed into the profile
    QTest::addColumn<QString>("name");     // the link's file name it means
    QTest::newRow("comma") << "@/a,b"
                           << "a,b";
    QTest::newRow("two commas") << "@/a,b,c"
                                << "a,b,c";
    QTest::newRow("quoted") << "\"@/a,b\""
                            << "a,b";
    QTest::newRow("quoted, comma and space") << "\"@/a, b\""
                                             << "a, b";
}

void TestPorts::commaEntryOnTheRealLine() {
    QFETCH(QString, written);
    QFETCH(QString, name);
    PtyPair pty;
    QTemporaryDir dir;
    QVERIFY(QFile::link(pty.slavePath(), dir.filePath(name)));
    const QString file = dir.filePath(QStringLiteral("velmor.conf"));
    QFile conf(file);
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("[Ports]\nCOM1=" + written.replace(QLatin1Char('@'), dir.path()).toUtf8() + "\n");
    conf.close();

    SettingsProfileStore profile(file);
    // The keypad writes the camera type before it opens the port; that write makes QSettings
    // rewrite every line of the file in its own way.
    Rig rig(profile);
    QVERIFY(rig.SendZoomIn());
    QCOMPARE(pty.Read(7).toHex(' '), kPelcoZoomIn.toHex(' '));
}

void TestPorts::relativeEntryFromAnyFolder() {
    PtyPair pty;
    MemoryProfile profile;
    profile.values.insert(QStringLiteral("Ports/COM1"), pty.slavePath().mid(5));  // "pts/N"
    const QString before = QDir::currentPath();
    QTemporaryDir elsewhere;
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    Rig rig(profile);
    const bool sent = rig.SendZoomIn();
    QDir::setCurrent(before);
    QVERIFY(sent);
    QCOMPARE(pty.Read(7).toHex(' '), kPelcoZoomIn.toHex(' '));
}

void TestPorts::failureReasons_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("words");
    QTest::newRow("missing") << "missing"
                             << "no such device";
    QTest::newRow("regular file") << "file"
                                  << "not a serial device";
    QTest::newRow("/dev/null") << "null"
                               << "not a serial device";
    QTest::newRow("multiplexer") << "ptmx"
                                 << "multiplexer";
    QTest::newRow("list of two") << "list"
                                 << "no such device";
    QTest::newRow("not text") << "number"
                              << "can't be used";
}

// Each failure through the real device: the link stays closed and says why.
void TestPorts::failureReasons() {
    QFETCH(QString, kind);
    QFETCH(QString, words);
    QTemporaryDir dir;
    QVariant entry = dir.filePath(QStringLiteral("gone"));
    if (kind == QLatin1String("file")) {
        entry = dir.filePath(QStringLiteral("plain"));
        QFile(entry.toString()).open(QIODevice::WriteOnly);
    } else if (kind == QLatin1String("null")) {
        entry = QStringLiteral("/dev/null");
    } else if (kind == QLatin1String("ptmx")) {
        entry = QStringLiteral("/dev/ptmx");
    } else if (kind == QLatin1String("list")) {
        entry = QStringList{dir.filePath(QStringLiteral("a")), QStringLiteral("b")};
    } else if (kind == QLatin1String("number")) {
        entry = 3;
    }
    MemoryProfile profile;
    profile.values.insert(QStringLiteral("Ports/COM1"), entry);
    Rig rig(profile);
    QVERIFY(!rig.SendZoomIn());
    const QString reason = rig.controller.OpenFailureReason();
    QVERIFY2(reason.startsWith(QLatin1String("COM1")) && reason.contains(words),
             qPrintable(reason));
}

// Even a caller that skips the entry check never opens the multiplexer.
void TestPorts::deviceRefusesMultiplexer() {
    LocalSerialDevice device;
    QVERIFY(!device.Open(QStringLiteral("/dev/ptmx"), 9600));
    QCOMPARE(device.LastProblem().fault, PortFault::Multiplexer);
}

void TestPorts::faultFromErrno_data() {
    QTest::addColumn<int>("error");
    QTest::addColumn<PortFault>("fault");
    QTest::newRow("ENOENT") << ENOENT << PortFault::NoSuchDevice;
    QTest::newRow("ENXIO") << ENXIO << PortFault::NoSuchDevice;
    QTest::newRow("ENODEV") << ENODEV << PortFault::NoSuchDevice;
    QTest::newRow("EACCES") << EACCES << PortFault::PermissionDenied;
    QTest::newRow("EPERM") << EPERM << PortFault::PermissionDenied;
    QTest::newRow("EBUSY") << EBUSY << PortFault::Busy;
    QTest::newRow("ENOTTY") << ENOTTY << PortFault::NotSerial;
    QTest::newRow("EIO") << EIO << PortFault::Failed;
}

void TestPorts::faultFromErrno() {
    QFETCH(int, error);
    QFETCH(PortFault, fault);
    QCOMPARE(FaultFromSystemError(error), fault);
}

void TestPorts::describeProblem_data() {
    QTest::addColumn<PortFault>("fault");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << PortFault::None << ""
                          << "";
    QTest::newRow("no such device")
        << PortFault::NoSuchDevice << ""
        << "COM2 (/dev/ttyUSB0): no such device. Check that the adapter is plugged in, or "
           "choose another device for COM2 with F2 (Serial ports).";
    QTest::newRow("permission denied")
        << PortFault::PermissionDenied << ""
        << "COM2 (/dev/ttyUSB0): permission denied. Join the dialout group (sudo adduser "
           "$USER dialout) and log in again.";
    QTest::newRow("held, named") << PortFault::Busy << "minicom (pid 77)"
                                 << "COM2 (/dev/ttyUSB0): held by another program, minicom "
                                    "(pid 77). Close it, then press COMMUNICATION SET.";
    QTest::newRow("held") << PortFault::Busy << ""
                          << "COM2 (/dev/ttyUSB0): held by another program. Close it, then "
                             "press COMMUNICATION SET.";
    QTest::newRow("refused") << PortFault::Refused << ""
                             << "COM2 (/dev/ttyUSB0): the device refused the line settings.";
    QTest::newRow("no rate") << PortFault::Refused << "a rate of 0 baud"
                             << "COM2 (/dev/ttyUSB0): the line settings were refused: a rate "
                                "of 0 baud.";
    QTest::newRow("not serial") << PortFault::NotSerial << ""
                                << "COM2 (/dev/ttyUSB0): not a serial device.";
    QTest::newRow("unusable") << PortFault::UnusableEntry << "it is empty"
                              << "COM2: the entry in the profile's [Ports] section can't be "
                                 "used: it is empty.";
    QTest::newRow("other") << PortFault::Failed << "Input/output error"
                           << "COM2 (/dev/ttyUSB0): could not be opened: Input/output error.";
}

void TestPorts::describeProblem() {
    QFETCH(PortFault, fault);
    QFETCH(QString, detail);
    QFETCH(QString, text);
    const QString device =
        fault == PortFault::UnusableEntry ? QString() : QStringLiteral("/dev/ttyUSB0");
    QCOMPARE(DescribeProblem(2, {fault, device, detail}), text);
}

// A line that another program has flock'ed is not opened, and the reason names it.
void TestPorts::heldByAnotherProgram() {
    PtyPair pty;
    MemoryProfile profile;
    profile.values.insert(QStringLiteral("Ports/COM1"), pty.slavePath());
    Rig rig(profile);
    {
        FlockHolder holder(pty.slavePath());
        QVERIFY(holder.held);
        QVERIFY(!rig.SendZoomIn());
        QVERIFY2(rig.controller.OpenFailureReason().contains(
                     QStringLiteral("held by another program, flock (pid %1).")
                         .arg(holder.process.processId())),
                 qPrintable(rig.controller.OpenFailureReason()));
        QCOMPARE(pty.ReadAvailable(50), QByteArray());
    }
    QVERIFY(rig.SendZoomIn());
    QCOMPARE(pty.Read(7).toHex(' '), kPelcoZoomIn.toHex(' '));
}

// While the link holds the line, another program's lock attempt fails; after it lets go,
// the attempt succeeds.
void TestPorts::holdsTheLineAgainstOthers() {
    PtyPair pty;
    MemoryProfile profile;
    profile.values.insert(QStringLiteral("Ports/COM1"), pty.slavePath());
    Rig rig(profile);
    rig.controller.OnInitDialog();
    QVERIFY(rig.controller.PortOpen());
    const int refused = TryFlock(pty.slavePath());
    if (::geteuid() == 0)
        QCOMPARE(refused, 9);  // root passes the exclusive-open flag; the lock stops it
    else
        QVERIFY(refused != 0);
    QVERIFY(rig.controller.ReleasePort().wasOpen);
    QCOMPARE(TryFlock(pty.slavePath()), 0);
}

void TestPorts::holderFromProc_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("holder");
    QTest::newRow("lock table") << "locks"
                                << "minicom (pid 4321)";
    QTest::newRow("lock table, waiter only") << "waiter"
                                             << "";
    QTest::newRow("lock table, this program") << "self"
                                              << "";
    QTest::newRow("lock file") << "lckfile"
                               << "minicom (pid 4321)";
    QTest::newRow("lock file, holder gone") << "stale"
                                            << "";
    QTest::newRow("open file") << "fd"
                               << "minicom (pid 4321)";
    QTest::newRow("nothing") << ""
                             << "";
}

void TestPorts::holderFromProc() {
    QFETCH(QString, source);
    QFETCH(QString, holder);
    QTemporaryDir root;
    const QDir dir(root.path());
    const QString device = dir.filePath(QStringLiteral("ttyUSB0"));
    QFile(device).open(QIODevice::WriteOnly);
    dir.mkpath(QStringLiteral("proc/4321/fd"));
    dir.mkpath(QStringLiteral("proc/99/fd"));
    dir.mkpath(QStringLiteral("lock"));
    QFile comm(dir.filePath(QStringLiteral("proc/4321/comm")));
    comm.open(QIODevice::WriteOnly);
    comm.write("minicom\n");
    comm.close();
    // This program, pid 99, has the device open too: it never names itself.
    QFile::link(device, dir.filePath(QStringLiteral("proc/99/fd/3")));

    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(device).constData(), &info), 0);
    const QByteArray inode = QStringLiteral("%1:%2:%3")
                                 .arg(major(info.st_dev), 2, 16, QLatin1Char('0'))
                                 .arg(minor(info.st_dev), 2, 16, QLatin1Char('0'))
                                 .arg(quint64(info.st_ino))
                                 .toLatin1();
    QByteArray locks = "1: POSIX  ADVISORY  WRITE 1 00:01:2 0 EOF\n";
    if (source == QLatin1String("locks"))
        locks += "2: FLOCK  ADVISORY  WRITE 4321 " + inode + " 0 EOF\n";
    if (source == QLatin1String("waiter"))
        locks += "2: -> FLOCK  ADVISORY  WRITE 4321 " + inode + " 0 EOF\n";
    if (source == QLatin1String("self"))
        locks += "2: FLOCK  ADVISORY  WRITE 99 " + inode + " 0 EOF\n";
    QFile table(dir.filePath(QStringLiteral("proc/locks")));
    table.open(QIODevice::WriteOnly);
    table.write(locks);
    table.close();
    if (source == QLatin1String("lckfile") || source == QLatin1String("stale")) {
        QFile lck(dir.filePath(QStringLiteral("lock/LCK..ttyUSB0")));
        lck.open(QIODevice::WriteOnly);
        lck.write(source == QLatin1String("stale") ? "      5555\n" : "      4321\n");
    }
    if (source == QLatin1String("fd"))
        QFile::link(device, dir.filePath(QStringLiteral("proc/4321/fd/7")));

    HolderSources sources;
    sources.procRoot = dir.filePath(QStringLiteral("proc"));
    sources.lockDirs = {dir.filePath(QStringLiteral("lock"))};
    QCOMPARE(FindPortHolder(device, 99, sources), holder);
}

// "usb:<device>:<by-id>" or "builtin:<device>", comma-separated.
QList<SerialPortFacts> ParsePorts(const QString& list) {
    QList<SerialPortFacts> ports;
    for (const QString& item : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = item.split(QLatin1Char(':'));
        SerialPortFacts facts;
        facts.usb = parts[0] == QLatin1String("usb");
        facts.device = parts.value(1);
        facts.byId = parts.value(2);
        ports << facts;
    }
    return ports;
}

void TestPorts::firstStartMapping_data() {
    QTest::addColumn<QString>("ports");
    QTest::addColumn<QStringList>("present");  // keys already in [Ports]
    QTest::addColumn<QStringList>("written");  // COM1.. values written
    QTest::newRow("nothing found") << "" << QStringList() << QStringList();
    QTest::newRow("built-in only") << "builtin:/dev/ttyS1,builtin:/dev/ttyS0" << QStringList()
                                   << QStringList{"/dev/ttyS0", "/dev/ttyS1"};
    QTest::newRow("USB first, by stable name")
        << "builtin:/dev/ttyS0,usb:/dev/ttyUSB1:/s/usb-B,usb:/dev/ttyUSB0:/s/usb-A" << QStringList()
        << QStringList{"/s/usb-A", "/s/usb-B", "/dev/ttyS0"};
    QTest::newRow("USB without stable name")
        << "usb:/dev/ttyACM0:,builtin:/dev/ttyS0" << QStringList()
        << QStringList{"/dev/ttyACM0", "/dev/ttyS0"};
    QTest::newRow("natural order, four at most")
        << "builtin:/dev/ttyS10,builtin:/dev/ttyS2,builtin:/dev/ttyS1,builtin:/dev/ttyS0,"
           "builtin:/dev/ttyS3"
        << QStringList() << QStringList{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"};
    QTest::newRow("section present")
        << "usb:/dev/ttyUSB0:/s/usb-A" << QStringList{"COM3"} << QStringList();
}

void TestPorts::firstStartMapping() {
    QFETCH(QString, ports);
    QFETCH(QStringList, present);
    QFETCH(QStringList, written);
    MemoryProfile profile;
    for (const QString& key : present)
        profile.values.insert(QStringLiteral("Ports/") + key, QStringLiteral("/dev/ttyX"));
    int looks = 0;
    const auto lookUp = [&] {
        ++looks;
        return ParsePorts(ports);
    };
    QCOMPARE(MapPortsOnFirstStart(profile, lookUp), !written.isEmpty());
    QCOMPARE(looks, present.isEmpty() ? 1 : 0);
    QStringList keys, values;
    for (int i = 0; i < written.size(); ++i) {
        keys << QStringLiteral("COM%1").arg(i + 1);
        values << profile.values.value(QStringLiteral("Ports/COM%1").arg(i + 1)).toString();
    }
    QCOMPARE(profile.written, keys);
    QCOMPARE(values, written);
}

void TestPorts::byIdNames() {
    QTemporaryDir dev;
    QDir(dev.path()).mkpath(QStringLiteral("serial/by-id"));
    QFile(dev.filePath(QStringLiteral("ttyUSB0"))).open(QIODevice::WriteOnly);
    QFile::link(QStringLiteral("../../ttyUSB0"),
                dev.filePath(QStringLiteral("serial/by-id/usb-Maker_Adapter_A1-if00-port0")));
    QFile::link(QStringLiteral("../../gone"), dev.filePath(QStringLiteral("serial/by-id/dead")));
    const QHash<QString, QString> names = ByIdNames(dev.path());
    QCOMPARE(names.keys(), QStringList{dev.filePath(QStringLiteral("ttyUSB0"))});
    QCOMPARE(names.value(dev.filePath(QStringLiteral("ttyUSB0"))),
             dev.filePath(QStringLiteral("serial/by-id/usb-Maker_Adapter_A1-if00-port0")));
}

// The first start asks the real store whether [Ports] exists at all.
void TestPorts::sectionKeysOfTheRealStore() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("velmor.conf"));
    QFile conf(file);
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("[Settings]\nCOMPORT=2\n[Ports]\nCOM3=/dev/ttyUSB0\n");
    conf.close();
    SettingsProfileStore profile(file);
    QCOMPARE(profile.SectionKeys(QStringLiteral("Ports")), QStringList{"COM3"});
    QCOMPARE(profile.SectionKeys(QStringLiteral("Other")), QStringList());
}

void TestPorts::portToolTip_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("tip");
    QTest::newRow("known adapter by its node")
        << "@/ttyUSB0"
        << "COM1 = @/ttyUSB0\nUSB-Serial Controller, Maker Ltd, serial number A1\n@/by-id/usb-A";
    QTest::newRow("known adapter by its stable name")
        << "@/by-id/usb-A"
        << "COM1 = @/by-id/usb-A\nwhich is @/ttyUSB0\nUSB-Serial Controller, Maker Ltd, serial "
           "number A1";
    QTest::newRow("present, unknown") << "@/ttyS0"
                                      << "COM1 = @/ttyS0";
    QTest::newRow("absent") << "@/ttyUSB5"
                            << "COM1 = @/ttyUSB5\nNo such device on this machine.";
    QTest::newRow("multiplexer") << "/dev/ptmx"
                                 << "COM1 (/dev/ptmx): refused: this is the pseudo-terminal "
                                    "multiplexer, not a serial port; frames sent there would "
                                    "reach nobody.";
}

void TestPorts::portToolTip() {
    QFETCH(QString, entry);
    QFETCH(QString, tip);
    QTemporaryDir dev;
    QDir(dev.path()).mkpath(QStringLiteral("by-id"));
    QFile(dev.filePath(QStringLiteral("ttyUSB0"))).open(QIODevice::WriteOnly);
    QFile(dev.filePath(QStringLiteral("ttyS0"))).open(QIODevice::WriteOnly);
    QFile::link(dev.filePath(QStringLiteral("ttyUSB0")),
                dev.filePath(QStringLiteral("by-id/usb-A")));
    SerialPortFacts adapter;
    adapter.device = dev.filePath(QStringLiteral("ttyUSB0"));
    adapter.byId = dev.filePath(QStringLiteral("by-id/usb-A"));
    adapter.description = QStringLiteral("USB-Serial Controller");
    adapter.manufacturer = QStringLiteral("Maker Ltd");
    adapter.serialNumber = QStringLiteral("A1");
    adapter.usb = true;
    const PortTarget target = CheckPortEntry(QString(entry).replace(QLatin1Char('@'), dev.path()));
    QCOMPARE(PortToolTip(1, target, {adapter}), tip.replace(QLatin1Char('@'), dev.path()));
}

QTEST_GUILESS_MAIN(TestPorts)
#include "tst_ports.moc"
