// The log under real threads and real files.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "support/log.h"
#include "tests/harness.h"

TEST(Log, ManyThreadsWriteWholeLinesAndLoseNone)
{
    TempDir dir(L"log");
    const std::wstring path = dir / L"deep\\er\\launcher.log";  // parent folders are created
    ASSERT_TRUE(ovlog_open(path.c_str(), 0));
    ovlog_set_debug_level(5);
    constexpr int kThreads = 4, kPerThread = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kPerThread; ++i)
                ovlog_debug_tag(L"jetty", 5, L"thread %d message %d %s", t, i,
                                L"padding padding padding padding padding padding padding padding");
        });
    for (std::thread& thread : threads)
        thread.join();
    ovlog_close();

    std::set<std::string> seen;
    std::vector<int> lastOfThread(kThreads, -1);
    int count = 0;
    for (const std::string& message : ReadLogMessages(path)) {
        if (message.empty())
            continue;
        ++count;
        int t = -1, i = -1;
        char tail[128] = {};
        ASSERT_EQ(sscanf(message.c_str(), "DEBUG5 jetty: thread %d message %d %127[a-z ]", &t, &i, tail), 3)
            << message;
        EXPECT_STREQ(tail, "padding padding padding padding padding padding padding padding");
        seen.insert(std::to_string(t) + ":" + std::to_string(i));
        // Each thread's messages keep the order of its calls.
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_GT(i, lastOfThread[t]);
        lastOfThread[t] = i;
    }
    EXPECT_EQ(count, kThreads * kPerThread);
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kPerThread));
}

TEST(Log, LevelsSeveritiesAndLastError)
{
    TempDir dir(L"log");
    const std::wstring path = dir / L"a.log";
    ovlog_open(path.c_str(), 0);
    ovlog_set_debug_level(3);
    SetLastError(12345);
    ovlog_debug_tag(L"java", 3, L"checking %s (%s)", L"C:\\x", L"PATH");
    ovlog_debug_tag(L"jetty", 5, L"dropped above the level");
    ovlog_write_tag(1, L"startup", L"Cannot create process (Error 0x%08x: %s)", 2u, L"not found");
    ovlog_write_tag(2, L"startup", L"warned");
    ovlog_write_tag(4, L"java", L"Using Java executable \"%s\"", L"C:\\j.exe");
    EXPECT_EQ(GetLastError(), 12345u);
    ovlog_close();
    // After the close: dropped, safely.
    ovlog_write_tag(4, L"java", L"late");
    ovlog_debug_tag(L"jetty", 1, L"%hs", "late chunk");
    EXPECT_EQ(GetLastError(), 12345u);

    const std::vector<std::string> expected = {
        "DEBUG3 java: checking C:\\x (PATH)",
        "ERROR startup: Cannot create process (Error 0x00000002: not found)",
        "WARNING startup: warned",
        "INFO java: Using Java executable \"C:\\j.exe\"",
    };
    EXPECT_EQ(ReadLogMessages(path), expected);
    const std::string raw = ReadTextFile(path);
    // "YYYY-MM-DD HH:MM:SS.mmm [thread] "
    ASSERT_GT(raw.size(), 30u);
    EXPECT_EQ(raw[4], '-');
    EXPECT_EQ(raw[10], ' ');
    EXPECT_EQ(raw[19], '.');
    EXPECT_EQ(raw[24], '[');
}

TEST(Log, AppendsToAnExistingFileAndFallsBackWhenItCannotOpen)
{
    TempDir dir(L"log");
    const std::wstring path = dir / L"a.log";
    WriteTextFile(path, "earlier line\r\n");
    ovlog_open(path.c_str(), 0);
    ovlog_write_tag(4, L"t", L"appended");
    ovlog_close();
    EXPECT_EQ(ReadLogMessages(path), (std::vector<std::string>{"earlier line", "INFO t: appended"}));

    // A folder where the file should be: the open fails, messages go to
    // standard error instead of crashing, and a later open works again.
    const std::wstring folder = dir / L"is-a-folder";
    MakeFolders(folder);
    EXPECT_FALSE(ovlog_open(folder.c_str(), 0));
    ovlog_write_tag(1, L"t", L"to stderr");
    EXPECT_TRUE(ovlog_open(path.c_str(), 0));
    ovlog_write_tag(4, L"t", L"back in the file");
    ovlog_close();
    EXPECT_EQ(ReadLogMessages(path).back(), "INFO t: back in the file");
}

// A full log gives way to a new file at the next open, but never while
// another run (the service's) writes it.
TEST(Log, AFullLogStartsANewFileAtAnOpenNobodyElseWrites)
{
    TempDir dir(L"log");
    const std::wstring path = dir / L"launcher.log";
    ASSERT_TRUE(WriteTextFile(path, "old run\r\n" + std::string(kLogFileRotateBytes, 'x') + "\r\n") &&
                WriteTextFile(path + L".1", "older run\r\n"));
    for (const wchar_t* run : {L"beside the service", L"next run"}) {
        UniqueFileHandle service(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                             FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
        if (wcscmp(run, L"next run") == 0)
            service.reset();
        ASSERT_TRUE(ovlog_open(path.c_str(), 0));
        ovlog_write_tag(kLogInformation, L"startup", L"%s", run);
        ovlog_close();
    }
    EXPECT_EQ(ReadTextFile(path + L".2"), "older run\r\n");
    const std::string old = ReadTextFile(path + L".1");
    EXPECT_EQ(old.rfind("old run\r\n", 0), 0u);
    EXPECT_NE(old.find("INFO startup: beside the service"), std::string::npos);
    const std::vector<std::string> expected = {
        "INFO log: This log continues \"" + Narrow(path) + ".1\", which had reached 10 MiB", "INFO startup: next run"};
    EXPECT_EQ(ReadLogMessages(path), expected);
}
