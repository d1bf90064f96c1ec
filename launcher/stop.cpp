#include <string>

#include "launcher/command_line.h"
#include "launcher/context.h"
#include "launcher/java.h"
#include "launcher/run.h"
#include "support/error_text.h"
#include "support/eventlog.h"
#include "support/executor.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/text.h"

namespace {

constexpr wchar_t kShutdownTag[] = L"shutdown";

// Set by the service host before its run starts, then only read.
bool g_serviceRun = false;
RunReporter g_progressReporter = nullptr;
RunReporter g_readyReporter = nullptr;
RunReporter g_stoppingReporter = nullptr;

// Waits up to `totalMs` in slices of kStopProgressIntervalMs, reporting
// progress before each, so a long wait still shows the service manager a
// live stop. `wait(ms)` returns true once what it waits for has happened.
template <typename Wait>
bool WaitReportingProgress(DWORD totalMs, Wait wait)
{
    const ULONGLONG deadline = GetTickCount64() + totalMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        const DWORD slice = left < kStopProgressIntervalMs ? left : kStopProgressIntervalMs;
        ReportRunProgress();
        if (wait(slice))
            return true;
        if (slice == left)
            return false;
    }
}

}  // namespace

void SetServiceRun(RunReporter progress, RunReporter ready, RunReporter stopping)
{
    g_serviceRun = true;
    g_progressReporter = progress;
    g_readyReporter = ready;
    g_stoppingReporter = stopping;
}

bool IsServiceRun()
{
    return g_serviceRun;
}

void ReportRunProgress()
{
    if (g_progressReporter != nullptr)
        g_progressReporter();
}

void ReportServerReady()
{
    if (g_readyReporter != nullptr)
        g_readyReporter();
}

void ReportRunStopping()
{
    if (g_stoppingReporter != nullptr)
        g_stoppingReporter();
}

LoggingProcessExecutor::LoggingProcessExecutor(const wchar_t* commandLine)
    : ProcessExecutor(commandLine, /*newProcessGroup=*/false, /*showWindow=*/false)
{
    describeAs(L"stop command", kShutdownTag);
}

LoggingProcessExecutor::~LoggingProcessExecutor()
{
    finish();
}

void LoggingProcessExecutor::outputReceived(const char* line)
{
    ovlog_debug_tag(L"jetty", 5, L"%s", NarrowAsWide(line).c_str());
}

void StopServer(HANDLE server, StopCause cause)
{
    const auto serverEnded = [server](DWORD ms) { return WaitForSingleObject(server, ms) == WAIT_OBJECT_0; };
    // Jetty stops itself on the console's event (stopAtShutdown); its stop
    // command would then only find the port closed and say so at length.
    if (cause == StopCause::kConsoleEvent && WaitReportingProgress(kServerExitGraceMs, serverEnded))
        return;
    StringBuffer commandLine;
    ComposeStopCommandLine(commandLine, g_javaExecutable, g_installDir);
    {
        LoggingProcessExecutor stopCommand(commandLine.getText());
        if (!stopCommand.execute()) {
            const DWORD error = stopCommand.lastError();
            ovlog_write_tag(kLogWarning, kShutdownTag, L"Cannot run the stop command (Error 0x%08x: %s)", error,
                            ErrorText(error).get());
        } else if (!WaitReportingProgress(kStopCommandWaitMs,
                                          [&stopCommand](DWORD ms) { return stopCommand.waitForCompletion(ms); })) {
            ovlog_write_tag(kLogWarning, kShutdownTag, L"The stop command did not end within %u s; giving up on it",
                            static_cast<unsigned>(kStopCommandWaitMs / 1000));
            ReportServiceEvent(MSG_STOP_COMMAND_GAVE_UP, {DecimalText(kStopCommandWaitMs / 1000).c_str()});
        }
        // Leaving the scope ends a stop command still running and delivers
        // the rest of its output to the log.
    }
    if (!WaitReportingProgress(kServerExitGraceMs, serverEnded)) {
        ovlog_write_tag(kLogWarning, kShutdownTag,
                        L"Server process did not end within %u s after the stop command; terminating it",
                        static_cast<unsigned>(kServerExitGraceMs / 1000));
        ReportServiceEvent(MSG_SERVER_TERMINATED, {DecimalText(kServerExitGraceMs / 1000).c_str()});
        TerminateProcess(server, 0);
    }
}
