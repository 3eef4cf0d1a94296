// Windows port names: what a COM row's entry may name, the first-start mapping, and the
// words of the reasons. Run under Wine by CTest.
#include <QtTest>

#include "fakes.h"
#include "profile/port_map.h"
#include "serial/ports/port_catalog.h"
#include "serial/ports/port_name.h"
#include "serial/ports/problem_words.h"

Q_DECLARE_METATYPE(PortFault)

namespace {

// "COM1,COM7u,COM9b" -> the ports, a trailing u marking a USB adapter, a b a Bluetooth port.
QList<SerialPortFacts> Ports(const QString& list) {
    QList<SerialPortFacts> ports;
    for (const QString& name : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        SerialPortFacts facts;
        facts.usb = name.endsWith(QLatin1Char('u'));
        facts.bluetooth = name.endsWith(QLatin1Char('b'));
        facts.device = facts.usb || facts.bluetooth ? name.chopped(1) : name;
        ports << facts;
    }
    return ports;
}

}  // namespace

class TestPortsWin : public QObject {
    Q_OBJECT
private slots:
    void resolveEntry_data();
    void resolveEntry();
    void firstStart_data();
    void firstStart();
    void reasonsSpeakWindows();
};

void TestPortsWin::resolveEntry_data() {
    QTest::addColumn<QVariant>("entry");
    QTest::addColumn<QString>("device");
    QTest::addColumn<PortFault>("fault");
    QTest::newRow("no entry") << QVariant() << "COM3" << PortFault::None;
    QTest::newRow("empty") << QVariant(" ") << "COM3" << PortFault::None;
    QTest::newRow("COM7") << QVariant("COM7") << "COM7" << PortFault::None;
    QTest::newRow("lower case, spaces") << QVariant(" com12 ") << "COM12" << PortFault::None;
    QTest::newRow("device namespace") << QVariant("\\\\.\\COM200") << "COM200" << PortFault::None;
    QTest::newRow("COM256") << QVariant("COM256") << "COM256" << PortFault::None;
    QTest::newRow("COM257") << QVariant("COM257") << "" << PortFault::UnusableEntry;
    QTest::newRow("COM0") << QVariant("COM0") << "" << PortFault::UnusableEntry;
    QTest::newRow("leading zero") << QVariant("COM07") << "" << PortFault::UnusableEntry;
    QTest::newRow("a Linux path") << QVariant("/dev/ttyS0") << "" << PortFault::UnusableEntry;
    QTest::newRow("a file") << QVariant("C:\\COM7.txt") << "" << PortFault::UnusableEntry;
    QTest::newRow("a number") << QVariant(qlonglong(7)) << "" << PortFault::UnusableEntry;
    QTest::newRow("a huge number") << QVariant("COM99999999999") << "" << PortFault::UnusableEntry;
}

void TestPortsWin::resolveEntry() {
    QFETCH(QVariant, entry);
    QFETCH(QString, device);
    QFETCH(PortFault, fault);
    const PortTarget target = ResolvePortEntry(3, entry);
    QCOMPARE(target.device, device);
    QCOMPARE(target.problem.fault, fault);
    if (fault != PortFault::None)
        QVERIFY2(DescribeProblem(3, target.problem).contains(QLatin1String("COM1 to COM256")),
                 qPrintable(DescribeProblem(3, target.problem)));
}

void TestPortsWin::firstStart_data() {
    QTest::addColumn<QString>("present");
    QTest::addColumn<QString>("stored");  // an entry already there, "COMn=COMm", or none
    QTest::addColumn<QStringList>("written");
    QTest::newRow("COM7 fills the first absent row") << "COM1,COM7"
                                                     << "" << QStringList{"COM1=COM1", "COM2=COM7"};
    QTest::newRow("USB first, then by number")
        << "COM3,COM10,COM5u,COM6"
        << "" << QStringList{"COM1=COM5", "COM2=COM6", "COM3=COM3", "COM4=COM10"};
    QTest::newRow("USB adapter before a lower built-in port")
        << "COM9,COM12u"
        << "" << QStringList{"COM1=COM12", "COM2=COM9"};
    QTest::newRow("all four there: nothing to map") << "COM1,COM2,COM3,COM4,COM9"
                                                    << "" << QStringList();
    QTest::newRow("none above COM4: nothing to map") << "COM1,COM3"
                                                     << "" << QStringList();
    QTest::newRow("no ports") << ""
                              << "" << QStringList();
    QTest::newRow("Bluetooth ports left out") << "COM1,COM5b,COM8,COM11b"
                                              << "" << QStringList{"COM1=COM1", "COM2=COM8"};
    QTest::newRow("only a Bluetooth port above COM4: nothing to map") << "COM2,COM6b"
                                                                      << "" << QStringList();
    QTest::newRow("a mapping that exists stays") << "COM1,COM7"
                                                 << "COM3=COM1" << QStringList{"COM3=COM1"};
}

void TestPortsWin::firstStart() {
    QFETCH(QString, present);
    QFETCH(QString, stored);
    QFETCH(QStringList, written);
    MemoryProfile profile;
    if (!stored.isEmpty())
        profile.values.insert(QStringLiteral("Ports/") + stored.section(QLatin1Char('='), 0, 0),
                              stored.section(QLatin1Char('='), 1));
    QCOMPARE(MapPortsOnFirstStart(profile, [&] { return Ports(present); }),
             stored.isEmpty() && !written.isEmpty());
    QStringList entries;
    for (int port = 1; port <= 4; ++port) {
        const QVariant entry = StoredPortEntry(profile, port);
        if (entry.isValid())
            entries << QStringLiteral("COM%1=%2").arg(port).arg(entry.toString());
    }
    QCOMPARE(entries, written);
}

// A Windows user is pointed at Device Manager and the Serial ports dialog, never at /dev
// names, the dialout group or an INI section.
void TestPortsWin::reasonsSpeakWindows() {
    const QString missing = DescribeProblem(2, {PortFault::NoSuchDevice, "COM7", QString()});
    QVERIFY2(missing.startsWith(QLatin1String("COM2 (COM7): no such port.")), qPrintable(missing));
    QVERIFY(missing.contains(QLatin1String("Device Manager")));
    QVERIFY(missing.contains(QLatin1String("COM2 with F2")));
    QCOMPARE(BuiltInPortName(2), QStringLiteral("COM2"));
    for (const PortFault fault : {PortFault::NoSuchDevice, PortFault::PermissionDenied,
                                  PortFault::NotSerial, PortFault::UnusableEntry}) {
        const QString text = DescribeProblem(1, {fault, "COM9", "x"});
        for (const char* linux : {"/dev", "dialout", "[Ports]", "device"})
            QVERIFY2(!text.contains(QLatin1String(linux)), qPrintable(text));
    }
    const QString tip = PortToolTip(1, PortTarget(QStringLiteral("COM9")), Ports("COM1"));
    QCOMPARE(tip, QStringLiteral("COM1 = COM9\nNo such port on this machine."));
    QCOMPARE(PortNote(PortTarget(QStringLiteral("COM9")), Ports("COM1"), QString()),
             QStringLiteral("missing: no such port on this machine"));
    QCOMPARE(PortNote(PortTarget(QStringLiteral("COM6")), Ports("COM6b"), QString()),
             QStringLiteral("a Bluetooth port, which connects when opened"));
}

QTEST_GUILESS_MAIN(TestPortsWin)
#include "tst_ports_win.moc"
