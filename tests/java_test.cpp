// The Java runtime search order, seen through the built launcher's log.
#include "launcher/java.h"
#include "tests/launcher_fixture.h"

namespace {

std::string Check(const std::wstring& candidate, const char* source)
{
    return "DEBUG3 java: FindJavaRuntime: checking " + Narrow(candidate) + " (" + source + ")";
}
std::string Using(const std::wstring& java)
{
    return "INFO java: Using Java executable \"" + Narrow(java) + "\"";
}
const char kNoJava[] = "ERROR java: Cannot find suitable Java runtime environment";

// The "java" messages of the log, in order.
std::vector<std::string> JavaMessages(const Install& install)
{
    std::vector<std::string> messages;
    for (const std::string& m : ReadLogMessages(install.log()))
        if (m.find(" java: ") != std::string::npos)
            messages.push_back(m);
    return messages;
}

void RegisterJava(ScopedRegistryKey& key, const std::wstring& home)
{
    key.setString(L"CurrentVersion", L"11");
    UniqueRegistryKey version;
    RegCreateKeyExW(key.get(), L"11", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, version.put(), nullptr);
    RegSetValueExW(version.get(), L"JavaHome", 0, REG_SZ, reinterpret_cast<const BYTE*>(home.c_str()),
                   static_cast<DWORD>((home.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

using JavaSearch = LauncherRunTest;

TEST_F(JavaSearch, PrivateRuntimeWinsWithOneCheck)
{
    Install install;
    SetServerMode(install.java(), "exit 0");
    ScopedEnv orvane(L"ORVANE_HOME", L"C:\\should\\not\\be\\read");
    const RunResult result = Run(install);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(JavaMessages(install),
              (std::vector<std::string>{Check(install.java(), "executable path"), Using(install.java())}));
}

TEST_F(JavaSearch, EachLaterSourceWinsInTurn)
{
    Install install(L"install", false);
    TempDir java(L"java");
    const std::wstring orvaneJava = java / L"orvane\\bin\\jre\\bin\\java.exe";
    const std::wstring registryJava = java / L"registry\\bin\\java.exe";
    const std::wstring javaHomeJava = java / L"javahome\\bin\\java.exe";
    const std::wstring pathJava = java / L"path\\java.exe";
    for (const std::wstring& p : {orvaneJava, registryJava, javaHomeJava, pathJava}) {
        PlaceFakeJava(p);
        SetServerMode(p, "exit 0");
    }
    const std::wstring privateJava = install.java();

    {
        ScopedEnv orvane(L"ORVANE_HOME", (java / L"orvane").c_str());
        EXPECT_EQ(Run(install).exitCode, 0u);
        EXPECT_EQ(JavaMessages(install), (std::vector<std::string>{Check(privateJava, "executable path"),
                                                                    Check(orvaneJava, "Orvane home"),
                                                                    Using(orvaneJava)}));
        DeleteFileW(install.log().c_str());
    }
    {
        // An empty ORVANE_HOME counts as unset: no "(Orvane home)" check.
        ScopedEnv orvane(L"ORVANE_HOME", L"");
        ScopedRegistryKey key(kJavaSoftKey);
        RegisterJava(key, java / L"registry");
        EXPECT_EQ(Run(install).exitCode, 0u);
        EXPECT_EQ(JavaMessages(install), (std::vector<std::string>{Check(privateJava, "executable path"),
                                                                    Check(registryJava, "registry"),
                                                                    Using(registryJava)}));
        DeleteFileW(install.log().c_str());
    }
    {
        // A registration without bin\java.exe: one check, then JAVA_HOME.
        ScopedRegistryKey key(kJavaSoftKey);
        RegisterJava(key, java / L"nothing-here");
        ScopedEnv javaHome(L"JAVA_HOME", (java / L"javahome").c_str());
        EXPECT_EQ(Run(install).exitCode, 0u);
        EXPECT_EQ(JavaMessages(install), (std::vector<std::string>{Check(privateJava, "executable path"),
                                                                    Check(java / L"nothing-here\\bin\\java.exe",
                                                                          "registry"),
                                                                    Check(javaHomeJava, "JAVA_HOME"),
                                                                    Using(javaHomeJava)}));
        DeleteFileW(install.log().c_str());
    }
    {
        // JAVA_HOME with neither form: both checks, then the search path.
        ScopedEnv javaHome(L"JAVA_HOME", (java / L"nothing-here").c_str());
        ScopedEnv path(L"PATH", (L"C:\\windows\\system32;" + (java / L"path")).c_str());
        EXPECT_EQ(Run(install).exitCode, 0u);
        EXPECT_EQ(JavaMessages(install),
                  (std::vector<std::string>{Check(privateJava, "executable path"),
                                            Check(java / L"nothing-here\\bin\\java.exe", "JAVA_HOME"),
                                            Check(java / L"nothing-here\\jre\\bin\\java.exe", "JAVA_HOME"),
                                            Check(pathJava, "PATH"), Using(pathJava)}));
    }
}

TEST_F(JavaSearch, OnlyAbsoluteSearchPathFoldersAreSearched)
{
    Install install(L"install", false);
    TempDir cwd(L"cwd");
    const std::wstring inCwd = cwd / L"java.exe";
    const std::wstring besideLauncher = install.dir / L"java.exe";
    const std::wstring inRelativeEntry = cwd / L"rel\\java.exe";
    for (const std::wstring& p : {inCwd, besideLauncher, inRelativeEntry}) {
        PlaceFakeJava(p);
        SetServerMode(p, "exit 0");
    }
    {
        ScopedEnv path(L"PATH", L"C:\\windows\\system32;;rel;.\\rel;C:rel");
        const RunResult result = Run(install, cwd.path().c_str());
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_EQ(JavaMessages(install).back(), kNoJava);
        for (const std::wstring& p : {inCwd, besideLauncher, inRelativeEntry})
            EXPECT_FALSE(ReadInvocation(p, "server").present) << Narrow(p);
    }
    // The same folder named in full is searched, quoted or not.
    for (const std::wstring& entry : {cwd / L"rel", L"\"" + (cwd / L"rel\\") + L"\""}) {
        ScopedEnv path(L"PATH", (L"rel;" + entry).c_str());
        DeleteFileW(install.log().c_str());
        EXPECT_EQ(Run(install, cwd.path().c_str()).exitCode, 0u);
        EXPECT_EQ(JavaMessages(install), (std::vector<std::string>{Check(install.java(), "executable path"),
                                                                    Check(inRelativeEntry, "PATH"),
                                                                    Using(inRelativeEntry)}));
        EXPECT_TRUE(ReadInvocation(inRelativeEntry, "server").present);
    }
}

TEST_F(JavaSearch, RelativeJavaHomesAreSkipped)
{
    // Each would resolve against the current folder, which is never searched.
    Install install(L"install", false);
    TempDir cwd(L"cwd");
    for (const wchar_t* java : {L"rel\\bin\\java.exe", L"rel\\bin\\jre\\bin\\java.exe"})
        PlaceFakeJava(cwd / java);
    ScopedEnv orvane(L"ORVANE_HOME", L"rel");
    ScopedEnv javaHome(L"JAVA_HOME", L"rel");
    ScopedRegistryKey key(kJavaSoftKey);
    RegisterJava(key, L"rel");
    EXPECT_EQ(Run(install, cwd.path().c_str()).exitCode, 1u);
    std::vector<std::string> expected{Check(install.java(), "executable path")};
    for (const char* source : {"Orvane home", "registry", "JAVA_HOME"})
        expected.push_back(std::string("DEBUG3 java: FindJavaRuntime: skipping rel (") + source +
                           "): not an absolute path");
    expected.push_back(kNoJava);
    EXPECT_EQ(JavaMessages(install), expected);
}

TEST_F(JavaSearch, JavaHomeWithOnlyTheJreFormTakesTwoChecks)
{
    Install install(L"install", false);
    TempDir java(L"java");
    const std::wstring jreJava = java / L"jdk\\jre\\bin\\java.exe";
    PlaceFakeJava(jreJava);
    SetServerMode(jreJava, "exit 0");
    ScopedEnv javaHome(L"JAVA_HOME", (java / L"jdk").c_str());
    EXPECT_EQ(Run(install).exitCode, 0u);
    EXPECT_EQ(JavaMessages(install), (std::vector<std::string>{Check(install.java(), "executable path"),
                                                                Check(java / L"jdk\\bin\\java.exe", "JAVA_HOME"),
                                                                Check(jreJava, "JAVA_HOME"), Using(jreJava)}));
}

TEST_F(JavaSearch, NoJavaAnywhereEndsWithStatus1)
{
    Install install(L"install", false);
    ScopedEnv orvane(L"ORVANE_HOME", L"C:\\nowhere");
    const RunResult result = Run(install);
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(JavaMessages(install), (std::vector<std::string>{Check(install.java(), "executable path"),
                                                                Check(L"C:\\nowhere\\bin\\jre\\bin\\java.exe",
                                                                      "Orvane home"),
                                                                kNoJava}));
}

TEST_F(JavaSearch, UnusableRegistrationsAreSkippedSilently)
{
    Install install(L"install", false);
    TempDir java(L"java");
    {
        ScopedRegistryKey key(kJavaSoftKey);  // key without CurrentVersion
        EXPECT_EQ(Run(install).exitCode, 1u);
        key.setString(L"CurrentVersion", std::wstring(64, L'9'));  // 64 characters do not fit
        EXPECT_EQ(Run(install).exitCode, 1u);
        key.setString(L"CurrentVersion", L"11");  // subkey missing
        EXPECT_EQ(Run(install).exitCode, 1u);
        // A JavaHome of 240 characters does not fit its 480 bytes.
        const std::wstring home = java / L"h";
        const std::wstring longHome = home + std::wstring(240 - home.size(), L'h');
        PlaceFakeJava(longHome + L"\\bin\\java.exe");
        RegisterJava(key, longHome);
        EXPECT_EQ(Run(install).exitCode, 1u);
    }
    for (const std::string& m : JavaMessages(install))
        EXPECT_EQ(m.find("(registry)"), std::string::npos) << m;
}

TEST_F(JavaSearch, LongEnvironmentValuesNeverGiveACutCandidate)
{
    Install install(L"install", false);
    // 259 characters fit the value buffer, but the candidate would not fit
    // its own; 260 and 1000 do not fit at all. None may form a candidate.
    for (size_t length : {259u, 260u, 1000u}) {
        const std::wstring value = L"C:\\" + std::wstring(length - 3, L'v');
        ScopedEnv orvane(L"ORVANE_HOME", value.c_str());
        ScopedEnv javaHome(L"JAVA_HOME", value.c_str());
        DeleteFileW(install.log().c_str());
        EXPECT_EQ(Run(install).exitCode, 1u) << length;
        EXPECT_EQ(JavaMessages(install),
                  (std::vector<std::string>{Check(install.java(), "executable path"), kNoJava}))
            << length;
    }
    // A JAVA_HOME whose "bin" form fits but whose "jre\bin" form would not.
    TempDir java(L"java");
    std::wstring home = java / L"j";
    home += std::wstring(246 - home.size(), L'j');  // the bin form takes 259 characters, the jre form 263
    ScopedEnv javaHome(L"JAVA_HOME", home.c_str());
    DeleteFileW(install.log().c_str());
    EXPECT_EQ(Run(install).exitCode, 1u);
    EXPECT_EQ(JavaMessages(install), (std::vector<std::string>{Check(install.java(), "executable path"),
                                                                Check(home + L"\\bin\\java.exe", "JAVA_HOME"),
                                                                kNoJava}));
}
