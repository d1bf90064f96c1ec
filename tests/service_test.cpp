// The launcher as the service ovWebUI under Wine's real Service Control
// Manager: install, start, stop, remove, the graceful stop and its edges.
#include <gtest/gtest.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "launcher/context.h"
#include "launcher/health.h"
#include "launcher/permissions.h"
#include "launcher/version.h"
#include "service/check.h"
#include "support/error_text.h"
#include "support/registry.h"
#include "tests/harness.h"
#include "tests/launcher_fixture.h"

namespace {

constexpr wchar_t kServiceKey[] = L"System\\CurrentControlSet\\Services\\ovWebUI";
constexpr wchar_t kEventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\ovWebUI";

// The services' standard error: wine_prefix_up starts the prefix with Wine's
// trace of ReportEventW on (tests/CMakeLists.txt, scripts/wine-keeper.sh).
std::string ServiceTrace() { return ReadTextFile(TestBinDir() + L"\\keeper\\cmd.log"); }

// The events reported since `offset` of that trace, each as
// "<ID> <err|warn|trace>: <string>|<string>...".
std::vector<std::string> EventsSince(size_t offset)
{
    std::vector<std::string> events;
    const std::string trace = ServiceTrace();
    for (const std::string& line : SplitLines(trace.substr(std::min(offset, trace.size())))) {
        const size_t text = line.find(":eventlog:ReportEventW L\"");
        if (line.find(":advapi:ReportEventW (") != std::string::npos) {
            events.push_back(line.substr(line.find(",0x0000,") + 8, 10));  // after the type and category 0
        } else if (text != std::string::npos && !events.empty()) {
            std::string& event = events.back();
            event += event.find(' ') == std::string::npos ? " " + line.substr(5, line.find(':', 5) - 5) + ": " : "|";
            for (size_t i = text + 25; i + 1 < line.size(); ++i)
                event += line[i] != '\\' ? line[i] : line[++i] == 'r' ? '\r' : line[i] == 'n' ? '\n' : line[i];
        }
    }
    return events;
}

std::string SystemText(DWORD code)
{
    wchar_t text[kErrorTextChars];
    return Narrow(GetSystemErrorText(code, text, kErrorTextChars));
}

bool QueryStatus(SERVICE_STATUS& status)
{
    UniqueServiceHandle service = OpenOurService(SERVICE_QUERY_STATUS);
    return service && QueryServiceStatus(service.get(), &status);
}

DWORD CurrentState() { return ServiceState(OpenOurService(SERVICE_QUERY_STATUS).get()); }

bool WaitForState(DWORD state, DWORD timeoutMs)
{
    return WaitUntil([state] { return CurrentState() == state; }, timeoutMs, 20);
}

// Sends one control; Wine kills a service that gets a second stop while stopping.
bool SendControl(DWORD control, SERVICE_STATUS* status = nullptr)
{
    UniqueServiceHandle service =
        OpenOurService(SERVICE_STOP | SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL | SERVICE_QUERY_STATUS);
    SERVICE_STATUS ignored{};
    return service && ControlService(service.get(), control, status != nullptr ? status : &ignored);
}

// Leaves no service behind: one stop if it runs, then delete and wait until gone.
void RemoveServiceIfPresent()
{
    const DWORD state = CurrentState();
    // Wine's manager goes on calling a killed service running, and refuses
    // to stop it: then there is nothing to wait for.
    const bool stopping = state == SERVICE_STOP_PENDING || (state == SERVICE_RUNNING && SendControl(SERVICE_CONTROL_STOP));
    if (stopping)
        WaitForState(SERVICE_STOPPED, 60000);
    {
        UniqueServiceHandle service = OpenOurService(DELETE);
        if (service)
            DeleteService(service.get());
    }
    WaitUntil([] { return !OpenOurService(SERVICE_QUERY_STATUS) && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST; },
              10000);
}

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveServiceIfPresent();
        ResetProductKey();
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventSourceKey);
        ASSERT_TRUE(WaitForPortState(kStopPort, false, 30000)) << "the stop port is busy: another server holds it";
    }
    void TearDown() override
    {
        RemoveServiceIfPresent();
        ResetProductKey();
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventSourceKey);
    }

    std::string Command(const Install& install, const wchar_t* word, DWORD exitCode = 0)
    {
        const RunResult result = RunCommand(Quote(install.exe()) + L" " + word, 60000);
        EXPECT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, exitCode) << Narrow(word);
        return result.output;
    }

    // Installs the service from `install` and starts it: success once RUNNING.
    ::testing::AssertionResult Started(const Install& install)
    {
        const std::string installed = Command(install, L"install");
        if (installed != "Orvane Web UI service created successfully\n")
            return ::testing::AssertionFailure() << "install said: " << installed;
        Command(install, L"start");
        if (!WaitForState(SERVICE_RUNNING, 60000))
            return ::testing::AssertionFailure() << "never RUNNING";
        return ::testing::AssertionSuccess();
    }
};

std::wstring ReadRegistryText(HKEY key, const wchar_t* name)
{
    wchar_t buffer[1024];
    return ReadRegistryString(key, name, buffer) ? buffer : L"(absent)";
}

}  // namespace

TEST_F(ServiceTest, InstallRegistersAndASecondInstallUpdates)
{
    Install install;
    EXPECT_EQ(Command(install, L"install"), "Orvane Web UI service created successfully\n");

    {
        UniqueRegistryKey key;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_READ, key.put()), ERROR_SUCCESS);
        EXPECT_EQ(ReadRegistryText(key.get(), L"ImagePath"), L"\"" + install.exe() + L"\" service");
        EXPECT_EQ(ReadRegistryText(key.get(), L"DisplayName"), L"Orvane Web UI (Jetty)");
        EXPECT_EQ(ReadRegistryText(key.get(), L"Description"),
                  L"This service provides web UI and API functionality for Orvane management server");
        DWORD start = 0, type = 0, errorControl = 0, bytes = sizeof(DWORD);
        RegQueryValueExW(key.get(), L"Start", nullptr, nullptr, reinterpret_cast<BYTE*>(&start), &bytes);
        bytes = sizeof(DWORD);
        RegQueryValueExW(key.get(), L"Type", nullptr, nullptr, reinterpret_cast<BYTE*>(&type), &bytes);
        bytes = sizeof(DWORD);
        RegQueryValueExW(key.get(), L"ErrorControl", nullptr, nullptr, reinterpret_cast<BYTE*>(&errorControl), &bytes);
        EXPECT_EQ(start, static_cast<DWORD>(SERVICE_AUTO_START));
        EXPECT_EQ(type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
        EXPECT_EQ(errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
        // Wine writes 180000 itself at creation: this is ours.
        DWORD preshutdown = 0;
        bytes = sizeof(DWORD);
        RegQueryValueExW(key.get(), L"PreshutdownTimeout", nullptr, nullptr, reinterpret_cast<BYTE*>(&preshutdown),
                         &bytes);
        EXPECT_EQ(preshutdown, 45000u);
    }
    {
        UniqueServiceHandle service = OpenOurService(SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG);
        ASSERT_TRUE(service);
        alignas(8) BYTE buffer[8192];
        DWORD needed = 0;
        // "successfully" above says the failure actions were accepted. Wine 8
        // keeps them in memory only and cannot hand them back; where the
        // query works, the values must be ours.
        if (QueryServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, buffer, sizeof(buffer), &needed)) {
            const auto* actions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer);
            EXPECT_EQ(actions->dwResetPeriod, 3600u);
            ASSERT_EQ(actions->cActions, 1u);
            EXPECT_EQ(actions->lpsaActions[0].Type, SC_ACTION_RESTART);
            EXPECT_EQ(actions->lpsaActions[0].Delay, 30000u);
        } else {
            const DWORD error = GetLastError();
            EXPECT_TRUE(error == ERROR_INVALID_LEVEL || error == ERROR_CALL_NOT_IMPLEMENTED ||
                        error == ERROR_INVALID_PARAMETER)
                << "failure actions unreadable: " << SystemText(error);
        }

        // Set to manual start, then install again (from another folder):
        // automatic again, and the first binary path stays.
        ASSERT_TRUE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    }
    // From another folder: the service and its event source move there.
    Install other(L"other");
    EXPECT_EQ(Command(other, L"install"),
              "WARNING: Service named 'ovWebUI' already exist\nOrvane Web UI service now runs " + Narrow(other.exe()) +
                  " from its next start\nOrvane Web UI service updated successfully\n");
    UniqueRegistryKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_READ, key.put()), ERROR_SUCCESS);
    DWORD start = 0, bytes = sizeof(DWORD);
    RegQueryValueExW(key.get(), L"Start", nullptr, nullptr, reinterpret_cast<BYTE*>(&start), &bytes);
    EXPECT_EQ(start, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(ReadRegistryText(key.get(), L"ImagePath"), L"\"" + other.exe() + L"\" service");
    {
        UniqueRegistryKey source;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, KEY_READ, source.put()), ERROR_SUCCESS);
        EXPECT_EQ(ReadRegistryText(source.get(), L"EventMessageFile"), other.exe());
    }
    // The first copy removes the service, and the source that names the exe it ran.
    EXPECT_EQ(Command(install, L"remove"), "Orvane Web UI service deleted successfully\n");
    UniqueRegistryKey source;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, KEY_READ, source.put()), ERROR_FILE_NOT_FOUND);
}

TEST_F(ServiceTest, StartStopRemoveWithTheGracefulStop)
{
    Install install;
    ASSERT_EQ(Command(install, L"install"), "Orvane Web UI service created successfully\n");
    wchar_t messageFile[MAX_PATH] = {};
    DWORD types = 0, bytes = sizeof(messageFile);
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kEventSourceKey, L"EventMessageFile", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                           nullptr, messageFile, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(messageFile, install.exe());
    bytes = sizeof(types);
    RegGetValueW(HKEY_LOCAL_MACHINE, kEventSourceKey, L"TypesSupported", RRF_RT_REG_DWORD, nullptr, &types, &bytes);
    EXPECT_EQ(types, 7u);
    EXPECT_EQ(Command(install, L"status", kExitNotRunning), "ovWebUI: STOPPED\n");

    const size_t traced = ServiceTrace().size();
    EXPECT_EQ(Command(install, L"start"), "Orvane Web UI service started successfully\n");
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING, 30000));
    ASSERT_TRUE(WaitForPortState(kStopPort, true, 30000)) << "the stand-in server never listened";
    const std::wstring dir = install.root();
    EXPECT_EQ(ReadInvocation(install.java(), "server").commandLine,
              ExpectedServerLine(install.java(), dir, dir + L"\\logs\\jetty.log", dir + L"\\logs\\ovmc.log"));
    EXPECT_EQ(ReadInvocation(install.java(), "server").home, Narrow(install.root()));
    // Not System32: Java's crash files land in the install.
    EXPECT_EQ(ReadInvocation(install.java(), "server").currentDir, Narrow(install.root()));

    EXPECT_EQ(Command(install, L"start", ERROR_SERVICE_ALREADY_RUNNING),
              "ERROR: Cannot start service named 'ovWebUI' (" + SystemText(ERROR_SERVICE_ALREADY_RUNNING) + ")\n");
    SERVICE_STATUS_PROCESS process{};
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceStatusEx(OpenOurService(SERVICE_QUERY_STATUS).get(), SC_STATUS_PROCESS_INFO,
                                     reinterpret_cast<BYTE*>(&process), sizeof(process), &needed));
    EXPECT_EQ(Command(install, L"status"), "ovWebUI: RUNNING (process " + std::to_string(process.dwProcessId) + ")\n");
    SERVICE_STATUS status{};
    EXPECT_TRUE(SendControl(SERVICE_CONTROL_INTERROGATE, &status));
    // The handler's own answer, not only what the manager remembers.
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(status.dwWaitHint, 0u);
    EXPECT_EQ(CurrentState(), static_cast<DWORD>(SERVICE_RUNNING));
    ASSERT_TRUE(QueryStatus(status));
    EXPECT_EQ(status.dwControlsAccepted,
              static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN));

    const ULONGLONG stopAt = GetTickCount64();
    EXPECT_EQ(Command(install, L"stop"), "Orvane Web UI service stopped successfully\n");
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED, 15000));
    const ULONGLONG stopMs = GetTickCount64() - stopAt;
    EXPECT_TRUE(WaitForPortState(kStopPort, false, 5000));
    EXPECT_TRUE(WaitForNoProcessBelow(install.root(), 15000)) << "a process of the install is left";
    ASSERT_TRUE(QueryStatus(status));
    EXPECT_EQ(status.dwWin32ExitCode, 0u);

    const Invocation stop = ReadInvocation(install.java(), "stop");
    EXPECT_EQ(stop.commandLine, Narrow(L"\"" + install.java() + L"\" -jar \"" + install.root() +
                                       L"\\jetty-home\\start.jar\" --stop stop.port=" OV_STOP_PORT L" "
                                       L"stop.key=" OV_STOP_KEY L" stop.wait=20"));
    const std::vector<std::string> log = ReadLogMessages(install.log());
    std::string jettyOutput;
    for (const std::string& m : log)
        if (m.rfind("DEBUG5 jetty: ", 0) == 0)
            jettyOutput += m.substr(14) + "\n";
    const std::string sending = "fake-java: sending stop to 127.0.0.1:" + std::to_string(kStopPort);
    EXPECT_NE(jettyOutput.find(sending), std::string::npos) << jettyOutput;
    EXPECT_NE(jettyOutput.find("fake-java: server answered Stopped"), std::string::npos) << jettyOutput;
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "DEBUG5 shutdown: Server process terminated");
    // Started (version, Java, server's process ID), ready, stopped (ms).
    const std::vector<std::string> events = EventsSince(traced);
    ASSERT_EQ(events.size(), 3u) << ::testing::PrintToString(events);
    EXPECT_EQ(events[0].rfind("0x40000064 trace: " OV_VERSION_TEXT "|" + Narrow(install.java()) + "|", 0), 0u);
    EXPECT_GT(std::stoul(events[0].substr(events[0].rfind('|') + 1)), 0ul);
    EXPECT_EQ(events[1].rfind("0x40000065 trace: ", 0), 0u) << events[1];
    EXPECT_EQ(events[2].rfind("0x40000066 trace: ", 0), 0u) << events[2];
    // The stop's own measure lies within the request and the state seen.
    EXPECT_LE(std::stoul(events[2].substr(18)), stopMs) << events[2];
    EXPECT_GT(std::stoul(events[2].substr(18)), 0ul) << events[2];

    EXPECT_EQ(Command(install, L"stop", ERROR_SERVICE_NOT_ACTIVE),
              "ERROR: Cannot stop service named 'ovWebUI' (" + SystemText(ERROR_SERVICE_NOT_ACTIVE) + ")\n");
    EXPECT_EQ(Command(install, L"remove"), "Orvane Web UI service deleted successfully\n");
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kEventSourceKey, nullptr, RRF_RT_ANY, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    const std::string notInstalled = "ERROR: Cannot open service named 'ovWebUI' (" +
                                     SystemText(ERROR_SERVICE_DOES_NOT_EXIST) + ")\n";
    for (const wchar_t* word : {L"start", L"stop", L"remove", L"status"})
        EXPECT_EQ(Command(install, word, ERROR_SERVICE_DOES_NOT_EXIST), notInstalled) << Narrow(word);
}

TEST_F(ServiceTest, FailedRunsReportAServiceSpecificError)
{
    {
        Install noJava(L"nojava", false);
        ASSERT_EQ(Command(noJava, L"install"), "Orvane Web UI service created successfully\n");
        const size_t traced = ServiceTrace().size();
        RunCommand(Quote(noJava.exe()) + L" start");  // its outcome: StartSaysWhyTheRunFailed
        ASSERT_TRUE(WaitForState(SERVICE_STOPPED, 30000));
        EXPECT_EQ(Command(noJava, L"status", kExitNotRunning),
                  "ovWebUI: STOPPED (1066, code 1: no Java runtime was found)\n");
        EXPECT_EQ(EventsSince(traced),
                  std::vector<std::string>{"0xc000012c err: " + Narrow(noJava.java()) + " (executable path)"});
        SERVICE_STATUS status{};
        ASSERT_TRUE(QueryStatus(status));
        EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
        EXPECT_EQ(status.dwServiceSpecificExitCode, 1u);
        EXPECT_TRUE(Contains(ReadLogMessages(noJava.log()), "ERROR java: Cannot find suitable Java runtime environment"));
        RemoveServiceIfPresent();
    }
    {
        Install folderJava(L"folderjava", false);
        MakeFolders(folderJava.java());
        ASSERT_EQ(Command(folderJava, L"install"), "Orvane Web UI service created successfully\n");
        RunCommand(Quote(folderJava.exe()) + L" start");
        ASSERT_TRUE(WaitForState(SERVICE_STOPPED, 30000));
        SERVICE_STATUS status{};
        ASSERT_TRUE(QueryStatus(status));
        EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
        EXPECT_EQ(status.dwServiceSpecificExitCode, 2u);
        RemoveServiceIfPresent();
    }
    // A server that ended on its own, by an exit or killed from outside, is
    // a failure too, so the restart fires; the log names its exit code.
    for (const bool killed : {false, true}) {
        Install server(killed ? L"killed" : L"quick");
        SetServerMode(server.java(), killed ? "serve" : "exit 7");
        ASSERT_EQ(Command(server, L"install"), "Orvane Web UI service created successfully\n");
        const size_t traced = ServiceTrace().size();
        RunCommand(Quote(server.exe()) + L" start");
        if (killed) {
            ASSERT_TRUE(WaitForPortState(kStopPort, true, 30000));
            EXPECT_EQ(TerminateProcessesBelow(server.root(), L"java.exe"), 1);
        }
        ASSERT_TRUE(WaitForState(SERVICE_STOPPED, 30000)) << killed;
        SERVICE_STATUS status{};
        ASSERT_TRUE(QueryStatus(status));
        EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR)) << killed;
        EXPECT_EQ(status.dwServiceSpecificExitCode, 3u) << killed;
        EXPECT_EQ(Command(server, L"status", kExitNotRunning),
                  "ovWebUI: STOPPED (1066, code 3: the server ended on its own)\n");
        const std::vector<std::string> log = ReadLogMessages(server.log());
        const std::string warning = killed ? "WARNING shutdown: Server process ended on its own with exit code 1"
                                           : "WARNING shutdown: Server process ended on its own with exit code 7";
        const auto found = std::find(log.begin(), log.end(), warning);
        ASSERT_NE(found, log.end()) << killed;
        // Its last words follow as the message's continuation lines, and
        // are the event's second string.
        const std::string lastWords =
            killed ? "fake-java: serving, stop port " + std::to_string(kStopPort) : "fake-java: error: exit code 7";
        EXPECT_NE(std::find(found, log.end(), "\t" + lastWords), log.end()) << killed;
        // cp1252 bytes (the prefix's code page under LANG=C.UTF-8) arrive as their characters.
        const std::string ansiWords = "fake-java: caf\xC3\xA9 \xE2\x82\xAC";
        EXPECT_TRUE(killed || std::find(found, log.end(), "\t" + ansiWords) != log.end()) << "cp1252 not decoded";
        const std::vector<std::string> events = EventsSince(traced);
        ASSERT_FALSE(events.empty()) << killed;
        EXPECT_EQ(events.back().rfind(killed ? "0xc000012e err: 1|" : "0xc000012e err: 7|", 0), 0u) << events.back();
        EXPECT_NE(events.back().find(lastWords), std::string::npos) << events.back();
        RemoveServiceIfPresent();
    }
}

TEST_F(ServiceTest, StartSaysWhyTheRunFailed)
{
    for (const bool withJava : {false, true}) {
        Install install(L"failing", withJava);
        SetServerMode(install.java(), "exit 7");
        const std::string reason = withJava ? "the server ended during start-up" : "no Java runtime was found";
        ASSERT_EQ(Command(install, L"install"), "Orvane Web UI service created successfully\n");
        EXPECT_EQ(Command(install, L"start", ERROR_SERVICE_SPECIFIC_ERROR),
                  "ERROR: Cannot start service named 'ovWebUI' (" + reason + "; see the launcher log)\n");
        EXPECT_EQ(CurrentState(), static_cast<DWORD>(SERVICE_STOPPED)) << reason;
        RemoveServiceIfPresent();
    }
}

TEST_F(ServiceTest, ASecondStopDuringTheStopWaitsForItToo)
{
    Install install;
    SetServerMode(install.java(), "slow-stop 4000");
    ASSERT_TRUE(Started(install));
    ASSERT_TRUE(WaitForPortState(kStopPort, true, 30000));
    OutputCollector first(Quote(install.exe()) + L" stop");
    ASSERT_TRUE(first.execute());
    ASSERT_TRUE(WaitForState(SERVICE_STOP_PENDING, 10000));
    EXPECT_EQ(Command(install, L"status", kExitNotRunning), "ovWebUI: STOP_PENDING\n");
    EXPECT_EQ(Command(install, L"stop"), "Orvane Web UI service stopped successfully\n");
    EXPECT_EQ(CurrentState(), static_cast<DWORD>(SERVICE_STOPPED));
    ASSERT_TRUE(first.waitForCompletion(30000));
    EXPECT_EQ(first.exitCode(), 0u);
    EXPECT_EQ(first.output, "Orvane Web UI service stopped successfully\n");
}

// The launcher killed outright leaves no server behind: the job ends it.
TEST_F(ServiceTest, KilledLauncherLeavesNoServer)
{
    {
        // In the foreground. The job of this process holds the server too,
        // and stays open: only the launcher's own job can end the server.
        Install install;
        ChildProcess launcher;
        ASSERT_TRUE(StartChild(launcher, Quote(install.exe()), CREATE_NO_WINDOW));
        ASSERT_TRUE(WaitForPortState(kStopPort, true, 30000));
        ASSERT_TRUE(TerminateProcess(launcher.process(), 1));
        EXPECT_TRUE(WaitForNoProcessBelow(install.root(), 10000)) << "the server outlived its launcher";
        EXPECT_TRUE(WaitForPortState(kStopPort, false, 5000));
    }
    {
        Install install(L"killedservice");
        ASSERT_TRUE(Started(install));
        ASSERT_TRUE(WaitForPortState(kStopPort, true, 30000));
        EXPECT_EQ(TerminateProcessesBelow(install.root(), L"ovwebui.exe"), 1);
        EXPECT_TRUE(WaitForNoProcessBelow(install.root(), 10000)) << "the server outlived its service";
        EXPECT_TRUE(WaitForPortState(kStopPort, false, 5000));

    }
}

TEST_F(ServiceTest, AStopDuringTheStartLeavesNoServerRunning)
{
    // Stops that land while the service is START_PENDING: a server that
    // opens its stop port 3 s after its start comes up in the middle of the
    // stop, one that hangs never does. Either way the service ends STOPPED,
    // never ready, and nothing of the install stays.
    for (const char* mode : {"listen-after 3000", "hang"}) {
        Install install;
        SetServerMode(install.java(), mode);
        ASSERT_EQ(Command(install, L"install"), "Orvane Web UI service created successfully\n");
        {
            UniqueServiceHandle service = OpenOurService(SERVICE_START);
            ASSERT_TRUE(service && StartServiceW(service.get(), 0, nullptr));
        }
        ASSERT_TRUE(
            WaitUntil([&] { return FileExists(install.root() + L"\\jre\\bin\\server-invocation.txt"); }, 10000));
        ASSERT_EQ(CurrentState(), static_cast<DWORD>(SERVICE_START_PENDING)) << mode;
        EXPECT_EQ(Command(install, L"stop"), "Orvane Web UI service stopped successfully\n");
        SERVICE_STATUS status{};
        ASSERT_TRUE(QueryStatus(status));
        EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED)) << mode;
        EXPECT_EQ(status.dwWin32ExitCode, 0u) << mode;

        EXPECT_TRUE(WaitForNoProcessBelow(install.root(), 20000)) << mode << ": a process of the install is left";
        EXPECT_FALSE(WaitForPortState(kStopPort, true, 1000)) << mode;
        EXPECT_TRUE(ReadInvocation(install.java(), "stop").present) << mode << ": the stop command never ran";
        const std::vector<std::string> messages = ReadLogMessages(install.log());
        ASSERT_FALSE(messages.empty()) << mode;
        for (const std::string& m : messages)
            EXPECT_NE(m.rfind("INFO startup: Server is ready", 0), 0u) << mode << ": ready after the stop: " << m;
        RemoveServiceIfPresent();
    }
}

TEST_F(ServiceTest, InstallNamesWhoCanChangeWhatTheServiceRuns)
{
    Install install;
    const std::wstring conf = install.root() + L"\\etc\\launcher.conf";
    const std::wstring deep = install.root() + L"\\jetty-home\\lib\\ext\\deep\\a.jar";
    for (const std::wstring& file : {conf, deep})
        WriteTextFile(file, "x");
    for (int i = 0; i < 20; ++i)
        WriteTextFile(install.root() + L"\\jetty-base\\webapps\\" + std::to_wstring(i) + L".war", "x");
    // All 0755 and 0644, every owner trusted: nothing to say.
    EXPECT_EQ(Command(install, L"install"), "Orvane Web UI service created successfully\n");

    // Wine's owner of every file, untrusted: named for each object, 20 lines at most.
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRegistryKey, L"TrustedAccounts");
    const std::vector<std::string> lines = SplitLines(Command(install, L"install"));
    ASSERT_GT(lines.size(), 25u);
    const std::string root = "can change \"" + Narrow(install.root()) + "\" (run as SYSTEM by this service)";
    EXPECT_EQ(lines[1].substr(lines[1].size() - root.size()), root);
    EXPECT_EQ(lines[21].substr(0, 17), "WARNING: \xE2\x80\xA6 and ");
    EXPECT_EQ(lines[23], "         icacls \"" + Narrow(install.root()) + "\" /setowner *S-1-5-32-544 /T /C /Q");
    EXPECT_EQ(lines[24], "         icacls \"" + Narrow(install.root()) + "\" /remove:g *S-1-5-21-0-0-0-1000 /T /C /Q");
    EXPECT_EQ(lines.back(), "Orvane Web UI service updated with warnings");

    // Trusted again, but a world-writable file deep in jetty-home and the
    // configuration file, and an account that does not exist.
    ScopedRegistryKey key(kRegistryKey);
    const wchar_t accounts[] = L"S-1-5-21-0-0-0-1000\0nobody-here\0";
    key.setRaw(L"TrustedAccounts", REG_MULTI_SZ, accounts, sizeof(accounts));
    for (const std::wstring& file : {conf, deep})
        ASSERT_TRUE(SetUnixMode(file, "0666"));
    const std::string output = Command(install, L"install");
    for (const std::wstring& file : {conf, deep}) {
        const std::string line = "WARNING: Everyone can change \"" + Narrow(file) + "\" (run as SYSTEM by this service)\n";
        EXPECT_NE(output.find(line), std::string::npos) << output;
    }
    EXPECT_NE(output.find("WARNING: TrustedAccounts names \"nobody-here\", which is no account ("), std::string::npos);
    EXPECT_NE(output.find(" /remove:g *S-1-1-0 /T /C /Q\n"), std::string::npos);
}

TEST_F(ServiceTest, StopCommandThatNeverEndsIsCutAfterItsWait)
{
    Install install;
    SetStopMode(install.java(), "hang");
    ASSERT_TRUE(Started(install));
    ASSERT_TRUE(WaitForPortState(kStopPort, true, 30000));

    // "stop" waits for the whole stop, far past Wine's 10 s for a handler,
    // and says it stopped only once it has.
    const ULONGLONG stopAt = GetTickCount64();
    EXPECT_EQ(Command(install, L"stop"), "Orvane Web UI service stopped successfully\n");
    const ULONGLONG stopMs = GetTickCount64() - stopAt;
    printf("hung stop command: stopped in %llu ms\n", stopMs);
    EXPECT_EQ(CurrentState(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_GE(stopMs, 34000u);
    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryStatus(status));
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    EXPECT_TRUE(WaitForPortState(kStopPort, false, 5000));
    // The server and the hung stop command are both gone.
    EXPECT_TRUE(WaitForNoProcessBelow(install.root(), 15000));
    const std::vector<std::string> log = ReadLogMessages(install.log());
    EXPECT_TRUE(Contains(log, "WARNING shutdown: The stop command did not end within 30 s; giving up on it"));
    EXPECT_TRUE(Contains(log, "WARNING shutdown: Server process did not end within 5 s after the stop command; "
                              "terminating it"));
    EXPECT_FALSE(Contains(log, "WARNING shutdown: Server process ended on its own with exit code 0"));
}

TEST_F(ServiceTest, MisbehavingStopCommandsAndServers)
{
    const struct {
        const char* what;
        const char* serverMode;
        const char* stopMode;
        const char* expectedOutput;
        bool terminated;  // the server had to be terminated after its grace
        ULONGLONG atLeastMs;  // a stop that did not wait for the server is a fault
    } cases[] = {
        // 4 MiB of output as fast as it can be written.
        {"flood", "serve", "flood 4194304", "fake-java: server answered Stopped", false, 0},
        // Output with no line break at all.
        {"no line breaks", "serve", "no-newline", "chunk-without-newline;chunk-without-newline;", false, 0},
        // The server ends by itself while it is being stopped, without an answer.
        {"server ends during the stop", "exit-on-connect", "normal", "fake-java: no answer", false, 0},
        // A server that takes 3 s after its answer is let finish.
        {"slow server", "slow-stop 3000", "normal", "fake-java: server answered Stopped", false, 3000},
        // A deaf server gets its grace, then is terminated.
        {"deaf server", "ignore-stop", "normal", "fake-java: no answer", true, 5000},
    };
    for (const auto& c : cases) {
        Install install;
        SetServerMode(install.java(), c.serverMode);
        SetStopMode(install.java(), c.stopMode);
        ASSERT_TRUE(Started(install)) << c.what;
        ASSERT_TRUE(WaitForPortState(kStopPort, true, 30000)) << c.what;
        const ULONGLONG stopAt = GetTickCount64();
        EXPECT_EQ(Command(install, L"stop"), "Orvane Web UI service stopped successfully\n") << c.what;
        EXPECT_TRUE(WaitForState(SERVICE_STOPPED, 30000)) << c.what;
        const ULONGLONG stopMs = GetTickCount64() - stopAt;
        EXPECT_GE(stopMs, c.atLeastMs) << c.what;
        printf("%s: stopped in %llu ms\n", c.what, stopMs);
        EXPECT_TRUE(WaitForNoProcessBelow(install.root(), 15000)) << c.what;
        EXPECT_TRUE(WaitForPortState(kStopPort, false, 5000)) << c.what;

        std::string jetty;
        size_t jettyMessages = 0;
        const std::vector<std::string> log = ReadLogMessages(install.log());
        for (const std::string& m : log)
            if (m.rfind("DEBUG5 jetty: ", 0) == 0) {
                jetty += m.substr(14);
                ++jettyMessages;
            }
        EXPECT_NE(jetty.find(c.expectedOutput), std::string::npos) << c.what;
        std::vector<std::string> warnings;
        for (const std::string& m : log)
            if (m.rfind("WARNING ", 0) == 0)
                warnings.push_back(m);
        EXPECT_EQ(warnings, c.terminated ? std::vector<std::string>{"WARNING shutdown: Server process did not end "
                                                                    "within 5 s after the stop command; terminating it"}
                                         : std::vector<std::string>{})
            << c.what;
        if (std::string(c.what) == "flood") {
            // Every byte arrived (100-byte lines; the log turns inner breaks into continuations).
            size_t xs = 0;
            for (const std::string& m : log)
                xs += static_cast<size_t>(std::count(m.begin(), m.end(), 'x'));
            EXPECT_GE(xs, 4194304u / 100u * 99u) << jettyMessages << " chunks";
        }
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), "DEBUG5 shutdown: Server process terminated") << c.what;
        RemoveServiceIfPresent();
    }
}

// RUNNING means the server is up: its stop port answers. Until then the
// service is START_PENDING, with a check point that goes on rising.
TEST_F(ServiceTest, StartIsPendingUntilTheStopPortAnswers)
{
    Install install;
    SetServerMode(install.java(), "listen-after 3000");
    ASSERT_EQ(Command(install, L"install"), "Orvane Web UI service created successfully\n");
    RunResult start;
    ULONGLONG startReturnedAt = 0;
    std::thread starter([&] {
        start = RunCommand(Quote(install.exe()) + L" start", 60000);
        startReturnedAt = GetTickCount64();
    });
    EXPECT_TRUE(WaitForState(SERVICE_START_PENDING, 10000));
    SERVICE_STATUS before{}, later{};
    EXPECT_TRUE(QueryStatus(before));
    EXPECT_TRUE(WaitUntil([&] { return QueryStatus(later) && later.dwCheckPoint > before.dwCheckPoint; }, 10000));
    EXPECT_EQ(later.dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_EQ(later.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
    EXPECT_EQ(later.dwWaitHint, 10000u);

    ASSERT_TRUE(WaitForPortState(kStopPort, true, 30000));
    const ULONGLONG openAt = GetTickCount64();
    EXPECT_TRUE(WaitForState(SERVICE_RUNNING, 5000));
    printf("port open to RUNNING seen: %llu ms\n", GetTickCount64() - openAt);
    starter.join();
    EXPECT_EQ(start.output, "Orvane Web UI service started successfully\n");
    EXPECT_GE(startReturnedAt + 50, openAt) << "start said success before the server was up";

    unsigned readyMs = 0;
    for (const std::string& m : ReadLogMessages(install.log()))
        sscanf(m.c_str(), "INFO startup: Server is ready: its stop port answered after %u ms", &readyMs);
    EXPECT_GE(readyMs, 3000u);
}

// As a service, Java's output is kept: in a file that rotates at 10 MiB,
// and, when it dies, its last lines in the log.
TEST_F(ServiceTest, TheServersOutputGoesToARotatedFile)
{
    Install install;
    SetServerMode(install.java(), "spew 26214400");
    ASSERT_TRUE(Started(install));
    const std::wstring output = install.root() + L"\\logs\\server-output.log";
    for (const wchar_t* suffix : {L"", L".1", L".2"}) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(GetFileAttributesExW((output + suffix).c_str(), GetFileExInfoStandard, &data)) << Narrow(suffix);
        EXPECT_EQ(data.nFileSizeHigh, 0u);
        EXPECT_LE(data.nFileSizeLow, 10u * 1024 * 1024) << Narrow(suffix);
    }
    EXPECT_FALSE(FileExists(output + L".3"));
    EXPECT_EQ(ReadTextFile(output + L".2").rfind("---- ", 0), 0u) << "no header line first";
    const std::string current = ReadTextFile(output);
    EXPECT_NE(current.find("fake-java: serving, stop port " + std::to_string(kStopPort)), std::string::npos);
    EXPECT_NE(current.find("fake-java: serving (on stderr)"), std::string::npos);
    EXPECT_EQ(Command(install, L"stop"), "Orvane Web UI service stopped successfully\n");
    EXPECT_TRUE(WaitForNoProcessBelow(install.root(), 15000));
}

TEST_F(ServiceTest, AnOutputFileThatCannotBeOpenedCostsOneWarningAndOneCountOfTheDroppedBytes)
{
    Install install;
    const std::wstring output = install.exe() + L"\\under-a-file\\server-output.log";
    WriteTextFile(install.root() + L"\\etc\\launcher.conf", "[Launcher]\nServerOutputFile=" + Narrow(output) + "\n");
    ASSERT_TRUE(Started(install));
    EXPECT_EQ(Command(install, L"stop"), "Orvane Web UI service stopped successfully\n");
    int errors = 0, counts = 0;
    const std::string dropped = " bytes of the server's output were dropped while " + Narrow(output) + " could not be written";
    for (const std::string& m : ReadLogMessages(install.log())) {
        errors += m.rfind("WARNING output: Cannot open the server output file \"" + Narrow(output) + "\" (", 0) == 0;
        counts += m.size() > 20 && m.rfind("INFO output: ", 0) == 0 && atoi(m.c_str() + 13) > 0 &&
                  m.compare(m.size() - std::min(m.size(), dropped.size()), std::string::npos, dropped) == 0;
    }
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(counts, 1);
    EXPECT_TRUE(WaitForNoProcessBelow(install.root(), 15000));
}

TEST_F(ServiceTest, RestartOfARunningAndOfAStoppedService)
{
    Install install;
    ASSERT_TRUE(Started(install));
    // A new service process in RUNNING is a new run, with a new server.
    DWORD firstProcess = 0;
    ServiceState(OpenOurService(SERVICE_QUERY_STATUS).get(), &firstProcess);
    ASSERT_NE(firstProcess, 0u);
    EXPECT_EQ(Command(install, L"restart"), "Orvane Web UI service restarted successfully\n");
    DWORD secondProcess = 0;
    EXPECT_EQ(ServiceState(OpenOurService(SERVICE_QUERY_STATUS).get(), &secondProcess),
              static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_NE(secondProcess, firstProcess);

    EXPECT_EQ(Command(install, L"stop"), "Orvane Web UI service stopped successfully\n");
    EXPECT_EQ(Command(install, L"restart"), "Orvane Web UI service restarted successfully\n");
    EXPECT_EQ(CurrentState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ServiceTest, CheckIsADryRunThatPrintsTheServersCommandLine)
{
    ScopedEnv orvaneHome(L"ORVANE_HOME", nullptr), javaHome(L"JAVA_HOME", nullptr);
    ScopedEnv path(L"PATH", L"C:\\windows\\system32;C:\\windows");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kJavaSoftKey);
    Install install;
    WriteTextFile(install.root() + L"\\jetty-home\\start.jar", "PK");
    const std::string checked = Command(install, L"check", kCheckClean);
    EXPECT_NE(checked.find("Service ovWebUI: not installed\n"), std::string::npos) << checked;
    // Nothing written, nothing started.
    EXPECT_FALSE(FileExists(install.root() + L"\\logs"));
    EXPECT_FALSE(ReadInvocation(install.java(), "server").present);
    const std::string heading = "Server command line:\n  ";
    const size_t at = checked.find(heading);
    ASSERT_NE(at, std::string::npos) << checked;
    const std::string printed = checked.substr(at + heading.size(), checked.find('\n', at + heading.size()) -
                                                                        (at + heading.size()));

    ASSERT_TRUE(Started(install));
    EXPECT_EQ(printed, ReadInvocation(install.java(), "server").commandLine);
    const std::string running = Command(install, L"check", kCheckClean);
    EXPECT_NE(running.find("  that is this exe\n  running (process "), std::string::npos) << running;
    EXPECT_NE(running.find("  Jetty's stop port 127.0.0.1:17003: held by the running service ovWebUI (process "),
              std::string::npos)
        << running;

    // A refused value is a warning: the run goes on with the default.
    WriteTextFile(install.root() + L"\\etc\\launcher.conf", "[Launcher]\nLauncherLogFile=logs\\mine.log\n");
    const std::string warned = Command(install, L"check", kCheckWarnings);
    EXPECT_NE(warned.find("  WARNING: The value of LauncherLogFile is not an absolute path"), std::string::npos)
        << warned;

    Install bare(L"bare", /*withJava=*/false);
    WriteTextFile(bare.root() + L"\\jetty-home\\start.jar", "PK");
    const std::string noJava = Command(bare, L"check", kCheckWouldFail);
    EXPECT_NE(noJava.find("  ERROR: no Java runtime was found\n"), std::string::npos) << noJava;
    EXPECT_NE(noJava.find("  WARNING: the service runs another exe than this one"), std::string::npos) << noJava;
    EXPECT_EQ(noJava.find("Server command line:"), std::string::npos);
    EXPECT_FALSE(FileExists(bare.root() + L"\\logs"));
}

namespace {

// The stand-in's web UI; the real one's 8080 may be busy on this machine.
constexpr int kTestWebPort = 17080;

void SetWebMode(const Install& install, long openAfterMs, long muteAfterMs)
{
    WriteTextFile(install.root() + L"\\jre\\bin\\web-mode.txt",
                  std::to_string(kTestWebPort) + " " + std::to_string(openAfterMs) + " " + std::to_string(muteAfterMs));
}

}  // namespace

TEST_F(ServiceTest, StartWaitsForTheWebUiAndOneThatStopsAnsweringIsStoppedForARestart)
{
    ASSERT_TRUE(WaitForPortState(kTestWebPort, false, 30000)) << "port " << kTestWebPort << " is busy";
    Install install;
    SetWebMode(install, 2000, 6000);
    // The address comes from the Jetty base, as Jetty's start reads it.
    WriteTextFile(install.root() + L"\\jetty-base\\start.ini", "--module=http\njetty.http.port=17080\n");
    WriteTextFile(install.root() + L"\\etc\\launcher.conf",
                  "[Launcher]\nHealthCheckIntervalSeconds = 1\nHealthCheckTimeoutSeconds = 1\nHealthCheckFailures = 2\n");
    ASSERT_EQ(Command(install, L"install"), "Orvane Web UI service created successfully\n");
    EXPECT_EQ(Command(install, L"start"), "Orvane Web UI service started successfully\n");
    // The first request after start's success is answered, with no retry.
    HealthAddress address;
    ASSERT_EQ(ParseHealthUrl(L"http://127.0.0.1:17080/", address), HealthAddressParse::kAddress);
    int answer = 0;
    EXPECT_EQ(ProbeHealthAddress(address, nullptr, nullptr, 5000, 5000, answer), ProbeResult::kAnswered);
    EXPECT_EQ(answer, 200);

    ASSERT_TRUE(WaitForState(SERVICE_STOPPED, 60000));
    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryStatus(status));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(status.dwServiceSpecificExitCode, static_cast<DWORD>(kRunHealthFailed));
    const std::vector<std::string> messages = ReadLogMessages(install.log());
    unsigned readyMs = 0;
    for (const std::string& m : messages)
        sscanf(m.c_str(), "INFO startup: Server is ready: http://127.0.0.1:17080/ answered HTTP 200 after %u ms",
               &readyMs);
    EXPECT_GE(readyMs, 2000u);
    EXPECT_TRUE(Contains(messages, "WARNING health: http://127.0.0.1:17080/ has not answered 2 checks in a row "
                                   "(no answer in 1 s)"));
    // Stopped through its stop command, not killed, and not taken for a crash.
    EXPECT_TRUE(ReadInvocation(install.java(), "stop").present);
    for (const std::string& m : messages)
        EXPECT_EQ(m.find("WARNING shutdown:"), std::string::npos) << m;
    EXPECT_EQ(Command(install, L"status", kExitNotRunning),
              "ovWebUI: STOPPED (1066, code 4: the server stopped answering its health check)\n");
}

namespace {

// A listener of this process at `address`:`port`; empty when it cannot be.
UniqueSocket Listen(const char* address, int port)
{
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(address, std::to_string(port).c_str(), &hints, &found) != 0)
        return UniqueSocket();
    UniqueSocket listener(socket(found->ai_family, SOCK_STREAM, IPPROTO_TCP));
    if (listener && (bind(listener.get(), found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0 ||
                     listen(listener.get(), 4) != 0))
        listener.reset();
    freeaddrinfo(found);
    return listener;
}

}  // namespace

TEST_F(ServiceTest, APortHeldByAnotherProcessKeepsTheServerFromStarting)
{
    const std::string web = std::to_string(kTestWebPort), stop = std::to_string(kStopPort);
    const struct {
        const char* address;
        int port;
        std::string conf, checkSays, runSays;
    } cases[] = {
        {"127.0.0.1", kStopPort, "", "  ERROR: Jetty's stop port 127.0.0.1:" + stop + " is in use by ",
         "ERROR: Jetty's stop port " + stop + " is already in use by "},
        {"::1", kTestWebPort, "[Launcher]\nHealthCheckUrl = http://[::1]:" + web + "/\n",
         "  ERROR: the health address's port [::1]:" + web + " is in use by ",
         "ERROR: The server's web port " + web + " is already in use by "},
    };
    // Wine's TCP table names no owner; Windows' names this test.
    const auto heldBy = [](const std::string& text, const std::string& says) {
        return text.find(says + "another process") != std::string::npos ||
               text.find(says + "process " + std::to_string(GetCurrentProcessId()) + " (") != std::string::npos;
    };
    for (const auto& c : cases) {
        Install install;
        WriteTextFile(install.root() + L"\\etc\\launcher.conf", c.conf);
        const UniqueSocket stranger = Listen(c.address, c.port);
        if (!stranger && strchr(c.address, ':') != nullptr && !UniqueSocket(socket(AF_INET6, SOCK_STREAM, 0)))
            GTEST_SKIP() << "this machine has no IPv6";
        ASSERT_TRUE(stranger) << c.address << " port " << c.port << " is busy";
        const std::string checked = Command(install, L"check", kCheckWouldFail);
        EXPECT_TRUE(heldBy(checked, c.checkSays)) << checked;
        const RunResult run = RunCommand(Quote(install.exe()), 60000);
        EXPECT_EQ(run.exitCode, static_cast<DWORD>(kRunCreateFailed));
        EXPECT_TRUE(heldBy(run.output, c.runSays)) << run.output;
        EXPECT_FALSE(ReadInvocation(install.java(), "server").present);
        if (c.port != kStopPort)
            continue;
        EXPECT_NE(run.output.find("; is the service running? (ovwebui.exe status)\n"), std::string::npos);
        ASSERT_EQ(Command(install, L"install"), "Orvane Web UI service created successfully\n");
        EXPECT_EQ(Command(install, L"start", ERROR_SERVICE_SPECIFIC_ERROR),
                  "ERROR: Cannot start service named 'ovWebUI' (Jetty's stop port " + stop +
                      " is in use by another process; see the launcher log)\n");
        EXPECT_FALSE(ReadInvocation(install.java(), "server").present);
    }
}
