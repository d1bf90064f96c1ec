// Measures the launcher against its floors under Wine and prints
// "SAMPLE <key> <value>" lines for scripts/bench.sh.
//
//   bench_driver start <runs>
//       foreground runs whose stand-in ends at once, against floor_launch
//       (wall time from CreateProcessW to the end of the process, ms)
//   bench_driver foreground <runs> <windowMs>
//       the launcher and floor_launch supervising a serving stand-in: CPU
//       time over the window (ms) and peak working set (KiB)
//   bench_driver service <stopRuns> <idleRuns> <windowMs>
//       installs the service, measures stop latency against the stop
//       command alone, then idle CPU as the service, and removes it
//   bench_driver service-cleanup
//       stops (with one request) and deletes a leftover ovWebUI service
//
// Everything that serves uses port 17003: the caller holds the ports lock.
#include "bench/bench_common.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "launcher/permissions.h"
#include "service/service.h"
#include "tests/harness.h"

namespace {

constexpr int kStopPort = 17003;
constexpr DWORD kUpTimeoutMs = 30000;
constexpr DWORD kDownTimeoutMs = 30000;
// After the server listens the launcher has only its last start-up line
// left to write; the idle window starts once that is surely done.
constexpr DWORD kSettleMs = 500;
// Each run's permission check begins kPermissionCheckDelayMs after the
// server's creation and walks the install once; this much more for that walk.
constexpr DWORD kCheckWalkAllowanceMs = 2000;
constexpr DWORD kStatusPollMs = 2;

int g_failures = 0;

#define CHECK_OR(condition, action, ...) \
    do {                                 \
        if (!(condition)) {              \
            Fail(__VA_ARGS__);           \
            ++g_failures;                \
            action;                      \
        }                                \
    } while (0)

// ---------------------------------------------------------------- start

// One foreground run to its end; the wall time in ms, < 0 on failure.
double TimedRun(const std::wstring& exe, const std::wstring& commandLine, const char* what)
{
    const double start = NowMs();
    HANDLE process = StartProcess(exe, commandLine, 0);
    if (process == nullptr) {
        Fail("%s: cannot start (error %lu)", what, GetLastError());
        ++g_failures;
        return -1;
    }
    DWORD code = 0;
    const bool ended = WaitExit(process, 60000, &code);
    const double elapsed = NowMs() - start;
    if (!ended)
        TerminateProcess(process, 1);
    CloseHandle(process);
    CHECK_OR(ended && code == 0, return -1, "%s: did not end cleanly (ended %d, exit code %lu)", what, ended, code);
    return elapsed;
}

int StartOverhead(int runs)
{
    const BenchInstall install = MakeBenchInstall(L"start", "exit 0");
    const std::wstring floorExe = PlaceFloorLaunch(L"start-floor");
    const std::wstring launcherLine = Quote(install.exe());
    const std::wstring floorLine = FloorCommandLine(floorExe, install);
    // The first start of a program pays for loading it from disk; not counted.
    TimedRun(install.exe(), launcherLine, "launcher (warm-up)");
    TimedRun(floorExe, floorLine, "floor (warm-up)");
    for (int run = 0; run < runs; ++run) {
        // Alternate the order so that neither always runs second.
        const bool launcherFirst = run % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool launcher = (turn == 0) == launcherFirst;
            const double ms = launcher ? TimedRun(install.exe(), launcherLine, "launcher")
                                       : TimedRun(floorExe, floorLine, "floor");
            if (ms >= 0)
                Sample(launcher ? "start.launcher" : "start.floor", ms);
        }
    }
    const Invocation invocation = ReadInvocation(install.java(), "server");
    CHECK_OR(invocation.present, (void)0, "the launcher never started the stand-in");
    return g_failures == 0 ? 0 : 1;
}

// ---------------------------------------------------------------- idle and memory

// Waits out the run's one-time permission check, which is start-up work,
// not idle work, and samples its CPU (ended threads included) under
// `checkKey`; returns the reading that opens the idle window.
CpuTime WaitOutPermissionCheck(CpuMeter& meter, const char* checkKey)
{
    const CpuTime settled = meter.read();
    Sleep(kPermissionCheckDelayMs + kCheckWalkAllowanceMs);
    const CpuTime before = meter.read();
    if (settled.groupMs >= 0 && before.groupMs >= 0)
        Sample(checkKey, before.groupMs - settled.groupMs);
    return before;
}

double CpuDelta(const CpuTime& before, const CpuTime& after, const char* what, int run)
{
    Note("%s run %d: CPU over the window: Linux run time %.3f ms, sum of GetThreadTimes %.1f ms, "
         "GetProcessTimes %.1f ms (since its start: %.3f, %.1f, %.1f ms)",
         what, run, after.linuxMs - before.linuxMs, after.threadsMs - before.threadsMs,
         after.processMs - before.processMs, after.linuxMs, after.threadsMs, after.processMs);
    if (before.linuxMs >= 0 && after.linuxMs >= 0)
        return after.linuxMs - before.linuxMs;
    Note("%s run %d: process not found in /proc; using GetThreadTimes", what, run);
    return after.threadsMs - before.threadsMs;
}

// Samples the peak working set until the process ends; the largest value
// seen, and the one read after the end (what Windows gives, 0 under Wine).
struct PeakReading {
    size_t whileAlive = 0;
    size_t afterEnd = 0;
    size_t best() const { return afterEnd != 0 ? afterEnd : whileAlive; }
};
bool SampleUntilEnd(HANDLE process, DWORD timeoutMs, PeakReading& peak)
{
    const double deadline = NowMs() + timeoutMs;
    for (;;) {
        const size_t now = PeakWorkingSet(process);
        if (now > peak.whileAlive)
            peak.whileAlive = now;
        if (WaitForSingleObject(process, kStatusPollMs) == WAIT_OBJECT_0)
            break;
        if (NowMs() > deadline)
            return false;
    }
    peak.afterEnd = PeakWorkingSet(process);
    return true;
}

// The launcher or floor_launch supervising a serving stand-in.
bool SuperviseOnce(const BenchInstall& install, const std::wstring& exe, const std::wstring& commandLine,
                   DWORD windowMs, const char* what, int run, double& cpuMs, PeakReading& peak)
{
    DWORD processId = 0;
    HANDLE process = StartProcess(exe, commandLine, 0, &processId);
    CHECK_OR(process != nullptr, return false, "%s: cannot start (error %lu)", what, GetLastError());
    UniqueKernelHandle owner(process);
    if (!WaitForPortState(kStopPort, true, kUpTimeoutMs)) {
        Fail("%s: the stand-in never listened on %d", what, kStopPort);
        ++g_failures;
        TerminateProcess(process, 1);
        return false;
    }
    Sleep(kSettleMs);
    CpuMeter meter(process, processId, exe);
    const CpuTime before = WaitOutPermissionCheck(meter, exe == install.exe() ? "check.fg" : "check.floor");
    Sleep(windowMs);
    const CpuTime after = meter.read();
    cpuMs = CpuDelta(before, after, what, run);

    HANDLE stop = StartProcess(L"", StopCommandLine(install), CREATE_NO_WINDOW);
    CHECK_OR(stop != nullptr, TerminateProcess(process, 1); return false, "%s: cannot start the stop command", what);
    UniqueKernelHandle stopOwner(stop);
    const bool ended = SampleUntilEnd(process, kDownTimeoutMs, peak);
    WaitExit(stop, kDownTimeoutMs);
    if (!ended)
        TerminateProcess(process, 1);
    CHECK_OR(ended, return false, "%s: did not end after the stop request", what);
    CHECK_OR(WaitForPortState(kStopPort, false, kDownTimeoutMs), return false, "%s: port %d still busy", what, kStopPort);
    return true;
}

int Foreground(int runs, DWORD windowMs)
{
    const BenchInstall install = MakeBenchInstall(L"fg", "serve");
    const std::wstring floorExe = PlaceFloorLaunch(L"fg-floor");
    bool notedPeak = false;
    for (int run = 1; run <= runs; ++run) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool launcher = (turn == 0) == (run % 2 == 1);
            double cpuMs = 0;
            PeakReading peak;
            const bool ok = launcher ? SuperviseOnce(install, install.exe(), Quote(install.exe()), windowMs,
                                                     "launcher", run, cpuMs, peak)
                                     : SuperviseOnce(install, floorExe, FloorCommandLine(floorExe, install),
                                                     windowMs, "floor", run, cpuMs, peak);
            if (!ok)
                continue;
            Sample(launcher ? "idle.fg" : "idle.floor", cpuMs);
            Sample(launcher ? "mem.launcher" : "mem.floor", static_cast<double>(peak.best()) / 1024.0);
            if (!notedPeak && peak.afterEnd == 0) {
                Note("PeakWorkingSetSize reads 0 once the process has ended (Wine), so the peak is the last "
                     "value read while it ran, sampled every %lu ms until its end",
                     kStatusPollMs);
                notedPeak = true;
            }
        }
    }
    return g_failures == 0 ? 0 : 1;
}

// ---------------------------------------------------------------- service

struct Scm {
    UniqueServiceHandle manager;
    UniqueServiceHandle service;
    bool open()
    {
        manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        if (manager)
            service.reset(OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
        return static_cast<bool>(service);
    }
};

bool QueryState(SC_HANDLE service, DWORD& state, DWORD* processId = nullptr)
{
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed))
        return false;
    state = status.dwCurrentState;
    if (processId != nullptr)
        *processId = status.dwProcessId;
    return true;
}

bool WaitState(SC_HANDLE service, DWORD wanted, DWORD timeoutMs)
{
    const double deadline = NowMs() + timeoutMs;
    for (;;) {
        DWORD state = 0;
        if (QueryState(service, state) && state == wanted)
            return true;
        if (NowMs() > deadline)
            return false;
        Sleep(10);
    }
}

// Starts the service and waits until its stand-in serves. Returns the
// service process (for times and memory), or null.
HANDLE StartServed(SC_HANDLE service, DWORD& processId, const char* what)
{
    CHECK_OR(StartServiceW(service, 0, nullptr), return nullptr, "%s: StartService failed (error %lu)", what,
             GetLastError());
    CHECK_OR(WaitState(service, SERVICE_RUNNING, kUpTimeoutMs), return nullptr, "%s: never RUNNING", what);
    DWORD state = 0;
    QueryState(service, state, &processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ |
                                     SYNCHRONIZE,
                                 FALSE, processId);
    CHECK_OR(process != nullptr, return nullptr, "%s: cannot open the service process %lu (error %lu)", what,
             processId, GetLastError());
    CHECK_OR(WaitForPortState(kStopPort, true, kUpTimeoutMs), CloseHandle(process); return nullptr,
             "%s: the stand-in never listened", what);
    return process;
}

// After the service has stopped: its process has ended and the port is free.
bool WaitServiceGone(HANDLE process, const char* what)
{
    CHECK_OR(WaitExit(process, kDownTimeoutMs), return false, "%s: the service process did not end", what);
    CHECK_OR(WaitForPortState(kStopPort, false, kDownTimeoutMs), return false, "%s: port %d still busy", what, kStopPort);
    return true;
}

struct StopWatch {
    HANDLE ready = nullptr;
    double stoppedAt = -1;
};

// Watches the state on its own handles, so the poll goes on while
// ControlService waits for the service's handler.
DWORD WINAPI WatchForStopped(void* context)
{
    StopWatch* watch = static_cast<StopWatch*>(context);
    Scm scm;
    const bool opened = scm.open();
    SetEvent(watch->ready);
    if (!opened)
        return 1;
    const double deadline = NowMs() + 60000;
    while (NowMs() < deadline) {
        SERVICE_STATUS status{};
        if (QueryServiceStatus(scm.service.get(), &status) && status.dwCurrentState == SERVICE_STOPPED) {
            watch->stoppedAt = NowMs();
            return 0;
        }
        Sleep(kStatusPollMs);
    }
    return 1;
}

// One stop request; ms from just before ControlService to SERVICE_STOPPED.
double StopLatency(SC_HANDLE service, double& controlReturnedMs)
{
    StopWatch watch;
    UniqueKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    watch.ready = ready.get();
    UniqueKernelHandle thread(CreateThread(nullptr, 0, &WatchForStopped, &watch, 0, nullptr));
    if (!thread)
        return -1;
    WaitForSingleObject(ready.get(), INFINITE);
    const double start = NowMs();
    SERVICE_STATUS status{};
    const BOOL sent = ControlService(service, SERVICE_CONTROL_STOP, &status);
    const DWORD error = GetLastError();
    controlReturnedMs = NowMs() - start;
    WaitForSingleObject(thread.get(), INFINITE);
    if (!sent) {
        Fail("ControlService(SERVICE_CONTROL_STOP) failed (error %lu)", error);
        ++g_failures;
    }
    return watch.stoppedAt < 0 ? -1 : watch.stoppedAt - start;
}

// The floor: a serving stand-in started directly, stopped by the stop
// command alone; ms from starting the stop command to its end.
double StopCommandAlone(const BenchInstall& install)
{
    HANDLE server = StartProcess(install.java(), ServerCommandLine(install), 0);
    CHECK_OR(server != nullptr, return -1, "stop floor: cannot start the stand-in");
    UniqueKernelHandle serverOwner(server);
    if (!WaitForPortState(kStopPort, true, kUpTimeoutMs)) {
        Fail("stop floor: the stand-in never listened");
        ++g_failures;
        TerminateProcess(server, 1);
        return -1;
    }
    Sleep(kSettleMs);
    const double start = NowMs();
    // The flags the launcher's executor uses, output to the cheapest place.
    HANDLE stop = StartProcessToNul(StopCommandLine(install), CREATE_NO_WINDOW);
    CHECK_OR(stop != nullptr, TerminateProcess(server, 1); return -1, "stop floor: cannot start the stop command");
    const bool ended = WaitExit(stop, kDownTimeoutMs);
    const double elapsed = NowMs() - start;
    CloseHandle(stop);
    const bool serverEnded = WaitExit(server, kDownTimeoutMs);
    if (!serverEnded)
        TerminateProcess(server, 1);
    CHECK_OR(ended && serverEnded, return -1, "stop floor: the stop command or the stand-in did not end");
    CHECK_OR(WaitForPortState(kStopPort, false, kDownTimeoutMs), return -1, "stop floor: port still busy");
    return elapsed;
}

// Stops a leftover ovWebUI with at most one request (a second one would
// kill a stopping service) and deletes it.
int CleanupService()
{
    Scm scm;
    if (!scm.open()) {
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST)
            return 0;
        Fail("cleanup: cannot open the service (error %lu)", GetLastError());
        return 1;
    }
    DWORD state = 0;
    if (QueryState(scm.service.get(), state) && state == SERVICE_START_PENDING)
        WaitState(scm.service.get(), SERVICE_RUNNING, kUpTimeoutMs);
    if (QueryState(scm.service.get(), state) && state == SERVICE_RUNNING) {
        Note("cleanup: stopping a running ovWebUI");
        SERVICE_STATUS status{};
        ControlService(scm.service.get(), SERVICE_CONTROL_STOP, &status);
    }
    if (!WaitState(scm.service.get(), SERVICE_STOPPED, 60000))
        Fail("cleanup: ovWebUI did not stop");
    if (!DeleteService(scm.service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        Fail("cleanup: cannot delete ovWebUI (error %lu)", GetLastError());
        return 1;
    }
    Note("cleanup: ovWebUI deleted");
    return 0;
}

int Service(int stopRuns, int idleRuns, DWORD windowMs)
{
    CleanupService();
    const BenchInstall install = MakeBenchInstall(L"svc", "serve");
    const RunResult installed = RunCommand(Quote(install.exe()) + L" install", 60000);
    CHECK_OR(installed.output.find("created successfully") != std::string::npos, return 1,
             "install: unexpected output: %s", installed.output.c_str());
    Scm scm;
    CHECK_OR(scm.open(), return 1, "cannot open the installed service (error %lu)", GetLastError());
    SC_HANDLE service = scm.service.get();

    bool notedControl = false;
    for (int run = 1; run <= stopRuns; ++run) {
        DWORD processId = 0;
        HANDLE process = StartServed(service, processId, "service stop");
        if (process == nullptr)
            break;
        UniqueKernelHandle owner(process);
        Sleep(kSettleMs);
        double controlReturnedMs = 0;
        const double latency = StopLatency(service, controlReturnedMs);
        CHECK_OR(latency >= 0, break, "service stop: SERVICE_STOPPED never seen");
        Sample("stop.service", latency);
        if (!notedControl) {
            Note("ControlService returned after %.1f ms, SERVICE_STOPPED seen after %.1f ms (run 1)",
                 controlReturnedMs, latency);
            notedControl = true;
        }
        if (!WaitServiceGone(process, "service stop"))
            break;
        const double floorMs = StopCommandAlone(install);
        if (floorMs >= 0)
            Sample("stop.floor", floorMs);
    }

    for (int run = 1; run <= idleRuns && g_failures == 0; ++run) {
        DWORD processId = 0;
        HANDLE process = StartServed(service, processId, "service idle");
        if (process == nullptr)
            break;
        UniqueKernelHandle owner(process);
        Sleep(kSettleMs);
        CpuMeter meter(process, processId, install.exe());
        const CpuTime before = WaitOutPermissionCheck(meter, "check.service");
        Sleep(windowMs);
        const CpuTime after = meter.read();
        Sample("idle.service", CpuDelta(before, after, "service", run));
        SERVICE_STATUS status{};
        CHECK_OR(ControlService(service, SERVICE_CONTROL_STOP, &status), break,
                 "service idle: ControlService failed (error %lu)", GetLastError());
        CHECK_OR(WaitState(service, SERVICE_STOPPED, kDownTimeoutMs), break, "service idle: never STOPPED");
        if (!WaitServiceGone(process, "service idle"))
            break;
    }

    scm.service.reset();
    const RunResult removed = RunCommand(Quote(install.exe()) + L" remove", 60000);
    if (removed.output.find("deleted successfully") == std::string::npos) {
        Fail("remove: unexpected output: %s", removed.output.c_str());
        ++g_failures;
        CleanupService();
    }
    return g_failures == 0 ? 0 : 1;
}

int Usage()
{
    fprintf(stderr,
            "usage: bench_driver start <runs>\n"
            "       bench_driver foreground <runs> <windowMs>\n"
            "       bench_driver service <stopRuns> <idleRuns> <windowMs>\n"
            "       bench_driver service-cleanup\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return Usage();
    const std::wstring command = argv[1];
    auto number = [&](int index) { return index < argc ? _wtoi(argv[index]) : -1; };
    if (command == L"start" && argc == 3 && number(2) > 0)
        return StartOverhead(number(2));
    if (command == L"foreground" && argc == 4 && number(2) > 0 && number(3) > 0)
        return Foreground(number(2), static_cast<DWORD>(number(3)));
    if (command == L"service" && argc == 5 && number(2) > 0 && number(3) > 0 && number(4) > 0)
        return Service(number(2), number(3), static_cast<DWORD>(number(4)));
    if (command == L"service-cleanup" && argc == 2)
        return CleanupService();
    return Usage();
}
