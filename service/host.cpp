#include "launcher/launcher.h"
#include "service/service.h"

SERVICE_STATUS_HANDLE g_serviceStatusHandle = nullptr;

namespace {

// Signalled when ServiceMain has finished, so the process does not end
// while the service thread is still closing the log.
UniqueKernelHandle g_serviceThreadDone;

SERVICE_STATUS StartStatus()
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_RUNNING;
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    return status;
}

}  // namespace

void WINAPI ServiceCtrlHandler(DWORD control)
{
    SERVICE_STATUS status = StartStatus();
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        status.dwCurrentState = SERVICE_STOP_PENDING;
        status.dwWaitHint = kStopPendingWaitHintMs;
        SetServiceStatus(g_serviceStatusHandle, &status);
        StopServer();
        status.dwCurrentState = SERVICE_STOPPED;
        status.dwWaitHint = 0;
    }
    SetServiceStatus(g_serviceStatusHandle, &status);
}

void WINAPI ServiceMain(DWORD, LPWSTR*)
{
    g_serviceStatusHandle = RegisterServiceCtrlHandlerW(kServiceName, &ServiceCtrlHandler);
    SERVICE_STATUS status = StartStatus();
    SetServiceStatus(g_serviceStatusHandle, &status);
    SetProcessShutdownParameters(kShutdownLevel, 0);

    const int result = RunLauncher();

    status.dwCurrentState = SERVICE_STOPPED;
    status.dwWaitHint = 0;
    if (result == kRunNoJava || result == kRunCreateFailed) {
        // A run that never got a server up is a failure: say so to the
        // Service Control Manager rather than report a clean stop.
        status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        status.dwServiceSpecificExitCode = static_cast<DWORD>(result);
    }
    SetServiceStatus(g_serviceStatusHandle, &status);
    if (g_serviceThreadDone)
        SetEvent(g_serviceThreadDone.get());
}

void RunService()
{
    g_serviceThreadDone.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const SERVICE_TABLE_ENTRYW dispatchTable[] = {
        {const_cast<LPWSTR>(kServiceName), &ServiceMain},
        {nullptr, nullptr},
    };
    if (!StartServiceCtrlDispatcherW(dispatchTable)) {
        const DWORD error = GetLastError();
        wchar_t text[kErrorTextChars];
        ConsolePrint(L"StartServiceCtrlDispatcher() failed: %s\n", GetSystemErrorText(error, text, kErrorTextChars));
        return;
    }
    // The handler's stopped report can come first; let the run finish.
    if (g_serviceThreadDone)
        WaitForSingleObject(g_serviceThreadDone.get(), kServiceThreadExitWaitMs);
}
