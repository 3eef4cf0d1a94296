// Where the program's messages go on Windows. Qt's own output there goes to the debugger
// unless a console is attached, which a windowed program never has, so a user who starts
// it as `velmor.exe 2> velmor.log` would get an empty log. Each message goes to the
// debugger and, when standard error leads somewhere, there too.
#include <QString>
#include <QtGlobal>

#include <windows.h>

namespace {

void MessageOutput(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QString line = qFormatLogMessage(type, context, message) + QLatin1Char('\n');
    OutputDebugStringW(reinterpret_cast<LPCWSTR>(line.utf16()));
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE)
        return;
    const QByteArray bytes = line.toUtf8();
    DWORD written = 0;
    WriteFile(err, bytes.constData(), DWORD(bytes.size()), &written, nullptr);
}

// Installed before main(), so that what Qt says while it starts is not lost either.
const struct Installer {
    Installer() { qInstallMessageHandler(MessageOutput); }
} installer;

}  // namespace
