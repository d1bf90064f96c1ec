// The launcher core: the installation context, Java runtime discovery, the
// run that starts and waits for the server, and its graceful stop.
#pragma once

#include <windows.h>

#include <cstddef>

#include "launcher/command_line.h"
#include "launcher/permissions.h"
#include "support/support.h"

constexpr size_t kPathChars = MAX_PATH;

// Filled by the entry point before any second thread exists, then read only.
extern wchar_t g_installDir[kPathChars];
extern wchar_t g_configFile[kPathChars];
// Written by FindJavaRuntime alone, on the thread that runs the launcher.
extern wchar_t g_javaExecutable[kPathChars];

constexpr wchar_t kRegistryKey[] = L"Software\\Orvane\\WebUI";
constexpr wchar_t kHomeVariable[] = L"OVWEBUI_HOME";

// Exit status of a launcher run.
enum RunStatus : int {
    kRunServerEnded = 0,
    kRunNoJava = 1,
    kRunCreateFailed = 2,
};
constexpr int kExitInvalidOption = 3;

// Fills g_installDir and g_configFile and publishes OVWEBUI_HOME.
void InitInstallContext();

bool FindJavaRuntime();

int RunLauncher();
// Creates the server process from `commandLine` (modifiable) and returns
// once it has ended. False when it could not be created; true, without a
// server, when a stop came first.
bool ExecuteServerProcess(wchar_t* commandLine);

// The stop of the server, shared by the service host (stop, shutdown and
// pre-shutdown controls) and the foreground (Ctrl+C, Ctrl+Break, closing
// the console). A request only signals the run: the run's own thread does
// the graceful stop, so the caller returns at once. A request is final for
// the process: once made, no server is created any more.
void RequestServerStop();
// True when the last server process ended with no stop requested: a crash,
// an exit of its own, a kill from outside.
bool ServerEndedOnItsOwn();
// Called during the graceful stop, at least every kStopProgressIntervalMs,
// so the service host can show the service manager that the stop goes on.
using StopProgressReporter = void (*)();
void SetStopProgressReporter(StopProgressReporter reporter);

// Foreground console events: Ctrl+C, Ctrl+Break and closing the console
// run the graceful stop instead of ending the launcher on the spot.
BOOL WINAPI ConsoleCtrlHandler(DWORD event);

// Jetty's stop command waits up to 20 s itself (stop.wait=20); ours is longer.
constexpr DWORD kStopCommandWaitMs = 30000;
// After the stop command, the JVM may still be running its shutdown hooks
// and flushing its logs: this long before it is terminated.
constexpr DWORD kServerExitGraceMs = 5000;
constexpr DWORD kStopProgressIntervalMs = 2000;
// The longest the graceful stop can take, start to end: the stop command's
// wait and the executor's drains after it, the grace, the termination.
constexpr DWORD kStopWorstCaseMs = kStopCommandWaitMs + 3 * ProcessExecutor::kReaderDrainMs + kServerExitGraceMs + 2000;

// The job that holds the server and the stop command. It ends them when the
// launcher's process ends, however it ends; it is never closed before.
HANDLE ServerJob();

// Asks Jetty to stop through its stop port, waits for the stop command at
// most kStopCommandWaitMs, gives the server kServerExitGraceMs to end, then
// terminates it. Runs on the thread that waits for the server.
void StopServer(HANDLE server);

// Writes each chunk of the stop command's output to the log.
class LoggingProcessExecutor : public ProcessExecutor {
public:
    explicit LoggingProcessExecutor(const wchar_t* commandLine);
    // Ends the callbacks before this object's part is gone.
    ~LoggingProcessExecutor() override;
    void outputReceived(const char* chunk) override;
};
