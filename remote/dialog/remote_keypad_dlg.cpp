#include "remote_keypad_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "remote/service/remote_service.h"
#include "remote/wire/key_names.h"

namespace {

// Often enough that a lease's countdown reads as live.
constexpr int kRefreshMs = 250;

QLabel* Note(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

CRemoteKeypadDlg::CRemoteKeypadDlg(RemoteService& service, const RemoteKeys& keys, QWidget* parent)
    : QDialog(parent), service(service), keys(keys) {
    setWindowTitle(QStringLiteral("Remote keypad"));
    setObjectName(QStringLiteral("remoteKeypad"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    enabled = new QCheckBox(QStringLiteral("Listen for remote clients"), this);
    enabled->setChecked(service.Book().Enabled());
    address = new QLineEdit(service.Book().AddressText(), this);
    address->setObjectName(QStringLiteral("address"));
    form->addRow(enabled);
    form->addRow(QStringLiteral("Address:"), address);
    layout->addLayout(form);
    exposure = Note(this);
    status = Note(this);
    layout->addWidget(exposure);
    layout->addWidget(status);

    layout->addWidget(new QLabel(QStringLiteral("Clients:"), this));
    clients = new QListWidget(this);
    clients->setObjectName(QStringLiteral("clients"));
    layout->addWidget(clients);
    auto* row = new QHBoxLayout;
    newName = new QLineEdit(this);
    newName->setPlaceholderText(QStringLiteral("name, such as desk-2"));
    newName->setMaxLength(32);
    auto* add = new QPushButton(QStringLiteral("&Add"), this);
    auto* revoke = new QPushButton(QStringLiteral("&Revoke"), this);
    row->addWidget(newName);
    row->addWidget(add);
    row->addWidget(revoke);
    layout->addLayout(row);
    token = new QLineEdit(this);
    token->setReadOnly(true);
    token->setObjectName(QStringLiteral("token"));
    tokenNote = Note(this);
    layout->addWidget(token);
    layout->addWidget(tokenNote);
    token->hide();
    holds = Note(this);
    holds->setObjectName(QStringLiteral("holds"));
    layout->addWidget(holds);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Apply | QDialogButtonBox::Close, this);
    layout->addWidget(buttons);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
            &CRemoteKeypadDlg::OnApply);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(add, &QPushButton::clicked, this, &CRemoteKeypadDlg::OnAddClient);
    connect(revoke, &QPushButton::clicked, this, &CRemoteKeypadDlg::OnRevokeClient);
    connect(address, &QLineEdit::textChanged, this, &CRemoteKeypadDlg::OnAddressEdited);

    auto* refresh = new QTimer(this);
    connect(refresh, &QTimer::timeout, this, &CRemoteKeypadDlg::ShowState);
    refresh->start(kRefreshMs);
    OnAddressEdited();
    ShowClients();
    ShowState();
}

void CRemoteKeypadDlg::OnAddressEdited() {
    const ListenAddress parsed = ParseListenAddress(address->text());
    if (!parsed.ok)
        exposure->setText(parsed.error);
    else if (parsed.Loopback())
        exposure->setText(QStringLiteral("Only programs on this computer can reach it."));
    else
        exposure->setText(
            QStringLiteral(
                "Warning: any computer that can reach %1 on your network can try this address, and "
                "every client with a token can move the cameras on this line. HTTP carries tokens "
                "unencrypted: use it on a network you trust, and revoke a token that got out. "
                "Windows asks whether to let the port through its firewall.")
                .arg(parsed.host));
}

void CRemoteKeypadDlg::OnApply() {
    QString error;
    if (!service.Book().SetAddress(address->text(), error) ||
        !service.Book().SetEnabled(enabled->isChecked())) {
        status->setText(error.isEmpty() ? QStringLiteral("The profile refused the settings.")
                                        : error);
        return;
    }
    service.Apply();
    ShowState();
}

void CRemoteKeypadDlg::OnAddClient() {
    const ClientBook::Added added = service.Book().Add(newName->text().trimmed());
    if (!added.ok) {
        tokenNote->setText(added.error);
        token->hide();
        return;
    }
    token->setText(added.token);
    token->show();
    token->selectAll();
    tokenNote->setText(
        QStringLiteral(
            "The token of %1, shown this once: copy it into the client now. Only a salted hash "
            "of it is kept.")
            .arg(newName->text().trimmed()));
    newName->clear();
    ShowClients();
}

void CRemoteKeypadDlg::OnRevokeClient() {
    const QListWidgetItem* item = clients->currentItem();
    if (!item)
        return;
    const QString name = item->text();
    QString error;
    if (!service.Book().Revoke(name, error)) {
        tokenNote->setText(error);
        return;
    }
    service.Disconnect(name);
    token->hide();
    tokenNote->setText(QStringLiteral("%1 was revoked; its token no longer signs in.").arg(name));
    ShowClients();
}

void CRemoteKeypadDlg::ShowClients() {
    clients->clear();
    clients->addItems(service.Book().Names());
}

void CRemoteKeypadDlg::ShowState() {
    if (service.Listening())
        status->setText(QStringLiteral("Listening on %1:%2. Signed in now: %3.")
                            .arg(service.Book().Address().host)
                            .arg(service.Port())
                            .arg(service.Connected().isEmpty()
                                     ? QStringLiteral("nobody")
                                     : service.Connected().join(QStringLiteral(", "))));
    else if (!service.LastError().isEmpty())
        status->setText(QStringLiteral("Not listening: %1").arg(service.LastError()));
    else
        status->setText(QStringLiteral("Off: no port is open."));
    QStringList lines;
    for (const RemoteKeys::Hold& hold : keys.Snapshot().holds)
        lines << QStringLiteral("%1 holds %2 on camera %3%4")
                     .arg(hold.holder, KeyNames::Name(hold.controlId))
                     .arg(hold.camera)
                     .arg(hold.local
                              ? QString()
                              : QStringLiteral("; its lease ends in %1 ms").arg(hold.leaseLeftMs));
    holds->setText(lines.isEmpty() ? QStringLiteral("Nobody holds a movement.")
                                   : lines.join(QLatin1Char('\n')));
}
