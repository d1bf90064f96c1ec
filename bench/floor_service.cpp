// The floor of the service start figure: a service that does nothing. It
// reports RUNNING as soon as it has a status handle and STOPPED on a stop
// control, so start to RUNNING is only what the service manager and the
// process start cost. The bench installs it under a name of its own.
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, SERVICE_ACCEPT_STOP, NO_ERROR, 0, 0, 0};
HANDLE g_stopEvent = nullptr;

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*)
{
    if (control == SERVICE_CONTROL_STOP) {
        SetEvent(g_stopEvent);
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, LPWSTR*)
{
    // The name is ignored for a service in its own process.
    g_statusHandle = RegisterServiceCtrlHandlerExW(L"", &Handler, nullptr);
    if (g_statusHandle == nullptr)
        return;
    SetServiceStatus(g_statusHandle, &g_status);
    WaitForSingleObject(g_stopEvent, INFINITE);
    g_status.dwCurrentState = SERVICE_STOPPED;
    g_status.dwControlsAccepted = 0;
    SetServiceStatus(g_statusHandle, &g_status);
}

}  // namespace

int wmain()
{
    g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wchar_t name[] = L"";
    const SERVICE_TABLE_ENTRYW table[] = {{name, &ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
