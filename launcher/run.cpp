#include "launcher/run.h"

#include <climits>
#include <cwchar>
#include <memory>
#include <string>

#include "launcher/command_line.h"
#include "launcher/context.h"
#include "launcher/health.h"
#include "launcher/java.h"
#include "launcher/permissions.h"
#include "launcher/server_output.h"
#include "launcher/settings.h"
#include "launcher/version.h"
#include "support/child_process.h"
#include "support/config.h"
#include "support/console.h"
#include "support/error_text.h"
#include "support/eventlog.h"
#include "support/handles.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/text.h"

namespace {

constexpr wchar_t kStartupTag[] = L"startup";
constexpr wchar_t kShutdownTag[] = L"shutdown";
constexpr wchar_t kHealthTag[] = L"health";
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

void WarnRefused(PathRefusal refusal, const wchar_t* key)
{
    if (refusal == PathRefusal::kNone)
        return;
    ovlog_write_tag(kLogWarning, kStartupTag, L"The value of %s %s; using its default", key, RefusalReason(refusal));
    ReportServiceEvent(MSG_CONFIG_VALUE_REFUSED, {key, FormatWide(L"it %s", RefusalReason(refusal)).c_str()});
}

constexpr uint32_t kLoopbackAddress = 0x7F000001;

void ReportPortTakenText(const std::wstring& text)
{
    ovlog_write_tag(kLogError, kStartupTag, L"%s", text.c_str());
    if (!IsServiceRun())
        ConsolePrint(L"ERROR: %s\n", text.c_str());
    ReportServiceEvent(MSG_SERVER_NOT_CREATED, {text.c_str(), DecimalText(WSAEADDRINUSE).c_str()});
}

void ReportPortTaken(const wchar_t* what, uint16_t port)
{
    // Beside a running service, the service's own server holds the ports.
    const bool besideService = !IsServiceRun() && port == OV_STOP_PORT_NUMBER;
    ReportPortTakenText(FormatWide(L"%s is already in use by %s%s", what, DescribePortListener(port).c_str(),
                                   besideService ? L"; is the service running? (ovwebui.exe status)" : L""));
}

// Whether each process the TCP table names as the stop port's listener is
// the server or in the launcher's job (with --exec, Jetty runs in a child
// JVM). Wine names no owner, and then neither does this.
bool StopPortIsOurs(DWORD serverPid)
{
    bool known = false;
    for (DWORD pid : PortListenerPids(OV_STOP_PORT_NUMBER, known)) {
        if (pid != 0 && !IsOurProcess(pid, serverPid)) {
            ReportPortTakenText(FormatWide(L"Jetty's stop port " OV_STOP_PORT
                                           L" is in use by %s, not by the server; ending the server without its stop "
                                           L"command",
                                           DescribeProcess(pid).c_str()));
            return false;
        }
    }
    return true;
}

enum class WatchEnd { kEnded, kStopRequested, kNotAnswering };

// Waits for the server's end or a stop, starting the permission check at
// its time and probing the web UI every interval. Failures count only once
// the address has answered, so a slow deployment is never stopped.
WatchEnd WatchServer(HANDLE process, HANDLE stopEvent, ULONGLONG startedAt, const HealthSettings& health,
                     bool answered, bool& checkStarted)
{
    const bool probing = health.enabled && health.intervalMs > 0;
    ULONGLONG nextProbeAt = GetTickCount64() + health.intervalMs;
    unsigned failures = 0;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        ULONGLONG wakeAt = ULLONG_MAX;
        if (!checkStarted)
            wakeAt = startedAt + kPermissionCheckDelayMs;
        if (probing && nextProbeAt < wakeAt)
            wakeAt = nextProbeAt;
        const DWORD waitMs = wakeAt == ULLONG_MAX ? INFINITE : wakeAt <= now ? 0 : static_cast<DWORD>(wakeAt - now);
        const HANDLE waits[] = {process, stopEvent};
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, waitMs);
        if (woken == WAIT_OBJECT_0 + 1)
            return WatchEnd::kStopRequested;
        if (woken != WAIT_TIMEOUT)
            return WatchEnd::kEnded;
        if (!checkStarted && GetTickCount64() - startedAt >= kPermissionCheckDelayMs) {
            StartPermissionCheck();
            checkStarted = true;
        }
        if (!probing || GetTickCount64() < nextProbeAt)
            continue;
        int status = 0;
        const ProbeResult result =
            ProbeHealthAddress(health.address, process, stopEvent, health.timeoutMs, health.timeoutMs, status);
        nextProbeAt = GetTickCount64() + health.intervalMs;
        if (result == ProbeResult::kServerEnded)
            return WatchEnd::kEnded;
        if (result == ProbeResult::kStopRequested)
            return WatchEnd::kStopRequested;
        if (result == ProbeResult::kAnswered && (health.address.https || StatusShowsAlive(status))) {
            if (failures > 0)
                ovlog_write_tag(kLogInformation, kHealthTag, L"%s answers again after %u failed checks",
                                health.address.text.c_str(), failures);
            failures = 0;
            answered = true;
            continue;
        }
        if (!answered || ++failures != health.failuresInRow)
            continue;
        const std::wstring reason = ProbeFailureText(result, health.timeoutMs);
        ovlog_write_tag(kLogWarning, kHealthTag, L"%s has not answered %u checks in a row (%s)",
                        health.address.text.c_str(), failures, reason.c_str());
        ReportServiceEvent(MSG_HEALTH_CHECK_FAILED,
                           {health.address.text.c_str(), DecimalText(failures).c_str(), reason.c_str()});
        // In the foreground the person at the console decides.
        if (IsServiceRun())
            return WatchEnd::kNotAnswering;
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

int ForegroundExitCode(int runStatus)
{
    return runStatus == kRunStopPortInUse || runStatus == kRunWebPortInUse ? kRunCreateFailed : runStatus;
}

int ExecuteServerProcess(wchar_t* commandLine, const HealthSettings& health, ServerOutputFile* output)
{
    if (wcslen(commandLine) >= kMaxCommandLineChars) {
        LogCreateFailure(ERROR_FILENAME_EXCED_RANGE);
        return kRunCreateFailed;
    }
    const HANDLE stopEvent = StopEvent();
    {
        ScopedLock lock(g_stopLock);
        // A stop that came during start-up wins: a server started now would
        // outlive the stop that was asked for.
        if (g_stopRequested) {
            ovlog_write_tag(kLogInformation, kStartupTag, L"Stop requested before the server started; not starting it");
            return kRunServerEnded;
        }
        g_serverEndedOnItsOwn = false;
    }
    // Whoever answers on these ports would pose as the server: its readiness,
    // and for the stop port the stop key of every later stop.
    if (PortAnswers(kLoopbackAddress, OV_STOP_PORT_NUMBER)) {
        ReportPortTaken(L"Jetty's stop port " OV_STOP_PORT, OV_STOP_PORT_NUMBER);
        return kRunStopPortInUse;
    }
    if (health.enabled && IsLocalAddress(health.address.ipv4) && PortAnswers(health.address.ipv4, health.address.port)) {
        ReportPortTaken(FormatWide(L"The server's web port %u", static_cast<unsigned>(health.address.port)).c_str(),
                        health.address.port);
        return kRunWebPortInUse;
    }
    // Suspended until it is in the job, so no Java code runs outside it. A
    // service's server gets no hidden console: its output goes to the file.
    ChildProcess server;
    ChildOptions options;
    options.what = L"server process";
    options.logTag = kStartupTag;
    options.creationFlags = output != nullptr ? DETACHED_PROCESS : 0;
    options.output = output;
    // A service's current folder is System32: Java's crash files and heap
    // dumps belong with the install instead. The foreground keeps the caller's.
    options.currentDir = IsServiceRun() ? g_installDir : nullptr;
    // In the foreground, output redirected from the launcher is the server's too.
    if (output == nullptr)
        RedirectedStandardHandles(options);
    options.waitProgress = &ReportRunProgress;
    if (!server.start(g_javaExecutable, commandLine, options)) {
        LogCreateFailure(server.lastError());
        return kRunCreateFailed;
    }
    const HANDLE process = server.process();
    ovlog_debug_tag(kStartupTag, 5, L"Server process started");
    ReportServiceEvent(MSG_SERVICE_STARTED,
                       {L"" OV_VERSION_TEXT, g_javaExecutable, DecimalText(server.processId()).c_str()});

    const ULONGLONG startedAt = GetTickCount64();
    // While Java starts: the stop port's owner is looked up once it answers.
    PreparePortListenerLookup();
    // The permission check lets the server's start go first (permissions.h),
    // but does not wait for a server that is slow to come up.
    bool checkStarted = false;
    const auto waitStartingCheck = [&checkStarted](auto wait) {
        ServerWait result = wait(checkStarted ? kServerReadyWaitMs : kPermissionCheckDelayMs);
        if (result == ServerWait::kTimedOut && !checkStarted) {
            StartPermissionCheck();
            checkStarted = true;
            result = wait(kServerReadyWaitMs);
        }
        return result;
    };
    ServerWait wait = waitStartingCheck(
        [&](DWORD untilMs) { return WaitForServerReady(process, stopEvent, startedAt, untilMs); });
    const bool stopPortAnswered = wait == ServerWait::kReady;
    if (stopPortAnswered && !StopPortIsOurs(server.processId())) {
        // The key must not go to a stranger: no stop command.
        TerminateProcess(process, ERROR_ADDRESS_ALREADY_ASSOCIATED);
        WaitForSingleObject(process, INFINITE);
        return kRunStopPortInUse;
    }
    int status = 0;
    bool webAnswered = false;
    if (wait == ServerWait::kReady && health.enabled) {
        wait = waitStartingCheck([&](DWORD untilMs) {
            return WaitForWebReady(health.address, health.timeoutMs, process, stopEvent, startedAt, untilMs, status);
        });
        webAnswered = wait == ServerWait::kReady;
    }
    bool stopRequested = false;
    const unsigned readyMs = static_cast<unsigned>(GetTickCount64() - startedAt);
    switch (wait) {
    case ServerWait::kReady:
        if (!health.enabled)
            ovlog_write_tag(kLogInformation, kStartupTag, L"Server is ready: its stop port answered after %u ms",
                            readyMs);
        else if (health.address.https)
            ovlog_write_tag(kLogInformation, kStartupTag, L"Server is ready: %s accepted a connection after %u ms",
                            health.address.text.c_str(), readyMs);
        else
            ovlog_write_tag(kLogInformation, kStartupTag, L"Server is ready: %s answered HTTP %d after %u ms",
                            health.address.text.c_str(), status, readyMs);
        ReportServerReady();
        ReportServiceEvent(MSG_SERVER_READY, {DecimalText(readyMs).c_str()});
        break;
    case ServerWait::kTimedOut:
        if (stopPortAnswered)
            ovlog_write_tag(kLogWarning, kStartupTag, L"%s did not answer within %u s; reporting the service running",
                            health.address.text.c_str(), static_cast<unsigned>(kServerReadyWaitMs / 1000));
        else
            ovlog_write_tag(kLogWarning, kStartupTag,
                            L"Jetty's stop port " OV_STOP_PORT
                            L" did not answer within %u s; reporting the service running",
                            static_cast<unsigned>(kServerReadyWaitMs / 1000));
        ReportServerReady();
        break;
    case ServerWait::kEnded:
        break;
    case ServerWait::kStopRequested:
        stopRequested = true;
        break;
    }
    bool healthStop = false;
    if (wait == ServerWait::kReady || wait == ServerWait::kTimedOut) {
        const WatchEnd end = WatchServer(process, stopEvent, startedAt, health, webAnswered, checkStarted);
        stopRequested = end == WatchEnd::kStopRequested;
        healthStop = end == WatchEnd::kNotAnswering;
    }
    if (healthStop)
        ReportRunStopping();
    if (stopRequested || healthStop)
        StopServer(process, stopRequested ? StopCauseOfRequest() : StopCause::kRequest);
    WaitForSingleObject(process, INFINITE);

    DWORD exitCode = 0;
    GetExitCodeProcess(process, &exitCode);
    bool endedOnItsOwn = false;
    bool stopAsked = false;
    {
        ScopedLock lock(g_stopLock);
        stopAsked = g_stopRequested;
        endedOnItsOwn = !stopAsked && !healthStop;
        g_serverEndedOnItsOwn = endedOnItsOwn;
        g_serverExitCode = exitCode;
    }
    // Its last words, once the reader has them all, explain a death.
    server.waitForOutputEnd(ChildProcess::kReaderDrainMs);
    server.finish();
    if (endedOnItsOwn) {
        const std::wstring lastLines = output != nullptr ? output->lastLines() : std::wstring();
        ovlog_write_tag(kLogWarning, kShutdownTag, L"Server process ended on its own with exit code %u%s%s",
                        static_cast<unsigned>(exitCode), lastLines.empty() ? L"" : L"\n", lastLines.c_str());
        ScopedLock lock(g_stopLock);
        g_serverLastOutput = lastLines;
    }
    ovlog_debug_tag(kShutdownTag, 5, L"Server process terminated");
    // A stop asked for meanwhile makes it an ordinary stop.
    return healthStop && !stopAsked ? kRunHealthFailed : kRunServerEnded;
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
    for (const std::wstring& warning : g_contextWarnings)
        ovlog_write_tag(kLogWarning, kStartupTag, L"%s", warning.c_str());

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
    const HealthSettings health = ReadHealthSettings(config, g_installDir);
    for (const std::wstring& warning : health.warnings)
        ovlog_write_tag(kLogWarning, kStartupTag, L"%s", warning.c_str());

    // A service's server has no console anyone could read: keep its output.
    std::unique_ptr<ServerOutputFile> output;
    if (IsServiceRun()) {
        PathRefusal outputRefusal = PathRefusal::kNone;
        wchar_t outputPath[kPathChars];
        ExpandSetting(config, L"/Launcher/ServerOutputFile", kServerOutputFileDefault, outputPath, outputRefusal);
        WarnRefused(outputRefusal, L"ServerOutputFile");
        output.reset(new (std::nothrow) ServerOutputFile(outputPath));
    }
    PreparePermissionCheck(LauncherPermissionInputs(config, g_javaExecutable));
    const int status = ExecuteServerProcess(commandLine.getBuffer(), health, output.get());
    ReportRunProgress();
    FinishPermissionCheck();
    ovlog_close();
    SetEvent(RunEndedEvent());
    return status;
}
