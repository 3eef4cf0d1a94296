#include "keypad_app.h"

#include <QFileInfo>

#include "dialog/dialog_font.h"
#include "end_of_run.h"
#include "panel/keypad_dlg.h"
#include "profile/profile_store.h"
#include "remote/dialog/remote_keypad_dlg.h"
#include "remote/service/remote_service.h"
#include "serial/device/system_serial_device.h"
#include "serial/guardian/stop_guard.h"
#include "serial/line/pause.h"
#include "serial/mender/threaded_mender.h"
#include "serial/ports/port_catalog.h"
#include "version.h"

CKeypadApp::CKeypadApp(int& argc, char** argv) : QApplication(argc, argv) {
    // The profile lives under the company key and the program file's base name.
    setOrganizationName(QString::fromLatin1(kCompanyKey));
    setApplicationName(QFileInfo(applicationFilePath()).completeBaseName());
    setApplicationVersion(QStringLiteral(VELMOR_VERSION_STRING));
    setQuitOnLastWindowClosed(false);
    UseUsableApplicationFace();
}

int CKeypadApp::InitInstance() {
    SettingsProfileStore profile(organizationName(), applicationName());
    SystemSerialDevice device;
    PrecisePause pause;
    SystemPortCatalog ports;
    ThreadedLineMender mender;
    CKeypadDlg dialog(
        KeypadServices{device, pause, profile, &ports, StopGuard::Instance(), &mender});
    EndOfRun end([&dialog](const QString& why) { dialog.EndRun(why); },
                 [&dialog](const QString& why) { dialog.StopMovement(why); });
    dialog.SetEndPending(&EndOfRun::Pending);
    // After the window, so that it ends first: its clients' holds end with their stops
    // while the line is still there.
    RemoteService remote(dialog.RemoteKeypad(), profile);
    remote.Apply();
    dialog.SetRemoteEntry([&remote, &dialog] {
        CRemoteKeypadDlg box(remote, dialog.RemoteKeypad(), &dialog);
        box.exec();
    });
    dialog.exec();
    return end.ExitStatus();
}
