#pragma once

// "velmor --remote-client NAME" adds a remote keypad client and prints its token once;
// "--remote-client NAME --revoke" removes it. Both run without a window (or a display) and
// end the program. Returns -1 when the command line holds no such command, else the exit
// status.
int RunRemoteClientCommand(int argc, char** argv, const char* companyKey);
