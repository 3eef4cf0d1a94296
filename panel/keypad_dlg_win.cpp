// The About and Serial ports entries of the Windows system menu.
#include "keypad_dlg.h"

#include <windows.h>
#include <QShortcut>

namespace {
constexpr UINT kAboutCommand = 0x0010;
constexpr UINT kSerialPortsCommand = 0x0020;
constexpr UINT kRemoteCommand = 0x0030;
}  // namespace

void CKeypadDlg::AddSystemMenuAbout(const QString& text) {
    HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE);
    if (!menu)
        return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kAboutCommand, reinterpret_cast<LPCWSTR>(text.utf16()));
    AppendMenuW(menu, MF_STRING, kSerialPortsCommand, L"Serial ports...\tF2");
}

void CKeypadDlg::AddSystemMenuRemote() {
    HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE);
    // Ahead of About, so that About and Serial ports stay the menu's last two entries.
    const wchar_t* text = L"Remote keypad\u2026\tF3";
    if (menu && !InsertMenuW(menu, kAboutCommand, MF_BYCOMMAND | MF_STRING, kRemoteCommand, text))
        AppendMenuW(menu, MF_STRING, kRemoteCommand, text);
    auto* remote = new QShortcut(QKeySequence(Qt::Key_F3), this);
    connect(remote, &QShortcut::activated, this, [this] { openRemote(); });
}

bool CKeypadDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const MSG* msg = static_cast<const MSG*>(message);
    // The system sets the low four bits of system commands for its own use.
    if (msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == kAboutCommand) {
        ShowAbout();
        *result = 0;
        return true;
    }
    if (msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == kSerialPortsCommand) {
        ShowSerialPorts();
        *result = 0;
        return true;
    }
    if (msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == kRemoteCommand && openRemote) {
        openRemote();
        *result = 0;
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}
