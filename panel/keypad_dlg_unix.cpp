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
