#include "keypad_app.h"
#include "serial/guardian/stop_guard.h"

int main(int argc, char** argv) {
    StopGuard::Start(argc, argv);
    CKeypadApp app(argc, argv);
    return app.InitInstance();
}
