// The graceful stop of the server, private to the run: Jetty's stop
// command first, then a grace for the JVM's own shutdown, then the end.
#pragma once

#include <windows.h>

#include "launcher/permissions.h"
#include "launcher/run.h"
#include "support/child_process.h"
#include "support/executor.h"

// Jetty's stop command waits up to 20 s itself (stop.wait=20); ours is longer.
constexpr DWORD kStopCommandWaitMs = 30000;
// After the stop command, the JVM may still be running its shutdown hooks
// and flushing its logs: this long before it is terminated.
constexpr DWORD kServerExitGraceMs = 5000;
constexpr DWORD kStopProgressIntervalMs = 2000;
static_assert(ChildProcess::kProgressIntervalMs <= kStopProgressIntervalMs, "the drains report progress too");
// The longest the graceful stop on a request can take (the service's; only
// the foreground's console event adds a grace first), step by step: the
// stop command's wait, its end (ChildProcess::finish: its termination and
// its reader's drain), the grace, the server's termination, its reader's
// drain (waitForOutputEnd, then finish), the permission check's end.
constexpr DWORD kStopWorstCaseMs = kStopCommandWaitMs + ChildProcess::kFinishWorstCaseMs + kServerExitGraceMs +
                                   ChildProcess::kEndWaitMs + ChildProcess::kReaderDrainMs +
                                   ChildProcess::kFinishWorstCaseMs + kPermissionCheckStopWaitMs;
static_assert(kStopWorstCaseMs <= RunLimits::kStopBudgetMs, "the graceful stop must fit its budget");

// Asks Jetty to stop through its stop port (`java` runs the stop command of
// the install in `installDir`), waits for the stop command at most
// kStopCommandWaitMs, gives the server kServerExitGraceMs to end, then
// terminates it. After a console event the server first gets
// kServerExitGraceMs to end by itself, and the stop command runs only if it
// has not. `progress`, when not null, is called at least every
// kStopProgressIntervalMs. Runs on the thread that waits for the server.
void StopServer(HANDLE server, StopCause cause, const wchar_t* java, const wchar_t* installDir, void (*progress)());

// Writes each line of the stop command's output to the log; its waits
// report to `progress` when it is not null.
class LoggingProcessExecutor : public ProcessExecutor {
public:
    explicit LoggingProcessExecutor(const wchar_t* commandLine, void (*progress)() = nullptr);
    // Ends the callbacks before this object's part is gone.
    ~LoggingProcessExecutor() override;
    void outputReceived(const char* line) override;
};
