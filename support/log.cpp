#include "support/support.h"

#include <atomic>

namespace {

enum class LogState { NotOpened, File, Stderr, Closed };

// Guards the state and the file: one message is one WriteFile under the
// lock, so lines from different threads never interleave.
SRWLOCK g_logLock = SRWLOCK_INIT;
LogState g_logState = LogState::NotOpened;
HANDLE g_logFile = INVALID_HANDLE_VALUE;
uint32_t g_logFlags = 0;
std::atomic<int> g_debugLevel{0};

// Each thread composes into buffers of its own that keep their capacity:
// under Wine every heap allocation takes the heap's lock, and threads
// logging at once spent most of their time waiting for it. A buffer grown
// beyond kKeptBufferChars by one large message is released afterwards.
struct ComposeBuffers {
    std::wstring text;
    std::string line;
};
thread_local ComposeBuffers t_buffers;
constexpr size_t kKeptBufferChars = 16 * 1024;

void WriteAll(HANDLE target, const std::string& line)
{
    if (target == nullptr || target == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(target, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void WriteMessage(int severity, int debugLevel, const wchar_t* tag, const wchar_t* format, va_list args)
{
    const DWORD saved = GetLastError();
    {
        // Compose outside the lock; only the write is serialised.
        std::wstring& text = t_buffers.text;
        std::string& line = t_buffers.line;
        text.clear();
        line.clear();
        if (format != nullptr)
            FormatWideV(text, format, args);
        SYSTEMTIME now;
        GetLocalTime(&now);
        const LogStamp stamp{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                             now.wMilliseconds};
        char levelBuffer[16];
        line.reserve(64 + text.size());
        ComposeLogLine(line, stamp, GetCurrentThreadId(), LogLevelName(severity, debugLevel, levelBuffer, 16),
                       tag, text);

        ScopedLock lock(g_logLock);
        switch (g_logState) {
        case LogState::File:
            WriteAll(g_logFile, line);
            if (g_logFlags & kLogEchoToStderr)
                WriteAll(GetStdHandle(STD_ERROR_HANDLE), line);
            break;
        case LogState::NotOpened:
        case LogState::Stderr:
            WriteAll(GetStdHandle(STD_ERROR_HANDLE), line);
            break;
        case LogState::Closed:
            // Late messages (a child's output after the run ended) are dropped.
            break;
        }
    }
    if (t_buffers.text.capacity() > kKeptBufferChars)
        std::wstring().swap(t_buffers.text);
    if (t_buffers.line.capacity() > kKeptBufferChars)
        std::string().swap(t_buffers.line);
    SetLastError(saved);
}

}  // namespace

bool ovlog_open(const wchar_t* path, uint32_t flags)
{
    const DWORD saved = GetLastError();
    HANDLE file = INVALID_HANDLE_VALUE;
    if (path != nullptr && path[0] != L'\0') {
        CreateParentFolders(path);
        // FILE_APPEND_DATA makes every write an atomic append, also against
        // another process writing the same file.
        file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    HANDLE previous = INVALID_HANDLE_VALUE;
    {
        ScopedLock lock(g_logLock);
        previous = g_logFile;
        g_logFile = file;
        g_logFlags = flags;
        g_logState = file != INVALID_HANDLE_VALUE ? LogState::File : LogState::Stderr;
    }
    if (previous != INVALID_HANDLE_VALUE)
        CloseHandle(previous);
    SetLastError(saved);
    return file != INVALID_HANDLE_VALUE;
}

void ovlog_set_debug_level(int level)
{
    g_debugLevel.store(level, std::memory_order_relaxed);
}

void ovlog_debug_tag(const wchar_t* tag, int level, const wchar_t* format, ...)
{
    if (level > g_debugLevel.load(std::memory_order_relaxed))
        return;
    va_list args;
    va_start(args, format);
    WriteMessage(0, level, tag, format, args);
    va_end(args);
}

void ovlog_write_tag(int16_t severity, const wchar_t* tag, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteMessage(severity, 0, tag, format, args);
    va_end(args);
}

void ovlog_close()
{
    const DWORD saved = GetLastError();
    HANDLE file = INVALID_HANDLE_VALUE;
    {
        ScopedLock lock(g_logLock);
        file = g_logFile;
        g_logFile = INVALID_HANDLE_VALUE;
        g_logState = LogState::Closed;
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    SetLastError(saved);
}
