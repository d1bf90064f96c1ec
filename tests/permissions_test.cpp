// Who may change what the service runs: the decision on descriptors as
// Windows gives them, and each run's log naming who can change its Java.
#include <windows.h>

#include <sddl.h>

#include "launcher/context.h"
#include "launcher/permissions.h"
#include "tests/launcher_fixture.h"

TEST(Permissions, UntrustedOwnersAndEntriesThatApplyToTheObject)
{
    constexpr wchar_t kInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    const std::wstring programFiles = std::wstring(L"O:") + kInstaller + L"D:PAI(A;;FA;;;" + kInstaller +
                                      L")(A;CIIO;GA;;;" + kInstaller +
                                      L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
                                      L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)"
                                      L"(A;;0x1200a9;;;S-1-15-2-1)(A;OICIIO;GXGR;;;S-1-15-2-1)";
    const struct {
        std::wstring sddl;
        const char* changers;  // SIDs, owner first
        bool trustUser;        // S-1-5-21-1-2-3-1001 in TrustedAccounts
    } cases[] = {
        {programFiles, "", false},
        // A folder an administrator made under C:\, as it inherits from the drive's root.
        {L"O:BAD:(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)",
         "S-1-5-11", false},
        {L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)", "S-1-5-21-1-2-3-1001", false},
        {L"O:BAD:(A;;FA;;;S-1-5-21-1-2-3-1001)(A;;GW;;;WD)", "S-1-5-21-1-2-3-1001 S-1-1-0", false},
        {L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;S-1-5-21-1-2-3-1001)", "", true},
        {L"O:BAD:(A;OICIIO;GA;;;BU)(A;;0x1200a9;;;BU)", "", false},  // inherit-only on a folder
        {L"O:BAD:(A;ID;GA;;;BU)", "S-1-5-32-545", false},            // the same, inherited by a file
        {L"O:BAD:(A;;0x40;;;BU)", "S-1-5-32-545", false},            // FILE_DELETE_CHILD
        {L"O:BAD:(A;;FA;;;CO)(A;;FA;;;S-1-3-4)", "", false},
        {L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;CO)", "S-1-5-21-1-2-3-1001", false},
        {L"O:BA", "S-1-1-0", false},  // no DACL at all
    };
    for (const auto& c : cases) {
        TrustedAccounts trusted = BuiltinTrustedAccounts();
        ASSERT_TRUE(!c.trustUser || AddTrustedAccount(trusted, L"S-1-5-21-1-2-3-1001"));
        UniqueLocalMemory descriptor;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl.c_str(), SDDL_REVISION_1,
                                                                         descriptor.put(), nullptr))
            << Narrow(c.sddl);
        std::vector<SidBytes> changers;
        EXPECT_EQ(FindUntrustedChangers(descriptor.get(), trusted, changers), c.changers[0] != '\0');
        std::wstring found;
        for (SidBytes& sid : changers) {
            UniqueLocalMemory text;
            ConvertSidToStringSidW(sid.data(), reinterpret_cast<wchar_t**>(text.put()));
            found += (found.empty() ? L"" : L" ") + std::wstring(static_cast<wchar_t*>(text.get()));
        }
        EXPECT_EQ(Narrow(found), c.changers) << Narrow(c.sddl);
    }
}

TEST_F(LauncherRunTest, EachRunLogsWhoCanChangeTheJavaItRuns)
{
    Install install(L"install", /*withJava=*/false);
    TempDir javaHome(L"jdk");
    PlaceFakeJava(javaHome / L"bin\\java.exe");
    SetServerMode(javaHome / L"bin\\java.exe", "hang");
    ASSERT_TRUE(SetUnixMode(javaHome / L"bin", "0777"));
    ScopedEnv home(L"JAVA_HOME", javaHome.path().c_str());
    const std::string expected = "WARNING permissions: Everyone can change \"" + Narrow(javaHome / L"bin") +
                                 "\" (run as SYSTEM by this service)";
    {
        // The check runs while the server does; ending the launcher ends both.
        OutputCollector run(Quote(install.exe()));
        ASSERT_TRUE(run.execute());
        EXPECT_TRUE(WaitUntil([&] { return Contains(ReadLogMessages(install.log()), expected); }, 30000, 100));
    }
    EXPECT_TRUE(WaitForNoProcessBelow(javaHome.path(), 15000));
}

// Keeps a key's DACL and puts it back: the Wine server holds a key's
// security for as long as it runs, so every later test would see it.
class ScopedKeyDacl {
public:
    explicit ScopedKeyDacl(const wchar_t* subKey)
    {
        DWORD bytes = sizeof(saved_);
        kept_ = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, READ_CONTROL | WRITE_DAC, key_.put()) == ERROR_SUCCESS &&
                RegGetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, saved_, &bytes) == ERROR_SUCCESS;
    }
    ~ScopedKeyDacl()
    {
        if (kept_)
            RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, saved_);
    }
    bool set(const wchar_t* sddl)
    {
        UniqueLocalMemory descriptor;
        return kept_ &&
               ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor.put(), nullptr) &&
               RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, descriptor.get()) == ERROR_SUCCESS;
    }

private:
    UniqueRegistryKey key_;
    alignas(8) BYTE saved_[4096];
    bool kept_ = false;
};

TEST_F(LauncherRunTest, InstallNamesTheFolderAboveTheProductKeyAndTheLogFolder)
{
    // Everyone may delete or rename the folder that holds the install, set
    // the product key's values and add files where the launcher logs.
    TempDir parent(L"parent");
    ASSERT_TRUE(SetUnixMode(parent.path(), "0777"));
    Install install(L"install", /*withJava=*/true, parent.path());
    TempDir logs(L"logs");
    ASSERT_TRUE(SetUnixMode(logs.path(), "0777"));
    WriteTextFile(install.dir / L"etc\\launcher.conf", Narrow(L"[Launcher]\nLauncherLogFile=" + logs / L"l.log\n"));
    ScopedKeyDacl productKey(kRegistryKey);
    ASSERT_TRUE(productKey.set(L"D:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KA;;;S-1-5-21-0-0-0-1000)(A;;KR;;;WD)(A;;0x2;;;WD)"));

    const RunResult result = RunCommand(Quote(install.exe()) + L" install");
    RunCommand(Quote(install.exe()) + L" remove");
    std::vector<std::string> warnings;
    for (const std::string& line : SplitLines(result.output))
        if (line.compare(0, 9, "WARNING: ") == 0)
            warnings.push_back(line.substr(9));
    const std::string tail = "\" (run as SYSTEM by this service)";
    EXPECT_EQ(warnings, (std::vector<std::string>{"Everyone can change \"" + Narrow(logs.path()) + tail,
                                                  "Everyone can change \"HKLM\\Software\\Orvane\\WebUI" + tail,
                                                  "Everyone can change \"" + Narrow(parent.path()) + tail}))
        << result.output;
    const std::string folderAbove = "icacls \"" + Narrow(parent.path());
    for (const std::string& advice : {folderAbove + "\" /inheritance:d", folderAbove + "\" /remove:g *S-1-1-0",
                                      std::string("SetAccessRuleProtection($true, $true)"), std::string("('S-1-1-0')")})
        EXPECT_NE(result.output.find(advice), std::string::npos) << advice << "\n" << result.output;
}

TEST_F(LauncherRunTest, EachRunNamesEarlierPathFoldersAndTheHomeBehindALink)
{
    // PATH leads first to a folder that Everyone may add a java.exe to, then
    // to a link whose runtime's lib folder Everyone may change.
    Install install(L"install", /*withJava=*/false);
    TempDir earlier(L"earlier"), jdk(L"jdk"), links(L"links");
    ASSERT_TRUE(SetUnixMode(earlier.path(), "0777"));
    PlaceFakeJava(jdk / L"bin\\java.exe");
    MakeFolders(jdk / L"lib");
    ASSERT_TRUE(SetUnixMode(jdk / L"lib", "0777"));
    ASSERT_TRUE(MakeUnixLink(jdk / L"bin\\java.exe", links / L"java.exe"));
    SetServerMode(links / L"java.exe", "hang");
    ScopedEnv path(L"PATH", (earlier.path() + L";" + links.path() + L";C:\\windows\\system32").c_str());
    std::vector<std::string> expected;
    for (const std::wstring& folder : {earlier.path(), jdk / L"lib"})
        expected.push_back("WARNING permissions: Everyone can change \"" + Narrow(folder) +
                           "\" (run as SYSTEM by this service)");
    {
        OutputCollector run(Quote(install.exe()));
        ASSERT_TRUE(run.execute());
        EXPECT_TRUE(WaitUntil(
            [&] {
                const std::vector<std::string> log = ReadLogMessages(install.log());
                return Contains(log, expected[0]) && Contains(log, expected[1]);
            },
            30000, 100))
            << ReadTextFile(install.log());
    }
    EXPECT_TRUE(WaitForNoProcessBelow(links.path(), 15000));
}
