// Whole foreground runs of the built launcher with the stand-in java.exe.
#include "launcher/context.h"
#include "launcher/java.h"
#include "launcher/version.h"
#include "tests/launcher_fixture.h"

using LauncherRun = LauncherRunTest;

TEST_F(LauncherRun, DefaultsWithoutConfigurationFile)
{
    Install install;
    SetServerMode(install.java(), "exit 0");
    TempDir cwd(L"cwd");
    ScopedEnv home(kHomeVariable, L"C:\\stale\\value");
    const RunResult result = Run(install, cwd.path().c_str());
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);

    const std::wstring dir = install.root();
    const std::string line = ExpectedServerLine(install.java(), dir, dir + L"\\logs\\jetty.log",
                                                dir + L"\\logs\\ovmc.log");
    const Invocation server = ReadInvocation(install.java(), "server");
    ASSERT_TRUE(server.present);
    EXPECT_EQ(server.commandLine, line);
    // The server inherits the launcher's current folder and the new OVWEBUI_HOME.
    EXPECT_EQ(server.currentDir, Narrow(cwd.path()));
    EXPECT_EQ(server.home, Narrow(dir));

    const std::vector<std::string> expected = {
        "INFO startup: Orvane Web UI launcher " OV_VERSION_TEXT " starting",
        "DEBUG3 java: FindJavaRuntime: checking " + Narrow(install.java()) + " (executable path)",
        "INFO java: Using Java executable \"" + Narrow(install.java()) + "\"",
        "DEBUG1 startup: Java command line: " + line,
        "DEBUG5 startup: Server process started",
        "WARNING shutdown: Server process ended on its own with exit code 0",
        "DEBUG5 shutdown: Server process terminated",
    };
    EXPECT_EQ(ReadLogMessages(install.log()), expected);
}

TEST_F(LauncherRun, EveryKeySetAndExpandedExceptTheHeapLimit)
{
    Install install;
    SetServerMode(install.java(), "exit 0");
    TempDir logs(L"logs");
    ScopedEnv logRoot(L"OV_TEST_LOGS", logs.path().c_str());
    ScopedEnv memory(L"OV_TEST_MEM", L"512m");
    WriteTextFile(install.root() + L"\\etc\\launcher.conf",
                  "[Launcher]\r\n"
                  "LauncherLogFile = %OV_TEST_LOGS%\\own\\launcher.log\r\n"
                  "JettyLogFile = %OV_TEST_LOGS%\\jetty.log\r\n"
                  "ApplicationLogFile = %OVWEBUI_HOME%\\app.log\r\n"
                  "JavaMaxMemory = %OV_TEST_MEM%\r\n");
    EXPECT_EQ(Run(install).exitCode, 0u);
    // Unexpanded, "%OV_TEST_MEM%" is no size: no -Xmx at all.
    const std::string line = ExpectedServerLine(install.java(), install.root(), logs / L"jetty.log",
                                                install.root() + L"\\app.log");
    EXPECT_EQ(ReadInvocation(install.java(), "server").commandLine, line);
    const std::vector<std::string> messages = ReadLogMessages(logs / L"own\\launcher.log");
    EXPECT_TRUE(Contains(messages, "DEBUG1 startup: Java command line: " + line));
    EXPECT_FALSE(FileExists(install.log()));
}

TEST_F(LauncherRun, HeapLimitAbsentNotASizeOrSet)
{
    Install install;
    SetServerMode(install.java(), "exit 0");
    const std::wstring dir = install.root();
    const std::wstring conf = dir + L"\\etc\\launcher.conf";
    const struct {
        const char* file;
        const wchar_t* maxMemory;
        bool warned;
    } cases[] = {
        {"[Launcher]\n; JavaMaxMemory = 1g\n", nullptr, false},
        {"[Launcher]\nJavaMaxMemory =\n", nullptr, true},
        {"[Launcher]\nJavaMaxMemory = 1g\n", L"1g", false},
        {"[Launcher]\nJavaMaxMemory = 512m -javaagent:x.jar\n", nullptr, true},
        {"[Other]\nJavaMaxMemory = 1g\n", nullptr, false},
    };
    for (const auto& c : cases) {
        WriteTextFile(conf, c.file);
        DeleteFileW(install.log().c_str());
        EXPECT_EQ(Run(install).exitCode, 0u);
        EXPECT_EQ(ReadInvocation(install.java(), "server").commandLine,
                  ExpectedServerLine(install.java(), dir, dir + L"\\logs\\jetty.log", dir + L"\\logs\\ovmc.log",
                                     c.maxMemory))
            << c.file;
        EXPECT_EQ(Contains(ReadLogMessages(install.log()), "WARNING startup: The value of JavaMaxMemory is not a size; "
                                                           "leaving the heap size to Java"),
                  c.warned)
            << c.file;
    }
}

TEST_F(LauncherRun, PathValuesReachJavaWhole)
{
    Install install(L"with blanks and caf\u00E9");
    SetServerMode(install.java(), "exit 0");
    const std::wstring dir = install.root();
    const std::wstring conf = dir + L"\\etc\\launcher.conf";
    // Trailing backslashes would escape the closing quote if left single.
    WriteTextFile(conf, "[Launcher]\nJettyLogFile=D:\\logs\\\nApplicationLogFile=D:\\app logs\\\\\n");
    EXPECT_EQ(Run(install).exitCode, 0u);
    EXPECT_EQ(ReadInvocation(install.java(), "server").arguments,
              ExpectedServerArgs(install.java(), dir, L"D:\\logs\\", L"D:\\app logs\\\\"));

    // A quote, which no path holds, would add arguments of its own; a
    // relative path would resolve against the current folder (a service's
    // is System32): both refused.
    TempDir cwd(L"cwd");
    WriteTextFile(conf, "[Launcher]\nJettyLogFile=D:\\x\" -Dinjected=\"1\nApplicationLogFile=\\app.log\n"
                        "LauncherLogFile=launcher.log\n");
    EXPECT_EQ(Run(install, cwd.path().c_str()).exitCode, 0u);
    EXPECT_FALSE(FileExists(cwd / L"launcher.log"));
    EXPECT_EQ(ReadInvocation(install.java(), "server").arguments,
              ExpectedServerArgs(install.java(), dir, dir + L"\\logs\\jetty.log", dir + L"\\logs\\ovmc.log"));
    const std::vector<std::string> messages = ReadLogMessages(install.log());
    const std::string relative = " is not an absolute path (a drive letter and backslash, or \\\\server\\share); "
                                 "using its default";
    EXPECT_TRUE(Contains(messages, "WARNING startup: The value of LauncherLogFile" + relative));
    EXPECT_TRUE(Contains(messages, "WARNING startup: The value of ApplicationLogFile" + relative));
    EXPECT_TRUE(Contains(messages, "WARNING startup: The value of JettyLogFile holds a double quote, which no path "
                                   "can hold; using its default"));
}

TEST_F(LauncherRun, ExpandedValuesThatWouldNotFitTakeTheirDefault)
{
    Install install;
    SetServerMode(install.java(), "exit 0");
    const std::wstring dir = install.root();
    // Once expanded: 259 characters are used; 260 fall back to the default.
    const std::wstring fits = L"C:\\" + std::wstring(259 - 3, L'a');
    const std::wstring tooLong = L"C:\\" + std::wstring(260 - 3, L'b');
    ScopedEnv longValue(L"OV_TEST_LONG", tooLong.c_str());
    WriteTextFile(dir + L"\\etc\\launcher.conf",
                  "[Launcher]\nJettyLogFile=" + Narrow(fits) + "\nApplicationLogFile=%OV_TEST_LONG%\n"
                  "LauncherLogFile=%OV_TEST_LONG%\n");
    EXPECT_EQ(Run(install).exitCode, 0u);
    EXPECT_EQ(ReadInvocation(install.java(), "server").commandLine,
              ExpectedServerLine(install.java(), dir, fits, dir + L"\\logs\\ovmc.log"));
    const std::vector<std::string> messages = ReadLogMessages(install.log());
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[1].rfind("WARNING startup: The value of LauncherLogFile is too long", 0), 0u);
    EXPECT_TRUE(Contains(messages, "WARNING startup: The value of ApplicationLogFile is too long once expanded "
                                   "(259 characters at most); using its default"));
}

TEST_F(LauncherRun, ServerThatFailsAtOnceStillGivesStatus0)
{
    Install install;
    SetServerMode(install.java(), "exit 5");
    const RunResult run = Run(install);
    EXPECT_EQ(run.exitCode, 0u);
    // In the foreground Java writes on the launcher's console, as ever.
    EXPECT_NE(run.output.find("fake-java: error: exit code 5"), std::string::npos) << run.output;
    EXPECT_FALSE(FileExists(install.root() + L"\\logs\\server-output.log"));
    const std::vector<std::string> messages = ReadLogMessages(install.log());
    EXPECT_TRUE(Contains(messages, "DEBUG5 startup: Server process started"));
    EXPECT_TRUE(Contains(messages, "DEBUG5 shutdown: Server process terminated"));
}

TEST_F(LauncherRun, JavaThatCannotBeStartedGivesStatus2)
{
    // A folder named java.exe passes the existence test but cannot run.
    Install install(L"install", false);
    MakeFolders(install.java());
    EXPECT_EQ(Run(install).exitCode, 2u);
    const std::vector<std::string> messages = ReadLogMessages(install.log());
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[2], "INFO java: Using Java executable \"" + Narrow(install.java()) + "\"");
    EXPECT_EQ(messages[3].rfind("DEBUG1 startup: Java command line: \"", 0), 0u);
    // "Cannot create process (Error 0x%08x: %s)" with eight hex digits and the system's text.
    const std::string& error = messages[4];
    const std::string prefix = "ERROR startup: Cannot create process (Error 0x";
    ASSERT_EQ(error.rfind(prefix, 0), 0u) << error;
    const std::string rest = error.substr(prefix.size());
    EXPECT_EQ(rest.find_first_not_of("0123456789abcdef"), 8u) << error;
    EXPECT_EQ(rest.compare(8, 2, ": "), 0) << error;
    EXPECT_GT(rest.size(), 11u) << error;
    EXPECT_EQ(error.back(), ')');
}

TEST_F(LauncherRun, LogInAFolderThatCannotBeCreatedGoesToStandardError)
{
    Install install;
    SetServerMode(install.java(), "exit 0");
    // A file stands where the log's folder should be.
    WriteTextFile(install.root() + L"\\blocked", "x");
    WriteTextFile(install.root() + L"\\etc\\launcher.conf",
                  "[Launcher]\nLauncherLogFile=%OVWEBUI_HOME%\\blocked\\launcher.log\n");
    const RunResult result = Run(install);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_NE(result.output.find("INFO java: Using Java executable"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("DEBUG5 shutdown: Server process terminated"), std::string::npos);
}
