// The server output file while a reader (Get-Content -Wait, a virus
// scanner) holds it without delete sharing.
#include <gtest/gtest.h>

#include "launcher/server_output.h"
#include "support/log.h"
#include "tests/harness.h"

TEST(ServerOutput, AHeldFileGrowsOnLosesNothingAndRotatesOnceLetGo)
{
    TempDir dir(L"output");
    const std::wstring path = dir / L"server-output.log", log = dir / L"launcher.log";
    ASSERT_TRUE(WriteTextFile(path + L".1", "one") && WriteTextFile(path + L".2", "two"));
    ASSERT_TRUE(ovlog_open(log.c_str(), 0));
    constexpr int kLines = 25 * 1024 * 1024 / 100, kLetGoAt = 125000;  // let go past two failed rotations
    ServerOutputFile output(path.c_str());
    output.childCreated(4242);
    output.readingStarts();
    UniqueFileHandle reader(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);
    std::string chunk;
    for (int i = 0; i < kLines; ++i) {
        char line[101];
        snprintf(line, sizeof(line), "%08d %090d\n", i, 0);
        chunk += line;
        if (chunk.size() >= 65000 || i + 1 == kLines) {
            output.bytesReceived(chunk.data(), chunk.size());
            chunk.clear();
        }
        if (i == kLetGoAt)
            reader.reset();
        // The retries moved no old file twice: only the oldest is ever dropped.
        if (i == kLetGoAt + 1000) {
            EXPECT_EQ(ReadTextFile(path + L".2") + ReadTextFile(path + L".3"), "onetwo");
        }
    }
    output.outputEnded();
    ovlog_close();

    // Oldest first: the run's header, then every line once, in order.
    std::string all;
    for (const wchar_t* suffix : {L".2", L".1", L""})
        all += ReadTextFile(path + suffix);
    EXPECT_EQ(ReadTextFile(path + L".3"), "one");
    const std::vector<std::string> lines = SplitLines(all);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kLines) + 1);
    EXPECT_EQ(lines[0].rfind("---- ", 0), 0u);
    for (int i = 0; i < kLines; ++i)
        ASSERT_EQ(atoi(lines[i + 1].c_str()), i) << "line " << i + 1;
    EXPECT_GT(lines.size() - SplitLines(ReadTextFile(path + L".1") + ReadTextFile(path)).size(), 120000u)
        << "it did not grow on past the cap while held";

    const std::vector<std::string> messages = ReadLogMessages(log);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].rfind("WARNING output: Cannot rotate the server output file \"" + Narrow(path) +
                                    "\" (Error 0x00000020: ", 0), 0u);
    EXPECT_EQ(messages[1].rfind("INFO output: The server output file \"" + Narrow(path) + "\" was rotated again at ",
                                0), 0u);
}
