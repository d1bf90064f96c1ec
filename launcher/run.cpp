#include "launcher/run.h"

#include <cwchar>
#include <memory>
#include <string>

#include "launcher/command_line.h"
#include "launcher/context.h"
#include "launcher/java.h"
#include "launcher/permissions.h"
#include "launcher/server_output.h"
#include "launcher/version.h"
#include "support/child_process.h"
#include "support/config.h"
#include "support/error_text.h"
#include "support/eventlog.h"
#include "support/handles.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/text.h"

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
    ReportServiceEvent(MSG_SERVER_NOT_CREATED, {ErrorText(error).get(), DecimalText(error).c_str()});
}

// The stop request, shared between the run and whoever asks for the stop
// (the service's control handler, the console's event handler). The run
// waits for its server or this event, and does the graceful stop itself.
SRWLOCK g_stopLock = SRWLOCK_INIT;
bool g_stopRequested = false;
StopCause g_stopCause = StopCause::kRequest;
bool g_serverEndedOnItsOwn = false;
DWORD g_serverExitCode = 0;
std::wstring g_serverLastOutput;
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

StopCause StopCauseOfRequest()
{
    ScopedLock lock(g_stopLock);
    return g_stopCause;
}

HANDLE RunEndedEvent()
{
    ScopedLock lock(g_stopLock);
    return EventLocked(g_runEnded);
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
    if (refusal == PathRefusal::kTooLong) {
        ovlog_write_tag(kLogWarning, kStartupTag,
                        L"The value of %s is too long once expanded (259 characters at most); using its default",
                        key);
        ReportServiceEvent(MSG_CONFIG_VALUE_REFUSED, {key, L"it is too long once expanded (259 characters at most)"});
    } else if (refusal == PathRefusal::kQuote) {
        ovlog_write_tag(kLogWarning, kStartupTag,
                        L"The value of %s holds a double quote, which no path can hold; using its default", key);
        ReportServiceEvent(MSG_CONFIG_VALUE_REFUSED, {key, L"it holds a double quote, which no path can hold"});
    }
}

}  // namespace

void RequestServerStop(StopCause cause)
{
    HANDLE stopEvent = nullptr;
    {
        ScopedLock lock(g_stopLock);
        // The first request decides how the stop goes.
        if (!g_stopRequested)
            g_stopCause = cause;
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

DWORD ServerExitCode()
{
    ScopedLock lock(g_stopLock);
    return g_serverExitCode;
}

std::wstring ServerLastOutput()
{
    ScopedLock lock(g_stopLock);
    return g_serverLastOutput;
}

bool WaitForRunEnd(DWORD timeoutMs)
{
    return WaitForSingleObject(RunEndedEvent(), timeoutMs) == WAIT_OBJECT_0;
}

bool ExecuteServerProcess(wchar_t* commandLine, ServerOutputFile* output)
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
    // Suspended until it is in the job, so no Java code runs outside it. A
    // service's server gets no hidden console: its output goes to the file.
    ChildProcess server;
    ChildOptions options;
    options.what = L"server process";
    options.logTag = kStartupTag;
    options.creationFlags = output != nullptr ? DETACHED_PROCESS : 0;
    options.output = output;
    if (!server.start(g_javaExecutable, commandLine, options)) {
        LogCreateFailure(server.lastError());
        return false;
    }
    const HANDLE process = server.process();
    ovlog_debug_tag(kStartupTag, 5, L"Server process started");
    ReportServiceEvent(MSG_SERVICE_STARTED,
                       {L"" OV_VERSION_TEXT, g_javaExecutable, DecimalText(server.processId()).c_str()});

    const ULONGLONG startedAt = GetTickCount64();
    // The permission check lets the server's start go first (permissions.h),
    // but does not wait for a server that is slow to come up.
    bool checkStarted = false;
    ServerWait wait = WaitForServerReady(process, stopEvent, startedAt, kPermissionCheckDelayMs);
    if (wait == ServerWait::kTimedOut) {
        StartPermissionCheck();
        checkStarted = true;
        wait = WaitForServerReady(process, stopEvent, startedAt, kServerReadyWaitMs);
    }
    bool stopRequested = false;
    switch (wait) {
    case ServerWait::kReady: {
        const unsigned readyMs = static_cast<unsigned>(GetTickCount64() - startedAt);
        ovlog_write_tag(kLogInformation, kStartupTag, L"Server is ready: its stop port answered after %u ms", readyMs);
        ReportServerReady();
        ReportServiceEvent(MSG_SERVER_READY, {DecimalText(readyMs).c_str()});
        break;
    }
    case ServerWait::kTimedOut:
        ovlog_write_tag(kLogWarning, kStartupTag,
                        L"Jetty's stop port " OV_STOP_PORT L" did not answer within %u s; reporting the service running",
                        static_cast<unsigned>(kServerReadyWaitMs / 1000));
        ReportServerReady();
        break;
    case ServerWait::kEnded:
        break;
    case ServerWait::kStopRequested:
        stopRequested = true;
        break;
    }
    if (!stopRequested) {
        const HANDLE waits[] = {process, stopEvent};
        DWORD woken = WAIT_TIMEOUT;
        if (!checkStarted) {
            const ULONGLONG ranMs = GetTickCount64() - startedAt;
            woken = WaitForMultipleObjects(
                2, waits, FALSE, ranMs >= kPermissionCheckDelayMs ? 0 : static_cast<DWORD>(kPermissionCheckDelayMs - ranMs));
            if (woken == WAIT_TIMEOUT)
                StartPermissionCheck();
        }
        if (woken == WAIT_TIMEOUT)
            woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        stopRequested = woken == WAIT_OBJECT_0 + 1;
    }
    if (stopRequested)
        StopServer(process, StopCauseOfRequest());
    WaitForSingleObject(process, INFINITE);

    DWORD exitCode = 0;
    GetExitCodeProcess(process, &exitCode);
    bool endedOnItsOwn = false;
    {
        ScopedLock lock(g_stopLock);
        endedOnItsOwn = !g_stopRequested;
        g_serverEndedOnItsOwn = endedOnItsOwn;
        g_serverExitCode = exitCode;
    }
    // Its last words, once the reader has them all, explain a death.
    server.waitForOutputEnd(ChildProcess::kReaderDrainMs);
    server.finish();
    if (endedOnItsOwn) {
        const std::wstring lastLines =
            output != nullptr ? NarrowAsWide(output->lastLines().c_str()) : std::wstring();
        ovlog_write_tag(kLogWarning, kShutdownTag, L"Server process ended on its own with exit code %u%s%s",
                        static_cast<unsigned>(exitCode), lastLines.empty() ? L"" : L"\n", lastLines.c_str());
        ScopedLock lock(g_stopLock);
        g_serverLastOutput = lastLines;
    }
    ovlog_debug_tag(kShutdownTag, 5, L"Server process terminated");
    return true;
}

int RunLauncher()
{
    Config config(/*ignoreCase=*/true);
    config.loadConfig(g_configFile, L"Launcher", /*encoding=*/nullptr, /*sectionOnly=*/true, /*replace=*/true);

    wchar_t path[kPathChars];
    PathRefusal logPathRefusal = PathRefusal::kNone;
    ExpandSetting(config, L"/Launcher/LauncherLogFile", kLauncherLogDefault, path,
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
    ExpandSetting(config, L"/Launcher/JettyLogFile", kJettyLogDefault, jettyLog, jettyLogRefusal);
    WarnRefused(jettyLogRefusal, L"JettyLogFile");
    ExpandSetting(config, L"/Launcher/ApplicationLogFile", kApplicationLogDefault, path,
                  applicationLogRefusal);
    WarnRefused(applicationLogRefusal, L"ApplicationLogFile");
    const wchar_t* maxMemory = config.getValue(L"/Launcher/JavaMaxMemory", nullptr, 0);
    if (maxMemory != nullptr && !IsHeapSize(maxMemory))
        ovlog_write_tag(kLogWarning, kStartupTag,
                        L"The value of JavaMaxMemory is not a size; leaving the heap size to Java");
    const ServerCommandParts parts{g_javaExecutable, g_installDir, jettyLog, path, maxMemory};
    ComposeServerCommandLine(commandLine, parts);
    ovlog_debug_tag(kStartupTag, 1, L"Java command line: %s", commandLine.getText());

    // A service's server has no console anyone could read: keep its output.
    std::unique_ptr<ServerOutputFile> output;
    if (IsServiceRun()) {
        PathRefusal outputRefusal = PathRefusal::kNone;
        wchar_t outputPath[kPathChars];
        ExpandSetting(config, L"/Launcher/ServerOutputFile", kServerOutputFileDefault, outputPath, outputRefusal);
        WarnRefused(outputRefusal, L"ServerOutputFile");
        output.reset(new (std::nothrow) ServerOutputFile(outputPath));
    }
    PreparePermissionCheck(LauncherPermissionInputs(config, /*withJava=*/true));
    const int status = ExecuteServerProcess(commandLine.getBuffer(), output.get()) ? kRunServerEnded : kRunCreateFailed;
    FinishPermissionCheck();
    ovlog_close();
    SetEvent(RunEndedEvent());
    return status;
}
