#pragma once

#include <QDialog>

#include "holds/remote_keys.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class RemoteService;

// "Remote keypad…": turns the service on or off and sets its address (a LAN address says
// what it exposes), adds and revokes clients (a new token is shown once, here only), and
// shows who holds what, kept up to date while it is open.
class CRemoteKeypadDlg : public QDialog {
    Q_OBJECT
public:
    CRemoteKeypadDlg(RemoteService& service, const RemoteKeys& keys, QWidget* parent = nullptr);

private:
    void OnApply();
    void OnAddClient();
    void OnRevokeClient();
    void OnAddressEdited();
    void ShowClients();
    void ShowState();

    RemoteService& service;
    const RemoteKeys& keys;
    QCheckBox* enabled = nullptr;
    QLineEdit* address = nullptr;
    QLabel* exposure = nullptr;
    QLabel* status = nullptr;
    QListWidget* clients = nullptr;
    QLineEdit* newName = nullptr;
    QLineEdit* token = nullptr;
    QLabel* tokenNote = nullptr;
    QLabel* holds = nullptr;
};
