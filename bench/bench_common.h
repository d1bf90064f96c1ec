// Helpers shared by the benchmark drivers: a clock, the bench's own install
// folders, and CPU time and memory of another process as Wine can report
// them. Installs and child processes come from the tests' harness.
#pragma once

#include <windows.h>

#include <string>

#include "tests/harness.h"

// Milliseconds from an arbitrary origin, at the performance counter's resolution.
double NowMs();

// Results go to standard output as "SAMPLE <key> <value>" for the script;
// "NOTE <text>" explains how a value was obtained, "FAIL <text>" means a
// measurement could not be made.
void Sample(const char* key, double value);
void Note(const char* format, ...);
void Fail(const char* format, ...);

// T:\bench-tmp, on the bench prefix's own drive (scripts/wine-prefix.sh),
// so that what lies above the checkout is no finding of install's check;
// the bench never shares the tests' scratch folder.
std::wstring BenchRoot();

// The bench's installs, below BenchRoot(): the stand-in as jre\bin\java.exe
// in `serverMode`, and a jetty-home of kJettyHomeFiles files.
constexpr int kJettyHomeFiles = 2000;
Install BenchInstall(const wchar_t* name, const std::string& serverMode);
// A copy of the minimal program in its own folder, so its path is unique
// to the bench (it is how the process is found in /proc).
std::wstring PlaceFloorLaunch(const std::wstring& name);

// The command lines the launcher itself composes for this install.
std::wstring ServerCommandLine(const Install& install);
std::wstring StopCommandLine(const Install& install);
// The minimal program's command line: it starts argv[1] with the rest of
// its own command line, i.e. exactly the launcher's server command line.
std::wstring FloorCommandLine(const std::wstring& floorExe, const Install& install);

// Waits for a process and gives its exit code; false on time-out.
bool WaitExit(HANDLE process, DWORD timeoutMs, DWORD* exitCode = nullptr);

// CPU time of another process in milliseconds. Wine 8 answers
// GetProcessTimes for another process with fixed values, so the time is
// taken from Linux: the run time in ns of every thread of the Wine process
// whose argv[0] is `exePath` (/proc/<pid>/task/*/schedstat). The sum of
// GetThreadTimes over the process's threads (10 ms ticks under Wine) is
// kept as a cross-check.
struct CpuTime {
    double linuxMs = -1;    // < 0: the process was not found in /proc
    double groupMs = -1;    // utime + stime of /proc/<pid>/stat, 10 ms ticks, ended threads included
    double threadsMs = -1;  // sum of GetThreadTimes
    double processMs = -1;  // GetProcessTimes, as reported
};
class CpuMeter {
public:
    CpuMeter(HANDLE process, DWORD processId, const std::wstring& exePath);
    CpuTime read();

private:
    HANDLE process_;
    DWORD processId_;
    std::wstring exePath_;
    int unixPid_ = 0;
};

// PeakWorkingSetSize of a process in bytes, 0 when unavailable (Wine
// reports 0 once the process has ended).
size_t PeakWorkingSet(HANDLE process);
