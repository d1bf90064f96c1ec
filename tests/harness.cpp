#include "tests/harness.h"

#include <winsock2.h>

#include <aclapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "launcher/context.h"
#include "launcher/permissions.h"
#include "support/handles.h"
#include "support/log.h"
#include "support/strings.h"

namespace fs = std::filesystem;

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int chars = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], chars);
    return out;
}

std::string Narrow(const std::wstring& text)
{
    // The system's encoder, not the product's: tests compare against it.
    if (text.empty())
        return std::string();
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes, nullptr, nullptr);
    return out;
}

std::wstring TestBinDir()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L'\\'));
}

std::wstring LauncherExe() { return TestBinDir() + L"\\ovwebui.exe"; }
std::wstring FakeJavaExe() { return TestBinDir() + L"\\fake-java.exe"; }

RunResult RunCommand(const std::wstring& commandLine, DWORD timeoutMs, const wchar_t* workingDir)
{
    RunResult result;
    wchar_t previous[MAX_PATH * 2] = {};
    if (workingDir != nullptr) {
        GetCurrentDirectoryW(MAX_PATH * 2, previous);
        SetCurrentDirectoryW(workingDir);
    }
    std::unique_ptr<OutputCollector> executor;
    bool started = false;
    // One more try after a failed start, said on stderr: a start that fails
    // (seen once under Wine, 13 ms into a test) is not the program's fault,
    // and the program's own behaviour is what the caller tests.
    for (int attempt = 0; attempt < 2 && !started; ++attempt) {
        if (attempt > 0)
            Sleep(200);
        executor.reset(new OutputCollector(commandLine));
        started = executor->execute();
        if (!started)
            fprintf(stderr, "RunCommand: %s: could not start: error %lu\n", Narrow(commandLine).c_str(),
                    static_cast<unsigned long>(executor->lastError()));
    }
    if (workingDir != nullptr)
        SetCurrentDirectoryW(previous);
    if (!started) {
        result.output = "(could not start: error " + std::to_string(executor->lastError()) + ")";
        return result;
    }
    result.finished = executor->waitForCompletion(timeoutMs);
    result.exitCode = executor->exitCode();
    executor->finish();
    result.output = executor->output;
    return result;
}

bool StartChild(ChildProcess& child, const std::wstring& commandLine, DWORD creationFlags,
                const std::wstring& application, OutputSink* output)
{
    ChildOptions options;
    options.creationFlags = creationFlags;
    options.output = output;
    return child.start(application.empty() ? nullptr : application.c_str(), commandLine.c_str(), options);
}

bool FileExists(const std::wstring& path)
{
    std::error_code error;
    return fs::exists(path, error);
}

bool WriteTextFile(const std::wstring& path, const std::string& bytes)
{
    MakeFolders(fs::path(path).parent_path());
    std::ofstream file(fs::path(path), std::ios::binary);
    file << bytes;
    file.close();
    return !file.fail();
}

std::string ReadTextFile(const std::wstring& path)
{
    std::ifstream file(fs::path(path), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void MakeFolders(const std::wstring& path)
{
    std::error_code error;
    fs::create_directories(path, error);
}

void RemoveTree(const std::wstring& path)
{
    // As much as can go: a file still in use (a service not yet stopped)
    // stays, unlike with remove_all, which stops at the first failure.
    std::error_code error;
    std::vector<fs::path> entries{path};
    for (fs::recursive_directory_iterator it(path, error), end; !error && it != end; it.increment(error))
        entries.push_back(it->path());
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry)
        fs::remove(*entry, error);
}

bool PlaceCopy(const std::wstring& source, const std::wstring& target)
{
    MakeFolders(fs::path(target).parent_path());
    std::error_code error;
    return fs::copy_file(source, target, fs::copy_options::overwrite_existing, error);
}

TempDir::TempDir(const std::wstring& name, const std::wstring& parent)
{
    static std::atomic<unsigned> counter{0};
    path_ = (parent.empty() ? std::wstring(L"T:\\test-tmp") : parent) + L"\\" + name + L"-" +
            std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
    RemoveTree(path_);
    MakeFolders(path_);
}

TempDir::~TempDir() { RemoveTree(path_); }

Install::Install(const std::wstring& name, bool withJava, const std::wstring& parent, const std::string& serverMode,
                 int jettyHomeFiles)
    : dir(name, parent)
{
    PlaceCopy(LauncherExe(), exe());
    if (withJava)
        PlaceFakeJava(java());
    if (!serverMode.empty())
        SetServerMode(java(), serverMode);
    for (int file = 0; file < jettyHomeFiles; ++file)
        WriteTextFile(dir / (L"jetty-home\\lib\\part" + std::to_wstring(file / 100) + L"\\file" +
                             std::to_wstring(file) + L".jar"),
                      "PK");
}

void PlaceFakeJava(const std::wstring& path) { PlaceCopy(FakeJavaExe(), path); }

static std::wstring Beside(const std::wstring& javaPath, const wchar_t* file)
{
    return javaPath.substr(0, javaPath.find_last_of(L'\\')) + L"\\" + file;
}

void SetServerMode(const std::wstring& javaPath, const std::string& mode)
{
    WriteTextFile(Beside(javaPath, L"server-mode.txt"), mode);
}

void SetStopMode(const std::wstring& javaPath, const std::string& mode)
{
    WriteTextFile(Beside(javaPath, L"stop-mode.txt"), mode);
}

Invocation ReadInvocation(const std::wstring& javaPath, const char* mode)
{
    Invocation invocation;
    const std::wstring file = Beside(javaPath, (Widen(mode) + L"-invocation.txt").c_str());
    if (!FileExists(file))
        return invocation;
    std::vector<std::string> lines = SplitLines(ReadTextFile(file));
    lines.resize(std::max<size_t>(lines.size(), 3));
    invocation.present = true;
    invocation.commandLine = lines[0];
    invocation.currentDir = lines[1];
    invocation.home = lines[2];
    invocation.arguments.assign(lines.begin() + 3, lines.end());
    return invocation;
}

bool ParseLogLine(const std::string& line, std::string& message, unsigned long* threadId)
{
    const std::string stamp = "dddd-dd-dd dd:dd:dd.ddd [";
    if (line.size() < stamp.size())
        return false;
    for (size_t i = 0; i < stamp.size(); ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (stamp[i] == 'd' ? !digit : line[i] != stamp[i])
            return false;
    }
    const size_t close = line.find_first_not_of("0123456789", stamp.size());
    if (close == stamp.size() || close == std::string::npos || line.compare(close, 2, "] ") != 0)
        return false;
    const size_t levelStart = close + 2;
    const size_t levelEnd = line.find(' ', levelStart);
    if (levelEnd == std::string::npos)
        return false;
    const std::string level = line.substr(levelStart, levelEnd - levelStart);
    const bool debug = level.size() > 5 && level.compare(0, 5, "DEBUG") == 0 &&
                       level.find_first_not_of("0123456789", 5) == std::string::npos;
    if (level != "ERROR" && level != "WARNING" && level != "INFO" && !debug)
        return false;
    const size_t tagEnd = line.find(": ", levelEnd + 1);
    if (tagEnd == std::string::npos || line.find(' ', levelEnd + 1) < tagEnd)
        return false;
    message = line.substr(levelStart);
    if (threadId != nullptr)
        *threadId = strtoul(line.c_str() + stamp.size(), nullptr, 10);
    return true;
}

std::vector<std::string> ReadLogMessages(const std::wstring& logPath)
{
    std::vector<std::string> messages;
    for (const std::string& line : SplitLines(ReadTextFile(logPath))) {
        // Continuation lines (and anything else) are kept as they are.
        std::string message;
        messages.push_back(ParseLogLine(line, message) ? message : line);
    }
    return messages;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

void ResetProductKey()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRegistryKey);
    const std::wstring trust = std::wstring(kPrefixUserSid) + L'\0' + kPrefixGroupSid + L'\0';
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kRegistryKey, L"TrustedAccounts", REG_MULTI_SZ, trust.c_str(),
                    static_cast<DWORD>((trust.size() + 1) * sizeof(wchar_t)));
}

ScopedRegistryKey::ScopedRegistryKey(const std::wstring& subKey) : subKey_(subKey)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, subKey_.c_str());
    if (_wcsicmp(subKey_.c_str(), kRegistryKey) == 0)
        ResetProductKey();
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.put(), nullptr);
}

ScopedRegistryKey::~ScopedRegistryKey()
{
    key_.reset();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, subKey_.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, subKey_.c_str());
    if (_wcsicmp(subKey_.c_str(), kRegistryKey) == 0)
        ResetProductKey();
}

bool ScopedRegistryKey::setString(const wchar_t* name, const std::wstring& value, DWORD type)
{
    return setRaw(name, type, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool ScopedRegistryKey::setRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes)
{
    return RegSetValueExW(key_.get(), name, 0, type, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS;
}

ScopedEnv::ScopedEnv(const wchar_t* name, const wchar_t* value) : name_(name)
{
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed > 0) {
        old_.resize(needed);
        const DWORD length = GetEnvironmentVariableW(name, &old_[0], needed);
        old_.resize(length);
        hadOld_ = true;
    }
    SetEnvironmentVariableW(name, value);
}

ScopedEnv::~ScopedEnv()
{
    SetEnvironmentVariableW(name_.c_str(), hadOld_ ? old_.c_str() : nullptr);
}

UniqueServiceHandle OpenOurService(DWORD access, const wchar_t* name)
{
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    return UniqueServiceHandle(manager ? OpenServiceW(manager.get(), name, access) : nullptr);
}

DWORD ServiceState(SC_HANDLE service, DWORD* processId)
{
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed))
        return 0;
    if (processId != nullptr)
        *processId = status.dwProcessId;
    return status.dwCurrentState;
}

bool WaitForServiceState(SC_HANDLE service, DWORD state, DWORD timeoutMs, DWORD pollMs)
{
    return WaitUntil([&] { return ServiceState(service) == state; }, timeoutMs, pollMs);
}

std::wstring Quote(const std::wstring& s) { return L"\"" + s + L"\""; }

bool WaitForPortState(int port, bool wantListening, DWORD timeoutMs, DWORD pollMs)
{
    static bool started = [] {
        WSADATA wsa;
        return WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    }();
    (void)started;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return WaitUntil(
        [&] {
            const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            const bool listening = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
            closesocket(s);
            return listening == wantListening;
        },
        timeoutMs, pollMs);
}

// Calls `visit` with an open handle of each process whose executable lies
// below `folder` (and, if given, is named `exeName`).
template <typename Visit>
int ForEachProcessBelow(const std::wstring& folder, const wchar_t* exeName, DWORD access, Visit visit)
{
    UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return -1;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (exeName != nullptr && ov_wcsicmp(entry.szExeFile, exeName) != 0)
            continue;
        UniqueKernelHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | access, FALSE, entry.th32ProcessID));
        wchar_t path[MAX_PATH * 2];
        DWORD size = MAX_PATH * 2;
        if (process && QueryFullProcessImageNameW(process.get(), 0, path, &size) &&
            ov_wcsicmp(std::wstring(path, size).substr(0, folder.size()).c_str(), folder.c_str()) == 0) {
            visit(process.get());
            ++count;
        }
    }
    return count;
}

int CountProcessesBelow(const std::wstring& folder, const wchar_t* exeName)
{
    return ForEachProcessBelow(folder, exeName, 0, [](HANDLE) {});
}

int TerminateProcessesBelow(const std::wstring& folder, const wchar_t* exeName)
{
    return ForEachProcessBelow(folder, exeName, PROCESS_TERMINATE, [](HANDLE p) { TerminateProcess(p, 1); });
}

bool WaitForNoProcessBelow(const std::wstring& folder, DWORD timeoutMs, const wchar_t* exeName)
{
    return WaitUntil([&] { return CountProcessesBelow(folder, exeName) == 0; }, timeoutMs);
}

namespace {
bool EveryoneMayAddFiles(const std::wstring& path)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(everyone);
    CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size);
    bool may = false;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            EqualSid(&ace->SidStart, everyone))
            may = may || (ace->Mask & FILE_ADD_FILE) != 0;
    }
    LocalFree(descriptor);
    return may;
}
// The quoted Unix name of a path in the prefix; empty when it has none.
std::wstring UnixArgument(const std::wstring& path)
{
    using UnixName = char*(CDECL*)(const wchar_t*);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "wine_get_unix_file_name")));
    char* name = unixName != nullptr ? unixName(path.c_str()) : nullptr;
    const std::wstring quoted = name != nullptr ? Quote(Widen(name)) : std::wstring();
    HeapFree(GetProcessHeap(), 0, name);
    return quoted;
}

// Starts /bin/`program`. Wine runs a Unix program as a process of its own
// that it cannot wait for: the callers await what it changes.
bool StartUnixProgram(const char* program, const std::wstring& arguments)
{
    using DosName = wchar_t*(CDECL*)(const char*);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto dosName = reinterpret_cast<DosName>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "wine_get_dos_file_name")));
    wchar_t* path = dosName != nullptr ? dosName((std::string("/bin/") + program).c_str()) : nullptr;
    const std::wstring dosProgram = path != nullptr ? path : L"";
    HeapFree(GetProcessHeap(), 0, path);
    std::wstring commandLine = Widen(program) + L" " + arguments;
    // Not StartChild: Wine gives a Unix program no handle that a job or
    // ResumeThread accepts.
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (dosProgram.empty() || !CreateProcessW(dosProgram.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                                              nullptr, nullptr, &startup, &info))
        return false;
    UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    return true;
}
}  // namespace

bool SetUnixMode(const std::wstring& path, const char* octalMode)
{
    const std::wstring name = UnixArgument(path);
    if (name.empty() || !StartUnixProgram("chmod", Widen(octalMode) + L" " + name))
        return false;
    const bool othersWrite = (strtoul(octalMode, nullptr, 8) & 02) != 0;
    return WaitUntil([&] { return EveryoneMayAddFiles(path) == othersWrite; }, 5000, 20);
}

bool MakeUnixLink(const std::wstring& target, const std::wstring& link)
{
    const std::wstring from = UnixArgument(target), to = UnixArgument(link);
    return !from.empty() && !to.empty() && StartUnixProgram("ln", L"-s " + from + L" " + to) &&
           WaitUntil([&] { return FileExists(link); }, 5000, 20);
}
