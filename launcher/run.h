// The run: it finds Java, starts the server, waits for it to come up and to
// end, and on a request stops it gracefully (Jetty's stop command first).
#pragma once

#include <windows.h>

#include <string>

#include "launcher/server_output.h"
#include "support/executor.h"

// Exit status of a launcher run.
// A service stops with the same numbers as its service-specific exit code.
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
// The foreground's exit code for a run's status: a port held by another
// process is a server that could not be created.
int ForegroundExitCode(int runStatus);
struct HealthSettings;
// Creates the server process from `commandLine` and returns once it has
// ended, with the run's status. With `output`, the server's output goes
// there instead of to the launcher's console. kRunServerEnded, without a
// server, when a stop came first.
int ExecuteServerProcess(wchar_t* commandLine, const HealthSettings& health, ServerOutputFile* output = nullptr);

// The stop of the server, shared by the service host (stop, shutdown and
// pre-shutdown controls) and the foreground (Ctrl+C, Ctrl+Break, closing
// the console). A request only signals the run: the run's own thread does
// the graceful stop, so the caller returns at once. A request is final for
// the process: once made, no server is created any more.
enum class StopCause {
    kRequest,       // run Jetty's stop command at once
    kConsoleEvent,  // the server shares the console and got the same event:
                    // it is stopping itself, so first give it time to end
};
void RequestServerStop(StopCause cause = StopCause::kRequest);
// True when the last server process ended with no stop requested: a crash,
// an exit of its own, a kill from outside.
bool ServerEndedOnItsOwn();
// The last server process's exit code, and the last lines it wrote when it
// ended on its own in a service run (empty otherwise).
DWORD ServerExitCode();
std::wstring ServerLastOutput();

// Makes the runs of this process the service's: the server's output goes to
// the server output file, and the run tells the service host how far it
// has come. `progress` is called while the run waits for the server to
// come up and during the graceful stop, at least every
// kStopProgressIntervalMs; `ready` once, when the server is up (or the
// wait for it gave up with the server alive); `stopping` when the run
// stops a server that no longer answers its health check.
using RunReporter = void (*)();
void SetServiceRun(RunReporter progress, RunReporter ready, RunReporter stopping);
bool IsServiceRun();
// Waits until the current run has ended, at most `timeoutMs`; true if it has.
bool WaitForRunEnd(DWORD timeoutMs);

// How the wait for the server's stop port ended.
enum class ServerWait { kReady, kTimedOut, kEnded, kStopRequested };
// How long a server may take to open its stop port before it is reported
// up all the same.
constexpr DWORD kServerReadyWaitMs = 120000;
// Waits until something accepts a connection on 127.0.0.1 at the stop port,
// `server` ends or `stopEvent` is set, at most until the server, created at
// `startedAt` (GetTickCount64), has run `untilMs`; reports the run's
// progress every second.
ServerWait WaitForServerReady(HANDLE server, HANDLE stopEvent, ULONGLONG startedAt, DWORD untilMs);

struct HealthAddress;
// Then waits, in the same way, until `address` answers: an HTTP status
// below 500 (each probe may take `answerMs`), or for https a connection.
ServerWait WaitForWebReady(const HealthAddress& address, DWORD answerMs, HANDLE server, HANDLE stopEvent,
                           ULONGLONG startedAt, DWORD untilMs, int& status);

// Jetty's stop command waits up to 20 s itself (stop.wait=20); ours is longer.
constexpr DWORD kStopCommandWaitMs = 30000;
// After the stop command, the JVM may still be running its shutdown hooks
// and flushing its logs: this long before it is terminated.
constexpr DWORD kServerExitGraceMs = 5000;
constexpr DWORD kStopProgressIntervalMs = 2000;
// The longest the graceful stop can take, start to end: the stop command's
// wait and the executor's drains after it, the grace, the termination.
constexpr DWORD kStopWorstCaseMs = kStopCommandWaitMs + 3 * ChildProcess::kReaderDrainMs + kServerExitGraceMs + 2000;

// Asks Jetty to stop through its stop port, waits for the stop command at
// most kStopCommandWaitMs, gives the server kServerExitGraceMs to end, then
// terminates it. After a console event the server first gets
// kServerExitGraceMs to end by itself, and the stop command runs only if it
// has not. Runs on the thread that waits for the server.
void StopServer(HANDLE server, StopCause cause);
// Report through the reporters of SetServiceRun, if there are any.
void ReportRunProgress();
void ReportServerReady();
void ReportRunStopping();

// Writes each line of the stop command's output to the log.
class LoggingProcessExecutor : public ProcessExecutor {
public:
    explicit LoggingProcessExecutor(const wchar_t* commandLine);
    // Ends the callbacks before this object's part is gone.
    ~LoggingProcessExecutor() override;
    void outputReceived(const char* line) override;
};
