#include "service/service.h"

#include "launcher/launcher.h"

namespace {

UniqueServiceHandle OpenManager()
{
    // GENERIC_WRITE for every command, as "install" needs it to create.
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, GENERIC_WRITE));
    if (!manager) {
        const DWORD error = GetLastError();
        ConsolePrint(L"ERROR: Cannot connect to Service Manager (%s)\n", ErrorText(error).get());
    }
    return manager;
}

// Sets one part of the registration; on failure prints "WARNING: cannot
// set service <what> (<error text>)". Where `optional`, a system that does
// not know the setting at all (ERROR_INVALID_LEVEL) has nothing to set: no
// warning then.
bool ChangeConfig(SC_HANDLE service, DWORD level, void* info, const wchar_t* what, bool optional = false)
{
    if (ChangeServiceConfig2W(service, level, info))
        return true;
    const DWORD error = GetLastError();
    if (optional && error == ERROR_INVALID_LEVEL)
        return true;
    ConsolePrint(L"WARNING: cannot set service %s (%s)\n", what, ErrorText(error).get());
    return false;
}

// Every part after the service's creation; false when any of them failed.
bool ConfigureService(SC_HANDLE service)
{
    SERVICE_DESCRIPTIONW description{const_cast<LPWSTR>(kServiceDescription)};
    SC_ACTION restart{SC_ACTION_RESTART, kRestartDelayMs};
    SERVICE_FAILURE_ACTIONSW actions{kFailureResetPeriodSeconds, nullptr, nullptr, 1, &restart};
    // Windows runs the failure actions for a service that reports its own
    // failure (1066 with 1, 2 or 3) only with this flag set.
    SERVICE_FAILURE_ACTIONS_FLAG onNonCrashFailures{TRUE};
    // Windows gives the shutdown control only a few seconds; the
    // pre-shutdown time lets the whole graceful stop run.
    SERVICE_PRESHUTDOWN_INFO preshutdown{kPreshutdownTimeoutMs};
    // Each is tried whatever became of the ones before it.
    bool clean = ChangeConfig(service, SERVICE_CONFIG_DESCRIPTION, &description, L"description");
    clean &= ChangeConfig(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions, L"failure actions");
    clean &= ChangeConfig(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onNonCrashFailures,
                          L"failure actions for non-crash failures", /*optional=*/true);
    clean &= ChangeConfig(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown, L"pre-shutdown timeout");
    return clean;
}

// Sends the stop and waits until the service reports itself stopped, so
// success means the server is down. False with the last error set.
bool StopAndWait(SC_HANDLE service)
{
    SERVICE_STATUS status{};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status))
        return false;
    const ULONGLONG deadline = GetTickCount64() + kStopServiceWaitMs;
    while (status.dwCurrentState != SERVICE_STOPPED) {
        if (GetTickCount64() >= deadline) {
            SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
            return false;
        }
        Sleep(kStopServicePollMs);
        if (!QueryServiceStatus(service, &status))
            return false;
    }
    return true;
}

// The pattern of remove, start and stop: open, operate, report, close.
template <typename Operation>
void RunServiceCommand(DWORD access, Operation operation, const wchar_t* success, const wchar_t* failure)
{
    UniqueServiceHandle manager = OpenManager();
    if (!manager)
        return;
    UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, access));
    if (!service) {
        const DWORD error = GetLastError();
        ConsolePrint(L"ERROR: Cannot open service named 'ovWebUI' (%s)\n", ErrorText(error).get());
        return;
    }
    if (operation(service.get())) {
        ConsolePrint(L"%s", success);
    } else {
        const DWORD error = GetLastError();
        ConsolePrint(failure, ErrorText(error).get());
    }
    // The owners close the service, then the manager.
}

}  // namespace

void InstallWebUIService()
{
    UniqueServiceHandle manager = OpenManager();
    if (!manager)
        return;

    wchar_t launcherPath[MAX_PATH];
    const DWORD pathLength = GetModuleFileNameW(nullptr, launcherPath, MAX_PATH);
    if (pathLength == 0 || pathLength >= MAX_PATH) {
        // A cut path would register a service that starts some other file.
        const DWORD error = pathLength == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        ConsolePrint(L"ERROR: Cannot get the launcher's own path (%s)\n", ErrorText(error).get());
        return;
    }
    const std::wstring binaryPath = FormatWide(L"\"%s\" service", launcherPath);

    const wchar_t* verb = L"created";
    UniqueServiceHandle service(CreateServiceW(manager.get(), kServiceName, kServiceDisplayName,
                                               GENERIC_READ | SERVICE_CHANGE_CONFIG | SERVICE_START,
                                               SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                               binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        const DWORD error = GetLastError();
        if (error != ERROR_SERVICE_EXISTS) {
            ConsolePrint(L"ERROR: Cannot create service (%s)\n", ErrorText(error).get());
            return;
        }
        ConsolePrint(L"WARNING: Service named 'ovWebUI' already exist\n");
        service.reset(OpenServiceW(manager.get(), kServiceName, SERVICE_CHANGE_CONFIG | SERVICE_START));
        if (!service)
            return;
        if (!ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
            const DWORD error = GetLastError();
            ConsolePrint(L"WARNING: cannot set service start type (%s)\n", ErrorText(error).get());
        }
        verb = L"updated";
    }
    const bool configured = ConfigureService(service.get());
    const bool foldersGuarded = PrintPermissionWarnings() == 0;
    const bool clean = configured && foldersGuarded;
    ConsolePrint(L"Orvane Web UI service %s %s\n", verb, clean ? L"successfully" : L"with warnings");
}

void RemoveWebUIService()
{
    RunServiceCommand(
        DELETE, [](SC_HANDLE service) { return DeleteService(service) != FALSE; },
        L"Orvane Web UI service deleted successfully\n", L"ERROR: Cannot remove service named 'ovWebUI' (%s)\n");
}

void StartWebUIService()
{
    RunServiceCommand(
        SERVICE_START, [](SC_HANDLE service) { return StartServiceW(service, 0, nullptr) != FALSE; },
        L"Orvane Web UI service started successfully\n", L"ERROR: Cannot start service named 'ovWebUI' (%s)\n");
}

void StopWebUIService()
{
    RunServiceCommand(
        SERVICE_STOP | SERVICE_QUERY_STATUS, &StopAndWait,
        L"Orvane Web UI service stopped successfully\n", L"ERROR: Cannot stop service named 'ovWebUI' (%s)\n");
}
