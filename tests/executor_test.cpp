// The child-process executor with real children (the stand-in program).
#include <gtest/gtest.h>

#include <atomic>

#include "launcher/stop.h"
#include "support/error_text.h"
#include "support/log.h"
#include "tests/harness.h"

namespace {
class Recorder : public ProcessExecutor {
public:
    explicit Recorder(const std::wstring& commandLine) : ProcessExecutor(commandLine.c_str(), false, false) {}
    ~Recorder() override { finish(); }
    void outputReceived(const char* chunk) override
    {
        EXPECT_FALSE(ended) << "output after endOfOutput";
        output += chunk;
        ++chunks;
    }
    void endOfOutput() override { ended = true; }
    std::string output;
    std::atomic<int> chunks{0};  // read by the test while the reader thread counts
    bool ended = false;
};

std::wstring Child(const std::wstring& arguments)
{
    return Quote(FakeJavaExe()) + L" " + arguments;
}
}  // namespace

TEST(Executor, DeliversAllOutputInOrderThenEnds)
{
    Recorder executor(Child(L"--emit-lines 20000"));
    ASSERT_TRUE(executor.execute());
    ASSERT_TRUE(executor.waitForCompletion(60000));
    EXPECT_TRUE(executor.ended);
    EXPECT_EQ(executor.exitCode(), 7u);
    // stdout and stderr share one pipe.
    std::string expected;
    for (int i = 1; i <= 20000; ++i)
        expected += "line " + std::to_string(i) + "\r\n";
    expected += "to stderr\r\n";
    // The C runtime may write "\n" or "\r\n" depending on mode; compare without CRs.
    std::string got;
    for (char c : executor.output)
        if (c != '\r')
            got.push_back(c);
    std::string want;
    for (char c : expected)
        if (c != '\r')
            want.push_back(c);
    EXPECT_EQ(got, want);
    EXPECT_GT(executor.chunks.load(), 1);
}

TEST(Executor, ACharacterCutBetweenTwoReadsIsLoggedWhole)
{
    TempDir dir(L"split");
    const std::wstring java = dir / L"java.exe";
    PlaceFakeJava(java);
    SetStopMode(java, "split-utf8");
    const std::wstring log = dir / L"launcher.log";
    ASSERT_TRUE(ovlog_open(log.c_str(), 0));
    ovlog_set_debug_level(5);
    {
        LoggingProcessExecutor stop((Quote(java) + L" --stop").c_str());
        ASSERT_TRUE(stop.execute());
        EXPECT_TRUE(stop.waitForCompletion(30000));
    }
    ovlog_close();
    // Reads are joined into lines, so every character is whole; the byte
    // left at the end is kept, as its Latin-1 character.
    const std::vector<std::string> expected = {"DEBUG5 jetty: caf\xC3\xA9 = 5\xE2\x82\xAC, end\xC3\xA2"};
    EXPECT_EQ(ReadLogMessages(log), expected);
}

TEST(Executor, WaitHonoursItsTimeLimitAndDestructionEndsTheChild)
{
    DWORD pid = 0;
    {
        Recorder executor(Child(L"--forever"));
        ASSERT_TRUE(executor.execute());
        pid = executor.processId();
        const ULONGLONG start = GetTickCount64();
        EXPECT_FALSE(executor.waitForCompletion(500));
        const ULONGLONG waited = GetTickCount64() - start;
        EXPECT_GE(waited, 450u);
        EXPECT_EQ(executor.exitCode(), static_cast<DWORD>(STILL_ACTIVE));
    }
    // Nothing is left behind.
    UniqueKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (process) {
        EXPECT_EQ(WaitForSingleObject(process.get(), 5000), WAIT_OBJECT_0);
    }
}

TEST(Executor, DestroyedWhileOutputStillFlows)
{
    for (int round = 0; round < 3; ++round) {
        Recorder executor(Child(L"--spew"));
        ASSERT_TRUE(executor.execute());
        ASSERT_TRUE(WaitUntil([&executor] { return executor.chunks > 0; }, 30000)) << "no output";
        // finish() ends the child, and no callback may come after it: a
        // late one would show within this while.
        executor.finish();
        const int chunks = executor.chunks;
        Sleep(200);
        EXPECT_EQ(executor.chunks.load(), chunks);
    }
}

TEST(Executor, ACommandThatCannotStartReportsWhy)
{
    Recorder executor(L"\"C:\\no\\such\\program.exe\" x");
    EXPECT_FALSE(executor.execute());
    EXPECT_NE(executor.lastError(), 0u);
    EXPECT_TRUE(executor.waitForCompletion(0));
    EXPECT_FALSE(executor.execute());  // once only
}

TEST(Executor, LeavesNoHandleBehind)
{
    // Warm up anything that allocates handles once (thread pools, NUL device).
    { Recorder warm(Child(L"--emit-lines 1")); warm.execute(); warm.waitForCompletion(30000); }
    DWORD before = 0, after = 0;
    GetProcessHandleCount(GetCurrentProcess(), &before);
    for (int i = 0; i < 10; ++i) {
        Recorder executor(Child(L"--emit-lines 5"));
        executor.execute();
        executor.waitForCompletion(30000);
    }
    { Recorder hung(Child(L"--forever")); hung.execute(); hung.waitForCompletion(100); }
    GetProcessHandleCount(GetCurrentProcess(), &after);
    EXPECT_LE(after, before + 2) << "before " << before << ", after " << after;
}

TEST(SystemErrorText, TrimmedTextOrTheNumber)
{
    wchar_t text[kErrorTextChars];
    const std::wstring notFound = GetSystemErrorText(ERROR_FILE_NOT_FOUND, text, kErrorTextChars);
    ASSERT_FALSE(notFound.empty());
    EXPECT_NE(notFound.back(), L'\n');
    EXPECT_NE(notFound.back(), L'\r');
    EXPECT_NE(notFound.back(), L' ');
    EXPECT_STREQ(GetSystemErrorText(0x2badbeefu, text, kErrorTextChars), L"system error 732806895");
    wchar_t small[8];
    GetSystemErrorText(ERROR_FILE_NOT_FOUND, small, 8);
    EXPECT_LT(wcslen(small), 8u);
}
