#include "bench/bench_common.h"

#include <winsock2.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "tests/harness.h"

double NowMs()
{
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerMs;
}

void Sample(const char* key, double value)
{
    printf("SAMPLE %s %.3f\n", key, value);
    fflush(stdout);
}

namespace {
void Line(const char* kind, const char* format, va_list args)
{
    char text[2048];
    vsnprintf(text, sizeof(text), format, args);
    printf("%s %s\n", kind, text);
    fflush(stdout);
}
}  // namespace

void Note(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Line("NOTE", format, args);
    va_end(args);
}

void Fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Line("FAIL", format, args);
    va_end(args);
}

std::wstring BenchRoot()
{
    return L"T:\\bench-tmp";
}

Install BenchInstall(const wchar_t* name, const std::string& serverMode)
{
    return Install(name, true, BenchRoot(), serverMode, kJettyHomeFiles);
}

std::wstring PlaceFloorLaunch(const std::wstring& name)
{
    const std::wstring exe = BenchRoot() + L"\\" + name + L"\\floor_launch.exe";
    PlaceCopy(TestBinDir() + L"\\floor_launch.exe", exe);
    return exe;
}

std::wstring ServerCommandLine(const Install& install)
{
    // The launcher's defaults when no configuration file exists.
    const std::wstring jettyLog = install.dir / L"logs\\jetty.log";
    const std::wstring applicationLog = install.dir / L"logs\\ovmc.log";
    const std::wstring java = install.java();
    StringBuffer line;
    ComposeServerCommandLine(line, ServerCommandParts{java.c_str(), install.root().c_str(), jettyLog.c_str(),
                                                      applicationLog.c_str(), nullptr});
    return line.getText();
}

std::wstring StopCommandLine(const Install& install)
{
    StringBuffer line;
    ComposeStopCommandLine(line, install.java().c_str(), install.root().c_str());
    return line.getText();
}

std::wstring FloorCommandLine(const std::wstring& floorExe, const Install& install)
{
    return Quote(floorExe) + L" " + ServerCommandLine(install);
}

bool WaitExit(HANDLE process, DWORD timeoutMs, DWORD* exitCode)
{
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode != nullptr && !GetExitCodeProcess(process, exitCode))
        *exitCode = 0xFFFFFFFF;
    return true;
}

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool IsNumber(const std::wstring& name)
{
    return !name.empty() && name.find_first_not_of(L"0123456789") == std::wstring::npos;
}

// The entries of a /proc folder named by a number (processes, threads).
std::vector<std::wstring> NumberedEntries(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (IsNumber(entry.path().filename().wstring()))
            names.push_back(entry.path().filename().wstring());
    return names;
}

// The Linux pid of the Wine process started from `exePath`: Wine puts the
// Windows path of the program in argv[0]. 0 when none or more than one
// matches (then the path does not identify the process).
int FindUnixPid(const std::wstring& exePath)
{
    const std::string wanted = Lower(Narrow(exePath));
    int found = 0, matches = 0;
    for (const std::wstring& pid : NumberedEntries(L"Z:\\proc")) {
        const std::string cmdline = ReadTextFile(L"Z:\\proc\\" + pid + L"\\cmdline");
        if (Lower(cmdline.substr(0, cmdline.find('\0'))) == wanted) {
            found = _wtoi(pid.c_str());
            ++matches;
        }
    }
    return matches == 1 ? found : 0;
}

// Sum of the run time (first field of schedstat, ns) of every thread.
double LinuxRunTimeMs(int unixPid)
{
    const std::wstring tasks = L"Z:\\proc\\" + std::to_wstring(unixPid) + L"\\task";
    double totalNs = 0;
    int threads = 0;
    for (const std::wstring& tid : NumberedEntries(tasks)) {
        const std::string stat = ReadTextFile(tasks + L"\\" + tid + L"\\schedstat");
        if (stat.empty())
            continue;
        totalNs += strtod(stat.c_str(), nullptr);
        ++threads;
    }
    return threads > 0 ? totalNs / 1e6 : -1;
}

// utime + stime of the whole process, threads that have ended included.
double LinuxProcessTimeMs(int unixPid)
{
    const std::string stat = ReadTextFile(L"Z:\\proc\\" + std::to_wstring(unixPid) + L"\\stat");
    const size_t commEnd = stat.rfind(')');
    if (commEnd == std::string::npos)
        return -1;
    // Fields 14 and 15; the state (field 3) follows the command's ")".
    const char* field = stat.c_str() + commEnd + 1;
    for (int skip = 0; skip < 11 && field != nullptr; ++skip)
        field = strchr(field + 1, ' ');
    if (field == nullptr)
        return -1;
    char* next = nullptr;
    const double ticks = strtod(field, &next) + strtod(next, nullptr);
    return ticks * 10.0;  // USER_HZ is 100 on Linux x86
}

double FileTimeMs(const FILETIME& time)
{
    return static_cast<double>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e4;
}

}  // namespace

CpuMeter::CpuMeter(HANDLE process, DWORD processId, const std::wstring& exePath)
    : process_(process), processId_(processId), exePath_(exePath)
{
}

CpuTime CpuMeter::read()
{
    CpuTime result;
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(process_, &created, &exited, &kernel, &user))
        result.processMs = FileTimeMs(kernel) + FileTimeMs(user);

    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 entry{};
        entry.dwSize = sizeof(entry);
        double sum = 0;
        for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
            if (entry.th32OwnerProcessID != processId_)
                continue;
            UniqueKernelHandle thread(OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID));
            if (thread && GetThreadTimes(thread.get(), &created, &exited, &kernel, &user))
                sum += FileTimeMs(kernel) + FileTimeMs(user);
        }
        CloseHandle(snapshot);
        result.threadsMs = sum;
    }

    if (unixPid_ == 0)
        unixPid_ = FindUnixPid(exePath_);
    if (unixPid_ != 0) {
        result.linuxMs = LinuxRunTimeMs(unixPid_);
        result.groupMs = LinuxProcessTimeMs(unixPid_);
    }
    return result;
}

size_t PeakWorkingSet(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(process, &counters, sizeof(counters)))
        return 0;
    return counters.PeakWorkingSetSize;
}
