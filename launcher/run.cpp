#include <cwchar>

#include "launcher/launcher.h"
#include "launcher/version.h"
#include "support/support.h"

namespace {

constexpr wchar_t kStartupTag[] = L"startup";
constexpr wchar_t kShutdownTag[] = L"shutdown";
// CreateProcessW's limit, terminator included. Wine silently cuts a longer
// line, which would start Java without its stop channel; refuse it as
// Windows does.
constexpr size_t kMaxCommandLineChars = 32767;

void LogCreateFailure(DWORD error)
{
    ovlog_write_tag(kLogError, kStartupTag, L"Cannot create process (Error 0x%08x: %s)", error,
                    ErrorText(error).get());
}

// The stop request, shared between the run and whoever asks for the stop
// (the service's control handler, the console's event handler). The run
// waits for its server or this event, and does the graceful stop itself.
SRWLOCK g_stopLock = SRWLOCK_INIT;
bool g_stopRequested = false;
bool g_serverEndedOnItsOwn = false;
UniqueKernelHandle g_stopEvent;
// Signalled whenever a run has ended; closing the console waits for it.
UniqueKernelHandle g_runEnded;

// Never closed once made, so the handle outlives the lock.
HANDLE EventLocked(UniqueKernelHandle& event)
{
    if (!event)
        event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return event.get();
}

HANDLE StopEvent()
{
    ScopedLock lock(g_stopLock);
    return EventLocked(g_stopEvent);
}

HANDLE RunEndedEvent()
{
    ScopedLock lock(g_stopLock);
    return EventLocked(g_runEnded);
}

UniqueKernelHandle CreateKillOnCloseJob()
{
    UniqueKernelHandle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits)))
        job.reset();
    return job;
}

// Without the job a killed launcher would leave the server running,
// holding its ports; say so, then run it all the same.
void PutInServerJob(HANDLE process)
{
    const HANDLE job = ServerJob();
    const DWORD error = job == nullptr ? ERROR_INVALID_HANDLE
                        : AssignProcessToJobObject(job, process) ? ERROR_SUCCESS
                                                                 : GetLastError();
    if (error == ERROR_SUCCESS)
        return;
    ovlog_write_tag(kLogWarning, kStartupTag,
                    L"Cannot put the server process in the launcher's job (Error 0x%08x: %s); it would outlive a "
                    L"killed launcher",
                    error, ErrorText(error).get());
}

// Expands a configuration value into `expanded`. A value that would need
// the whole buffer or more counts as absent, so the default applies; a
// cut path would name another file.
bool ExpandWhole(const wchar_t* value, wchar_t (&expanded)[kPathChars])
{
    const DWORD needed = ExpandEnvironmentStringsW(value, expanded, kPathChars);
    if (needed == 0 || needed > kPathChars) {
        expanded[0] = L'\0';
        return false;
    }
    return true;
}

// Why a configured path value gave way to its default.
enum class PathRefusal { kNone, kTooLong, kQuote };

// The expanded value of `key`, or of its default when the configured value
// does not fit, or holds a double quote: no Windows path can, and on a
// command line it would end the argument. `refusal` tells the caller to say
// so once the log is open.
void ExpandSetting(const Config& config, const wchar_t* key, const wchar_t* defaultValue,
                   wchar_t (&expanded)[kPathChars], PathRefusal& refusal)
{
    const wchar_t* value = config.getValue(key, defaultValue, 0);
    refusal = PathRefusal::kNone;
    if (!ExpandWhole(value, expanded))
        refusal = PathRefusal::kTooLong;
    else if (wcschr(expanded, L'"') != nullptr)
        refusal = PathRefusal::kQuote;
    if (refusal != PathRefusal::kNone && value != defaultValue)
        ExpandWhole(defaultValue, expanded);
}

void WarnRefused(PathRefusal refusal, const wchar_t* key)
{
    if (refusal == PathRefusal::kTooLong)
        ovlog_write_tag(kLogWarning, kStartupTag,
                        L"The value of %s is too long once expanded (259 characters at most); using its default",
                        key);
    else if (refusal == PathRefusal::kQuote)
        ovlog_write_tag(kLogWarning, kStartupTag,
                        L"The value of %s holds a double quote, which no path can hold; using its default", key);
}

}  // namespace

HANDLE ServerJob()
{
    static const UniqueKernelHandle job = CreateKillOnCloseJob();
    return job.get();
}

void RequestServerStop()
{
    HANDLE stopEvent = nullptr;
    {
        ScopedLock lock(g_stopLock);
        g_stopRequested = true;
        stopEvent = EventLocked(g_stopEvent);
    }
    SetEvent(stopEvent);
}

bool ServerEndedOnItsOwn()
{
    ScopedLock lock(g_stopLock);
    return g_serverEndedOnItsOwn;
}

BOOL WINAPI ConsoleCtrlHandler(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        RequestServerStop();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends when this returns: hold it until the run is over.
        RequestServerStop();
        WaitForSingleObject(RunEndedEvent(), kStopWorstCaseMs);
        return TRUE;
    default:
        return FALSE;
    }
}

bool ExecuteServerProcess(wchar_t* commandLine)
{
    if (wcslen(commandLine) >= kMaxCommandLineChars) {
        LogCreateFailure(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    const HANDLE stopEvent = StopEvent();
    {
        ScopedLock lock(g_stopLock);
        // A stop that came during start-up wins: a server started now would
        // outlive the stop that was asked for.
        if (g_stopRequested) {
            ovlog_write_tag(kLogInformation, kStartupTag, L"Stop requested before the server started; not starting it");
            return true;
        }
        g_serverEndedOnItsOwn = false;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    // Suspended until it is in the job, so no Java code runs outside it.
    if (!CreateProcessW(g_javaExecutable, commandLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &info)) {
        LogCreateFailure(GetLastError());
        return false;
    }
    const UniqueKernelHandle process(info.hProcess);
    {
        const UniqueKernelHandle thread(info.hThread);
        PutInServerJob(process.get());
        // A server left suspended would be waited for for ever.
        if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
            const DWORD error = GetLastError();
            TerminateProcess(process.get(), 1);
            LogCreateFailure(error);
            return false;
        }
    }
    ovlog_debug_tag(kStartupTag, 5, L"Server process started");

    const HANDLE waits[] = {process.get(), stopEvent};
    // The permission check lets the server's start go first (permissions.h).
    DWORD woken = WaitForMultipleObjects(2, waits, FALSE, kPermissionCheckDelayMs);
    if (woken == WAIT_TIMEOUT) {
        StartPermissionCheck();
        woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    }
    if (woken == WAIT_OBJECT_0 + 1)
        StopServer(process.get());
    WaitForSingleObject(process.get(), INFINITE);

    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    bool endedOnItsOwn = false;
    {
        ScopedLock lock(g_stopLock);
        endedOnItsOwn = !g_stopRequested;
        g_serverEndedOnItsOwn = endedOnItsOwn;
    }
    if (endedOnItsOwn)
        ovlog_write_tag(kLogWarning, kShutdownTag, L"Server process ended on its own with exit code %u",
                        static_cast<unsigned>(exitCode));
    ovlog_debug_tag(kShutdownTag, 5, L"Server process terminated");
    return true;
}

int RunLauncher()
{
    Config config(/*ignoreCase=*/true);
    config.loadConfig(g_configFile, L"Launcher", /*encoding=*/nullptr, /*sectionOnly=*/true, /*replace=*/true);

    wchar_t path[kPathChars];
    PathRefusal logPathRefusal = PathRefusal::kNone;
    ExpandSetting(config, L"/Launcher/LauncherLogFile", L"%OVWEBUI_HOME%\\logs\\launcher.log", path,
                  logPathRefusal);
    ovlog_open(path, 0);
    ovlog_set_debug_level(5);
    ovlog_write_tag(kLogInformation, kStartupTag, L"Orvane Web UI launcher " OV_VERSION_TEXT L" starting");
    if (config.notAFile())
        ovlog_write_tag(kLogWarning, kStartupTag, L"The configuration file \"%s\" is not a file; using the defaults",
                        g_configFile);
    WarnRefused(logPathRefusal, L"LauncherLogFile");

    if (!FindJavaRuntime()) {
        ovlog_close();
        SetEvent(RunEndedEvent());
        return kRunNoJava;
    }

    StringBuffer commandLine;
    PathRefusal jettyLogRefusal = PathRefusal::kNone, applicationLogRefusal = PathRefusal::kNone;
    wchar_t jettyLog[kPathChars];
    ExpandSetting(config, L"/Launcher/JettyLogFile", L"%OVWEBUI_HOME%\\logs\\jetty.log", jettyLog, jettyLogRefusal);
    WarnRefused(jettyLogRefusal, L"JettyLogFile");
    ExpandSetting(config, L"/Launcher/ApplicationLogFile", L"%OVWEBUI_HOME%\\logs\\ovmc.log", path,
                  applicationLogRefusal);
    WarnRefused(applicationLogRefusal, L"ApplicationLogFile");
    const wchar_t* maxMemory = config.getValue(L"/Launcher/JavaMaxMemory", nullptr, 0);
    if (maxMemory != nullptr && !IsHeapSize(maxMemory))
        ovlog_write_tag(kLogWarning, kStartupTag,
                        L"The value of JavaMaxMemory is not a size; leaving the heap size to Java");
    const ServerCommandParts parts{g_javaExecutable, g_installDir, jettyLog, path, maxMemory};
    ComposeServerCommandLine(commandLine, parts);
    ovlog_debug_tag(kStartupTag, 1, L"Java command line: %s", commandLine.getText());

    const int status = ExecuteServerProcess(commandLine.getBuffer()) ? kRunServerEnded : kRunCreateFailed;
    FinishPermissionCheck();
    ovlog_close();
    SetEvent(RunEndedEvent());
    return status;
}
