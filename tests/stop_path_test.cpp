// The launcher run and the stop path inside this process, as the service
// runs them (run on one thread, stop on another), with the stand-in Java.
// A stop request is final for a process, so the whole story is one test in
// an executable of its own.
#include <gtest/gtest.h>

#include <thread>

#include "launcher/launcher.h"
#include "service/service.h"
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

    // A serving server, stopped from another thread through the stop port.
    SetServerMode(install.java(), "serve");
    DeleteFileW(install.log().c_str());
    int status = -1;
    std::thread run([&status] { status = RunLauncher(); });
    ASSERT_TRUE(WaitForPortState(17003, true, 30000));
    const ULONGLONG stopAt = GetTickCount64();
    StopServer();
    run.join();
    EXPECT_LT(GetTickCount64() - stopAt, 10000u);
    EXPECT_EQ(status, kRunServerEnded);
    // The stop command's whole output is logged before the server's end.
    const std::vector<std::string> log = ReadLogMessages(install.log());
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.back(), "DEBUG5 shutdown: Server process terminated");
    EXPECT_EQ(log[log.size() - 2].rfind("DEBUG5 jetty: ", 0), 0u) << log[log.size() - 2];
    EXPECT_FALSE(Messages(install.log(), "DEBUG5 jetty: ").empty());

    // The server is gone and its handle withdrawn: a second stop runs no
    // stop command and terminates nothing.
    DeleteFileW((install.root() + L"\\jre\\bin\\stop-invocation.txt").c_str());
    UniqueKernelHandle stillHeld(RequestServerStop());
    EXPECT_FALSE(stillHeld);
    StopServer();
    EXPECT_FALSE(ReadInvocation(install.java(), "stop").present);

    // After a stop no server is started any more.
    DeleteFileW((install.root() + L"\\jre\\bin\\server-invocation.txt").c_str());
    EXPECT_EQ(RunLauncher(), kRunServerEnded);
    EXPECT_FALSE(ReadInvocation(install.java(), "server").present);
    EXPECT_TRUE(Contains(ReadLogMessages(install.log()),
                         "INFO startup: Stop requested before the server started; not starting it"));
}
