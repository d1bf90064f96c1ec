// Log throughput: 4 threads at once write through ovlog_debug_tag, then the
// file is read back and every line must be whole and every message present
// once. The floor: the same number of lines of the same length, already
// formatted, written by 4 threads with one WriteFile each under a lock to a
// file opened the way the log opens its own.
//
//   bench_log <runs> <messagesPerThread>
#include "bench/bench_common.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/log.h"
#include "tests/harness.h"

namespace {

constexpr int kThreads = 4;
// A typical line of a server's output, as the launcher logs it.
constexpr wchar_t kPadding[] = L"INFO:oejs.Server:main: Started Server@5a2e4553{STARTING}[9.4.57] @2713ms";

struct Barrier {
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Barrier() { CloseHandle(go); }
};

// Starts the writers, releases them at once and returns the ms from the
// release to the end of the last one.
template <typename Writer>
double RunWriters(Writer writer, std::vector<DWORD>& threadIds)
{
    Barrier barrier;
    std::vector<std::thread> threads;
    threadIds.assign(kThreads, 0);
    LONG ready = 0;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            threadIds[t] = GetCurrentThreadId();
            InterlockedIncrement(&ready);
            WaitForSingleObject(barrier.go, INFINITE);
            writer(t);
        });
    while (InterlockedCompareExchange(&ready, 0, 0) < kThreads)
        Sleep(1);
    const double start = NowMs();
    SetEvent(barrier.go);
    for (std::thread& thread : threads)
        thread.join();
    return NowMs() - start;
}

// Every line whole, every message once, from the thread that wrote it.
bool Verify(const std::wstring& path, int perThread, const std::vector<DWORD>& threadIds, const char* what)
{
    const std::string text = ReadTextFile(path);
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) {
        Fail("%s: the file does not end with a whole line", what);
        return false;
    }
    const std::string padding = Narrow(kPadding);
    std::vector<char> seen(static_cast<size_t>(kThreads) * perThread, 0);
    size_t lines = 0;
    for (const std::string& line : SplitLines(text)) {
        ++lines;
        unsigned long threadId = 0;
        std::string message;
        int t = -1, i = -1, consumed = 0;
        if (!ParseLogLine(line, message, &threadId) ||
            sscanf(message.c_str(), "DEBUG5 jetty: thread %d message %d %n", &t, &i, &consumed) != 2 ||
            message.compare(static_cast<size_t>(consumed), std::string::npos, padding) != 0 || t < 0 ||
            t >= kThreads || i < 0 || i >= perThread || threadIds[t] != threadId) {
            Fail("%s: line %zu is not a whole message: %.200s", what, lines, line.c_str());
            return false;
        }
        char& mark = seen[static_cast<size_t>(t) * perThread + i];
        if (mark) {
            Fail("%s: message %d of thread %d written twice", what, i, t);
            return false;
        }
        mark = 1;
    }
    if (lines != seen.size()) {
        Fail("%s: %zu lines for %zu messages", what, lines, seen.size());
        return false;
    }
    return true;
}

// The same line the log would write for message `i` of thread `t`, made
// without the heap (whose lock would make the floor slower than it is).
int FloorLine(char (&line)[512], const char* padding, DWORD threadId, int t, int i)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return snprintf(line, sizeof(line), "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] DEBUG5 jetty: thread %d message %d %s\r\n",
                    now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                    threadId, t, i, padding);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3 || _wtoi(argv[1]) <= 0 || _wtoi(argv[2]) <= 0) {
        fprintf(stderr, "usage: bench_log <runs> <messagesPerThread>\n");
        return 2;
    }
    const int runs = _wtoi(argv[1]);
    const int perThread = _wtoi(argv[2]);
    const TempDir folder(L"log", BenchRoot());
    const double total = static_cast<double>(kThreads) * perThread;
    const std::string padding = Narrow(kPadding);
    int failures = 0;

    // Round 0 warms the file system and the threads' buffers; not counted.
    for (int run = 0; run <= runs; ++run) {
        const std::wstring path = folder / (L"launcher-" + std::to_wstring(run) + L".log");
        std::vector<DWORD> ids;
        ovlog_open(path.c_str(), 0);
        ovlog_set_debug_level(5);
        const double ms = RunWriters(
            [perThread](int t) {
                for (int i = 0; i < perThread; ++i)
                    ovlog_debug_tag(L"jetty", 5, L"thread %d message %d %s", t, i, kPadding);
            },
            ids);
        ovlog_close();
        if (!Verify(path, perThread, ids, "log"))
            ++failures;
        else if (run > 0)
            Sample("log.launcher", total / (ms / 1000.0));
        DeleteFileW(path.c_str());

        // The floor, opened and locked as the log does.
        const std::wstring floorPath = folder / (L"floor-" + std::to_wstring(run) + L".log");
        HANDLE file = CreateFileW(floorPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                  FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        SRWLOCK lock = SRWLOCK_INIT;
        const double floorMs = RunWriters(
            [&](int t) {
                const DWORD id = GetCurrentThreadId();
                char line[512];
                for (int i = 0; i < perThread; ++i) {
                    const int length = FloorLine(line, padding.c_str(), id, t, i);
                    DWORD written = 0;
                    AcquireSRWLockExclusive(&lock);
                    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
                    ReleaseSRWLockExclusive(&lock);
                }
            },
            ids);
        CloseHandle(file);
        if (!Verify(floorPath, perThread, ids, "log floor"))
            ++failures;
        else if (run > 0)
            Sample("log.floor", total / (floorMs / 1000.0));
        DeleteFileW(floorPath.c_str());
    }
    return failures == 0 ? 0 : 1;
}
