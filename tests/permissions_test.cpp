// Who may change what the service runs: the decision on descriptors as
// Windows gives them, and each run's log naming who can change its Java.
#include <windows.h>

#include <sddl.h>

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
