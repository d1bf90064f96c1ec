#include "support/log.h"

#include <atomic>
#include <utility>

#include "support/console.h"
#include "support/error_text.h"
#include "support/files.h"
#include "support/handles.h"
#include "support/once.h"
#include "support/log_line.h"

namespace {

enum class LogState { NotOpened, File, Stderr, Closed };

// One lock guards the state, the file and the queue of composed lines.
// Writes are combined: a caller queues its line, and whichever caller finds
// no write under way becomes the writer: it writes everything queued in one
// WriteFile, outside the lock, and goes on until the queue is empty. So
// lines never interleave, and a burst from many threads costs a few system
// calls instead of a lock hand-off and a call for every line.
SRWLOCK g_logLock = SRWLOCK_INIT;
CONDITION_VARIABLE g_logWritten = CONDITION_VARIABLE_INIT;
LogState g_logState = LogState::NotOpened;
UniqueFileHandle g_logFile;
uint32_t g_logFlags = 0;
std::string g_pending;        // queued lines, in order
std::string g_writing;        // the batch being written; only the writer touches it
bool g_writeUnderWay = false;
uint64_t g_queuedCount = 0;   // lines queued so far
uint64_t g_writtenCount = 0;  // lines written so far (a prefix of the queued ones)
std::atomic<int> g_debugLevel{0};

// Each thread composes into buffers of its own that keep their capacity:
// under Wine every heap allocation takes the heap's lock, and threads
// logging at once spent most of their time waiting for it. A buffer grown
// beyond kKeptBufferChars by one large message is released afterwards.
// Kept in fiber-local storage, which frees them when their thread ends (a
// thread_local with a destructor would pull the C++ runtime's thread
// library into the exe).
struct ComposeBuffers {
    std::wstring text;
    std::string line;
};
constexpr size_t kKeptBufferChars = 16 * 1024;
INIT_ONCE g_buffersOnce = INIT_ONCE_STATIC_INIT;
DWORD g_buffersIndex = FLS_OUT_OF_INDEXES;

void NTAPI FreeComposeBuffers(void* buffers)
{
    delete static_cast<ComposeBuffers*>(buffers);
}

// This thread's buffers; null when none can be had (the caller then uses
// buffers of its own).
ComposeBuffers* ThreadBuffers()
{
    RunOnce(g_buffersOnce, [] { g_buffersIndex = FlsAlloc(&FreeComposeBuffers); });
    if (g_buffersIndex == FLS_OUT_OF_INDEXES)
        return nullptr;
    auto* buffers = static_cast<ComposeBuffers*>(FlsGetValue(g_buffersIndex));
    if (buffers == nullptr) {
        buffers = new (std::nothrow) ComposeBuffers;
        if (buffers != nullptr && !FlsSetValue(g_buffersIndex, buffers)) {
            delete buffers;
            buffers = nullptr;
        }
    }
    return buffers;
}

void WriteAll(HANDLE target, const std::string& bytes)
{
    if (target == nullptr || target == INVALID_HANDLE_VALUE)
        return;
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(bytes.size() - done < 0x40000000 ? bytes.size() - done : 0x40000000);
        if (!WriteFile(target, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return;
        done += written;
    }
}

// With the lock held: returns once the first `count` queued lines have been
// written, writing them itself when no other caller is (and then also the
// lines queued meanwhile by callers that did not wait).
void WaitUntilWrittenLocked(uint64_t count)
{
    while (g_writtenCount < count) {
        if (g_writeUnderWay) {
            SleepConditionVariableSRW(&g_logWritten, &g_logLock, INFINITE, 0);
            continue;
        }
        g_writeUnderWay = true;
        g_writing.swap(g_pending);
        const uint64_t batchEnd = g_queuedCount;
        const HANDLE file = g_logState == LogState::File ? g_logFile.get() : INVALID_HANDLE_VALUE;
        const bool toStderr = g_logState != LogState::File || (g_logFlags & kLogEchoToStderr);
        ReleaseSRWLockExclusive(&g_logLock);

        WriteAll(file, g_writing);
        if (toStderr)
            WriteAll(GetStdHandle(STD_ERROR_HANDLE), g_writing);
        if (g_writing.capacity() > 64 * kKeptBufferChars)
            std::string().swap(g_writing);
        else
            g_writing.clear();

        AcquireSRWLockExclusive(&g_logLock);
        g_writeUnderWay = false;
        g_writtenCount = batchEnd;
        WakeAllConditionVariable(&g_logWritten);
        // Lines queued meanwhile by callers that did not wait: this writer takes them.
        if (!g_pending.empty() && count < g_queuedCount)
            count = g_queuedCount;
    }
}

// With the lock held: every queued line written, so the state can change.
void DrainLocked()
{
    WaitUntilWrittenLocked(g_queuedCount);
}

void Emit(const std::string& line, bool waitForWrite)
{
    ScopedLock lock(g_logLock);
    if (g_logState == LogState::Closed)
        return;  // late messages (a child's output after the run ended) are dropped
    g_pending += line;
    ++g_queuedCount;
    // A write under way takes this line too before it ends: unless the
    // caller must know it is on disk, there is no need to wait for that.
    if (g_writeUnderWay && !waitForWrite)
        return;
    WaitUntilWrittenLocked(g_queuedCount);
}

void WriteMessage(int severity, int debugLevel, const wchar_t* tag, const wchar_t* format, va_list args)
{
    const DWORD saved = GetLastError();
    ComposeBuffers* kept = ThreadBuffers();
    ComposeBuffers own;
    ComposeBuffers& buffers = kept != nullptr ? *kept : own;
    {
        std::wstring& text = buffers.text;
        std::string& line = buffers.line;
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
        Emit(line, severity == kLogError);
    }
    if (buffers.text.capacity() > kKeptBufferChars)
        std::wstring().swap(buffers.text);
    if (buffers.line.capacity() > kKeptBufferChars)
        std::string().swap(buffers.line);
    SetLastError(saved);
}

// How the rotation at an open went; the log says so once it is open.
struct LogRotation {
    bool rotated = false;
    DWORD error = ERROR_SUCCESS;  // set when a full log could not be rotated
};

LogRotation RotateIfFull(const wchar_t* path)
{
    LogRotation result;
    // Reading access takes part in sharing, so this open fails while any
    // other handle writes the file (the service's live log). Held during
    // the rename, it keeps every new writer out; it shares delete, which
    // the rename needs.
    UniqueFileHandle alone(CreateFileW(path, FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!alone || !GetFileSizeEx(alone.get(), &size) || static_cast<uint64_t>(size.QuadPart) < kLogFileRotateBytes)
        return result;
    unsigned long error = ERROR_SUCCESS;
    result.rotated = RotateNumberedFiles(path, kLogFilesKept, error);
    result.error = error;
    return result;
}

}  // namespace

bool ovlog_open(const wchar_t* path, uint32_t flags)
{
    const DWORD saved = GetLastError();
    UniqueFileHandle file;
    LogRotation rotation;
    if (path != nullptr && path[0] != L'\0') {
        CreateParentFolders(path);
        rotation = RotateIfFull(path);
        // FILE_APPEND_DATA: every write goes to the end, also when another
        // process appends to the same file (Windows keeps each write whole;
        // Wine does not, so writes here never overlap each other).
        file.reset(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    const bool opened = static_cast<bool>(file);
    UniqueFileHandle previous;
    {
        ScopedLock lock(g_logLock);
        DrainLocked();
        previous = std::move(g_logFile);
        g_logFile = std::move(file);
        g_logFlags = flags;
        g_logState = opened ? LogState::File : LogState::Stderr;
    }
    // Closed outside the lock: everything queued for it is written.
    previous.reset();
    if (rotation.rotated)
        ovlog_write_tag(kLogInformation, L"log", L"This log continues \"%s.1\", which had reached %u MiB", path,
                        static_cast<unsigned>(kLogFileRotateBytes >> 20));
    else if (rotation.error != ERROR_SUCCESS)
        ovlog_write_tag(kLogWarning, L"log", L"Cannot rotate this log, which has reached %u MiB (Error 0x%08x: %s); "
                        L"it grows on", static_cast<unsigned>(kLogFileRotateBytes >> 20), rotation.error,
                        ErrorText(rotation.error).get());
    SetLastError(saved);
    return opened;
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
    UniqueFileHandle file;
    {
        ScopedLock lock(g_logLock);
        DrainLocked();
        file = std::move(g_logFile);
        g_logState = LogState::Closed;
    }
    // Closed outside the lock, as at a reopen.
    file.reset();
    SetLastError(saved);
}
