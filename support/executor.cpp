#include "support/support.h"

#include <cstring>

namespace {
// Serialises the window in which the child's pipe end is inheritable, so a
// second executor starting at the same moment cannot inherit it too and
// keep the first one's pipe open.
SRWLOCK g_inheritLock = SRWLOCK_INIT;
}  // namespace

// Shared by the executor and its reader thread. The thread may outlive a
// finish() that had to give up on it (a grandchild holding the pipe open),
// so the state is reference-counted and `owner` is cleared under the lock:
// from then on no callback can reach the executor.
struct ProcessExecutor::Reader {
    LONG references = 2;
    SRWLOCK lock = SRWLOCK_INIT;
    ProcessExecutor* owner = nullptr;
    UniqueKernelHandle pipe;
    UniqueKernelHandle done;  // signalled when the reader has left its loop

    void release()
    {
        if (InterlockedDecrement(&references) == 0)
            delete this;
    }
};

ProcessExecutor::ProcessExecutor(const wchar_t* commandLine, bool newProcessGroup, bool showWindow)
    : commandLine_(commandLine != nullptr ? commandLine : L""),
      newProcessGroup_(newProcessGroup),
      showWindow_(showWindow)
{
}

ProcessExecutor::~ProcessExecutor()
{
    finish();
}

void ProcessExecutor::outputReceived(const char*) {}

void ProcessExecutor::endOfOutput() {}

DWORD WINAPI ProcessExecutor::ReaderMain(void* context)
{
    Reader* reader = static_cast<Reader*>(context);
    // A UTF-8 character cut by a read waits at the front of the buffer
    // (at most 3 bytes) for the rest of its bytes.
    constexpr size_t kMaxCarriedBytes = 3;
    char chunk[kMaxCarriedBytes + kOutputChunkBytes + 1];
    size_t carried = 0;
    for (;;) {
        DWORD read = 0;
        // ERROR_BROKEN_PIPE is the normal end: every writer has closed its end.
        if (!ReadFile(reader->pipe.get(), chunk + carried, kOutputChunkBytes, &read, nullptr))
            break;
        const size_t filled = carried + read;
        const size_t complete = CompleteUtf8Length(chunk, filled);
        if (complete == 0) {
            carried = filled;
            continue;
        }
        char cut[kMaxCarriedBytes];
        carried = filled - complete;
        memcpy(cut, chunk + complete, carried);
        chunk[complete] = '\0';
        {
            ScopedLock lock(reader->lock);
            if (reader->owner != nullptr)
                reader->owner->outputReceived(chunk);
        }
        memcpy(chunk, cut, carried);
    }
    {
        ScopedLock lock(reader->lock);
        if (reader->owner != nullptr) {
            // Output that ends inside a character keeps its bytes.
            chunk[carried] = '\0';
            if (carried > 0)
                reader->owner->outputReceived(chunk);
            reader->owner->endOfOutput();
        }
    }
    SetEvent(reader->done.get());
    reader->release();
    return 0;
}

bool ProcessExecutor::execute()
{
    if (executed_) {
        lastError_ = ERROR_ALREADY_INITIALIZED;
        return false;
    }
    executed_ = true;

    UniqueKernelHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), nullptr, 0)) {
        lastError_ = GetLastError();
        return false;
    }
    // The child gets no console input: a stop command must never wait for a key.
    UniqueFileHandle nullInput(
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));

    UniqueKernelHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done) {
        lastError_ = GetLastError();
        return false;
    }

    std::wstring writable = commandLine_;
    writable.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullInput ? nullInput.get() : nullptr;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    PROCESS_INFORMATION info{};
    DWORD flags = 0;
    if (newProcessGroup_)
        flags |= CREATE_NEW_PROCESS_GROUP;
    if (!showWindow_)
        flags |= CREATE_NO_WINDOW;
    if (job_ != nullptr)
        flags |= CREATE_SUSPENDED;
    BOOL created = FALSE;
    DWORD createError = 0;
    {
        ScopedLock lock(g_inheritLock);
        SetHandleInformation(writeEnd.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        if (nullInput)
            SetHandleInformation(nullInput.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        created = CreateProcessW(nullptr, &writable[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup,
                                 &info);
        createError = GetLastError();
        // Our copy of the child's end must go at once, on success and failure
        // alike: while it is open the reader would never see the end.
        writeEnd.reset();
        nullInput.reset();
    }
    if (!created) {
        lastError_ = createError;
        return false;
    }
    UniqueKernelHandle childThread(info.hThread);
    process_.reset(info.hProcess);
    if (job_ != nullptr) {
        // Best effort: the job is a backstop, and a child outside it is still
        // ended by finish().
        AssignProcessToJobObject(job_, process_.get());
        ResumeThread(childThread.get());
    }
    childThread.reset();
    processId_ = info.dwProcessId;

    Reader* reader = new Reader;
    reader->owner = this;
    reader->pipe = std::move(readEnd);
    reader->done = std::move(done);
    HANDLE thread = CreateThread(nullptr, 0, &ReaderMain, reader, 0, nullptr);
    if (thread == nullptr) {
        lastError_ = GetLastError();
        // Without a reader the child could block on a full pipe; end it.
        TerminateProcess(process_.get(), ERROR_NOT_ENOUGH_MEMORY);
        delete reader;
        return false;
    }
    readerThread_.reset(thread);
    reader_ = reader;
    return true;
}

DWORD ProcessExecutor::exitCode() const
{
    DWORD code = 0;
    if (process_ && !GetExitCodeProcess(process_.get(), &code))
        code = 0;
    return code;
}

bool ProcessExecutor::stop()
{
    if (!process_)
        return false;
    if (WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0)
        return true;
    return TerminateProcess(process_.get(), 1) != FALSE;
}

bool ProcessExecutor::waitForCompletion(uint32_t timeoutMs)
{
    if (!process_)
        return true;
    const ULONGLONG start = GetTickCount64();
    if (WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (reader_ == nullptr)
        return true;
    // The child has ended; give its last output the rest of the time.
    const ULONGLONG spent = GetTickCount64() - start;
    const DWORD rest = timeoutMs == INFINITE ? INFINITE
                       : spent >= timeoutMs ? 0
                                            : static_cast<DWORD>(timeoutMs - spent);
    return WaitForSingleObject(reader_->done.get(), rest) == WAIT_OBJECT_0;
}

void ProcessExecutor::finish()
{
    if (process_) {
        // Nothing is left behind: a child still running is ended.
        if (WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) {
            TerminateProcess(process_.get(), 1);
            WaitForSingleObject(process_.get(), kReaderDrainMs);
        }
    }
    if (reader_ != nullptr) {
        if (WaitForSingleObject(reader_->done.get(), kReaderDrainMs) != WAIT_OBJECT_0) {
            // Another process still holds the pipe's write end: cancel the read.
            CancelSynchronousIo(readerThread_.get());
            WaitForSingleObject(reader_->done.get(), kReaderDrainMs);
        }
        {
            ScopedLock lock(reader_->lock);
            reader_->owner = nullptr;
        }
        reader_->release();
        reader_ = nullptr;
    }
    readerThread_.reset();
    process_.reset();
}
