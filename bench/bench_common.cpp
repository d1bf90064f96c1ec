#include "bench/bench_common.h"

#include <winsock2.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/command_line.h"
#include "support/handles.h"
#include "support/strings.h"
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
    return TestBinDir() + L"\\bench-tmp";
}

BenchInstall MakeBenchInstall(const std::wstring& name, const std::string& serverMode)
{
    BenchInstall install{BenchRoot() + L"\\" + name};
    RemoveTree(install.root);
    MakeFolders(install.root);
    CopyFileW(LauncherExe().c_str(), install.exe().c_str(), FALSE);
    PlaceFakeJava(install.java());
    SetServerMode(install.java(), serverMode);
    // A jetty-home of a real size, in folders of 100, for each run's
    // permission check to walk; trusted as the tests trust Wine's owner.
    for (int file = 0; file < kJettyHomeFiles; ++file)
        WriteTextFile(install.root + L"\\jetty-home\\lib\\part" + std::to_wstring(file / 100) + L"\\file" +
                          std::to_wstring(file) + L".jar",
                      "PK");
    ResetProductKey();
    return install;
}

std::wstring PlaceFloorLaunch(const std::wstring& name)
{
    const std::wstring folder = BenchRoot() + L"\\" + name;
    RemoveTree(folder);
    MakeFolders(folder);
    const std::wstring exe = folder + L"\\floor_launch.exe";
    CopyFileW((TestBinDir() + L"\\floor_launch.exe").c_str(), exe.c_str(), FALSE);
    return exe;
}

std::wstring ServerCommandLine(const BenchInstall& install)
{
    // The launcher's defaults when no configuration file exists.
    const std::wstring jettyLog = install.root + L"\\logs\\jetty.log";
    const std::wstring applicationLog = install.root + L"\\logs\\ovmc.log";
    const std::wstring java = install.java();
    StringBuffer line;
    ComposeServerCommandLine(line, ServerCommandParts{java.c_str(), install.root.c_str(), jettyLog.c_str(),
                                                      applicationLog.c_str(), nullptr});
    return line.getText();
}

std::wstring StopCommandLine(const BenchInstall& install)
{
    StringBuffer line;
    ComposeStopCommandLine(line, install.java().c_str(), install.root.c_str());
    return line.getText();
}

std::wstring FloorCommandLine(const std::wstring& floorExe, const BenchInstall& install)
{
    return Quote(floorExe) + L" " + ServerCommandLine(install);
}

HANDLE StartProcess(const std::wstring& application, const std::wstring& commandLine, DWORD flags,
                    DWORD* processId)
{
    std::wstring writable = commandLine;
    writable.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), &writable[0], nullptr, nullptr, FALSE,
                        flags, nullptr, nullptr, &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    if (processId != nullptr)
        *processId = info.dwProcessId;
    return info.hProcess;
}

HANDLE StartProcessToNul(const std::wstring& commandLine, DWORD flags)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    UniqueFileHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!nul)
        return nullptr;
    std::wstring writable = commandLine;
    writable.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.get();
    PROCESS_INFORMATION info{};
    // Our handles are not inheritable, so the child gets only NUL.
    if (!CreateProcessW(nullptr, &writable[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    return info.hProcess;
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

bool IsNumber(const wchar_t* name)
{
    if (*name == L'\0')
        return false;
    for (; *name != L'\0'; ++name)
        if (*name < L'0' || *name > L'9')
            return false;
    return true;
}

// The Linux pid of the Wine process started from `exePath`: Wine puts the
// Windows path of the program in argv[0]. 0 when none or more than one
// matches (then the path does not identify the process).
int FindUnixPid(const std::wstring& exePath)
{
    const std::string wanted = Lower(Narrow(exePath));
    int found = 0, matches = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(L"Z:\\proc\\*", &data);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (!IsNumber(data.cFileName))
            continue;
        const std::string cmdline = ReadTextFile(std::wstring(L"Z:\\proc\\") + data.cFileName + L"\\cmdline");
        const std::string argv0 = cmdline.substr(0, cmdline.find('\0'));
        if (Lower(argv0) == wanted) {
            found = _wtoi(data.cFileName);
            ++matches;
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return matches == 1 ? found : 0;
}

// Sum of the run time (first field of schedstat, ns) of every thread.
double LinuxRunTimeMs(int unixPid)
{
    const std::wstring tasks = L"Z:\\proc\\" + std::to_wstring(unixPid) + L"\\task";
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((tasks + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return -1;
    double totalNs = 0;
    int threads = 0;
    do {
        if (!IsNumber(data.cFileName))
            continue;
        const std::string stat = ReadTextFile(tasks + L"\\" + data.cFileName + L"\\schedstat");
        if (stat.empty())
            continue;
        totalNs += strtod(stat.c_str(), nullptr);
        ++threads;
    } while (FindNextFileW(find, &data));
    FindClose(find);
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
