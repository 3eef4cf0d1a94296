// The keypad window's side of the ports: the COM rows' tooltips, the reason a port failed,
// the first-start mapping and the Serial ports dialog, on real pseudo-terminals.
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "panel/serial_ports_dlg.h"
#include "panel_fixture.h"
#include "protocol/control_ids.h"
#include "pty_pair.h"
#include "serial/device/local_serial_device.h"
#include "serial/ports/port_catalog.h"

namespace {

class ListCatalog : public PortCatalog {
public:
    QList<SerialPortFacts> Ports() const override { return ports; }
    QList<SerialPortFacts> ports;
};

// The keypad window with a profile and a device list set up before it starts.
struct PortsPanel {
    PtyPair pty;
    ControllerState state;
    LocalSerialDevice device;
    RecordingPause pause;
    MemoryProfile profile;
    RecordingMessages messages;
    ListCatalog catalog;
    std::unique_ptr<CKeypadDlg> dlg;

    void Start() {
        dlg = std::make_unique<CKeypadDlg>(KeypadServices{device, pause, profile, &catalog},
                                           &messages);
        dlg->show();
        QVERIFY(QTest::qWaitForWindowActive(dlg.get()));
        // The rows' tooltips follow the window's first drawing.
        QTRY_VERIFY(!RowTip(3).isEmpty());
    }
    void Map(int port, const QString& path) {
        profile.values.insert(QStringLiteral("Ports/COM%1").arg(port), path);
    }
    QComboBox* ComCombo() const {
        return static_cast<QComboBox*>(dlg->Control(ControlId::ComPortCombo));
    }
    QString RowTip(int row) const {
        return QTextDocumentFragment::fromHtml(
                   ComCombo()->itemData(row, Qt::ToolTipRole).toString())
            .toPlainText();
    }
    QWidget* List() const { return dlg->Control(ControlId::StatusList); }
    QString ListTip() const {
        return QTextDocumentFragment::fromHtml(List()->toolTip()).toPlainText();
    }
    void CommunicationSet() {
        QTest::mousePress(dlg->windowHandle(), Qt::LeftButton, {},
                          dlg->Control(ControlId::CommunicationSet)->geometry().center());
        QTest::mouseRelease(dlg->windowHandle(), Qt::LeftButton, {},
                            dlg->Control(ControlId::CommunicationSet)->geometry().center());
    }
};

// Runs act on the next modal dialog other than the keypad while trigger runs.
bool WithModal(QWidget* keypad, const std::function<void()>& trigger,
               const std::function<void(QDialog*)>& act) {
    bool seen = false;
    int tries = 0;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog == keypad) {
            if (++tries > 300)
                poll.stop();
            return;
        }
        poll.stop();
        seen = true;
        act(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    poll.start();
    trigger();
    poll.stop();
    return seen;
}

QString Warning(const QString& reason) {
    return QCoreApplication::applicationName() + QStringLiteral(": ") + reason;
}

}  // namespace

class TestPortsDlg : public QObject {
    Q_OBJECT
private slots:
    void comRowToolTips();
    void toolTipsFollowTheDevicesWhenTheListOpens();
    void failureReason_data();
    void failureReason();
    void f2TakesANetworkEntry();
    void firstStart_data();
    void firstStart();
    void f2AssignsADevice();
    void f2RefusesAnUnusableEntry();
};

void TestPortsDlg::comRowToolTips() {
    PortsPanel panel;
    panel.Map(1, panel.pty.slavePath());
    panel.Map(2, QStringLiteral("/nonexistent/ttyUSB3"));
    panel.Map(3, QStringLiteral("/dev/ptmx"));
    SerialPortFacts adapter;
    adapter.device = panel.pty.slavePath();
    adapter.description = QStringLiteral("RS-485 adapter");
    adapter.manufacturer = QStringLiteral("Maker Ltd");
    adapter.serialNumber = QStringLiteral("X9");
    adapter.byId = QStringLiteral("/dev/serial/by-id/usb-Maker_RS485_X9-if00-port0");
    panel.catalog.ports = {adapter};
    panel.Start();

    QComboBox* combo = panel.ComCombo();
    QCOMPARE(combo->count(), 4);
    for (int row = 0; row < 4; ++row)
        QCOMPARE(combo->itemText(row), QStringLiteral("COM%1").arg(row + 1));
    QCOMPARE(panel.RowTip(0), QStringLiteral("COM1 = %1\nRS-485 adapter, Maker Ltd, serial number "
                                             "X9\n/dev/serial/by-id/usb-Maker_RS485_X9-if00-port0")
                                  .arg(panel.pty.slavePath()));
    QCOMPARE(panel.RowTip(1),
             QStringLiteral("COM2 = /nonexistent/ttyUSB3\nNo such device on this machine."));
    QVERIFY2(panel.RowTip(2).startsWith(QLatin1String("COM3 (/dev/ptmx): refused")),
             qPrintable(panel.RowTip(2)));
    QVERIFY(panel.RowTip(3).startsWith(QLatin1String("COM4 = /dev/ttyS3")));
}

void TestPortsDlg::toolTipsFollowTheDevicesWhenTheListOpens() {
    PortsPanel panel;
    panel.Map(1, panel.pty.slavePath());
    panel.Start();
    QCOMPARE(panel.RowTip(0), QStringLiteral("COM1 = %1").arg(panel.pty.slavePath()));
    SerialPortFacts adapter;
    adapter.device = panel.pty.slavePath();
    adapter.description = QStringLiteral("Plugged in later");
    panel.catalog.ports = {adapter};
    panel.ComCombo()->showPopup();
    QCOMPARE(panel.RowTip(0),
             QStringLiteral("COM1 = %1\nPlugged in later").arg(panel.pty.slavePath()));
    panel.ComCombo()->hidePopup();
}

void TestPortsDlg::failureReason_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");  // "@" stands for the device
    const QString missing = QStringLiteral(
        "COM1 (@): no such device. Check that the adapter is plugged in, or "
        "choose another device for COM1 with F2 (Serial ports).");
    const QString held = QStringLiteral(
        "COM1 (@): held by another program. Close it, then press COMMUNICATION SET.");
    for (int protocol : {0, 1}) {
        QTest::addRow("missing, protocol %d", protocol) << protocol << "missing" << missing;
        QTest::addRow("held, protocol %d", protocol) << protocol << "held" << held;
    }
}

// The status lines keep their texts; the list's tooltip, its accessible description and
// one line on standard error say why, and a port that opens clears them.
void TestPortsDlg::failureReason() {
    QFETCH(int, protocol);
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    PortsPanel panel;
    LocalSerialDevice holder;  // another opener in this program: held, but by nobody else
    const bool missing = kind == QLatin1String("missing");
    const QString device = missing ? QStringLiteral("/nonexistent/ttyUSB0") : panel.pty.slavePath();
    if (!missing)
        QVERIFY(holder.Open(device, 9600));
    reason.replace(QLatin1Char('@'), device);
    panel.Map(1, device);
    panel.profile.values.insert(QStringLiteral("Settings/PROTOCOL"), protocol);

    QTest::ignoreMessage(QtWarningMsg, qPrintable(Warning(reason)));
    panel.Start();
    QCOMPARE(panel.dlg->StatusTexts().value(3), QStringLiteral("Can't OPEN!"));
    QCOMPARE(panel.ListTip(), reason);
    QCOMPARE(panel.List()->accessibleDescription(), reason);

    QTest::ignoreMessage(QtWarningMsg, qPrintable(Warning(reason)));
    panel.CommunicationSet();
    QCOMPARE(panel.dlg->StatusTexts().value(3), QStringLiteral("Can't Open!"));
    QCOMPARE(panel.ListTip(), reason);

    holder.Close();
    panel.Map(1, panel.pty.slavePath());
    panel.CommunicationSet();
    QCOMPARE(panel.dlg->StatusTexts().size(), 10);
    QCOMPARE(panel.dlg->StatusTexts().value(4), QStringLiteral("PORT : COM1"));
    QCOMPARE(panel.List()->toolTip(), QString());
    QCOMPARE(panel.List()->accessibleDescription(), QString());
}

void TestPortsDlg::firstStart_data() {
    QTest::addColumn<bool>("sectionPresent");
    QTest::addColumn<bool>("devicesFound");
    QTest::newRow("first start") << false << true;
    QTest::newRow("section present") << true << true;
    QTest::newRow("nothing found") << false << false;
}

// The first start maps COM1 to the adapter by its stable name and the frames reach it.
void TestPortsDlg::firstStart() {
    QFETCH(bool, sectionPresent);
    QFETCH(bool, devicesFound);
    PortsPanel panel;
    QTemporaryDir byId;
    const QString stable = byId.filePath(QStringLiteral("usb-Maker_RS485_X9-if00-port0"));
    QVERIFY(QFile::link(panel.pty.slavePath(), stable));
    if (devicesFound) {
        SerialPortFacts adapter;
        adapter.device = panel.pty.slavePath();
        adapter.byId = stable;
        adapter.usb = true;
        SerialPortFacts builtIn;
        builtIn.device = QStringLiteral("/dev/ttyS0");
        panel.catalog.ports = {builtIn, adapter};
    }
    if (sectionPresent)
        panel.Map(2, panel.pty.slavePath());
    panel.Start();

    QStringList portsWritten = panel.profile.written.filter(QLatin1String("COM"));
    if (sectionPresent || !devicesFound) {
        QCOMPARE(portsWritten, QStringList());
        return;
    }
    QCOMPARE(portsWritten, (QStringList{"COM1", "COM2"}));
    QCOMPARE(panel.profile.values.value(QStringLiteral("Ports/COM1")).toString(), stable);
    QCOMPARE(panel.profile.values.value(QStringLiteral("Ports/COM2")).toString(),
             QStringLiteral("/dev/ttyS0"));
    QCOMPARE(panel.dlg->StatusTexts().value(3), QStringLiteral("   OSKA-DEF PROTOCOL"));
    const QPoint zoomIn = panel.dlg->Control(ControlId::ZoomIn)->geometry().center();
    QTest::mousePress(panel.dlg->windowHandle(), Qt::LeftButton, {}, zoomIn);
    QCOMPARE(panel.pty.Read(11), QByteArray("*00750100B7"));
    QTest::mouseRelease(panel.dlg->windowHandle(), Qt::LeftButton, {}, zoomIn);
}

// F2 opens the Serial ports dialog; a relative entry is stored as its absolute path and
// the COM row's tooltip follows at once.
void TestPortsDlg::f2AssignsADevice() {
    PortsPanel panel;
    panel.Map(1, QStringLiteral("/nonexistent/ttyUSB0"));
    panel.Start();
    QStringList names;
    const bool seen = WithModal(
        panel.dlg.get(),
        [&] {
            QTest::simulateEvent(panel.dlg->windowHandle(), true, Qt::Key_F2, {}, QString(), false);
        },
        [&](QDialog* dialog) {
            auto* ports = qobject_cast<CSerialPortsDlg*>(dialog);
            QVERIFY(ports);
            // A screen reader names each entry by the label that the form ties to it.
            for (int port = 1; port <= 4; ++port) {
                QAccessibleInterface* entry =
                    QAccessible::queryAccessibleInterface(ports->Entry(port));
                for (const auto& relation : entry->relations(QAccessible::Label))
                    names << relation.first->text(QAccessible::Name);
            }
            QCOMPARE(ports->Entry(1)->currentText(), QStringLiteral("/nonexistent/ttyUSB0"));
            QCOMPARE(ports->Note(1), QStringLiteral("missing: no such device on this machine"));
            ports->Entry(1)->setEditText(panel.pty.slavePath().mid(5));  // "pts/N"
            QCOMPARE(ports->Note(1), QStringLiteral("present"));
            ports->Entry(2)->setEditText(QStringLiteral("ptmx"));
            QCOMPARE(ports->Note(2), QStringLiteral("refused: the pseudo-terminal multiplexer"));
            ports->Entry(2)->setEditText(QString());
            ports->accept();
        });
    QVERIFY(seen);
    QCOMPARE(names, (QStringList{"COM1", "COM2", "COM3", "COM4"}));
    QCOMPARE(panel.profile.values.value(QStringLiteral("Ports/COM1")).toString(),
             panel.pty.slavePath());
    QCOMPARE(panel.profile.values.value(QStringLiteral("Ports/COM2")).toString(),
             QStringLiteral("/dev/ttyS1"));
    QCOMPARE(panel.RowTip(0), QStringLiteral("COM1 = %1").arg(panel.pty.slavePath()));
    panel.CommunicationSet();
    QCOMPARE(panel.dlg->StatusTexts().value(4), QStringLiteral("PORT : COM1"));
}

void TestPortsDlg::f2RefusesAnUnusableEntry() {
    PortsPanel panel;
    panel.Map(1, panel.pty.slavePath());
    panel.Start();
    const QStringList before = panel.profile.written;
    QString refusal;
    bool stayedOpen = false;
    const bool seen = WithModal(
        panel.dlg.get(), [&] { panel.dlg->ShowSerialPorts(); },
        [&](QDialog* dialog) {
            auto* ports = qobject_cast<CSerialPortsDlg*>(dialog);
            ports->Entry(3)->setEditText(QStringLiteral("ptmx"));
            ports->accept();
            stayedOpen = ports->isVisible();
            refusal = ports->Refusal();
        });
    QVERIFY(seen);
    QVERIFY(stayedOpen);
    QVERIFY2(refusal.startsWith(QLatin1String("COM3 (/dev/ptmx): refused")), qPrintable(refusal));
    QCOMPARE(panel.profile.written, before);
}

void TestPortsDlg::f2TakesANetworkEntry() {
    PortsPanel panel;
    panel.Map(1, panel.pty.slavePath());
    panel.Start();
    QString refusal;
    WithModal(
        panel.dlg.get(), [&] { panel.dlg->ShowSerialPorts(); },
        [&](QDialog* dialog) {
            auto* ports = qobject_cast<CSerialPortsDlg*>(dialog);
            ports->Entry(2)->setEditText(QStringLiteral("tcp://cams.local"));
            ports->accept();
            refusal = ports->Refusal();
            ports->Entry(2)->setEditText(QStringLiteral(" RFC2217://[::1]:4001 "));
            ports->accept();
        });
    QVERIFY2(
        refusal.startsWith(QLatin1String("COM2: this entry can't be used: \"tcp://cams.local\" "
                                         "needs ':' and a port number")),
        qPrintable(refusal));
    QCOMPARE(panel.profile.values.value(QStringLiteral("Ports/COM2")).toString(),
             QStringLiteral("rfc2217://[::1]:4001"));
    QVERIFY2(
        panel.RowTip(1).startsWith(QLatin1String("COM2 = rfc2217://[::1]:4001\nA serial server")),
        qPrintable(panel.RowTip(1)));
}

QTEST_MAIN(TestPortsDlg)
#include "tst_ports_dlg.moc"
