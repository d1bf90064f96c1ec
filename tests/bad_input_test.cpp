// Hand-written and hostile input: configuration files, long install
// folders, unusual Java registrations, a log file held by someone else.
// Each must end in documented behaviour: no crash, a default or a message.
#include "launcher/context.h"
#include "launcher/java.h"
#include "support/error_text.h"
#include "tests/launcher_fixture.h"

namespace {

std::string DefaultLine(const Install& install, const wchar_t* maxMemory = nullptr)
{
    const std::wstring dir = install.root();
    return ExpectedServerLine(install.java(), dir, dir + L"\\logs\\jetty.log", dir + L"\\logs\\ovmc.log", maxMemory);
}

std::string Utf16WithoutBom(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    return bytes;
}

}  // namespace

using BadInput = LauncherRunTest;

TEST_F(BadInput, ConfigurationFilesOfEveryKind)
{
    Install install;
    SetServerMode(install.java(), "exit 0");
    const std::wstring conf = install.root() + L"\\etc\\launcher.conf";

    std::string junk;
    unsigned seed = 12345;
    for (int i = 0; i < 65536; ++i) {
        seed = seed * 1103515245u + 12345u;
        junk.push_back(static_cast<char>(seed >> 16));
    }
    const struct {
        const char* what;
        std::string file;
        const wchar_t* maxMemory;
    } cases[] = {
        {"binary junk", junk, nullptr},
        {"junk line of 1 MiB", "[Launcher]\n" + std::string(1 << 20, 'j') + "\nJavaMaxMemory=1g\n", L"1g"},
        {"UTF-16 without BOM", Utf16WithoutBom(L"[Launcher]\r\nJavaMaxMemory = 64m\r\n"), L"64m"},
        {"without the section", "JavaMaxMemory=1g\n[Other]\nJavaMaxMemory=2g\n", nullptr},
        {"section twice", "[Launcher]\nLauncherLogFile=%OVWEBUI_HOME%\\logs\\launcher.log\n[Other]\nx=y\n"
                          "[Launcher]\nJavaMaxMemory=3g\n", L"3g"},
        {"empty file", "", nullptr},
    };
    for (const auto& c : cases) {
        WriteTextFile(conf, c.file);
        const RunResult result = Run(install);
        EXPECT_EQ(result.exitCode, 0u) << c.what;
        EXPECT_EQ(ReadInvocation(install.java(), "server").commandLine, DefaultLine(install, c.maxMemory)) << c.what;
    }
}

TEST_F(BadInput, ConfigurationThatIsNotAFileGivesTheDefaultsAtOnce)
{
    Install install;
    SetServerMode(install.java(), "exit 0");
    // A pipe whose server never writes would hold a reader for ever.
    const std::wstring pipeName = L"\\\\.\\pipe\\ovwebui-silent-" + std::to_wstring(GetCurrentProcessId());
    UniqueFileHandle pipe(CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                           4096, 4096, 0, nullptr));
    ASSERT_TRUE(pipe);
    for (const std::wstring& config : {pipeName, install.root()}) {
        ScopedRegistryKey key(kRegistryKey);
        key.setString(L"LauncherConfigFile", config);
        DeleteFileW(install.log().c_str());
        // A run that read the pipe would never end.
        const RunResult result = RunCommand(Quote(install.exe()), 20000);
        ASSERT_TRUE(result.finished) << Narrow(config) << " " << result.output;
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(ReadInvocation(install.java(), "server").commandLine, DefaultLine(install));
        const std::vector<std::string> messages = ReadLogMessages(install.log());
        ASSERT_GE(messages.size(), 2u);
        EXPECT_EQ(messages[1],
                  "WARNING startup: The configuration file \"" + Narrow(config) + "\" is not a file; using the defaults");
    }
}

TEST_F(BadInput, CommandLinesOverTheWindowsLimitAreRefused)
{
    // 32767 characters is CreateProcessW's limit; Wine would cut the line
    // (and with it the stop channel) instead of refusing it.
    Install install;
    SetServerMode(install.java(), "exit 0");
    const size_t baseLength = DefaultLine(install, L"").size();
    for (size_t total : {32766u, 32767u, 1u << 20}) {
        const std::string value(total - baseLength, '9');
        WriteTextFile(install.root() + L"\\etc\\launcher.conf", "[Launcher]\nJavaMaxMemory=" + value + "\n");
        DeleteFileW(install.log().c_str());
        const RunResult result = Run(install);
        const std::vector<std::string> messages = ReadLogMessages(install.log());
        ASSERT_FALSE(messages.empty());
        if (total < 32767) {
            EXPECT_EQ(result.exitCode, 0u);
            EXPECT_EQ(ReadInvocation(install.java(), "server").commandLine.size(), total);
        } else {
            EXPECT_EQ(result.exitCode, 2u) << total;
            wchar_t text[kErrorTextChars];
            EXPECT_EQ(messages.back(), "ERROR startup: Cannot create process (Error 0x000000ce: " +
                                           Narrow(GetSystemErrorText(ERROR_FILENAME_EXCED_RANGE, text,
                                                                     kErrorTextChars)) + ")");
        }
    }
}

TEST_F(BadInput, InstallFoldersAtTheLengthLimit)
{
    // The private runtime's path fits up to a 242-character folder; past
    // that it would be cut, so it is not tried at all. The default log path
    // fits up to 241; past that the log goes to standard error.
    for (size_t length : {241u, 242u, 259u}) {
        std::wstring dir = L"C:\\";
        dir.append(length - dir.size(), L'L');
        ScopedRegistryKey key(kRegistryKey);
        key.setString(L"InstallDir", dir);
        Install install;
        const RunResult result = Run(install);
        const std::string log = length <= 241 ? ReadTextFile(dir + L"\\logs\\launcher.log") : result.output;
        RemoveTree(dir);
        EXPECT_EQ(result.exitCode, 1u) << length;
        const std::string check =
            "DEBUG3 java: FindJavaRuntime: checking " + Narrow(dir) + "\\jre\\bin\\java.exe (executable path)";
        EXPECT_EQ(log.find(check) != std::string::npos, length <= 242) << length << log;
        EXPECT_EQ(log.find("WARNING startup: The value of LauncherLogFile is too long") != std::string::npos,
                  length > 241)
            << length;
        EXPECT_NE(log.find("ERROR java: Cannot find suitable Java runtime environment"), std::string::npos) << length;
    }
}

TEST_F(BadInput, JavaHomeStoredExpandableIsTakenUnexpanded)
{
    Install install(L"install", false);
    TempDir java(L"java");
    const std::wstring home = java / L"home";
    PlaceFakeJava(home + L"\\bin\\java.exe");
    SetServerMode(home + L"\\bin\\java.exe", "exit 0");
    ScopedRegistryKey key(kJavaSoftKey);
    key.setString(L"CurrentVersion", L"11");
    UniqueRegistryKey version;
    RegCreateKeyExW(key.get(), L"11", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, version.put(), nullptr);
    auto setHome = [&](DWORD type, const void* data, DWORD bytes) {
        RegSetValueExW(version.get(), L"JavaHome", 0, type, static_cast<const BYTE*>(data), bytes);
    };
    // Which types read as strings is tested in registry_test.cpp; here, that
    // the search does not expand what it reads: REG_EXPAND_SZ is taken as
    // stored, no absolute path then, although the variable names the home.
    ScopedEnv where(L"OV_TEST_JAVA", home.c_str());
    const std::wstring expandable = L"%OV_TEST_JAVA%";
    setHome(REG_EXPAND_SZ, expandable.c_str(), static_cast<DWORD>((expandable.size() + 1) * 2));
    DeleteFileW(install.log().c_str());
    EXPECT_EQ(Run(install).exitCode, 1u);
    EXPECT_TRUE(Contains(ReadLogMessages(install.log()),
                         "DEBUG3 java: FindJavaRuntime: skipping %OV_TEST_JAVA% (registry): not an absolute path"));
}

TEST_F(BadInput, LogFileHeldOpenByAnotherProcess)
{
    Install install;
    SetServerMode(install.java(), "exit 0");
    MakeFolders(install.root() + L"\\logs");
    {
        // Shared for writing (a viewer that follows the file): the launcher appends.
        UniqueFileHandle viewer(CreateFileW(install.log().c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(viewer);
        EXPECT_EQ(Run(install).exitCode, 0u);
        EXPECT_TRUE(Contains(ReadLogMessages(install.log()), "DEBUG5 shutdown: Server process terminated"));
    }
    {
        // Held exclusively: the run goes on and its messages go to standard error.
        UniqueFileHandle holder(CreateFileW(install.log().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder);
        const RunResult result = Run(install);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_NE(result.output.find("DEBUG5 shutdown: Server process terminated"), std::string::npos)
            << result.output;
    }
}
