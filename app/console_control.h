// The foreground's way to stop a run: console events. (The service's is the
// service control handler, service/host.h.)
#pragma once

#include <windows.h>

// Ctrl+C, Ctrl+Break and closing the console run the graceful stop instead
// of ending the launcher on the spot.
BOOL WINAPI ConsoleCtrlHandler(DWORD event);
// Windows ends a console process about 5 s after it is sent the close,
// logoff or shutdown event, whatever its handler does: the handler holds
// the process for the run's stop until just before that.
constexpr DWORD kConsoleCloseWaitMs = 4500;
