// The server output file under real trouble: a reader that holds it
// without delete sharing, a path that cannot be written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/server_output.h"
#include "support/log.h"
#include "tests/harness.h"

namespace {

// Feeds numbered 100-byte lines [from, to) as a reader hands them over.
void Feed(ServerOutputFile& output, int from, int to)
{
    std::string chunk;
    for (int i = from; i < to; ++i) {
        char line[101];
        snprintf(line, sizeof(line), "%08d %090d\n", i, 0);
        chunk += line;
        if (chunk.size() >= 65000 || i + 1 == to) {
            output.bytesReceived(chunk.data(), chunk.size());
            chunk.clear();
        }
    }
}

int CountStartingWith(const std::vector<std::string>& messages, const std::string& start)
{
    int count = 0;
    for (const std::string& m : messages)
        count += m.rfind(start, 0) == 0;
    return count;
}

}  // namespace

TEST(ServerOutput, AHeldFileGrowsOnLosesNothingAndRotatesOnceLetGo)
{
    TempDir dir(L"output");
    const std::wstring path = dir / L"server-output.log";
    const std::wstring log = dir / L"launcher.log";
    ASSERT_TRUE(ovlog_open(log.c_str(), 0));
    constexpr int kLines = 25 * 1024 * 1024 / 100;
    constexpr int kLetGoAt = 125000;  // past 11 MiB: two rotations have failed by then
    {
        ServerOutputFile output(path.c_str());
        output.childCreated(4242);
        output.readingStarts();
        ChildProcess holder;
        ASSERT_TRUE(StartChild(holder, Quote(FakeJavaExe()) + L" --hold " + Quote(path)));
        ASSERT_TRUE(WaitUntil([&] { return FileExists(path + L".held"); }, 10000));
        Feed(output, 0, kLetGoAt);
        EXPECT_FALSE(FileExists(path + L".1")) << "rotated over a held file";
        TerminateProcess(holder.process(), 0);
        holder.finish();
        Feed(output, kLetGoAt, kLines);
        output.outputEnded();
    }
    ovlog_close();

    // Oldest first: every line once, in order, the run's header first.
    std::string all;
    for (const wchar_t* suffix : {L".2", L".1", L""})
        all += ReadTextFile(path + suffix);
    EXPECT_FALSE(FileExists(path + L".3"));
    EXPECT_EQ(all.rfind("---- ", 0), 0u);
    const std::vector<std::string> lines = SplitLines(all);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kLines) + 1);
    for (int i = 0; i < kLines; ++i)
        ASSERT_EQ(atoi(lines[i + 1].c_str()), i) << "line " << i + 1;
    WIN32_FILE_ATTRIBUTE_DATA first{};
    ASSERT_TRUE(GetFileAttributesExW((path + L".2").c_str(), GetFileExInfoStandard, &first));
    EXPECT_GT(first.nFileSizeLow, 12u * 1024 * 1024) << "it went on past the cap while held";

    const std::vector<std::string> messages = ReadLogMessages(log);
    EXPECT_EQ(CountStartingWith(messages, "WARNING output: Cannot rotate the server output file \"" + Narrow(path) +
                                              "\" (Error 0x00000020: "),
              1);
    EXPECT_EQ(CountStartingWith(messages, "INFO output: The server output file \"" + Narrow(path) +
                                              "\" was rotated again at "),
              1);
    EXPECT_EQ(messages.size(), 2u);
}

// Each chunk that cannot be written is counted, and said once at the end.
TEST(ServerOutput, DroppedBytesAreCountedAndReportedOnce)
{
    TempDir dir(L"output");
    const std::wstring log = dir / L"launcher.log";
    ASSERT_TRUE(WriteTextFile(dir / L"file", "a file, not a folder"));
    const std::wstring path = dir / L"file\\server-output.log";
    ASSERT_TRUE(ovlog_open(log.c_str(), 0));
    {
        ServerOutputFile output(path.c_str());
        output.childCreated(4242);
        output.readingStarts();
        Feed(output, 0, 1000);
        output.bytesReceived("last\n", 5);
        output.outputEnded();
    }
    ovlog_close();
    const std::vector<std::string> messages = ReadLogMessages(log);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].rfind("WARNING output: Cannot open the server output file \"" + Narrow(path) + "\" (", 0),
              0u);
    EXPECT_EQ(messages[1], "INFO output: 100005 bytes of the server's output were dropped while " + Narrow(path) +
                               " could not be written");
}

// A rotation cut short by a held file is finished by the next one, and
// only the oldest file of all is ever dropped.
TEST(ServerOutput, ARotationRetriedAfterAFailureDropsNoOtherFile)
{
    TempDir dir(L"rotate");
    const std::wstring path = dir / L"server-output.log";
    const auto contents = [&] {
        std::string all;
        for (const wchar_t* suffix : {L"", L".1", L".2", L".3"})
            all += (FileExists(path + suffix) ? ReadTextFile(path + suffix) : "-") + " ";
        return all;
    };
    ASSERT_TRUE(WriteTextFile(path, "0") && WriteTextFile(path + L".1", "1") && WriteTextFile(path + L".2", "2") &&
                WriteTextFile(path + L".3", "3"));
    unsigned long error = 0;
    {
        UniqueFileHandle reader(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(reader);
        EXPECT_FALSE(RotateNumberedFiles(path.c_str(), kServerOutputFilesKept, error));
        EXPECT_EQ(error, static_cast<unsigned long>(ERROR_SHARING_VIOLATION));
    }
    EXPECT_EQ(contents(), "0 - 1 2 ");
    EXPECT_TRUE(RotateNumberedFiles(path.c_str(), kServerOutputFilesKept, error));
    EXPECT_EQ(contents(), "- 0 1 2 ");
    ASSERT_TRUE(WriteTextFile(path, "new"));
    EXPECT_TRUE(RotateNumberedFiles(path.c_str(), kServerOutputFilesKept, error));
    EXPECT_EQ(contents(), "- new 0 1 ");
}
