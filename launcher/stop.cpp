#include "launcher/stop.h"

#include <cstring>
#include <string>

#include "launcher/command_line.h"
#include "support/console.h"
#include "support/error_text.h"
#include "support/eventlog.h"
#include "support/executor.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/text.h"

namespace {

constexpr wchar_t kShutdownTag[] = L"shutdown";

// Waits up to `totalMs` in slices of kStopProgressIntervalMs, reporting
// progress before each, so a long wait still shows the service manager a
// live stop. `wait(ms)` returns true once what it waits for has happened.
template <typename Wait>
bool WaitReportingProgress(DWORD totalMs, void (*progress)(), Wait wait)
{
    const ULONGLONG deadline = GetTickCount64() + totalMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        const DWORD slice = left < kStopProgressIntervalMs ? left : kStopProgressIntervalMs;
        if (progress != nullptr)
            progress();
        if (wait(slice))
            return true;
        if (slice == left)
            return false;
    }
}

}  // namespace

LoggingProcessExecutor::LoggingProcessExecutor(const wchar_t* commandLine, void (*progress)())
    : ProcessExecutor(commandLine, /*newProcessGroup=*/false, /*showWindow=*/false)
{
    reportWaitsTo(progress);
}

LoggingProcessExecutor::~LoggingProcessExecutor()
{
    finish();
}

void LoggingProcessExecutor::outputReceived(const char* line)
{
    ovlog_debug_tag(L"jetty", 5, L"%s", OutputLineText(line, strlen(line)).c_str());
}

void StopServer(HANDLE server, StopCause cause, const wchar_t* java, const wchar_t* installDir, void (*progress)())
{
    const auto serverEnded = [server](DWORD ms) { return WaitForSingleObject(server, ms) == WAIT_OBJECT_0; };
    // Jetty stops itself on the console's event (stopAtShutdown); its stop
    // command would then only find the port closed and say so at length.
    if (cause == StopCause::kConsoleEvent && WaitReportingProgress(kServerExitGraceMs, progress, serverEnded))
        return;
    StringBuffer commandLine;
    ComposeStopCommandLine(commandLine, java, installDir);
    {
        LoggingProcessExecutor stopCommand(commandLine.getText(), progress);
        const bool executed = stopCommand.execute();
        if (executed && stopCommand.jobError() != ERROR_SUCCESS) {
            const DWORD error = stopCommand.jobError();
            ovlog_write_tag(kLogWarning, kShutdownTag, L"Cannot put the stop command in the launcher's job "
                            L"(Error 0x%08x: %s); it would outlive a killed launcher", error, ErrorText(error).get());
        }
        if (!executed) {
            const DWORD error = stopCommand.lastError();
            ovlog_write_tag(kLogWarning, kShutdownTag, L"Cannot run the stop command (Error 0x%08x: %s)", error,
                            ErrorText(error).get());
        } else if (!WaitReportingProgress(kStopCommandWaitMs, progress,
                                          [&stopCommand](DWORD ms) { return stopCommand.waitForCompletion(ms); })) {
            ovlog_write_tag(kLogWarning, kShutdownTag, L"The stop command did not end within %u s; giving up on it",
                            static_cast<unsigned>(kStopCommandWaitMs / 1000));
            ReportServiceEvent(MSG_STOP_COMMAND_GAVE_UP, {DecimalText(kStopCommandWaitMs / 1000).c_str()});
        }
        // Leaving the scope ends a stop command still running and delivers
        // the rest of its output to the log.
    }
    if (!WaitReportingProgress(kServerExitGraceMs, progress, serverEnded)) {
        ovlog_write_tag(kLogWarning, kShutdownTag,
                        L"Server process did not end within %u s after the stop command; terminating it",
                        static_cast<unsigned>(kServerExitGraceMs / 1000));
        ReportServiceEvent(MSG_SERVER_TERMINATED, {DecimalText(kServerExitGraceMs / 1000).c_str()});
        TerminateProcess(server, 0);
    }
}
