#include "keypad_dlg.h"

#include <QShortcut>

void CKeypadDlg::AddSystemMenuAbout(const QString&) {
    // The window manager owns the system menu here: F1 opens the About box instead.
    auto* about = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(about, &QShortcut::activated, this, &CKeypadDlg::ShowAbout);
}

bool CKeypadDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    return QDialog::nativeEvent(eventType, message, result);
}

void CKeypadDlg::AddSystemMenuRemote() {
    // F3, beside F1 (About) and F2 (Serial ports), where the window manager owns the menu.
    auto* remote = new QShortcut(QKeySequence(Qt::Key_F3), this);
    connect(remote, &QShortcut::activated, this, [this] { openRemote(); });
}
