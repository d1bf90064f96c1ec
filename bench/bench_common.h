// Helpers shared by the benchmark drivers: a clock, the bench's own install
// folders, child processes, and CPU time and memory of another process as
// Wine can report them.
#pragma once

#include <windows.h>

#include <string>

// Milliseconds from an arbitrary origin, at the performance counter's resolution.
double NowMs();

// Results go to standard output as "SAMPLE <key> <value>" for the script;
// "NOTE <text>" explains how a value was obtained, "FAIL <text>" means a
// measurement could not be made.
void Sample(const char* key, double value);
void Note(const char* format, ...);
void Fail(const char* format, ...);

// <build>\bench-tmp: the bench never shares the tests' scratch folder.
std::wstring BenchRoot();

// An install folder below BenchRoot(): a copy of the launcher, the
// stand-in as jre\bin\java.exe with the given server mode, and a jetty-home
// of kJettyHomeFiles files.
constexpr int kJettyHomeFiles = 2000;
struct BenchInstall {
    std::wstring root;
    std::wstring exe() const { return root + L"\\ovwebui.exe"; }
    std::wstring java() const { return root + L"\\jre\\bin\\java.exe"; }
};
BenchInstall MakeBenchInstall(const std::wstring& name, const std::string& serverMode);
// A copy of the minimal program in its own folder, so its path is unique
// to the bench (it is how the process is found in /proc).
std::wstring PlaceFloorLaunch(const std::wstring& name);

// The command lines the launcher itself composes for this install.
std::wstring ServerCommandLine(const BenchInstall& install);
std::wstring StopCommandLine(const BenchInstall& install);
// The minimal program's command line: it starts argv[1] with the rest of
// its own command line, i.e. exactly the launcher's server command line.
std::wstring FloorCommandLine(const std::wstring& floorExe, const BenchInstall& install);

// CreateProcessW with the given application (may be null) and no inherited
// handles; returns the process handle (thread handle closed) or null.
HANDLE StartProcess(const std::wstring& application, const std::wstring& commandLine, DWORD flags,
                    DWORD* processId = nullptr);
// The same with standard input, output and error on NUL, the cheapest
// place for a child's output (without handles, Wine gives a child created
// with CREATE_NO_WINDOW a console of its own, which costs tens of ms).
HANDLE StartProcessToNul(const std::wstring& commandLine, DWORD flags);
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
