#include "keypad_app.h"
#include "remote_client_command.h"
#include "serial/guardian/stop_guard.h"

int main(int argc, char** argv) {
    // Provisioning needs neither a display nor the guardian.
    const int provisioned = RunRemoteClientCommand(argc, argv, CKeypadApp::kCompanyKey);
    if (provisioned >= 0)
        return provisioned;
    StopGuard::Start(argc, argv);
    CKeypadApp app(argc, argv);
    return app.InitInstance();
}
