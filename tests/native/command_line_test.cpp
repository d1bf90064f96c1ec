// The server and stop command lines and the install-path rules.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "launcher/command_line.h"
#include "support/strings.h"

TEST(CommandLines, ServerLineIsThePiecesJoined)
{
    StringBuffer line;
    ComposeServerCommandLine(line, {L"C:\\j\\java.exe", L"C:\\Inst", L"C:\\l\\jetty.log", L"C:\\l\\ovmc.log", nullptr});
    EXPECT_STREQ(line.getText(),
                 L"\"C:\\j\\java.exe\" -Djetty.home=\"C:\\Inst\\jetty-home\" -Djetty.base=\"C:\\Inst\\jetty-base\" "
                 L"-Djetty.logfile=\"C:\\l\\jetty.log\" -Dovmc.logfile=\"C:\\l\\ovmc.log\" -jar "
                 L"\"C:\\Inst\\jetty-home\\start.jar\" jetty.server.stopAtShutdown=true stop.port=" OV_STOP_PORT L" "
                 L"stop.key=" OV_STOP_KEY);
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
        EXPECT_EQ(wcsstr(line.getText(), option.c_str()) != nullptr, heap.isSize) << heap.value;
        EXPECT_EQ(wcsstr(line.getText(), L"-Xmx") != nullptr, heap.isSize) << heap.value;
    }
}

TEST(CommandLines, StopLineUsesTheSameStopChannel)
{
    StringBuffer line;
    ComposeStopCommandLine(line, L"C:\\Program Files\\Java\\bin\\java.exe", L"C:\\My Inst");
    EXPECT_STREQ(line.getText(),
                 L"\"C:\\Program Files\\Java\\bin\\java.exe\" -jar \"C:\\My Inst\\jetty-home\\start.jar\" --stop "
                 L"stop.port=" OV_STOP_PORT L" stop.key=" OV_STOP_KEY L" stop.wait=20");
    StringBuffer server;
    ComposeServerCommandLine(server, {L"j", L"i", L"a", L"b", nullptr});
    EXPECT_NE(wcsstr(server.getText(), L"stop.port=" OV_STOP_PORT L" stop.key=" OV_STOP_KEY), nullptr);
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
        EXPECT_STREQ(path, c.expected) << c.path;
    }
}
