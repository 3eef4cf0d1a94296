#pragma once

#include <QApplication>

// The program: it points the profile at the company key, runs the keypad window
// modally and ends with it.
class CKeypadApp : public QApplication {
    Q_OBJECT
public:
    CKeypadApp(int& argc, char** argv);

    // Runs the keypad window; the program's exit status.
    int InitInstance();

    static constexpr const char* kCompanyKey = "PC-ZORVIK";
};
