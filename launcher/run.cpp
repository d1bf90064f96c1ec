#include "launcher/run.h"

#include <cwchar>
#include <memory>
#include <string>

#include "launcher/command_line.h"
#include "launcher/context.h"
#include "launcher/health.h"
#include "launcher/java.h"
#include "launcher/permissions.h"
#include "launcher/ready.h"
#include "launcher/server_output.h"
#include "launcher/settings.h"
#include "launcher/stop.h"
#include "launcher/version.h"
#include "launcher/watch.h"
#include "support/child_process.h"
#include "support/config.h"
#include "support/config_file.h"
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
RunOutcome g_outcome;
UniqueKernelHandle g_stopEvent;
// Signalled whenever a run has ended; closing the console waits for it.
UniqueKernelHandle g_runEnded;

// Set by the service host before its run starts, then only read.
bool g_serviceRun = false;
void (*g_progressReporter)() = nullptr;
void (*g_readyReporter)() = nullptr;
void (*g_stoppingReporter)() = nullptr;

void ReportRunProgress()
{
    if (g_progressReporter != nullptr)
        g_progressReporter();
}

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

void ReportPortTakenText(const std::wstring& text)
{
    ovlog_write_tag(kLogError, kStartupTag, L"%s", text.c_str());
    if (!g_serviceRun)
        ConsolePrint(L"ERROR: %s\n", text.c_str());
    ReportServiceEvent(MSG_SERVER_NOT_CREATED, {text.c_str(), DecimalText(WSAEADDRINUSE).c_str()});
}

void ReportPortTaken(const wchar_t* what, const IpAddress& ip, uint16_t port)
{
    // Beside a running service, the service's own server holds the ports.
    const bool besideService = !g_serviceRun && port == OV_STOP_PORT_NUMBER;
    ReportPortTakenText(FormatWide(L"%s is already in use by %s%s", what, DescribePortListener(ip, port).c_str(),
                                   besideService ? L"; is the service running? (ovwebui.exe status)" : L""));
}

// Whether each process the TCP table names as the stop port's listener is
// the server or in the launcher's job (with --exec, Jetty runs in a child
// JVM). Wine names no owner, and then neither does this.
bool StopPortIsOurs(DWORD serverPid)
{
    bool known = false;
    for (DWORD pid : PortListenerPids(kLoopbackIpv4, OV_STOP_PORT_NUMBER, known)) {
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

// Runs `wait(untilMs)`, one of the run's waits. If it would go on past the
// time the permission check is due, it first waits until then and starts
// the check: the one place the check starts, so a run that ends sooner
// creates no thread for it.
template <typename Wait>
ServerWait WaitStartingTheCheck(Wait wait, DWORD untilMs, PermissionInputs& check, bool& checkStarted)
{
    if (!checkStarted && untilMs > kPermissionCheckDelayMs) {
        const ServerWait early = wait(kPermissionCheckDelayMs);
        if (early != ServerWait::kTimedOut)
            return early;
        StartPermissionCheck(std::move(check));
        checkStarted = true;
    }
    return wait(untilMs);
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

RunOutcome LastRunOutcome()
{
    ScopedLock lock(g_stopLock);
    return g_outcome;
}

void SetServiceRun(void (*progress)(), void (*ready)(), void (*stopping)())
{
    g_serviceRun = true;
    g_progressReporter = progress;
    g_readyReporter = ready;
    g_stoppingReporter = stopping;
}

bool WaitForRunEnd(DWORD timeoutMs)
{
    return WaitForSingleObject(RunEndedEvent(), timeoutMs) == WAIT_OBJECT_0;
}

namespace {

// Creates the server process from `commandLine` and returns once it has
// ended, with the run's status. With `output`, the server's output goes
// there instead of to the launcher's console. kRunServerEnded, without a
// server, when a stop came first. The permission check of `check` runs
// once the server has run kPermissionCheckDelayMs.
int ExecuteServerProcess(wchar_t* commandLine, const HealthSettings& health, ServerOutputFile* output,
                         PermissionInputs check)
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
        g_outcome = RunOutcome();
    }
    // Whoever answers on these ports would pose as the server: its readiness,
    // and for the stop port the stop key of every later stop.
    if (PortAnswers(kLoopbackIpv4, OV_STOP_PORT_NUMBER)) {
        ReportPortTaken(L"Jetty's stop port " OV_STOP_PORT, kLoopbackIpv4, OV_STOP_PORT_NUMBER);
        return kRunStopPortInUse;
    }
    if (health.enabled && IsLocalAddress(health.address.ip) && PortAnswers(health.address.ip, health.address.port)) {
        ReportPortTaken(FormatWide(L"The server's web port %u", static_cast<unsigned>(health.address.port)).c_str(),
                        health.address.ip, health.address.port);
        return kRunWebPortInUse;
    }
    // Suspended until it is in the job, so no Java code runs outside it. A
    // service's server gets no hidden console: its output goes to the file.
    ChildProcess server;
    ChildOptions options;
    options.creationFlags = output != nullptr ? DETACHED_PROCESS : 0;
    options.output = output;
    // A service's current folder is System32: Java's crash files and heap
    // dumps belong with the install instead. The foreground keeps the caller's.
    options.currentDir = g_serviceRun ? g_installDir : nullptr;
    // In the foreground, output redirected from the launcher is the server's too.
    if (output == nullptr)
        RedirectedStandardHandles(options);
    options.waitProgress = &ReportRunProgress;
    if (!server.start(g_javaExecutable, commandLine, options)) {
        LogCreateFailure(server.lastError());
        return kRunCreateFailed;
    }
    if (server.jobError() != ERROR_SUCCESS) {
        const DWORD error = server.jobError();
        ovlog_write_tag(kLogWarning, kStartupTag, L"Cannot put the server process in the launcher's job "
                        L"(Error 0x%08x: %s); it would outlive a killed launcher", error, ErrorText(error).get());
    }
    const HANDLE process = server.process();
    ovlog_debug_tag(kStartupTag, 5, L"Server process started");
    ReportServiceEvent(MSG_SERVICE_STARTED,
                       {L"" OV_VERSION_TEXT, g_javaExecutable, DecimalText(server.processId()).c_str()});

    const ULONGLONG startedAt = GetTickCount64();
    // While Java starts, so that it costs the start nothing: whether the
    // TCP table can name the stop port's owner at all. Where it names none
    // (Wine), the look once the port answers could never find a stranger and
    // would only hold back RUNNING.
    const bool ownersNamed = ListenerOwnersAreNamed();
    const RunWaits waits{process, stopEvent, startedAt, &ReportRunProgress};
    // The permission check lets the server's start go first (permissions.h),
    // but does not wait for a server that is slow to come up.
    bool checkStarted = false;
    constexpr DWORD kReadyWaitMs = RunLimits::kServerReadyWaitMs;
    ServerWait wait = WaitStartingTheCheck(
        [&](DWORD untilMs) { return WaitForServerReady(waits, untilMs); }, kReadyWaitMs, check, checkStarted);
    const bool stopPortAnswered = wait == ServerWait::kReady;
    if (stopPortAnswered && ownersNamed && !StopPortIsOurs(server.processId())) {
        // The key must not go to a stranger: no stop command.
        TerminateProcess(process, ERROR_ADDRESS_ALREADY_ASSOCIATED);
        server.finish();
        return kRunStopPortInUse;
    }
    int status = 0;
    WatchState watch;
    if (wait == ServerWait::kReady && health.enabled) {
        wait = WaitStartingTheCheck(
            [&](DWORD untilMs) { return WaitForWebReady(waits, health.address, health.timeoutMs, untilMs, status); },
            kReadyWaitMs, check, checkStarted);
        watch.answered = wait == ServerWait::kReady;
    }
    const unsigned readyMs = static_cast<unsigned>(GetTickCount64() - startedAt);
    if (wait == ServerWait::kReady) {
        if (!health.enabled)
            ovlog_write_tag(kLogInformation, kStartupTag, L"Server is ready: its stop port answered after %u ms",
                            readyMs);
        else if (health.address.https)
            ovlog_write_tag(kLogInformation, kStartupTag, L"Server is ready: %s accepted a connection after %u ms",
                            health.address.text.c_str(), readyMs);
        else
            ovlog_write_tag(kLogInformation, kStartupTag, L"Server is ready: %s answered HTTP %d after %u ms",
                            health.address.text.c_str(), status, readyMs);
        if (g_readyReporter != nullptr)
            g_readyReporter();
        ReportServiceEvent(MSG_SERVER_READY, {DecimalText(readyMs).c_str()});
    } else if (wait == ServerWait::kTimedOut) {
        if (stopPortAnswered)
            ovlog_write_tag(kLogWarning, kStartupTag, L"%s did not answer within %u s; reporting the service running",
                            health.address.text.c_str(), static_cast<unsigned>(kReadyWaitMs / 1000));
        else
            ovlog_write_tag(kLogWarning, kStartupTag,
                            L"Jetty's stop port " OV_STOP_PORT
                            L" did not answer within %u s; reporting the service running",
                            static_cast<unsigned>(kReadyWaitMs / 1000));
        if (g_readyReporter != nullptr)
            g_readyReporter();
    }
    if (wait == ServerWait::kReady || wait == ServerWait::kTimedOut)
        wait = WaitStartingTheCheck(
            [&](DWORD untilMs) { return WatchServer(waits, health, g_serviceRun, watch, untilMs); }, INFINITE,
            check, checkStarted);
    const bool healthStop = wait == ServerWait::kNotAnswering;
    if (healthStop && g_stoppingReporter != nullptr)
        g_stoppingReporter();
    if (wait == ServerWait::kStopRequested || healthStop)
        StopServer(process, healthStop ? StopCause::kRequest : StopCauseOfRequest(), g_javaExecutable, g_installDir,
                   &ReportRunProgress);
    WaitForSingleObject(process, INFINITE);

    DWORD exitCode = 0;
    GetExitCodeProcess(process, &exitCode);
    bool endedOnItsOwn = false;
    bool stopAsked = false;
    {
        ScopedLock lock(g_stopLock);
        stopAsked = g_stopRequested;
        endedOnItsOwn = !stopAsked && !healthStop;
        g_outcome.serverEndedOnItsOwn = endedOnItsOwn;
        g_outcome.serverExitCode = exitCode;
    }
    // Its last words, once the reader has them all, explain a death.
    server.waitForOutputEnd(ChildProcess::kReaderDrainMs);
    server.finish();
    if (endedOnItsOwn) {
        const std::wstring lastLines = output != nullptr ? output->lastLines() : std::wstring();
        ovlog_write_tag(kLogWarning, kShutdownTag, L"Server process ended on its own with exit code %u%s%s",
                        static_cast<unsigned>(exitCode), lastLines.empty() ? L"" : L"\n", lastLines.c_str());
        ScopedLock lock(g_stopLock);
        g_outcome.serverLastOutput = lastLines;
    }
    ovlog_debug_tag(kShutdownTag, 5, L"Server process terminated");
    // A stop asked for meanwhile makes it an ordinary stop.
    return healthStop && !stopAsked ? kRunHealthFailed : kRunServerEnded;
}

}  // namespace

int RunLauncher()
{
    Config config(/*ignoreCase=*/true);
    const ConfigFileRead configRead =
        LoadConfigFile(config, g_configFile, L"Launcher", /*sectionOnly=*/true, /*replace=*/true);

    wchar_t path[kPathChars];
    PathRefusal logPathRefusal = PathRefusal::kNone;
    ExpandSetting(config, L"/Launcher/LauncherLogFile", kLauncherLogDefault, path,
                  logPathRefusal);
    ovlog_open(path, 0);
    ovlog_set_debug_level(5);
    ovlog_write_tag(kLogInformation, kStartupTag, L"Orvane Web UI launcher " OV_VERSION_TEXT L" starting");
    if (configRead == ConfigFileRead::kUnreadable)
        ovlog_write_tag(kLogWarning, kStartupTag, L"The configuration file \"%s\" cannot be read; using the defaults",
                        g_configFile);
    if (configRead == ConfigFileRead::kNotAFile)
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
    if (g_serviceRun) {
        PathRefusal outputRefusal = PathRefusal::kNone;
        wchar_t outputPath[kPathChars];
        ExpandSetting(config, L"/Launcher/ServerOutputFile", kServerOutputFileDefault, outputPath, outputRefusal);
        WarnRefused(outputRefusal, L"ServerOutputFile");
        output.reset(new (std::nothrow) ServerOutputFile(outputPath));
    }
    const int status = ExecuteServerProcess(commandLine.getBuffer(), health, output.get(),
                                            LauncherPermissionInputs(config, g_javaExecutable));
    ReportRunProgress();
    FinishPermissionCheck();
    ovlog_close();
    SetEvent(RunEndedEvent());
    return status;
}
