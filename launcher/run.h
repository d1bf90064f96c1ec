// The run: it finds Java, starts the server, waits for it to come up and to
// end, and on a request stops it gracefully (Jetty's stop command first).
// This is what the entry point and the service host use of it.
#pragma once

#include <windows.h>

#include <string>

// Exit status of a launcher run. A service stops with the same numbers as
// its service-specific exit code, and 3 for a server that ended on its own.
enum RunStatus : int {
    kRunServerEnded = 0,
    kRunNoJava = 1,
    kRunCreateFailed = 2,
    // A service's server stopped answering its health check and was stopped.
    kRunHealthFailed = 4,
    // Another process holds Jetty's stop port, or the web UI's port.
    kRunStopPortInUse = 5,
    kRunWebPortInUse = 6,
};

int RunLauncher();

// A stop, from the service host (stop, shutdown and pre-shutdown controls)
// or the foreground (Ctrl+C, Ctrl+Break, closing the console). A request
// only signals the run: the run's own thread does the graceful stop, so the
// caller returns at once. A request is final for the process: once made,
// no server is created any more.
enum class StopCause {
    kRequest,       // run Jetty's stop command at once
    kConsoleEvent,  // the server shares the console and got the same event:
                    // it is stopping itself, so first give it time to end
};
void RequestServerStop(StopCause cause = StopCause::kRequest);
// Waits until the current run has ended, at most `timeoutMs`; true if it has.
bool WaitForRunEnd(DWORD timeoutMs);

// Makes the runs of this process the service's: the server's output goes to
// the server output file, and the run tells the service host how far it
// has come. `progress` is called while the run waits for the server to
// come up and during the graceful stop, at least every 2 s; `ready` once,
// when the server is up (or the wait for it gave up with the server
// alive); `stopping` when the run stops a server that no longer answers
// its health check.
void SetServiceRun(void (*progress)(), void (*ready)(), void (*stopping)());

// How the last run's server ended.
struct RunOutcome {
    // With no stop requested: a crash, an exit of its own, a kill from outside.
    bool serverEndedOnItsOwn = false;
    DWORD serverExitCode = 0;
    // Its last lines, when it ended on its own in a service run.
    std::wstring serverLastOutput;
};
RunOutcome LastRunOutcome();

// How long a server may take to come up before it is reported up all the
// same, and the longest the graceful stop can take: the service's waits
// and its pre-shutdown time are set from them.
struct RunLimits {
    static constexpr DWORD kServerReadyWaitMs = 120000;
    // A second under the 45 s pre-shutdown time, for the service's own reports.
    static constexpr DWORD kStopBudgetMs = 44000;
};
