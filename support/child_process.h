// The one way the launcher starts a child process: suspended, put in the
// launcher's kill-on-close job, with only the handles it needs, its output
// (when asked for) on a pipe read by a thread of its own, then resumed.
#pragma once

#include <windows.h>

#include <memory>

#include "support/handles.h"

// Receives a child's output, on the reader thread, one call at a time.
class OutputSink {
public:
    // The child exists but runs no code yet. Called on the starting thread,
    // which waits for it: keep it short.
    virtual void childCreated(DWORD processId) { (void)processId; }
    // On the reader thread, before the first read: a header written now
    // comes before any of the child's output.
    virtual void readingStarts() {}
    virtual void bytesReceived(const char* data, size_t size) = 0;
    virtual void outputEnded() {}

protected:
    ~OutputSink() = default;
};

struct ChildOptions {
    // Added to CREATE_SUSPENDED (CREATE_NO_WINDOW, CREATE_NEW_PROCESS_GROUP).
    DWORD creationFlags = 0;
    // Standard output and error through one pipe to this sink, standard
    // input from NUL.
    OutputSink* output = nullptr;
    // The child's current folder; null: the launcher's.
    const wchar_t* currentDir = nullptr;
    // Null: the child inherits nothing, and shares the launcher's console
    // if it has one. Set (and no `output`): standard output and error go
    // to inheritable duplicates of these, standard input comes from NUL.
    // See RedirectedStandardHandles.
    HANDLE standardOutput = nullptr;
    HANDLE standardError = nullptr;
    // Called at least every kProgressIntervalMs while ChildProcess waits
    // (a service reports its stop as alive through it).
    void (*waitProgress)() = nullptr;
};

// When the launcher's standard output or error is not a console (a file,
// a pipe: "ovwebui.exe > out.txt 2>&1", a scheduler capturing output),
// sets both in `options`, so the child writes where the launcher writes;
// at a console it leaves them null. False when nothing was set.
bool RedirectedStandardHandles(ChildOptions& options);

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { finish(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `commandLine` (with `application`, may be null). A child that
    // cannot join the launcher's job (job.h) runs all the same, and
    // jobError() says why: it would outlive a killed launcher. One that
    // cannot be resumed is ended and counts as not created. False, with the
    // reason in lastError(), when there is no child.
    bool start(const wchar_t* application, const wchar_t* commandLine, const ChildOptions& options);
    HANDLE process() const { return process_.get(); }
    DWORD processId() const { return processId_; }
    DWORD lastError() const { return lastError_; }
    // ERROR_SUCCESS once the started child is in the launcher's job.
    DWORD jobError() const { return jobError_; }
    // True once the reader has delivered the end of the output within
    // `timeoutMs` (at once when there is no reader).
    bool waitForOutputEnd(DWORD timeoutMs);
    // Ends a child still running (waits kEndWaitMs for it), lets the reader
    // deliver what is left (for at most kReaderDrainMs, then cancels its
    // read, a grandchild may hold the pipe, and waits kCancelWaitMs),
    // detaches the sink and releases everything. Safe to repeat.
    void finish();

    // Short: they add to a graceful stop that must fit the pre-shutdown time.
    static constexpr DWORD kEndWaitMs = 1000;
    static constexpr DWORD kReaderDrainMs = 1000;
    static constexpr DWORD kCancelWaitMs = 500;
    static constexpr DWORD kFinishWorstCaseMs = kEndWaitMs + kReaderDrainMs + kCancelWaitMs;
    static constexpr DWORD kProgressIntervalMs = 1000;
    // As deep as a fast writer needs: a server must not wait on the reader
    // longer than a pipe itself makes it wait.
    static constexpr DWORD kPipeBufferBytes = 1024 * 1024;
    static constexpr DWORD kReadBytes = 64 * 1024;

private:
    struct Reader;
    static DWORD WINAPI ReaderMain(void* context);
    bool startReader(const std::shared_ptr<Reader>& reader);
    bool waitFor(HANDLE object, DWORD timeoutMs) const;

    UniqueKernelHandle process_;
    UniqueKernelHandle readerThread_;
    std::shared_ptr<Reader> reader_;
    DWORD processId_ = 0;
    DWORD lastError_ = 0;
    DWORD jobError_ = ERROR_SUCCESS;
    void (*waitProgress_)() = nullptr;
};
