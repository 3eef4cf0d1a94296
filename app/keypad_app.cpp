#include "keypad_app.h"

#include <QFileInfo>

#include "end_of_run.h"
#include "panel/keypad_dlg.h"
#include "panel/profile_store.h"
#include "serial/pause.h"
#include "serial/port_catalog.h"
#include "serial/system_serial_device.h"
#include "version.h"

namespace {
// The one record of settings and transmit buffer, alive for the whole run.
ControllerState controllerState;
}  // namespace

CKeypadApp::CKeypadApp(int& argc, char** argv) : QApplication(argc, argv) {
    // The profile lives under the company key and the program file's base name.
    setOrganizationName(QString::fromLatin1(kCompanyKey));
    setApplicationName(QFileInfo(applicationFilePath()).completeBaseName());
    setApplicationVersion(QStringLiteral(VELMOR_VERSION_STRING));
    setQuitOnLastWindowClosed(false);
}

int CKeypadApp::InitInstance() {
    SettingsProfileStore profile(organizationName(), applicationName());
    SystemSerialDevice device;
    PrecisePause pause;
    SystemPortCatalog ports;
    CKeypadDlg dialog(KeypadServices{controllerState, device, pause, profile, nullptr, &ports});
    EndOfRun end([&dialog](const QString& why) { dialog.EndRun(why); },
                 [&dialog](const QString& why) { dialog.StopMovement(why); });
    dialog.SetEndPending(&EndOfRun::Pending);
    dialog.exec();
    return end.ExitStatus();
}
