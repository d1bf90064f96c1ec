#include <string>

#include "launcher/launcher.h"
#include "support/eventlog.h"
#include "support/support.h"

namespace {

constexpr wchar_t kShutdownTag[] = L"shutdown";

StopProgressReporter g_stopProgress = nullptr;

void ReportStopProgress()
{
    if (g_stopProgress != nullptr)
        g_stopProgress();
}

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
        ReportStopProgress();
        if (wait(slice))
            return true;
        if (slice == left)
            return false;
    }
}

}  // namespace

void SetStopProgressReporter(StopProgressReporter reporter)
{
    g_stopProgress = reporter;
}

LoggingProcessExecutor::LoggingProcessExecutor(const wchar_t* commandLine)
    : ProcessExecutor(commandLine, /*newProcessGroup=*/false, /*showWindow=*/false)
{
}

LoggingProcessExecutor::~LoggingProcessExecutor()
{
    finish();
}

void LoggingProcessExecutor::outputReceived(const char* chunk)
{
    ovlog_debug_tag(L"jetty", 5, L"%s", NarrowAsWide(chunk).c_str());
}

void StopServer(HANDLE server)
{
    StringBuffer commandLine;
    ComposeStopCommandLine(commandLine, g_javaExecutable, g_installDir);
    {
        LoggingProcessExecutor stopCommand(commandLine.getText());
        stopCommand.setJob(ServerJob());
        if (!stopCommand.execute()) {
            const DWORD error = stopCommand.lastError();
            ovlog_write_tag(kLogWarning, kShutdownTag, L"Cannot run the stop command (Error 0x%08x: %s)", error,
                            ErrorText(error).get());
        } else if (!WaitReportingProgress(kStopCommandWaitMs,
                                          [&stopCommand](DWORD ms) { return stopCommand.waitForCompletion(ms); })) {
            ovlog_write_tag(kLogWarning, kShutdownTag, L"The stop command did not end within %u s; giving up on it",
                            static_cast<unsigned>(kStopCommandWaitMs / 1000));
            ReportServiceEvent(MSG_STOP_COMMAND_GAVE_UP, {std::to_wstring(kStopCommandWaitMs / 1000).c_str()});
        }
        // Leaving the scope ends a stop command still running and delivers
        // the rest of its output to the log.
    }
    if (!WaitReportingProgress(kServerExitGraceMs,
                               [server](DWORD ms) { return WaitForSingleObject(server, ms) == WAIT_OBJECT_0; })) {
        ovlog_write_tag(kLogWarning, kShutdownTag,
                        L"Server process did not end within %u s after the stop command; terminating it",
                        static_cast<unsigned>(kServerExitGraceMs / 1000));
        ReportServiceEvent(MSG_SERVER_TERMINATED, {std::to_wstring(kServerExitGraceMs / 1000).c_str()});
        TerminateProcess(server, 0);
    }
}
