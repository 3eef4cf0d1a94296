#include "keypad_app.h"

int main(int argc, char** argv) {
    CKeypadApp app(argc, argv);
    return app.InitInstance();
}
