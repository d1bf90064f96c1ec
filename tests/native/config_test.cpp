// The configuration reader, from the file's bytes.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/config.h"

namespace {
std::unique_ptr<Config> Load(const std::string& text)
{
    auto config = std::make_unique<Config>(true);
    config->loadConfigText(reinterpret_cast<const unsigned char*>(text.data()), text.size(), L"Launcher", nullptr,
                           true, true);
    return config;
}
}  // namespace

TEST(ConfigReader, SectionsKeysCommentsAndBlanks)
{
    Config config(true);
    const std::string text =
        "; comment\r\n"
        "# another = comment\r\n"
        "[launcher]\r\n"
        "  LauncherLogFile =  C:\\logs\\a b.log  \r\n"
        "javamaxmemory=\r\n"
        "Quoted = \"x\"y ; not a comment\r\n"
        "junk line without equals\r\n"
        "= no name\r\n"
        "[Other]\r\n"
        "LauncherLogFile = other\r\n";
    config.loadConfigText(reinterpret_cast<const unsigned char*>(text.data()), text.size(), L"Launcher", nullptr,
                          false, true);
    EXPECT_STREQ(config.getValue(L"/Launcher/LauncherLogFile", L"def", 0), L"C:\\logs\\a b.log");
    EXPECT_STREQ(config.getValue(L"/LAUNCHER/launcherlogfile", L"def", 0), L"C:\\logs\\a b.log");
    // Written with nothing after "=": an empty text, not the default.
    EXPECT_STREQ(config.getValue(L"/Launcher/JavaMaxMemory", L"def", 0), L"");
    EXPECT_STREQ(config.getValue(L"/Launcher/Quoted", nullptr, 0), L"\"x\"y ; not a comment");
    EXPECT_EQ(config.getValue(L"/Launcher/Missing", nullptr, 0), nullptr);
    EXPECT_STREQ(config.getValue(L"/Other/LauncherLogFile", nullptr, 0), L"other");
    EXPECT_EQ(config.skippedLineCount(), 2u);

    auto only = Load(text);
    EXPECT_EQ(only->getValue(L"/Other/LauncherLogFile", nullptr, 0), nullptr);
}

TEST(ConfigReader, RepeatedKeysAndSectionsGiveTheIthValue)
{
    auto config = Load("[Launcher]\nKey=one\nKey=two\n[Other]\nKey=x\n[LAUNCHER]\nkey = three\n");
    EXPECT_STREQ(config->getValue(L"/Launcher/Key", nullptr, 0), L"one");
    EXPECT_STREQ(config->getValue(L"/Launcher/Key", nullptr, 1), L"two");
    EXPECT_STREQ(config->getValue(L"/Launcher/Key", nullptr, 2), L"three");
    EXPECT_STREQ(config->getValue(L"/Launcher/Key", L"d", 3), L"d");
    EXPECT_STREQ(config->getValue(L"/Launcher/Key", L"d", -1), L"d");
}

TEST(ConfigReader, EncodingsAndLineEnds)
{
    const std::string utf8Bom = "\xEF\xBB\xBF[Launcher]\nPath=C:\\Caf\xC3\xA9\n";
    EXPECT_STREQ(Load(utf8Bom)->getValue(L"/Launcher/Path", nullptr, 0), L"C:\\Caf\u00E9");

    std::wstring wide = L"[Launcher]\r\nPath=C:\\\u20AC\r\n";
    std::string utf16("\xFF\xFE", 2);
    for (wchar_t c : wide) {
        utf16.push_back(static_cast<char>(c & 0xFF));
        utf16.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    EXPECT_STREQ(Load(utf16)->getValue(L"/Launcher/Path", nullptr, 0), L"C:\\\u20AC");
    // The same without its BOM is recognised by its zero bytes.
    EXPECT_STREQ(Load(utf16.substr(2))->getValue(L"/Launcher/Path", nullptr, 0), L"C:\\\u20AC");

    EXPECT_STREQ(Load("[Launcher]\rA=1\rB=2")->getValue(L"/Launcher/B", nullptr, 0), L"2");
    // ANSI text (not UTF-8) keeps its bytes as Latin-1 characters.
    EXPECT_STREQ(Load("[Launcher]\nP=Caf\xE9\n")->getValue(L"/Launcher/P", nullptr, 0), L"Caf\u00E9");
}

TEST(ConfigReader, BrokenInputNeverMisplacesKeys)
{
    // Keys after a broken header belong to no section.
    auto config = Load("[Launcher]\nA=1\n[Broken\nA=2\n[Launcher] trailing\nB=3\n");
    EXPECT_STREQ(config->getValue(L"/Launcher/A", nullptr, 0), L"1");
    EXPECT_EQ(config->getValue(L"/Launcher/A", nullptr, 1), nullptr);
    EXPECT_EQ(config->getValue(L"/Launcher/B", nullptr, 0), nullptr);
    // Without the section nothing is found; a line with a NUL is skipped.
    EXPECT_EQ(Load("A=1\n")->getValue(L"/Launcher/A", nullptr, 0), nullptr);
    const std::string withNul("[Launcher]\nA=x\0y\nB=2\n", 20);
    auto nul = Load(withNul);
    EXPECT_EQ(nul->getValue(L"/Launcher/A", nullptr, 0), nullptr);
    EXPECT_STREQ(nul->getValue(L"/Launcher/B", nullptr, 0), L"2");
}
