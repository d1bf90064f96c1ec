#include <string>
#include <vector>

#include "launcher/command_line.h"
#include "launcher/permissions.h"
#include "launcher/run.h"
#include "service/control.h"
#include "support/console.h"
#include "support/error_text.h"
#include "support/files.h"
#include "support/handles.h"
#include "support/registry.h"
#include "support/strings.h"

namespace {

constexpr wchar_t kEventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\ovWebUI";
constexpr DWORD kEventTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

// Each command asks for just the access it needs, so that "status" works
// for anyone and the others fail only for want of what they do.
UniqueServiceHandle OpenManager(DWORD access, DWORD& error)
{
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, access));
    if (!manager) {
        error = GetLastError();
        ConsolePrint(L"ERROR: Cannot connect to Service Manager (%s)\n", ErrorText(error).get());
    }
    return manager;
}

// Connects to the manager (kept in `manager`) and opens the service with
// `access`; each failure is printed with its error code in `error`.
UniqueServiceHandle OpenWebUIService(DWORD access, UniqueServiceHandle& manager, DWORD& error)
{
    manager = OpenManager(SC_MANAGER_CONNECT, error);
    if (!manager)
        return UniqueServiceHandle();
    UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, access));
    if (!service) {
        error = GetLastError();
        ConsolePrint(L"ERROR: Cannot open service named 'ovWebUI' (%s)\n", ErrorText(error).get());
    }
    return service;
}

bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status)
{
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                                &needed) != FALSE;
}

// The registered binary path; false, with the last error set, when it
// cannot be read.
bool QueryBinaryPath(SC_HANDLE service, std::wstring& binaryPath)
{
    DWORD needed = 0;
    if (!QueryServiceConfigW(service, nullptr, 0, &needed) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return false;
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service, config, needed, &needed))
        return false;
    binaryPath = config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : L"";
    return true;
}

// The words for a run's own failure codes (see ServiceMain); null for a
// code the run does not give. A server that ends while "start" waits ended
// during its start-up.
const wchar_t* RunFailureWords(DWORD serviceSpecificCode, bool duringStart)
{
    switch (serviceSpecificCode) {
    case kRunNoJava:
        return L"no Java runtime was found";
    case kRunCreateFailed:
        return L"the server process could not be created";
    case kServiceExitServerEnded:
        return duringStart ? L"the server ended during start-up" : L"the server ended on its own";
    case kRunHealthFailed:
        return L"the server stopped answering its health check";
    case kRunStopPortInUse:
        return L"Jetty's stop port " OV_STOP_PORT L" is in use by another process";
    case kRunWebPortInUse:
        return L"the server's web port is in use by another process";
    default:
        return nullptr;
    }
}

// A service that never ran since the boot (1077) has no failed run.
bool LastRunFailed(const SERVICE_STATUS_PROCESS& status)
{
    return status.dwWin32ExitCode != NO_ERROR && status.dwWin32ExitCode != ERROR_SERVICE_NEVER_STARTED;
}

bool GetLauncherPath(wchar_t (&path)[MAX_PATH], DWORD& error)
{
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A cut path would name some other file.
    error = length == 0 ? GetLastError() : length >= MAX_PATH ? ERROR_INSUFFICIENT_BUFFER : NO_ERROR;
    return error == NO_ERROR;
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
    // failure (1066 with a code of its own) only with this flag set.
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

// Lets Event Viewer render the service's events from the message table in
// this exe.
bool AddEventSource(const wchar_t* launcherPath)
{
    UniqueRegistryKey key;
    const DWORD pathBytes = static_cast<DWORD>((wcslen(launcherPath) + 1) * sizeof(wchar_t));
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                     key.put(), nullptr);
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                                reinterpret_cast<const BYTE*>(launcherPath), pathBytes);
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&kEventTypesSupported), sizeof(DWORD));
    if (status == ERROR_SUCCESS)
        return true;
    ConsolePrint(L"WARNING: cannot register the event source (%s)\n", ErrorText(status).get());
    return false;
}

// Removes the event source when it names this exe or `serviceExe` (the
// exe the service ran), whichever way their paths are spelt, or a file
// that is gone; another copy's source stays. A source that is not there is
// no error.
void RemoveEventSource(const std::wstring& serviceExe)
{
    wchar_t launcherPath[MAX_PATH];
    DWORD error = NO_ERROR;
    if (!GetLauncherPath(launcherPath, error))
        return;
    {
        UniqueRegistryKey key;
        wchar_t registered[MAX_PATH];
        wchar_t source[MAX_PATH];
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS ||
            !ReadRegistryString(key.get(), L"EventMessageFile", registered))
            return;
        // The value is REG_EXPAND_SZ; one that does not fit expanded is left alone.
        const DWORD needed = ExpandEnvironmentStringsW(registered, source, MAX_PATH);
        if (needed == 0 || needed > MAX_PATH)
            return;
        const bool ours = NameSameFile(source, launcherPath) ||
                          (!serviceExe.empty() && NameSameFile(source, serviceExe.c_str())) || FileIsGone(source);
        if (!ours)
            return;
    }
    const LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventSourceKey);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        ConsolePrint(L"WARNING: cannot remove the event source (%s)\n", ErrorText(status).get());
}

// Starts the service and waits until it runs or has stopped, so that
// success means the server is up. 0, or the exit code with `reason` for the
// message.
DWORD StartAndWait(SC_HANDLE service, std::wstring& reason)
{
    if (!StartServiceW(service, 0, nullptr))
        return GetLastError();
    const ULONGLONG deadline = GetTickCount64() + kStartServiceWaitMs;
    SERVICE_STATUS_PROCESS status{};
    for (;;) {
        if (!QueryStatus(service, status))
            return GetLastError();
        if (status.dwCurrentState == SERVICE_RUNNING)
            return NO_ERROR;
        if (status.dwCurrentState == SERVICE_STOPPED)
            break;
        if (GetTickCount64() >= deadline)
            return ERROR_SERVICE_REQUEST_TIMEOUT;
        Sleep(kStartServicePollMs);
    }
    // Stopped with no failure of its own: a stop came during the start.
    if (!LastRunFailed(status))
        return ERROR_SERVICE_NOT_ACTIVE;
    const wchar_t* words = status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR
                               ? RunFailureWords(status.dwServiceSpecificExitCode, /*duringStart=*/true)
                               : nullptr;
    if (words != nullptr)
        reason = FormatWide(L"%s; see the launcher log", words);
    return status.dwWin32ExitCode;
}

// Sends the stop and waits until the service reports itself stopped, so
// success means the server is down. A stop already under way is waited for
// as the first one: Windows refuses a second stop control then.
DWORD StopAndWait(SC_HANDLE service, std::wstring&)
{
    SERVICE_STATUS_PROCESS status{};
    SERVICE_STATUS unused{};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &unused)) {
        const DWORD error = GetLastError();
        if (!QueryStatus(service, status) || status.dwCurrentState != SERVICE_STOP_PENDING)
            return error;
    }
    const ULONGLONG deadline = GetTickCount64() + kStopServiceWaitMs;
    for (;;) {
        if (!QueryStatus(service, status))
            return GetLastError();
        if (status.dwCurrentState == SERVICE_STOPPED)
            return NO_ERROR;
        if (GetTickCount64() >= deadline)
            return ERROR_SERVICE_REQUEST_TIMEOUT;
        Sleep(kStopServicePollMs);
    }
}

DWORD DeleteAndForget(SC_HANDLE service, std::wstring&)
{
    // Read first: once deleted, the registration may be gone.
    std::wstring binaryPath;
    const std::wstring serviceExe = QueryBinaryPath(service, binaryPath) ? ProgramOfCommandLine(binaryPath.c_str())
                                                                         : std::wstring();
    if (!DeleteService(service))
        return GetLastError();
    RemoveEventSource(serviceExe);
    return NO_ERROR;
}

// The pattern of remove, start and stop: open, operate, report, close.
// `operation` returns 0 or the error code, and may give the words for the
// message where the system's text for the code would not say why.
template <typename Operation>
DWORD RunServiceCommand(DWORD access, Operation operation, const wchar_t* success, const wchar_t* failure)
{
    DWORD error = NO_ERROR;
    UniqueServiceHandle manager;
    UniqueServiceHandle service = OpenWebUIService(access, manager, error);
    if (!service)
        return error;
    std::wstring reason;
    error = operation(service.get(), reason);
    if (error == NO_ERROR)
        ConsolePrint(L"%s", success);
    else
        ConsolePrint(failure, reason.empty() ? ErrorText(error).get() : reason.c_str());
    // The owners close the service, then the manager.
    return error;
}

const wchar_t* StateName(DWORD state)
{
    switch (state) {
    case SERVICE_STOPPED:
        return L"STOPPED";
    case SERVICE_START_PENDING:
        return L"START_PENDING";
    case SERVICE_STOP_PENDING:
        return L"STOP_PENDING";
    case SERVICE_RUNNING:
        return L"RUNNING";
    case SERVICE_CONTINUE_PENDING:
        return L"CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING:
        return L"PAUSE_PENDING";
    case SERVICE_PAUSED:
        return L"PAUSED";
    default:
        return L"UNKNOWN";
    }
}

}  // namespace

DWORD InstallWebUIService()
{
    DWORD error = NO_ERROR;
    UniqueServiceHandle manager = OpenManager(SC_MANAGER_CREATE_SERVICE, error);
    if (!manager)
        return error;

    wchar_t launcherPath[MAX_PATH];
    if (!GetLauncherPath(launcherPath, error)) {
        // A cut path would register a service that starts some other file.
        ConsolePrint(L"ERROR: Cannot get the launcher's own path (%s)\n", ErrorText(error).get());
        return error;
    }
    const std::wstring binaryPath = FormatWide(L"\"%s\" service", launcherPath);

    const wchar_t* verb = L"created";
    bool repointed = true;
    // SERVICE_START too: Windows takes a restart among the failure actions
    // only from a handle that may start the service.
    UniqueServiceHandle service(CreateServiceW(manager.get(), kServiceName, kServiceDisplayName,
                                               SERVICE_CHANGE_CONFIG | SERVICE_START, SERVICE_WIN32_OWN_PROCESS,
                                               SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, binaryPath.c_str(), nullptr,
                                               nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        error = GetLastError();
        if (error != ERROR_SERVICE_EXISTS) {
            ConsolePrint(L"ERROR: Cannot create service (%s)\n", ErrorText(error).get());
            return error;
        }
        ConsolePrint(L"WARNING: Service named 'ovWebUI' already exist\n");
        service.reset(OpenServiceW(manager.get(), kServiceName,
                                   SERVICE_CHANGE_CONFIG | SERVICE_START | SERVICE_QUERY_CONFIG));
        if (!service) {
            error = GetLastError();
            ConsolePrint(L"ERROR: Cannot open service named 'ovWebUI' (%s)\n", ErrorText(error).get());
            return error;
        }
        std::wstring previous;
        const bool known = QueryBinaryPath(service.get(), previous);
        // The service follows the exe that installs it, as the event source does.
        if (!ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE,
                                  binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
            const DWORD changeError = GetLastError();
            ConsolePrint(L"WARNING: cannot set service start type and binary path (%s)\n",
                         ErrorText(changeError).get());
            repointed = false;
        } else if (!known || ov_wcsicmp(previous.c_str(), binaryPath.c_str()) != 0) {
            ConsolePrint(L"Orvane Web UI service now runs %s from its next start\n", launcherPath);
        }
        verb = L"updated";
    }
    const bool configured = ConfigureService(service.get());
    // The source names the exe the service runs: left as it was when the
    // service could not be pointed here.
    const bool sourceAdded = repointed && AddEventSource(launcherPath);
    const bool foldersGuarded = PrintPermissionWarnings() == 0;
    const bool clean = configured && sourceAdded && foldersGuarded;  // no source where not repointed
    ConsolePrint(L"Orvane Web UI service %s %s\n", verb, clean ? L"successfully" : L"with warnings");
    return NO_ERROR;
}

DWORD RemoveWebUIService()
{
    return RunServiceCommand(DELETE | SERVICE_QUERY_CONFIG, &DeleteAndForget,
                             L"Orvane Web UI service deleted successfully\n",
                             L"ERROR: Cannot remove service named 'ovWebUI' (%s)\n");
}

DWORD StartWebUIService()
{
    return RunServiceCommand(SERVICE_START | SERVICE_QUERY_STATUS, &StartAndWait,
                             L"Orvane Web UI service started successfully\n",
                             L"ERROR: Cannot start service named 'ovWebUI' (%s)\n");
}

DWORD StopWebUIService()
{
    return RunServiceCommand(SERVICE_STOP | SERVICE_QUERY_STATUS, &StopAndWait,
                             L"Orvane Web UI service stopped successfully\n",
                             L"ERROR: Cannot stop service named 'ovWebUI' (%s)\n");
}

DWORD RestartWebUIService()
{
    DWORD error = NO_ERROR;
    UniqueServiceHandle manager;
    UniqueServiceHandle service =
        OpenWebUIService(SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS, manager, error);
    if (!service)
        return error;
    std::wstring reason;
    error = StopAndWait(service.get(), reason);
    if (error != NO_ERROR && error != ERROR_SERVICE_NOT_ACTIVE) {
        ConsolePrint(L"ERROR: Cannot stop service named 'ovWebUI' (%s)\n", ErrorText(error).get());
        return error;
    }
    error = StartAndWait(service.get(), reason);
    if (error == NO_ERROR)
        ConsolePrint(L"Orvane Web UI service restarted successfully\n");
    else
        ConsolePrint(L"ERROR: Cannot start service named 'ovWebUI' (%s)\n",
                     reason.empty() ? ErrorText(error).get() : reason.c_str());
    return error;
}

bool ReadServiceRegistration(ServiceRegistration& registration, DWORD& error)
{
    registration = ServiceRegistration();
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        error = GetLastError();
        return false;
    }
    UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (!service) {
        error = GetLastError();
        return error == ERROR_SERVICE_DOES_NOT_EXIST;
    }
    SERVICE_STATUS_PROCESS status{};
    if (!QueryBinaryPath(service.get(), registration.binaryPath) || !QueryStatus(service.get(), status)) {
        error = GetLastError();
        return false;
    }
    registration.installed = true;
    registration.program = ProgramOfCommandLine(registration.binaryPath.c_str());
    registration.state = status.dwCurrentState;
    registration.processId = status.dwProcessId;
    return true;
}

DWORD ShowWebUIServiceStatus()
{
    DWORD error = NO_ERROR;
    UniqueServiceHandle manager;
    UniqueServiceHandle service = OpenWebUIService(SERVICE_QUERY_STATUS, manager, error);
    if (!service)
        return error;
    SERVICE_STATUS_PROCESS status{};
    if (!QueryStatus(service.get(), status)) {
        error = GetLastError();
        ConsolePrint(L"ERROR: Cannot query service named 'ovWebUI' (%s)\n", ErrorText(error).get());
        return error;
    }
    const DWORD state = status.dwCurrentState;
    if (state == SERVICE_RUNNING) {
        ConsolePrint(L"ovWebUI: RUNNING (process %u)\n", static_cast<unsigned>(status.dwProcessId));
        return 0;
    }
    if (state != SERVICE_STOPPED || !LastRunFailed(status)) {
        ConsolePrint(L"ovWebUI: %s\n", StateName(state));
        return kExitNotRunning;
    }
    const DWORD exitCode = status.dwWin32ExitCode;
    if (exitCode == ERROR_SERVICE_SPECIFIC_ERROR) {
        const DWORD code = status.dwServiceSpecificExitCode;
        const wchar_t* words = RunFailureWords(code, /*duringStart=*/false);
        ConsolePrint(L"ovWebUI: STOPPED (%u, code %u: %s)\n", static_cast<unsigned>(exitCode),
                     static_cast<unsigned>(code), words != nullptr ? words : ErrorText(exitCode).get());
    } else {
        ConsolePrint(L"ovWebUI: STOPPED (%u: %s)\n", static_cast<unsigned>(exitCode), ErrorText(exitCode).get());
    }
    return kExitNotRunning;
}
