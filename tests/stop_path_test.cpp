// The launcher run and the stop path inside this process, with the
// stand-in Java: the run on one thread, the console's Ctrl+C on another.
// A stop request is final for a process, so the whole story is one test in
// an executable of its own.
#include <gtest/gtest.h>

#include <thread>

#include "app/console_control.h"
#include "launcher/context.h"
#include "launcher/java.h"
#include "launcher/stop.h"
#include "tests/harness.h"

namespace {
DWORD HandleCount()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

std::vector<std::string> Messages(const std::wstring& log, const char* prefix)
{
    std::vector<std::string> found;
    for (const std::string& m : ReadLogMessages(log))
        if (m.rfind(prefix, 0) == 0)
            found.push_back(m);
    return found;
}
}  // namespace

TEST(RunAndStopInOneProcess, NoHandleLeaksAndTheStopOnlyEverReachesOurServer)
{
    Install install;
    SetServerMode(install.java(), "exit 0");
    ScopedEnv orvane(L"ORVANE_HOME", nullptr);
    ScopedEnv javaHome(L"JAVA_HOME", nullptr);
    wcslcpy(g_installDir, install.root().c_str(), kPathChars);
    wcslcpy(g_configFile, (install.root() + L"\\etc\\launcher.conf").c_str(), kPathChars);
    SetEnvironmentVariableW(kHomeVariable, g_installDir);

    // Whole foreground runs in a loop: the handle count must not grow.
    ASSERT_EQ(RunLauncher(), kRunServerEnded);
    const DWORD before = HandleCount();
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(RunLauncher(), kRunServerEnded);
    EXPECT_LE(HandleCount(), before + 1) << "before " << before << ", after " << HandleCount();

    // The stop command's executor alone, in a loop (nothing listens: it complains and ends).
    const DWORD beforeStops = HandleCount();
    for (int i = 0; i < 10; ++i) {
        StringBuffer line;
        ComposeStopCommandLine(line, g_javaExecutable, g_installDir);
        LoggingProcessExecutor executor(line.getText());
        executor.execute();
        executor.waitForCompletion(kStopCommandWaitMs);
    }
    EXPECT_LE(HandleCount(), beforeStops + 1);

    // A serving server, stopped by Ctrl+C as in the foreground: the console
    // handler only asks, and the run does the graceful stop. This server
    // never saw the Ctrl+C, so after its grace the stop command stops it.
    SetServerMode(install.java(), "serve");
    DeleteFileW(install.log().c_str());
    // The run keeps this thread, as in the foreground; the event comes from
    // another, as Windows delivers console events.
    // The server outlives the Ctrl+C by its grace: a handler that waited
    // for the stop would return only once it is gone.
    bool returnedBeforeTheEnd = false;
    ULONGLONG stopAt = 0;
    std::thread console([&] {
        if (!WaitForPortState(kStopPort, true, 30000))
            return;
        stopAt = GetTickCount64();
        ConsoleCtrlHandler(CTRL_C_EVENT);
        returnedBeforeTheEnd = CountProcessesBelow(install.root()) > 0;
    });
    const int status = RunLauncher();
    const ULONGLONG endedAt = GetTickCount64();
    console.join();
    ASSERT_NE(stopAt, 0u) << "the stand-in never listened";
    EXPECT_TRUE(returnedBeforeTheEnd) << "the console handler must not wait for the stop";
    EXPECT_GE(endedAt - stopAt, 5000u) << "the server got no time to end on the Ctrl+C itself";
    EXPECT_EQ(status, kRunServerEnded);
    EXPECT_FALSE(LastRunOutcome().serverEndedOnItsOwn);
    EXPECT_TRUE(ReadInvocation(install.java(), "stop").present);
    // The stop command's whole output is logged before the server's end,
    // and a requested stop is no warning.
    const std::vector<std::string> log = ReadLogMessages(install.log());
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.back(), "DEBUG5 shutdown: Server process terminated");
    EXPECT_EQ(log[log.size() - 2].rfind("DEBUG5 jetty: ", 0), 0u) << log[log.size() - 2];
    EXPECT_TRUE(Messages(install.log(), "WARNING").empty());

    // After a stop no server is started any more.
    DeleteFileW((install.root() + L"\\jre\\bin\\server-invocation.txt").c_str());
    EXPECT_EQ(RunLauncher(), kRunServerEnded);
    EXPECT_FALSE(ReadInvocation(install.java(), "server").present);
    EXPECT_TRUE(Contains(ReadLogMessages(install.log()),
                         "INFO startup: Stop requested before the server started; not starting it"));
}
