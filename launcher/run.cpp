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
    wchar_t text[kErrorTextChars];
    ovlog_write_tag(kLogError, kStartupTag, L"Cannot create process (Error 0x%08x: %s)", error,
                    GetSystemErrorText(error, text, kErrorTextChars));
}

// The server process and the stop request, shared between the run and the
// stop path (another thread in service mode). The handle is published and
// withdrawn under the lock, and the stop path works on its own duplicate,
// so a termination never reaches a closed or reused handle.
SRWLOCK g_serverLock = SRWLOCK_INIT;
HANDLE g_serverProcess = nullptr;
bool g_stopRequested = false;
// Signalled when the stop path has finished; created with the stop request.
UniqueKernelHandle g_stopFinished;

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

// The expanded value of `key`, or of its default when the configured value
// does not fit; `tooLong` tells the caller to say so once the log is open.
void ExpandSetting(const Config& config, const wchar_t* key, const wchar_t* defaultValue,
                   wchar_t (&expanded)[kPathChars], bool& tooLong)
{
    const wchar_t* value = config.getValue(key, defaultValue, 0);
    tooLong = !ExpandWhole(value, expanded);
    if (tooLong && value != defaultValue)
        ExpandWhole(defaultValue, expanded);
}

void WarnTooLong(bool tooLong, const wchar_t* key)
{
    if (tooLong)
        ovlog_write_tag(kLogWarning, kStartupTag,
                        L"The value of %s is too long once expanded (259 characters at most); using its default",
                        key);
}

}  // namespace

HANDLE RequestServerStop()
{
    ScopedLock lock(g_serverLock);
    g_stopRequested = true;
    if (!g_stopFinished)
        g_stopFinished.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE duplicate = nullptr;
    if (g_serverProcess != nullptr)
        DuplicateHandle(GetCurrentProcess(), g_serverProcess, GetCurrentProcess(), &duplicate,
                        PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0);
    return duplicate;
}

void ServerStopFinished()
{
    ScopedLock lock(g_serverLock);
    if (g_stopFinished)
        SetEvent(g_stopFinished.get());
}

bool ExecuteServerProcess(wchar_t* commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    UniqueKernelHandle process;
    {
        ScopedLock lock(g_serverLock);
        // A stop that came during start-up wins: starting the server now
        // would leave it running after the service reported stopped.
        if (g_stopRequested) {
            ovlog_write_tag(kLogInformation, kStartupTag, L"Stop requested before the server started; not starting it");
            return true;
        }
        if (wcslen(commandLine) >= kMaxCommandLineChars) {
            LogCreateFailure(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        if (!CreateProcessW(g_javaExecutable, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &info)) {
            LogCreateFailure(GetLastError());
            return false;
        }
        CloseHandle(info.hThread);
        process.reset(info.hProcess);
        g_serverProcess = info.hProcess;
    }
    ovlog_debug_tag(kStartupTag, 5, L"Server process started");

    WaitForSingleObject(process.get(), INFINITE);
    HANDLE stopFinished = nullptr;
    {
        ScopedLock lock(g_serverLock);
        g_serverProcess = nullptr;
        // The event is never closed once made, so it outlives the lock.
        stopFinished = g_stopFinished.get();
    }
    process.reset();
    // A server that ended because it was asked to: let the stop command's
    // output reach the log before the run closes it.
    if (stopFinished != nullptr)
        WaitForSingleObject(stopFinished, kStopFinishWaitMs);
    ovlog_debug_tag(kShutdownTag, 5, L"Server process terminated");
    return true;
}

int RunLauncher()
{
    Config config(true);
    config.loadConfig(g_configFile, L"Launcher", nullptr, true, true);

    wchar_t path[kPathChars];
    bool logPathTooLong = false;
    ExpandSetting(config, L"/Launcher/LauncherLogFile", L"%OVWEBUI_HOME%\\logs\\launcher.log", path,
                  logPathTooLong);
    ovlog_open(path, 0);
    ovlog_set_debug_level(5);
    ovlog_write_tag(kLogInformation, kStartupTag, L"Orvane Web UI launcher " OV_VERSION_TEXT L" starting");
    WarnTooLong(logPathTooLong, L"LauncherLogFile");

    if (!FindJavaRuntime()) {
        ovlog_close();
        return kRunNoJava;
    }

    StringBuffer commandLine;
    bool jettyLogTooLong = false, applicationLogTooLong = false;
    wchar_t jettyLog[kPathChars];
    ExpandSetting(config, L"/Launcher/JettyLogFile", L"%OVWEBUI_HOME%\\logs\\jetty.log", jettyLog, jettyLogTooLong);
    WarnTooLong(jettyLogTooLong, L"JettyLogFile");
    ExpandSetting(config, L"/Launcher/ApplicationLogFile", L"%OVWEBUI_HOME%\\logs\\ovmc.log", path,
                  applicationLogTooLong);
    WarnTooLong(applicationLogTooLong, L"ApplicationLogFile");
    const ServerCommandParts parts{g_javaExecutable, g_installDir, jettyLog, path,
                                   config.getValue(L"/Launcher/JavaMaxMemory", nullptr, 0)};
    ComposeServerCommandLine(commandLine, parts);
    ovlog_debug_tag(kStartupTag, 1, L"Java command line: %s", commandLine.getText());

    const int status = ExecuteServerProcess(commandLine.getBuffer()) ? kRunServerEnded : kRunCreateFailed;
    ovlog_close();
    return status;
}
