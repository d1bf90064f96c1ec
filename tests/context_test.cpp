// The installation context from real registry values in the test prefix,
// and the dispatch of the first argument by the built launcher.
#include <gtest/gtest.h>

#include <cwchar>

#include "launcher/context.h"
#include "launcher/version.h"
#include "tests/harness.h"

namespace {

struct Context {
    std::wstring installDir, configFile, home;
};

// Runs the entry point's set-up in this process, as the launcher would.
Context Settle()
{
    wmemset(g_installDir, 0, kPathChars);
    wmemset(g_configFile, 0, kPathChars);
    InitInstallContext();
    Context context{g_installDir, g_configFile, L""};
    wchar_t home[4096] = {};
    GetEnvironmentVariableW(kHomeVariable, home, 4096);
    context.home = home;
    return context;
}

class InstallContext : public ::testing::Test {
protected:
    void SetUp() override { ResetProductKey(); }
    ScopedEnv home_{kHomeVariable, L"old value"};
};

}  // namespace

TEST_F(InstallContext, WithoutTheKeyEverythingComesFromTheExecutable)
{
    const Context context = Settle();
    EXPECT_EQ(context.installDir, TestBinDir());
    EXPECT_EQ(context.configFile, TestBinDir() + L"\\etc\\launcher.conf");
    // An old OVWEBUI_HOME is replaced.
    EXPECT_EQ(context.home, TestBinDir());
}

TEST_F(InstallContext, EachValueAloneKeepsTheOtherFallback)
{
    {
        ScopedRegistryKey key(kRegistryKey);
        key.setString(L"LauncherConfigFile", L"D:\\no\\such\\file.conf");
        const Context context = Settle();
        EXPECT_EQ(context.configFile, L"D:\\no\\such\\file.conf");
        EXPECT_EQ(context.installDir, TestBinDir());
    }
    {
        ScopedRegistryKey key(kRegistryKey);
        key.setString(L"InstallDir", L"D:\\Orvane\\WebUI");
        const Context context = Settle();
        EXPECT_EQ(context.installDir, L"D:\\Orvane\\WebUI");
        EXPECT_EQ(context.configFile, L"D:\\Orvane\\WebUI\\etc\\launcher.conf");
        EXPECT_EQ(context.home, L"D:\\Orvane\\WebUI");
    }
}

TEST_F(InstallContext, TrailingBackslashesDriveRootAndEmptyValue)
{
    const struct {
        const wchar_t* stored;
        std::wstring expected;
    } cases[] = {
        {L"D:\\App\\", L"D:\\App"},
        {L"D:\\App\\\\", L"D:\\App\\"},  // only one is removed
        {L"D:\\", L"D:"},
        {L"", TestBinDir()},  // present but empty counts as absent
    };
    for (const auto& c : cases) {
        ScopedRegistryKey key(kRegistryKey);
        key.setString(L"InstallDir", c.stored);
        const Context context = Settle();
        EXPECT_EQ(context.installDir, c.expected) << Narrow(c.stored);
        EXPECT_EQ(context.configFile, c.expected + L"\\etc\\launcher.conf") << Narrow(c.stored);
    }
}

TEST_F(InstallContext, LongInstallDirCutsTheDefaultConfigPathTo259)
{
    std::wstring dir = L"D:\\";
    dir.append(242 - dir.size(), L'a');
    ScopedRegistryKey key(kRegistryKey);
    key.setString(L"InstallDir", dir);
    const Context context = Settle();
    EXPECT_EQ(context.installDir, dir);
    EXPECT_EQ(context.configFile.size(), 259u);
    EXPECT_EQ(context.configFile, (dir + L"\\etc\\launcher.conf").substr(0, 259));
}

// Which values read as strings is tested in registry_test.cpp; here, that
// the install's values are read by that rule into path-sized buffers.
TEST_F(InstallContext, ValuesThatAreNotUsableStringsCountAsAbsent)
{
    const std::wstring fallback = TestBinDir();
    {
        const DWORD number = 42;
        ScopedRegistryKey key(kRegistryKey);
        key.setRaw(L"InstallDir", REG_DWORD, &number, sizeof(number));
        EXPECT_EQ(Settle().installDir, fallback);
        // REG_EXPAND_SZ is a string, taken as stored: unexpanded, this one is
        // relative and refused by name, as is a relative configuration file.
        key.setString(L"InstallDir", L"%SystemDrive%\\App", REG_EXPAND_SZ);
        key.setString(L"LauncherConfigFile", L"etc\\other.conf");
        const Context refused = Settle();
        EXPECT_EQ(refused.installDir, fallback);
        EXPECT_EQ(refused.configFile, fallback + L"\\etc\\launcher.conf");
        ASSERT_EQ(g_contextWarnings.size(), 2u);
        EXPECT_NE(g_contextWarnings[0].find(L"LauncherConfigFile (\"etc\\other.conf\") is not an absolute"),
                  std::wstring::npos);
        EXPECT_NE(g_contextWarnings[1].find(L"InstallDir (\"%SystemDrive%\\App\") is not an absolute"),
                  std::wstring::npos);
    }
    {
        // 259 characters fit; 260 do not, with or without a terminator.
        ScopedRegistryKey key(kRegistryKey);
        const std::wstring fits = L"D:\\" + std::wstring(256, L'f');
        key.setString(L"InstallDir", fits);
        EXPECT_EQ(Settle().installDir, fits);
        const std::wstring tooLong = fits + L"g";
        key.setString(L"InstallDir", tooLong);
        EXPECT_EQ(Settle().installDir, fallback);
        key.setRaw(L"InstallDir", REG_SZ, tooLong.c_str(), static_cast<DWORD>(tooLong.size() * sizeof(wchar_t)));
        EXPECT_EQ(Settle().installDir, fallback);
        const std::wstring long1000(1000, L'x');
        key.setString(L"LauncherConfigFile", long1000);
        EXPECT_EQ(Settle().configFile, fallback + L"\\etc\\launcher.conf");
    }
}

TEST(Dispatch, UnknownFirstArgumentsAreRejectedWithExitCode3)
{
    const struct {
        std::wstring argument;
        std::string printed;
    } cases[] = {
        {L"bogus", "Invalid command line option \"bogus\"\n"},
        {L"\"\"", "Invalid command line option \"\"\n"},
        {L"-install", "Invalid command line option \"-install\"\n"},
        {L"\"install \"", "Invalid command line option \"install \"\n"},
        {L"caf\u00E9", "Invalid command line option \"caf\xC3\xA9\"\n"},
    };
    for (const auto& c : cases) {
        const RunResult result = RunCommand(Quote(LauncherExe()) + L" " + c.argument + L" ignored-extra");
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 3u) << Narrow(c.argument);
        EXPECT_EQ(result.output, c.printed + "Run 'ovwebui.exe help' for the command words.\n");
    }
}

TEST(Dispatch, HelpAndVersionWordsExitWith0)
{
    // Every spelling is tried natively; here, that the exe answers them.
    const RunResult help = RunCommand(Quote(LauncherExe()) + L" -H");
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_EQ(help.output.substr(0, help.output.find('\n')), "Usage: ovwebui.exe [command]");
    EXPECT_NE(help.output.find("Configuration file: " + Narrow(TestBinDir()) + "\\etc\\launcher.conf\n"),
              std::string::npos);
    const RunResult version = RunCommand(Quote(LauncherExe()) + L" --VERSION");
    EXPECT_EQ(version.exitCode, 0u);
    EXPECT_EQ(version.output, "ovwebui " OV_VERSION_TEXT "\n");
}

TEST(Dispatch, CommandWordsInAnyCaseAreRecognised)
{
    // "service" from a console cannot reach the dispatcher: its own message,
    // exit code 0. (Wine takes about ten seconds to give up, so once only.)
    for (const wchar_t* word : {L"SeRvIcE"}) {
        const RunResult result = RunCommand(Quote(LauncherExe()) + L" " + word);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.output.rfind("StartServiceCtrlDispatcher() failed: ", 0), 0u) << result.output;
        EXPECT_EQ(result.output.back(), '\n');
        EXPECT_EQ(result.output.find("Invalid"), std::string::npos);
    }
    // "STOP" reaches the service command (the service is not installed).
    const RunResult stop = RunCommand(Quote(LauncherExe()) + L" STOP");
    EXPECT_EQ(stop.exitCode, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(stop.output.rfind("ERROR: Cannot open service named 'ovWebUI' (", 0), 0u) << stop.output;
}
