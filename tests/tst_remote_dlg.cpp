#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "keypad_rig.h"
#include "remote/access/token_proof.h"
#include "remote/dialog/remote_keypad_dlg.h"
#include "remote/service/remote_service.h"

// The Remote keypad dialog over the real service and controller: what an address exposes,
// a client added (its token shown once, only a hash kept) and revoked, the service turned on
// and off, and who holds what.

namespace {

QPushButton* Button(QWidget& dialog, const QString& text) {
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        if (button->text().remove('&') == text)
            return button;
    return nullptr;
}

QString Texts(QWidget& dialog) {
    QStringList texts;
    for (QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
    return texts.join('\n');
}

}  // namespace

class TestRemoteDlg : public QObject {
    Q_OBJECT
private slots:
    void address_data();
    void address();
    void clients();
    void onAndOff();
};

void TestRemoteDlg::address_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("says");
    QTest::newRow("loopback") << "127.0.0.1:8765"
                              << "Only programs on this computer";
    QTest::newRow("a LAN address") << "192.168.1.20:8765"
                                   << "any computer that can reach 192.168.1.20";
    QTest::newRow("every address") << "0.0.0.0:8765"
                                   << "Warning: any computer";
    QTest::newRow("no port") << "127.0.0.1"
                             << "is not host:port";
}

void TestRemoteDlg::address() {
    QFETCH(QString, address);
    QFETCH(QString, says);
    KeypadRig rig;
    RemoteService service(rig.controller, rig.profile);
    CRemoteKeypadDlg dialog(service, rig.controller);
    dialog.findChild<QLineEdit*>("address")->setText(address);
    QVERIFY2(Texts(dialog).contains(says), qPrintable(Texts(dialog)));
}

void TestRemoteDlg::clients() {
    KeypadRig rig({{"PROTOCOL", 1}});
    RemoteService service(rig.controller, rig.profile);
    CRemoteKeypadDlg dialog(service, rig.controller);
    auto* name = dialog.findChildren<QLineEdit*>().value(1);
    QVERIFY(name && name->objectName().isEmpty());
    name->setText("desk-2");
    Button(dialog, "Add")->click();
    const QString token = dialog.findChild<QLineEdit*>("token")->text();
    QVERIFY(token.startsWith("desk-2."));
    QVERIFY(Texts(dialog).contains("shown this once"));
    auto* list = dialog.findChild<QListWidget*>("clients");
    QCOMPARE(list->count(), 1);
    // Only the hash is kept.
    const QString kept = rig.profile.values.value("Remote/Client.desk-2").toString();
    QVERIFY(TokenProof::CheckToken(kept, token));
    QVERIFY(!kept.contains(token.section('.', 1)));
    // A name that cannot be one is refused in words.
    name->setText("desk 3");
    Button(dialog, "Add")->click();
    QVERIFY(Texts(dialog).contains("a client's name is"));
    QCOMPARE(list->count(), 1);
    // Who holds what, from the controller.
    QCOMPARE(rig.controller.Down("desk-2", ControlId::ZoomIn, 12, 1000).outcome,
             RemoteKeys::Outcome::Done);
    QTRY_VERIFY(Texts(dialog).contains("desk-2 holds ZI on camera 12; its lease ends in"));
    rig.controller.Up("desk-2", ControlId::ZoomIn);
    QTRY_VERIFY(Texts(dialog).contains("Nobody holds a movement."));
    list->setCurrentRow(0);
    Button(dialog, "Revoke")->click();
    QCOMPARE(list->count(), 0);
    QVERIFY(!rig.profile.values.value("Remote/Client.desk-2").toString().size());
    QVERIFY(dialog.findChild<QLineEdit*>("token")->isHidden());
}

void TestRemoteDlg::onAndOff() {
    KeypadRig rig;
    RemoteService service(rig.controller, rig.profile);
    QCOMPARE(service.Apply(), QString());
    QVERIFY(!service.Listening());  // off by default: no port
    // A free port on loopback.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    CRemoteKeypadDlg dialog(service, rig.controller);
    dialog.findChild<QCheckBox*>()->setChecked(true);
    dialog.findChild<QLineEdit*>("address")->setText(QString("127.0.0.1:%1").arg(port));
    dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Apply)->click();
    QVERIFY(service.Listening());
    QCOMPARE(service.Port(), port);
    QVERIFY(Texts(dialog).contains(QString("Listening on 127.0.0.1:%1").arg(port)));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(client.waitForConnected(5000));
    client.close();
    dialog.findChild<QCheckBox*>()->setChecked(false);
    dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Apply)->click();
    QVERIFY(!service.Listening());
    QVERIFY(Texts(dialog).contains("Off: no port is open."));
    client.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!client.waitForConnected(2000));
}

QTEST_MAIN(TestRemoteDlg)
#include "tst_remote_dlg.moc"
