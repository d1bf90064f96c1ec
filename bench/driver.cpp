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
//   bench_driver service-start <runs>
//       start to RUNNING of the service, against a do-nothing service's
//       plus the stand-in's own time to listen (ms)
//   bench_driver capture <runs> <bytes>
//       the stand-in writes <bytes> of output, as the service's server and
//       under relay.exe: how long its writes took (ms)
//   bench_driver service-cleanup
//       stops (with one request) and deletes a leftover ovWebUI service and
//       the bench's do-nothing service
//
// Everything that serves uses the stop port: the caller holds the ports lock.
#include "bench/bench_common.h"

#include <winsock2.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "launcher/permissions.h"
#include "tests/harness.h"

namespace {

constexpr DWORD kUpTimeoutMs = 30000;
constexpr DWORD kDownTimeoutMs = 30000;
// After the server listens the launcher has only its last start-up line
// left to write; the idle window starts once that is surely done.
constexpr DWORD kSettleMs = 500;
// Each run's permission check begins kPermissionCheckDelayMs after the
// server's creation and walks the install once; this much more for that walk.
constexpr DWORD kCheckWalkAllowanceMs = 2000;
constexpr DWORD kStatusPollMs = 2;
// The do-nothing service of the service start figure.
constexpr wchar_t kFloorServiceName[] = L"ovBenchFloor";
// Tens of MiB through a slow console take a while.
constexpr DWORD kSpewTimeoutMs = 600000;
// The launcher keeps its server's output in logs\server-output.log,
// rotated at this size: at least this much of a larger spew must be there.
constexpr long long kServerOutputRotationBytes = 10LL << 20;

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
    ChildProcess process;
    CHECK_OR(StartChild(process, commandLine, 0, exe), return -1, "%s: cannot start (error %lu)", what,
             process.lastError());
    DWORD code = 0;
    const bool ended = WaitExit(process.process(), 60000, &code);
    const double elapsed = NowMs() - start;
    CHECK_OR(ended && code == 0, return -1, "%s: did not end cleanly (ended %d, exit code %lu)", what, ended, code);
    return elapsed;
}

int StartOverhead(int runs)
{
    const Install install = BenchInstall(L"start", "exit 0");
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
bool SuperviseOnce(const Install& install, const std::wstring& exe, const std::wstring& commandLine,
                   DWORD windowMs, const char* what, int run, double& cpuMs, PeakReading& peak)
{
    ChildProcess child;
    CHECK_OR(StartChild(child, commandLine, 0, exe), return false, "%s: cannot start (error %lu)", what,
             child.lastError());
    const HANDLE process = child.process();
    CHECK_OR(WaitForPortState(kStopPort, true, kUpTimeoutMs), return false, "%s: the stand-in never listened on %d",
             what, kStopPort);
    Sleep(kSettleMs);
    CpuMeter meter(process, child.processId(), exe);
    const CpuTime before = WaitOutPermissionCheck(meter, exe == install.exe() ? "check.fg" : "check.floor");
    Sleep(windowMs);
    const CpuTime after = meter.read();
    cpuMs = CpuDelta(before, after, what, run);

    ChildProcess stop;
    CHECK_OR(StartChild(stop, StopCommandLine(install), CREATE_NO_WINDOW), return false,
             "%s: cannot start the stop command", what);
    const bool ended = SampleUntilEnd(process, kDownTimeoutMs, peak);
    WaitExit(stop.process(), kDownTimeoutMs);
    CHECK_OR(ended, return false, "%s: did not end after the stop request", what);
    CHECK_OR(WaitForPortState(kStopPort, false, kDownTimeoutMs), return false, "%s: port %d still busy", what, kStopPort);
    return true;
}

int Foreground(int runs, DWORD windowMs)
{
    const Install install = BenchInstall(L"fg", "serve");
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

// Starts the service and waits until its stand-in serves, then kSettleMs.
// Returns the service process (for times and memory), or null.
UniqueKernelHandle StartServed(SC_HANDLE service, DWORD& processId, const char* what)
{
    CHECK_OR(StartServiceW(service, 0, nullptr), return {}, "%s: StartService failed (error %lu)", what,
             GetLastError());
    CHECK_OR(WaitForServiceState(service, SERVICE_RUNNING, kUpTimeoutMs), return {}, "%s: never RUNNING", what);
    ServiceState(service, &processId);
    constexpr DWORD kAccess =
        PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE;
    UniqueKernelHandle process(OpenProcess(kAccess, FALSE, processId));
    CHECK_OR(process, return {}, "%s: cannot open the service process %lu (error %lu)", what, processId,
             GetLastError());
    CHECK_OR(WaitForPortState(kStopPort, true, kUpTimeoutMs), return {}, "%s: the stand-in never listened", what);
    Sleep(kSettleMs);
    return process;
}

// After the service has stopped: its process has ended and the port is free.
bool WaitServiceGone(HANDLE process, const char* what)
{
    CHECK_OR(WaitExit(process, kDownTimeoutMs), return false, "%s: the service process did not end", what);
    CHECK_OR(WaitForPortState(kStopPort, false, kDownTimeoutMs), return false, "%s: port %d still busy", what, kStopPort);
    return true;
}

// One stop request for a running service; returns once its process has
// ended and the port is free.
bool StopService(SC_HANDLE service, const char* what)
{
    DWORD processId = 0;
    CHECK_OR(ServiceState(service, &processId) != 0, return false, "%s: cannot query the service (error %lu)", what,
             GetLastError());
    const UniqueKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    CHECK_OR(process, return false, "%s: cannot open the service process %lu (error %lu)", what, processId,
             GetLastError());
    SERVICE_STATUS status{};
    CHECK_OR(ControlService(service, SERVICE_CONTROL_STOP, &status), return false,
             "%s: ControlService failed (error %lu)", what, GetLastError());
    CHECK_OR(WaitForServiceState(service, SERVICE_STOPPED, kDownTimeoutMs), return false, "%s: never STOPPED", what);
    return WaitServiceGone(process.get(), what);
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
    const UniqueServiceHandle service = OpenOurService(SERVICE_QUERY_STATUS);
    SetEvent(watch->ready);
    if (!service || !WaitForServiceState(service.get(), SERVICE_STOPPED, 60000, kStatusPollMs))
        return 1;
    watch->stoppedAt = NowMs();
    return 0;
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
double StopCommandAlone(const Install& install)
{
    ChildProcess server;
    CHECK_OR(StartChild(server, ServerCommandLine(install), 0, install.java()), return -1,
             "stop floor: cannot start the stand-in");
    CHECK_OR(WaitForPortState(kStopPort, true, kUpTimeoutMs), return -1, "stop floor: the stand-in never listened");
    Sleep(kSettleMs);
    const double start = NowMs();
    // Run as the launcher runs it: the product's executor, output through its pipe.
    ProcessExecutor stop(StopCommandLine(install).c_str(), false, false);
    CHECK_OR(stop.execute(), return -1, "stop floor: cannot start the stop command");
    const bool ended = stop.waitForCompletion(kDownTimeoutMs);
    const double elapsed = NowMs() - start;
    const bool serverEnded = WaitExit(server.process(), kDownTimeoutMs);
    CHECK_OR(ended && serverEnded, return -1, "stop floor: the stop command or the stand-in did not end");
    CHECK_OR(WaitForPortState(kStopPort, false, kDownTimeoutMs), return -1, "stop floor: port still busy");
    return elapsed;
}

// Stops a leftover service with at most one request (a second one would
// kill a stopping ovWebUI) and deletes it.
int CleanupService(const wchar_t* name = kServiceName)
{
    const std::string narrowName = Narrow(name);
    const char* what = narrowName.c_str();
    const UniqueServiceHandle service = OpenOurService(SERVICE_ALL_ACCESS, name);
    if (!service) {
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST)
            return 0;
        Fail("cleanup: cannot open %s (error %lu)", what, GetLastError());
        return 1;
    }
    if (ServiceState(service.get()) == SERVICE_START_PENDING)
        WaitForServiceState(service.get(), SERVICE_RUNNING, kUpTimeoutMs);
    if (ServiceState(service.get()) == SERVICE_RUNNING) {
        Note("cleanup: stopping a running %s", what);
        SERVICE_STATUS status{};
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    }
    if (!WaitForServiceState(service.get(), SERVICE_STOPPED, 60000))
        Fail("cleanup: %s did not stop", what);
    if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        Fail("cleanup: cannot delete %s (error %lu)", what, GetLastError());
        return 1;
    }
    Note("cleanup: %s deleted", what);
    return 0;
}

// The launcher's own install and remove commands, as a user runs them.
bool InstallWebUI(const Install& install)
{
    CleanupService();
    const RunResult installed = RunCommand(Quote(install.exe()) + L" install", 60000);
    CHECK_OR(installed.output.find("created successfully") != std::string::npos, return false,
             "install: unexpected output: %s", installed.output.c_str());
    return true;
}

void RemoveWebUI(const Install& install)
{
    const RunResult removed = RunCommand(Quote(install.exe()) + L" remove", 60000);
    if (removed.output.find("deleted successfully") == std::string::npos) {
        Fail("remove: unexpected output: %s", removed.output.c_str());
        ++g_failures;
        CleanupService();
    }
}

int Service(int stopRuns, int idleRuns, DWORD windowMs)
{
    const Install install = BenchInstall(L"svc", "serve");
    if (!InstallWebUI(install))
        return 1;
    UniqueServiceHandle scm = OpenOurService(SERVICE_ALL_ACCESS);
    CHECK_OR(scm, return 1, "cannot open the installed service (error %lu)", GetLastError());
    SC_HANDLE service = scm.get();

    bool notedControl = false;
    for (int run = 1; run <= stopRuns; ++run) {
        DWORD processId = 0;
        const UniqueKernelHandle process = StartServed(service, processId, "service stop");
        if (!process)
            break;
        double controlReturnedMs = 0;
        const double latency = StopLatency(service, controlReturnedMs);
        CHECK_OR(latency >= 0, break, "service stop: SERVICE_STOPPED never seen");
        Sample("stop.service", latency);
        if (!notedControl) {
            Note("ControlService returned after %.1f ms, SERVICE_STOPPED seen after %.1f ms (run 1)",
                 controlReturnedMs, latency);
            notedControl = true;
        }
        if (!WaitServiceGone(process.get(), "service stop"))
            break;
        const double floorMs = StopCommandAlone(install);
        if (floorMs >= 0)
            Sample("stop.floor", floorMs);
    }

    for (int run = 1; run <= idleRuns && g_failures == 0; ++run) {
        DWORD processId = 0;
        const UniqueKernelHandle process = StartServed(service, processId, "service idle");
        if (!process)
            break;
        CpuMeter meter(process.get(), processId, install.exe());
        const CpuTime before = WaitOutPermissionCheck(meter, "check.service");
        Sleep(windowMs);
        const CpuTime after = meter.read();
        Sample("idle.service", CpuDelta(before, after, "service", run));
        if (!StopService(service, "service idle"))
            break;
    }

    scm.reset();
    RemoveWebUI(install);
    return g_failures == 0 ? 0 : 1;
}

// ---------------------------------------------------------------- service start

// ms from StartServiceW to the first SERVICE_RUNNING seen; < 0 on failure.
double TimedServiceStart(SC_HANDLE service, const char* what)
{
    const double start = NowMs();
    CHECK_OR(StartServiceW(service, 0, nullptr), return -1, "%s: StartService failed (error %lu)", what,
             GetLastError());
    CHECK_OR(WaitForServiceState(service, SERVICE_RUNNING, kUpTimeoutMs, kStatusPollMs), return -1, "%s: never RUNNING",
             what);
    return NowMs() - start;
}

// The stand-in's own time to listen: started directly with the launcher's
// program and command line, ms from CreateProcessW until its stop port
// accepts. It ends by TerminateProcess: only its start is of interest.
double ListenTime(const Install& install)
{
    const double start = NowMs();
    ChildProcess server;
    CHECK_OR(StartChild(server, ServerCommandLine(install), 0, install.java()), return -1,
             "listen floor: cannot start the stand-in (error %lu)", server.lastError());
    // Every 10 ms, WaitForPortState's default, is too coarse for a 10 ms goal.
    const bool listening = WaitForPortState(kStopPort, true, kUpTimeoutMs, kStatusPollMs);
    const double elapsed = NowMs() - start;
    TerminateProcess(server.process(), 0);
    CHECK_OR(listening, return -1, "listen floor: the stand-in never listened");
    CHECK_OR(WaitExit(server.process(), kDownTimeoutMs) && WaitForPortState(kStopPort, false, kDownTimeoutMs),
             return -1,
             "listen floor: the stand-in did not end or port %d is still busy", kStopPort);
    return elapsed;
}

// The do-nothing service, created afresh; null when it cannot be.
UniqueServiceHandle InstallFloorService()
{
    CleanupService(kFloorServiceName);
    const std::wstring binaryPath = Quote(TestBinDir() + L"\\floor_service.exe");
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    // Demand start: one left behind does not start with the prefix.
    UniqueServiceHandle created(CreateServiceW(manager.get(), kFloorServiceName, L"ovWebUI bench floor",
                                               SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                               SERVICE_ERROR_IGNORE, binaryPath.c_str(), nullptr, nullptr, nullptr,
                                               nullptr, nullptr));
    CHECK_OR(created, (void)0, "cannot create the floor service (error %lu)", GetLastError());
    return created;
}

int ServiceStart(int runs)
{
    const Install install = BenchInstall(L"svc-start", "serve");
    if (!InstallWebUI(install))
        return 1;
    UniqueServiceHandle webui = OpenOurService(SERVICE_ALL_ACCESS);
    CHECK_OR(webui, return 1, "cannot open the installed service (error %lu)", GetLastError());
    UniqueServiceHandle floor = InstallFloorService();

    // Run 0 loads each program from disk once; not counted.
    for (int run = 0; run <= runs && g_failures == 0; ++run) {
        double launcherMs = -1, serviceMs = -1, listenMs = -1;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == (run % 2 == 0)) {
                launcherMs = TimedServiceStart(webui.get(), "ovWebUI start");
                if (launcherMs < 0 || !StopService(webui.get(), "ovWebUI start"))
                    break;
            } else {
                serviceMs = TimedServiceStart(floor.get(), "floor service start");
                if (serviceMs < 0 || !StopService(floor.get(), "floor service start"))
                    break;
                listenMs = ListenTime(install);
            }
        }
        if (run == 0 || launcherMs < 0 || serviceMs < 0 || listenMs < 0)
            continue;
        Note("service start run %d: ovWebUI %.1f ms; floor %.1f ms = do-nothing service %.1f + stand-in listening %.1f",
             run, launcherMs, serviceMs + listenMs, serviceMs, listenMs);
        Sample("svcstart.launcher", launcherMs);
        Sample("svcstart.floor", serviceMs + listenMs);
        Sample("svcstart.floor-service", serviceMs);
        Sample("svcstart.listen", listenMs);
    }

    if (floor && !DeleteService(floor.get())) {
        Fail("cannot delete the floor service (error %lu)", GetLastError());
        ++g_failures;
    }
    floor.reset();
    webui.reset();
    RemoveWebUI(install);
    return g_failures == 0 ? 0 : 1;
}

// ---------------------------------------------------------------- output capture

// The stand-in's figure from spew-ms.txt beside it, once written whole;
// < 0 when it never was.
double SpewMs(const Install& install, const char* what)
{
    const std::wstring path = install.dir / L"jre\\bin\\spew-ms.txt";
    std::string text;
    const bool written = WaitUntil(
        [&] {
            text = ReadTextFile(path);
            return !text.empty() && text.back() == '\n';
        },
        kSpewTimeoutMs, 20);
    CHECK_OR(written, return -1, "%s: no spew-ms.txt from the stand-in", what);
    return atof(text.c_str());
}

// The bytes in logs\server-output.log and its rotations; with `remove`,
// the files go too.
long long ServerOutputBytes(const Install& install, bool remove)
{
    long long total = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(install.dir / L"logs", error)) {
        if (entry.path().filename().wstring().rfind(L"server-output", 0) != 0)
            continue;
        const std::uintmax_t size = entry.file_size(error);
        if (!error)
            total += static_cast<long long>(size);
        if (remove)
            std::filesystem::remove(entry.path(), error);
    }
    return total;
}

// The spew through the launcher as the service, its server's output going
// wherever the launcher sends it; `keptBytes` is what reached its log.
double CaptureByService(SC_HANDLE service, const Install& install, long long& keptBytes)
{
    DeleteFileW((install.dir / L"jre\\bin\\spew-ms.txt").c_str());
    ServerOutputBytes(install, /*remove=*/true);
    CHECK_OR(StartServiceW(service, 0, nullptr), return -1, "capture: StartService failed (error %lu)",
             GetLastError());
    // RUNNING comes once the stand-in listens, after its writes.
    CHECK_OR(WaitForServiceState(service, SERVICE_RUNNING, kSpewTimeoutMs), return -1, "capture: never RUNNING");
    const double ms = SpewMs(install, "capture");
    if (!StopService(service, "capture"))
        return -1;
    keptBytes = ServerOutputBytes(install, /*remove=*/false);
    return ms;
}

// The same spew under relay.exe, which keeps it in a file.
double CaptureByRelay(const Install& install, long long bytes)
{
    DeleteFileW((install.dir / L"jre\\bin\\spew-ms.txt").c_str());
    const std::wstring relay = TestBinDir() + L"\\relay.exe";
    const std::wstring output = install.dir / L"relay-output.txt";
    ChildProcess process;
    CHECK_OR(StartChild(process, Quote(relay) + L" " + Quote(output) + L" " + ServerCommandLine(install), 0, relay),
             return -1, "relay: cannot start (error %lu)", process.lastError());
    DWORD code = 0;
    const bool ended = WaitExit(process.process(), kSpewTimeoutMs, &code);
    process.finish();
    CHECK_OR(ended && code == 0, return -1, "relay: did not end cleanly (ended %d, exit code %lu)", ended, code);
    std::error_code error;
    const long long keptBytes = static_cast<long long>(std::filesystem::file_size(output, error));
    DeleteFileW(output.c_str());
    CHECK_OR(!error && keptBytes >= bytes, return -1, "relay: kept %lld bytes of %lld", keptBytes, bytes);
    CHECK_OR(WaitForPortState(kStopPort, false, kDownTimeoutMs), return -1, "relay: port %d still busy", kStopPort);
    return SpewMs(install, "relay");
}

int Capture(int runs, long long bytes)
{
    const std::string mode = "spew " + std::to_string(bytes);
    const Install serviceInstall = BenchInstall(L"cap-svc", mode);
    const Install relayInstall = BenchInstall(L"cap-relay", mode);
    if (!InstallWebUI(serviceInstall))
        return 1;
    UniqueServiceHandle scm = OpenOurService(SERVICE_ALL_ACCESS);
    CHECK_OR(scm, return 1, "cannot open the installed service (error %lu)", GetLastError());
    // The stand-in stops at its first failed write and still records the
    // time: only a run whose output reached the log times a capture.
    const long long mustKeepBytes = bytes < kServerOutputRotationBytes ? bytes : kServerOutputRotationBytes;
    int unkeptRuns = 0;
    for (int run = 1; run <= runs && g_failures == 0; ++run) {
        double serviceMs = -1, relayMs = -1;
        long long keptBytes = 0;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == (run % 2 == 1))
                serviceMs = CaptureByService(scm.get(), serviceInstall, keptBytes);
            else
                relayMs = CaptureByRelay(relayInstall, bytes);
        }
        if (serviceMs < 0 || relayMs < 0)
            continue;
        Note("capture run %d: %lld bytes written in %.1f ms as the service's server (%lld bytes in its "
             "server-output logs), %.1f ms under the relay",
             run, bytes, serviceMs, keptBytes, relayMs);
        Sample("capture.launcher", serviceMs);
        Sample("capture.relay", relayMs);
        unkeptRuns += keptBytes < mustKeepBytes ? 1 : 0;
    }
    Sample("capture.unkept-runs", unkeptRuns);
    if (unkeptRuns > 0)
        Note("8: in %d of %d runs the launcher's logs\\server-output.log* held less than the %lld bytes a capture keeps; "
             "the stand-in's writes went nowhere or failed (it stops at the first failure), so its time there is no "
             "capture figure",
             unkeptRuns, runs, mustKeepBytes);
    scm.reset();
    RemoveWebUI(serviceInstall);
    return g_failures == 0 ? 0 : 1;
}

int Usage()
{
    fprintf(stderr,
            "usage: bench_driver start <runs>\n"
            "       bench_driver foreground <runs> <windowMs>\n"
            "       bench_driver service <stopRuns> <idleRuns> <windowMs>\n"
            "       bench_driver service-start <runs>\n"
            "       bench_driver capture <runs> <bytes>\n"
            "       bench_driver service-cleanup\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return Usage();
    const std::wstring command = argv[1];
    // The install trusts Wine's owner of every file, as the tests do.
    ResetProductKey();
    auto number = [&](int index) { return index < argc ? _wtoi(argv[index]) : -1; };
    if (command == L"start" && argc == 3 && number(2) > 0)
        return StartOverhead(number(2));
    if (command == L"foreground" && argc == 4 && number(2) > 0 && number(3) > 0)
        return Foreground(number(2), static_cast<DWORD>(number(3)));
    if (command == L"service" && argc == 5 && number(2) > 0 && number(3) > 0 && number(4) > 0)
        return Service(number(2), number(3), static_cast<DWORD>(number(4)));
    if (command == L"service-start" && argc == 3 && number(2) > 0)
        return ServiceStart(number(2));
    if (command == L"capture" && argc == 4 && number(2) > 0 && _wtoi64(argv[3]) > 0)
        return Capture(number(2), _wtoi64(argv[3]));
    if (command == L"service-cleanup" && argc == 2)
        return CleanupService() | CleanupService(kFloorServiceName);
    return Usage();
}
