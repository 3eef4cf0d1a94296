#pragma once

#include <QByteArray>

// "velmor --remote-client NAME" adds a remote keypad client and prints its token once;
// "--remote-client NAME --revoke" removes it. Both run without a window (or a display) and
// end the program. Returns -1 when the command line holds no such command, else the exit
// status.
int RunRemoteClientCommand(int argc, char** argv, const char* companyKey);

// Text to standard output (1) or error (2), wherever they lead; on Windows, where a windowed
// program has none of its own, the console it was started from.
void WriteStandard(int stream, const QByteArray& text);
