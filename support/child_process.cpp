#include "support/child_process.h"

#include <initializer_list>
#include <memory>
#include <string>

#include "support/handles.h"
#include "support/job.h"

namespace {

constexpr DWORD kCancelRetryMs = 50;

// Owns a PROC_THREAD_ATTRIBUTE_LIST naming the only handles a child may
// inherit: nothing else of the launcher's (its log, its job, another
// child's pipe) reaches it, whatever else is inheritable at that moment.
class InheritedHandles {
public:
    InheritedHandles(HANDLE* handles, size_t count)
    {
        if (count == 0)
            return;
        SIZE_T bytes = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &bytes);
        storage_.reset(new (std::nothrow) char[bytes]);
        if (storage_ == nullptr) {
            error_ = ERROR_NOT_ENOUGH_MEMORY;
            return;
        }
        const auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.get());
        if (!InitializeProcThreadAttributeList(list, 1, 0, &bytes)) {
            const DWORD error = GetLastError();
            error_ = error;
            return;
        }
        list_ = list;
        if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, count * sizeof(HANDLE),
                                       nullptr, nullptr)) {
            const DWORD error = GetLastError();
            error_ = error;
            DeleteProcThreadAttributeList(list_);
            list_ = nullptr;
        }
    }
    ~InheritedHandles()
    {
        if (list_ != nullptr)
            DeleteProcThreadAttributeList(list_);
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }
    DWORD error() const { return error_; }

private:
    std::unique_ptr<char[]> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    DWORD error_ = ERROR_SUCCESS;
};

// ERROR_SUCCESS, or why the child is not in the job.
DWORD JoinLauncherJob(HANDLE process)
{
    const HANDLE job = LauncherJob();
    if (job == nullptr)
        return LauncherJobError();
    if (!AssignProcessToJobObject(job, process)) {
        const DWORD error = GetLastError();
        return error;
    }
    return ERROR_SUCCESS;
}

// An inheritable duplicate of `source` in `copy`, so the launcher's own
// handle stays as it is; nothing to do for none. ERROR_SUCCESS or the error.
DWORD DuplicateInheritable(HANDLE source, UniqueKernelHandle& copy)
{
    const HANDLE self = GetCurrentProcess();
    if (source != nullptr && !DuplicateHandle(self, source, self, copy.put(), 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        const DWORD error = GetLastError();
        return error;
    }
    return ERROR_SUCCESS;
}

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != FALSE;
}

}  // namespace

bool RedirectedStandardHandles(ChildOptions& options)
{
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    const auto usable = [](HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; };
    if (!(usable(output) && !IsConsole(output)) && !(usable(error) && !IsConsole(error)))
        return false;
    // Both, so that a console one of the two stays the child's too:
    // with STARTF_USESTDHANDLES the child gets only what it is given.
    options.standardOutput = usable(output) ? output : nullptr;
    options.standardError = usable(error) ? error : nullptr;
    return true;
}

// Shared by the child's owner and its reader thread. The thread may outlive
// a finish() that had to give up on it (a grandchild holding the pipe
// open), so each holds a reference, and `sink` is cleared under the lock:
// from then on no callback can reach the owner.
struct ChildProcess::Reader {
    SRWLOCK lock = SRWLOCK_INIT;
    OutputSink* sink = nullptr;
    UniqueKernelHandle pipe;
    UniqueKernelHandle done;  // signalled when the reader has left its loop
};

DWORD WINAPI ChildProcess::ReaderMain(void* context)
{
    // The thread's reference, handed over by startReader.
    const std::shared_ptr<Reader> reader = std::move(*std::unique_ptr<std::shared_ptr<Reader>>(
        static_cast<std::shared_ptr<Reader>*>(context)));
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadBytes]);
    {
        ScopedLock lock(reader->lock);
        if (reader->sink != nullptr)
            reader->sink->readingStarts();
    }
    for (;;) {
        DWORD read = 0;
        // ERROR_BROKEN_PIPE is the normal end: every writer has closed its end.
        if (buffer == nullptr || !ReadFile(reader->pipe.get(), buffer.get(), kReadBytes, &read, nullptr))
            break;
        ScopedLock lock(reader->lock);
        if (reader->sink != nullptr)
            reader->sink->bytesReceived(buffer.get(), read);
    }
    {
        ScopedLock lock(reader->lock);
        if (reader->sink != nullptr)
            reader->sink->outputEnded();
    }
    SetEvent(reader->done.get());
    return 0;
}

bool ChildProcess::startReader(const std::shared_ptr<Reader>& reader)
{
    // CreateThread passes one pointer: a reference of the thread's own.
    std::unique_ptr<std::shared_ptr<Reader>> threadReference(new (std::nothrow) std::shared_ptr<Reader>(reader));
    if (threadReference == nullptr) {
        lastError_ = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    const HANDLE thread = CreateThread(nullptr, 0, &ReaderMain, threadReference.get(), 0, nullptr);
    if (thread == nullptr) {
        const DWORD error = GetLastError();
        lastError_ = error;
        return false;
    }
    threadReference.release();  // the thread's now
    readerThread_.reset(thread);
    reader_ = reader;
    return true;
}

bool ChildProcess::start(const wchar_t* application, const wchar_t* commandLine, const ChildOptions& options)
{
    if (process_) {
        lastError_ = ERROR_ALREADY_INITIALIZED;
        return false;
    }
    UniqueKernelHandle readEnd, writeEnd, done, outputCopy, errorCopy;
    UniqueFileHandle nullInput;
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    const bool redirected =
        options.output == nullptr && (options.standardOutput != nullptr || options.standardError != nullptr);
    if (options.output != nullptr || redirected) {
        if (options.output != nullptr && !CreatePipe(readEnd.put(), writeEnd.put(), nullptr, kPipeBufferBytes)) {
            const DWORD error = GetLastError();
            lastError_ = error;
            return false;
        }
        if (redirected) {
            DWORD error = DuplicateInheritable(options.standardOutput, outputCopy);
            if (error == ERROR_SUCCESS)
                error = DuplicateInheritable(options.standardError, errorCopy);
            if (error != ERROR_SUCCESS) {
                lastError_ = error;
                return false;
            }
        }
        // The child gets no console input: it must never wait for a key.
        nullInput.reset(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    0, nullptr));
        if (!nullInput) {
            const DWORD error = GetLastError();
            lastError_ = error;
            return false;
        }
        if (options.output != nullptr) {
            done.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            if (!done) {
                const DWORD error = GetLastError();
                lastError_ = error;
                return false;
            }
        }
        SetHandleInformation(writeEnd.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        SetHandleInformation(nullInput.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = nullInput.get();
        startup.StartupInfo.hStdOutput = redirected ? outputCopy.get() : writeEnd.get();
        startup.StartupInfo.hStdError = redirected ? errorCopy.get() : writeEnd.get();
    }
    // Each handle once: the list refuses a repeated one.
    HANDLE inherited[4];
    size_t inheritedCount = 0;
    for (const HANDLE handle : {writeEnd.get(), outputCopy.get(), errorCopy.get()})
        if (handle != nullptr)
            inherited[inheritedCount++] = handle;
    if (inheritedCount > 0)
        inherited[inheritedCount++] = nullInput.get();
    const InheritedHandles handleList(inherited, inheritedCount);
    DWORD flags = CREATE_SUSPENDED | options.creationFlags;
    if (inheritedCount > 0) {
        if (handleList.get() == nullptr) {
            lastError_ = handleList.error();
            return false;
        }
        startup.lpAttributeList = handleList.get();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }

    std::wstring writable = commandLine != nullptr ? commandLine : L"";
    writable.push_back(L'\0');
    PROCESS_INFORMATION info{};
    const BOOL created = CreateProcessW(application, &writable[0], nullptr, nullptr, inheritedCount > 0, flags,
                                        nullptr, options.currentDir, &startup.StartupInfo, &info);
    const DWORD createError = GetLastError();
    // Our copies of the child's ends go at once, on success and failure
    // alike: while the write end is open here the reader never sees the end.
    writeEnd.reset();
    nullInput.reset();
    outputCopy.reset();
    errorCopy.reset();
    if (!created) {
        lastError_ = createError;
        return false;
    }
    UniqueKernelHandle thread(info.hThread);
    UniqueKernelHandle process(info.hProcess);
    // Without the job a killed launcher would leave the child running: the
    // caller says so, and it runs all the same.
    jobError_ = JoinLauncherJob(process.get());

    if (options.output != nullptr) {
        const std::shared_ptr<Reader> reader(new (std::nothrow) Reader);
        bool readerStarted = false;
        if (reader == nullptr) {
            lastError_ = ERROR_NOT_ENOUGH_MEMORY;
        } else {
            reader->sink = options.output;
            reader->pipe = std::move(readEnd);
            reader->done = std::move(done);
            options.output->childCreated(info.dwProcessId);
            readerStarted = startReader(reader);
        }
        if (!readerStarted) {
            // Without a reader the child would block on a full pipe.
            TerminateProcess(process.get(), ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
    }
    // A child left suspended would be waited for for ever.
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        const DWORD error = GetLastError();
        lastError_ = error;
        TerminateProcess(process.get(), 1);
        process_ = std::move(process);
        finish();
        return false;
    }
    process_ = std::move(process);
    processId_ = info.dwProcessId;
    waitProgress_ = options.waitProgress;
    return true;
}

bool ChildProcess::waitFor(HANDLE object, DWORD timeoutMs) const
{
    if (waitProgress_ == nullptr)
        return WaitForSingleObject(object, timeoutMs) == WAIT_OBJECT_0;
    for (;;) {
        waitProgress_();
        const DWORD slice = timeoutMs < kProgressIntervalMs ? timeoutMs : kProgressIntervalMs;
        if (WaitForSingleObject(object, slice) == WAIT_OBJECT_0)
            return true;
        if (timeoutMs != INFINITE)
            timeoutMs -= slice;
        if (timeoutMs == 0)
            return false;
    }
}

bool ChildProcess::waitForOutputEnd(DWORD timeoutMs)
{
    return reader_ == nullptr || waitFor(reader_->done.get(), timeoutMs);
}

void ChildProcess::finish()
{
    if (process_ && WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) {
        // Nothing is left behind: a child still running is ended.
        TerminateProcess(process_.get(), 1);
        waitFor(process_.get(), kEndWaitMs);
    }
    if (reader_ != nullptr) {
        if (!waitFor(reader_->done.get(), kReaderDrainMs)) {
            // Another process still holds the pipe's write end: cancel the
            // read, again while it lasts, as a cancel that comes while the
            // reader hands a chunk on finds no read to cancel.
            const ULONGLONG cancelUntil = GetTickCount64() + kCancelWaitMs;
            do {
                CancelSynchronousIo(readerThread_.get());
            } while (!waitFor(reader_->done.get(), kCancelRetryMs) && GetTickCount64() < cancelUntil);
        }
        {
            ScopedLock lock(reader_->lock);
            reader_->sink = nullptr;
        }
        reader_.reset();
    }
    readerThread_.reset();
    process_.reset();
}
