// The platform-free helpers: bounded copies, UTF-8, the configuration
// reader, log lines and the command lines; and the C runtime's formatting.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "support/config.h"
#include "support/console.h"
#include "support/log_line.h"
#include "tests/harness.h"

TEST(BoundedStrings, CopyAndAppendAlwaysTerminateAndReportTheWholeLength)
{
    wchar_t buffer[8];
    EXPECT_EQ(wcslcpy(buffer, L"abc", 8), 3u);
    EXPECT_STREQ(buffer, L"abc");
    EXPECT_EQ(wcslcpy(buffer, L"0123456789", 8), 10u);
    EXPECT_STREQ(buffer, L"0123456");
    wcslcpy(buffer, L"abc", 8);
    EXPECT_EQ(wcslcat(buffer, L"defgh", 8), 8u);
    EXPECT_STREQ(buffer, L"abcdefg");
    // A destination with no terminator inside the size is not read past.
    wmemset(buffer, L'x', 8);
    EXPECT_EQ(wcslcat(buffer, L"yz", 8), 10u);
    EXPECT_EQ(buffer[7], L'x');
    EXPECT_EQ(wcslcpy(buffer, L"zzz", 0), 3u);
}

TEST(BoundedStrings, WholeCopiesRefuseToCut)
{
    wchar_t buffer[6] = L"ab";
    EXPECT_FALSE(AppendWhole(buffer, L"cdef"));  // would need 7 with the terminator
    EXPECT_STREQ(buffer, L"ab");
    EXPECT_TRUE(AppendWhole(buffer, L"cde"));
    EXPECT_STREQ(buffer, L"abcde");
    EXPECT_FALSE(CopyWhole(buffer, L"123456"));
    EXPECT_STREQ(buffer, L"");
    EXPECT_TRUE(CopyWhole(buffer, L"12345"));
    EXPECT_STREQ(buffer, L"12345");
}

TEST(BoundedStrings, CaseInsensitiveCompare)
{
    EXPECT_EQ(ov_wcsicmp(L"INSTALL", L"install"), 0);
    EXPECT_EQ(ov_wcsicmp(L"InStAlL", L"install"), 0);
    EXPECT_NE(ov_wcsicmp(L"install ", L"install"), 0);
    EXPECT_NE(ov_wcsicmp(L"-install", L"install"), 0);
    EXPECT_NE(ov_wcsicmp(L"", L"install"), 0);
    EXPECT_LT(ov_wcsicmp(L"a", L"B"), 0);
}

TEST(StringBuffer, InsertAtTheEndAppendsAndTextStaysTerminated)
{
    StringBuffer buffer;
    EXPECT_EQ(buffer.length(), 0u);
    EXPECT_STREQ(buffer.getText(), L"");
    EXPECT_TRUE(buffer.insert(0, L"hello", 5));
    EXPECT_TRUE(buffer.insert(buffer.length(), L", world!!", 7));
    EXPECT_STREQ(buffer.getText(), L"hello, world");
    EXPECT_FALSE(buffer.insert(100, L"x", 1));
    EXPECT_EQ(buffer.length(), 12u);
    std::wstring big(100000, L'q');
    buffer.append(big.c_str());
    EXPECT_EQ(buffer.length(), 100012u);
}

// libstdc++ turns on mingw-w64's C99 printf, in which %s is narrow; the
// underscore functions behind FormatWide stay msvcrt's, where it is wide.
static_assert(__USE_MINGW_ANSI_STDIO, "libstdc++ no longer turns on the C99 printf");

TEST(Formatting, PercentSIsWideAndPercentHsNarrow)
{
    EXPECT_EQ(FormatWide(L"%s|%hs|%d|%08x", L"wide \u00E9", "narrow", -42, 0x2au), L"wide \u00E9|narrow|-42|0000002a");
    // Measured first, so no length is too long.
    const std::wstring big(5000, L'q');
    EXPECT_EQ(FormatWide(L"<%s>", big.c_str()), L"<" + big + L">");
}

TEST(Utf8, NarrowTextKeepsEveryByteAndACutCharacterWaits)
{
    // Valid UTF-8 is decoded; other bytes stay as their Latin-1 characters.
    EXPECT_EQ(NarrowAsWide("caf\xC3\xA9"), L"caf\u00E9");
    EXPECT_EQ(NarrowAsWide("caf\xE9!"), L"caf\u00E9!");
    std::string utf8;
    AppendUtf8(utf8, L"\u00E9\u20AC", 2);
    EXPECT_EQ(utf8, "\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(CompleteUtf8Length("caf\xC3", 4), 3u);
    EXPECT_EQ(CompleteUtf8Length("\xE2\x82", 2), 0u);
    EXPECT_EQ(CompleteUtf8Length("\xE2\x82\xAC", 3), 3u);
    // Stray continuation bytes are no character's start: nothing waits.
    EXPECT_EQ(CompleteUtf8Length("a\x82\x82\x82", 4), 4u);
}

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

TEST(LogLine, FormatLevelsAndLineBreaks)
{
    char buffer[16];
    EXPECT_STREQ(LogLevelName(1, 0, buffer, 16), "ERROR");
    EXPECT_STREQ(LogLevelName(2, 0, buffer, 16), "WARNING");
    EXPECT_STREQ(LogLevelName(4, 0, buffer, 16), "INFO");
    EXPECT_STREQ(LogLevelName(0, 5, buffer, 16), "DEBUG5");

    std::string line;
    ComposeLogLine(line, LogStamp{2026, 3, 4, 5, 6, 7, 8}, 1234, "INFO", L"java", L"caf\u00E9\r\n");
    EXPECT_EQ(line, "2026-03-04 05:06:07.008 [1234] INFO java: caf\xC3\xA9\r\n");
    line.clear();
    ComposeLogLine(line, LogStamp{2026, 12, 31, 23, 59, 59, 999}, 1, "DEBUG5", L"jetty", L"a\r\nb\nc\n\n");
    EXPECT_EQ(line, "2026-12-31 23:59:59.999 [1] DEBUG5 jetty: a\r\n\tb\r\n\tc\r\n");
}

TEST(CommandLines, ServerLineIsThePiecesJoined)
{
    StringBuffer line;
    ComposeServerCommandLine(line, {L"C:\\j\\java.exe", L"C:\\Inst", L"C:\\l\\jetty.log", L"C:\\l\\ovmc.log", nullptr});
    EXPECT_STREQ(line.getText(),
                 L"\"C:\\j\\java.exe\" -Djetty.home=\"C:\\Inst\\jetty-home\" -Djetty.base=\"C:\\Inst\\jetty-base\" "
                 L"-Djetty.logfile=\"C:\\l\\jetty.log\" -Dovmc.logfile=\"C:\\l\\ovmc.log\" -jar "
                 L"\"C:\\Inst\\jetty-home\\start.jar\" jetty.server.stopAtShutdown=true stop.port=" OV_STOP_PORT L" "
                 L"stop.key=qmvr$gates$hub");
    // Only a size follows -Xmx: anything else could add options of its own.
    const struct {
        const wchar_t* value;
        bool isSize;
    } heaps[] = {{L"2g", true},  {L"1024M", true}, {L"64", true},    {L"512m -javaagent:x.jar", false},
                 {L"-1", false}, {L"", false},     {L"%MEM%", false}, {L"1gg", false}};
    for (const auto& heap : heaps) {
        StringBuffer line;
        ComposeServerCommandLine(line, {L"j", L"i", L"a", L"b", heap.value});
        const std::wstring option = std::wstring(L"-Dovmc.logfile=\"b\" -Xmx") + heap.value + L" -jar \"i\\";
        EXPECT_EQ(wcsstr(line.getText(), option.c_str()) != nullptr, heap.isSize) << Narrow(heap.value);
        EXPECT_EQ(wcsstr(line.getText(), L"-Xmx") != nullptr, heap.isSize) << Narrow(heap.value);
    }
}

TEST(CommandLines, StopLineUsesTheSameStopChannel)
{
    StringBuffer line;
    ComposeStopCommandLine(line, L"C:\\Program Files\\Java\\bin\\java.exe", L"C:\\My Inst");
    EXPECT_STREQ(line.getText(),
                 L"\"C:\\Program Files\\Java\\bin\\java.exe\" -jar \"C:\\My Inst\\jetty-home\\start.jar\" --stop "
                 L"stop.port=" OV_STOP_PORT L" stop.key=qmvr$gates$hub stop.wait=20");
    StringBuffer server;
    ComposeServerCommandLine(server, {L"j", L"i", L"a", L"b", nullptr});
    EXPECT_NE(wcsstr(server.getText(), L"stop.port=" OV_STOP_PORT L" stop.key=qmvr$gates$hub"), nullptr);
}

TEST(InstallPaths, TrailingBackslashAndLastComponent)
{
    const struct {
        void (*cut)(wchar_t*);
        const wchar_t* path;
        const wchar_t* expected;
    } cases[] = {{RemoveTrailingBackslash, L"C:\\a\\\\", L"C:\\a\\"}, {RemoveTrailingBackslash, L"C:\\", L"C:"},
                 {RemoveTrailingBackslash, L"", L""},
                 {RemoveLastComponent, L"C:\\x\\ovwebui.exe", L"C:\\x"}, {RemoveLastComponent, L"noslash", L"noslash"}};
    for (const auto& c : cases) {
        wchar_t path[32];
        wcscpy(path, c.path);
        c.cut(path);
        EXPECT_STREQ(path, c.expected) << Narrow(c.path);
    }
}

TEST(ConfigReader, EncodingNamesMatchIgnoringLetterCaseOnly)
{
    const unsigned char bytes[] = {'a', 0, 'b', 0};
    // Forced UTF-8 keeps the zero bytes; a name that is not an encoding
    // leaves the choice to detection, which sees UTF-16LE.
    EXPECT_EQ(DecodeText(bytes, sizeof(bytes), "utf-8"), std::wstring(L"a\0b\0", 4));
    EXPECT_EQ(DecodeText(bytes, sizeof(bytes), "UTF\r8"), L"ab");
    EXPECT_EQ(DecodeText(bytes, sizeof(bytes), "utf-16LE"), L"ab");
}

TEST(ChildOutput, LinesAreJoinedAcrossReadsAndTheTailStartsAtALine)
{
    LineAssembler lines;
    std::vector<std::string> got;
    const auto collect = [&got](const char* line, size_t size) { got.emplace_back(line, size); };
    for (const char* piece : {"one", "\r\n", "two\nthr", "ee"})
        lines.feed(piece, strlen(piece), collect);
    lines.finish(collect);
    EXPECT_EQ(got, (std::vector<std::string>{"one\r\n", "two\n", "three"}));
    // An endless line goes out in pieces, never inside a character.
    got.clear();
    std::string endless = "a";
    while (endless.size() <= LineAssembler::kMaxLineBytes)
        endless += "\xE2\x82\xAC";
    lines.feed(endless.data(), endless.size(), collect);
    lines.finish(collect);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].size() + got[1].size(), endless.size());
    EXPECT_EQ(got[1].rfind("\xE2\x82\xAC", 0), 0u) << "a character was cut";

    OutputTail tail;
    tail.append("short\r\nlines\r\n", 14);
    EXPECT_EQ(tail.lines(), "short\nlines");
    std::string lots;
    for (int i = 0; i < 2000; ++i)
        lots += "line " + std::to_string(i) + "\n";
    tail.append(lots.data(), lots.size());
    const std::string kept = tail.lines();
    EXPECT_LE(kept.size(), OutputTail::kTailBytes);
    EXPECT_EQ(kept.rfind("line ", 0), 0u) << "the first kept line is cut: " << kept.substr(0, 20);
    EXPECT_EQ(kept.substr(kept.size() - 9), "line 1999");
}
