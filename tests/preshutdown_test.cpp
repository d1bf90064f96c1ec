// The service's control handler inside this process, for the controls that
// Wine never sends: a pre-shutdown runs the same graceful stop as a stop,
// and the handler returns at once. A stop request is final for a process,
// hence an executable of its own.
#include <gtest/gtest.h>

#include <thread>

#include "launcher/context.h"
#include "service/host.h"
#include "tests/harness.h"

TEST(ServiceControlInProcess, PreshutdownRunsTheGracefulStopAndTheHandlerReturnsAtOnce)
{
    Install install;
    ScopedEnv orvane(L"ORVANE_HOME", nullptr);
    ScopedEnv javaHome(L"JAVA_HOME", nullptr);
    wcslcpy(g_installDir, install.root().c_str(), kPathChars);
    wcslcpy(g_configFile, (install.root() + L"\\etc\\launcher.conf").c_str(), kPathChars);
    SetEnvironmentVariableW(kHomeVariable, g_installDir);

    // The run keeps this thread, as it keeps the service thread; the
    // control comes from another, as from the dispatcher.
    // The server takes 1 s after its answer, so a handler that waited for
    // the stop would return only once the server is gone.
    SetServerMode(install.java(), "slow-stop 1000");
    bool handled = false, returnedBeforeTheEnd = false;
    std::thread control([&] {
        if (!WaitForPortState(kStopPort, true, 30000))
            return;
        ServiceCtrlHandler(SERVICE_CONTROL_PRESHUTDOWN, 0, nullptr, nullptr);
        handled = true;
        returnedBeforeTheEnd = CountProcessesBelow(install.root()) > 0;
    });
    const int status = RunLauncher();
    control.join();
    ASSERT_TRUE(handled) << "the stand-in never listened";
    EXPECT_TRUE(returnedBeforeTheEnd) << "the handler must hand the stop over and return";
    EXPECT_EQ(status, kRunServerEnded);
    EXPECT_FALSE(LastRunOutcome().serverEndedOnItsOwn);
    EXPECT_TRUE(ReadInvocation(install.java(), "stop").present) << "no graceful stop: the stop command never ran";
    EXPECT_TRUE(WaitForPortState(kStopPort, false, 5000));
    EXPECT_EQ(CountProcessesBelow(install.root()), 0);
}
