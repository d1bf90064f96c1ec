// The platform-free rules of what an administrator sets and types: path
// values, the key list against the shipped launcher.conf, the command words.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "app/usage.h"
#include "launcher/command_line.h"
#include "launcher/setting_rules.h"

namespace {

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Narrow(const wchar_t* text)
{
    std::string out;
    for (const wchar_t* p = text; *p != L'\0'; ++p)
        out += static_cast<char>(*p);
    return out;
}

}  // namespace

TEST(PathValues, OnlyDriveAndUncPathsWithoutQuotesAreTaken)
{
    for (const wchar_t* path : {L"C:\\logs\\a.log", L"z:\\", L"\\\\server\\share\\a.log"})
        EXPECT_EQ(JudgeExpandedPath(path), PathRefusal::kNone) << path;
    // Each of these resolves against a current folder or drive.
    for (const wchar_t* path : {L"a.log", L"logs\\a.log", L"\\logs\\a.log", L"C:a.log", L"C:/logs/a.log",
                                L"%OVWEBUI_HOME%\\a.log", L"", L"1:\\a.log"})
        EXPECT_EQ(JudgeExpandedPath(path), PathRefusal::kRelative) << path;
    EXPECT_EQ(JudgeExpandedPath(L"C:\\a\"b"), PathRefusal::kQuote);
}

TEST(ServiceBinaryPath, ProgramIsTheQuotedPartOrTheFirstWord)
{
    EXPECT_EQ(ProgramOfCommandLine(L"\"C:\\Program Files\\Orvane\\ovwebui.exe\" service"),
              L"C:\\Program Files\\Orvane\\ovwebui.exe");
    EXPECT_EQ(ProgramOfCommandLine(L"C:\\Orvane\\ovwebui.exe service"), L"C:\\Orvane\\ovwebui.exe");
    EXPECT_EQ(ProgramOfCommandLine(L"\"C:\\unclosed service"), L"C:\\unclosed service");
    EXPECT_EQ(ProgramOfCommandLine(L""), L"");
}

TEST(CommandWords, HelpAndVersionWordsInAnyCaseAndNothingElse)
{
    for (const wchar_t* word : {L"help", L"/?", L"-?", L"-H", L"--HELP"})
        EXPECT_TRUE(IsHelpWord(word)) << word;
    EXPECT_TRUE(IsVersionWord(L"version") && IsVersionWord(L"--Version"));
    for (const wchar_t* word : {L"", L"/h", L"-help", L"help ", L"?", L"version"})
        EXPECT_FALSE(IsHelpWord(word)) << word;
    EXPECT_FALSE(IsVersionWord(L"-v"));
    const std::wstring usage = ComposeUsage(L"D:\\O\\etc\\launcher.conf", L"D:\\O");
    // Each command begins a line of its own.
    for (const wchar_t* word : {L"install", L"remove", L"start", L"stop", L"restart", L"status", L"check", L"help",
                                L"version"})
        EXPECT_NE(usage.find(std::wstring(L"\n  ") + word + L" "), std::wstring::npos) << word;
    EXPECT_NE(usage.find(L"Configuration file: D:\\O\\etc\\launcher.conf\nLogs: D:\\O\\logs\\"), std::wstring::npos);
}

// Every key that a product source reads, and every key of the list, stands
// in the shipped launcher.conf, commented out at its default.
TEST(ShippedConfiguration, ListsEveryKeyTheLauncherReads)
{
    const std::filesystem::path root = OV_SOURCE_ROOT;
    const std::string conf = ReadFile(root / "demo" / "launcher.conf");
    ASSERT_FALSE(conf.empty());
    std::set<std::string> listed;
    for (size_t i = 0; i < kLauncherSettingCount; ++i) {
        const LauncherSetting& setting = kLauncherSettings[i];
        const std::string name = Narrow(setting.name);
        listed.insert(name);
        const std::string line =
            setting.defaultValue != nullptr ? "\n;" + name + " = " + Narrow(setting.defaultValue) + "\n" : "\n;" + name;
        EXPECT_NE(conf.find(line), std::string::npos) << "launcher.conf lacks" << line;
    }
    const std::regex read("L\"/Launcher/([A-Za-z]+)\"");
    size_t found = 0;
    for (const char* folder : {"app", "launcher", "service", "support"}) {
        for (const auto& entry : std::filesystem::directory_iterator(root / folder)) {
            const std::string source = ReadFile(entry.path());
            for (std::sregex_iterator it(source.begin(), source.end(), read), end; it != end; ++it, ++found) {
                const std::string name = (*it)[1];
                EXPECT_TRUE(listed.count(name) == 1) << name << " read in " << entry.path() << " but not listed";
                EXPECT_NE(conf.find("\n;" + name), std::string::npos) << name << " missing from launcher.conf";
            }
        }
    }
    EXPECT_GT(found, 0u) << "no key read found: the pattern no longer matches the sources";
}
