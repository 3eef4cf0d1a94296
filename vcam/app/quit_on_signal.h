#pragma once

class QCoreApplication;

// Ends the event loop on SIGINT, SIGTERM and SIGHUP, so the program cleans up (removes
// its link, flushes its output) as on a normal exit.
void QuitOnSignal(QCoreApplication& app);
