// A clean stage for runs of the built launcher: no Orvane or JavaSoft
// registry keys, no Java variables, and a search path without java.exe.
#pragma once

#include <gtest/gtest.h>

#include "tests/harness.h"

constexpr wchar_t kJavaSoftKey[] = L"SOFTWARE\\JavaSoft\\Java Runtime Environment";

class LauncherRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetProductKey();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kJavaSoftKey);
    }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kJavaSoftKey); }

    // Runs `install`'s launcher with no argument from `workingDir`.
    RunResult Run(const Install& install, const wchar_t* workingDir = nullptr)
    {
        return RunCommand(Quote(install.exe()), 60000, workingDir);
    }

    ScopedEnv orvaneHome_{L"ORVANE_HOME", nullptr};
    ScopedEnv javaHome_{L"JAVA_HOME", nullptr};
    ScopedEnv winePath_{L"WINEPATH", nullptr};
    ScopedEnv path_{L"PATH", L"C:\\windows\\system32;C:\\windows"};
};

// The server command line that the launcher composes for these values.
inline std::string ExpectedServerLine(const std::wstring& java, const std::wstring& dir, const std::wstring& jettyLog,
                                      const std::wstring& appLog, const wchar_t* maxMemory = nullptr)
{
    std::wstring line = L"\"" + java + L"\" -Djetty.home=\"" + dir + L"\\jetty-home\" -Djetty.base=\"" + dir +
                        L"\\jetty-base\" -Djetty.logfile=\"" + jettyLog + L"\" -Dovmc.logfile=\"" + appLog + L"\"";
    if (maxMemory != nullptr)
        line += std::wstring(L" -Xmx") + maxMemory;
    line += L" -jar \"" + dir + L"\\jetty-home\\start.jar\" jetty.server.stopAtShutdown=true stop.port=" OV_STOP_PORT
                                 L" stop.key=" OV_STOP_KEY;
    return Narrow(line);
}

// The arguments that Java must receive from that line, each whole.
inline std::vector<std::string> ExpectedServerArgs(const std::wstring& java, const std::wstring& dir,
                                                   const std::wstring& jettyLog, const std::wstring& appLog)
{
    return {Narrow(java),
            Narrow(L"-Djetty.home=" + dir + L"\\jetty-home"),
            Narrow(L"-Djetty.base=" + dir + L"\\jetty-base"),
            Narrow(L"-Djetty.logfile=" + jettyLog),
            Narrow(L"-Dovmc.logfile=" + appLog),
            "-jar",
            Narrow(dir + L"\\jetty-home\\start.jar"),
            "jetty.server.stopAtShutdown=true",
            "stop.port=" + std::to_string(kStopPort),
            Narrow(L"stop.key=" OV_STOP_KEY)};
}
