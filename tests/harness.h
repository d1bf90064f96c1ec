// Shared test helpers: real processes, files, registry keys and environment
// variables in the Wine prefix, each undone when its owner goes away. It
// brings the product headers that most tests and the bench use.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "launcher/command_line.h"
#include "service/control.h"
#include "support/executor.h"
#include "support/handles.h"

// The stop port the launcher gives its server, on which the stand-in serves.
constexpr int kStopPort = OV_STOP_PORT_NUMBER;

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);

std::wstring TestBinDir();       // folder of the test executable (the build folder)
std::wstring LauncherExe();      // the built ovwebui.exe
std::wstring FakeJavaExe();      // the stand-in java.exe

// Collects a child's output; for runs that go on while the test works.
class OutputCollector : public ProcessExecutor {
public:
    explicit OutputCollector(const std::wstring& commandLine) : ProcessExecutor(commandLine.c_str(), false, false) {}
    ~OutputCollector() override { finish(); }
    void outputReceived(const char* chunk) override { output += chunk; }
    std::string output;
};

struct RunResult {
    bool finished = false;
    DWORD exitCode = 0;
    std::string output;  // stdout and stderr together
};
// Runs a command line to its end (or kills it after timeoutMs), capturing its output.
RunResult RunCommand(const std::wstring& commandLine, DWORD timeoutMs = 60000, const wchar_t* workingDir = nullptr);
// Starts a program as the launcher starts its children, in this process's
// kill-on-close job (LauncherJob): a test or bench that dies leaves none of
// them running. Without `output` the child inherits no handle.
bool StartChild(ChildProcess& child, const std::wstring& commandLine, DWORD creationFlags = 0,
                const std::wstring& application = std::wstring(), OutputSink* output = nullptr);

bool FileExists(const std::wstring& path);
bool WriteTextFile(const std::wstring& path, const std::string& bytes);
std::string ReadTextFile(const std::wstring& path);
std::vector<std::string> SplitLines(const std::string& text);

// A fresh folder below `parent` (by default test-tmp in the build folder,
// reached through its own drive T: so that the folders above it are the
// build's alone: scripts/wine-prefix.sh), removed with its content.
class TempDir {
public:
    explicit TempDir(const std::wstring& name = L"t", const std::wstring& parent = std::wstring());
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& child) const { return path_ + L"\\" + child; }

private:
    std::wstring path_;
};
void RemoveTree(const std::wstring& path);
void MakeFolders(const std::wstring& path);
// Copies `source` to `target`, creating the folders; replaces a file there.
bool PlaceCopy(const std::wstring& source, const std::wstring& target);

// An install folder with a copy of the launcher and, optionally, the stand-in
// as its private runtime (jre\bin\java.exe), in `serverMode` unless empty.
// `parent` is TempDir's; a jetty-home of `jettyHomeFiles` files, in folders
// of 100, gives each run's permission check a tree to walk.
struct Install {
    explicit Install(const std::wstring& name = L"install", bool withJava = true,
                     const std::wstring& parent = std::wstring(), const std::string& serverMode = std::string(),
                     int jettyHomeFiles = 0);
    TempDir dir;
    std::wstring root() const { return dir.path(); }
    std::wstring exe() const { return dir / L"ovwebui.exe"; }
    std::wstring java() const { return dir / L"jre\\bin\\java.exe"; }
    std::wstring log() const { return dir / L"logs\\launcher.log"; }
};
// Copies the stand-in to `path` (folders created).
void PlaceFakeJava(const std::wstring& path);
// Sets the stand-in's behaviour files beside `javaPath`.
void SetServerMode(const std::wstring& javaPath, const std::string& mode);
void SetStopMode(const std::wstring& javaPath, const std::string& mode);
// The invocation that the stand-in recorded beside `javaPath`: command line,
// current folder, OVWEBUI_HOME and the arguments as its runtime split them;
// empty when it never ran in that mode.
struct Invocation {
    std::string commandLine, currentDir, home;
    std::vector<std::string> arguments;
    bool present = false;
};
Invocation ReadInvocation(const std::wstring& javaPath, const char* mode);

// "LEVEL tag: text" and the thread of "YYYY-MM-DD HH:MM:SS.mmm [thread] LEVEL
// tag: text"; false for a line that is not a message's first line.
bool ParseLogLine(const std::string& line, std::string& message, unsigned long* threadId = nullptr);
// Log lines reduced to "LEVEL tag: text" (timestamp and thread dropped).
std::vector<std::string> ReadLogMessages(const std::wstring& logPath);
bool Contains(const std::vector<std::string>& lines, const std::string& line);

// Wine makes the prefix's user the owner of every file, with full control:
// tests trust it as an administrator would trust a deployment account. The
// product's key starts each test holding only TrustedAccounts with them, and
// a ScopedRegistryKey of that key keeps and restores the value.
constexpr wchar_t kPrefixUserSid[] = L"S-1-5-21-0-0-0-1000";
// Wine makes the user's primary group the owner of each key it creates:
// trusted alike.
constexpr wchar_t kPrefixGroupSid[] = L"S-1-5-21-0-0-0-513";
void ResetProductKey();

// A registry key below HKLM, deleted with its subkeys when this goes away.
class ScopedRegistryKey {
public:
    explicit ScopedRegistryKey(const std::wstring& subKey);
    ~ScopedRegistryKey();
    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;
    bool setString(const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ);
    bool setRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes);
    HKEY get() const { return key_.get(); }

private:
    std::wstring subKey_;
    UniqueRegistryKey key_;
};

// Sets (or, with null, removes) an environment variable of this process,
// which children inherit; restores the old value when this goes away.
class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const wchar_t* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::wstring name_, old_;
    bool hadOld_ = false;
};

// The service `name` opened with `access`; null when it cannot be, with the
// reason in GetLastError().
UniqueServiceHandle OpenOurService(DWORD access, const wchar_t* name = kServiceName);
// The current state of `service` (SERVICE_RUNNING...) and, if asked, its
// process's ID; 0 when it cannot be queried.
DWORD ServiceState(SC_HANDLE service, DWORD* processId = nullptr);
bool WaitForServiceState(SC_HANDLE service, DWORD state, DWORD timeoutMs, DWORD pollMs = 10);

// Quotes one argument for a command line.
std::wstring Quote(const std::wstring& s);
// Is something listening on 127.0.0.1:port? Waits up to timeoutMs for `want`,
// looking every pollMs.
bool WaitForPortState(int port, bool wantListening, DWORD timeoutMs, DWORD pollMs = 10);
// Processes whose executable lies below `folder` (and, if given, is named `exeName`).
int CountProcessesBelow(const std::wstring& folder, const wchar_t* exeName = nullptr);
bool WaitForNoProcessBelow(const std::wstring& folder, DWORD timeoutMs, const wchar_t* exeName = nullptr);
// Ends every process whose executable lies below `folder` and is named `exeName`; returns how many.
int TerminateProcessesBelow(const std::wstring& folder, const wchar_t* exeName);
// Asks `done` every pollMs until it says true (true) or timeoutMs have passed (false).
template <typename Done>
bool WaitUntil(Done done, DWORD timeoutMs, DWORD pollMs = 50)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(pollMs);
    }
    return true;
}

// Sets the Unix mode of a file or folder in the prefix (only the "other"
// bits matter here): Wine derives a file's DACL from its mode, Everyone's
// entry from those bits, and keeps no DACL set through the API. Returns once
// Wine shows the change, false when it did not within a few seconds.
bool SetUnixMode(const std::wstring& path, const char* octalMode);
// Makes `link` a Unix symbolic link to `target`: a link that Windows programs follow.
bool MakeUnixLink(const std::wstring& target, const std::wstring& link);
