#include "app/console_control.h"

#include "launcher/run.h"

BOOL WINAPI ConsoleCtrlHandler(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        RequestServerStop(StopCause::kConsoleEvent);
        return TRUE;
    case CTRL_BREAK_EVENT:
        // Java answers Ctrl+Break with a thread dump and goes on serving.
        RequestServerStop(StopCause::kRequest);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends when this returns, and Windows ends it anyway
        // soon after: hold it for the run as long as that allows.
        RequestServerStop(StopCause::kConsoleEvent);
        WaitForRunEnd(kConsoleCloseWaitMs);
        return TRUE;
    default:
        return FALSE;
    }
}
