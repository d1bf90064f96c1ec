// Runs a command line with its output captured, line by line.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "support/child_process.h"
#include "support/text.h"

// Runs a command line with its stdout and stderr captured through one pipe.
// A reader thread joins the output into lines and hands each whole line,
// with its line break and NUL-terminated, to outputReceived (a line longer
// than LineAssembler::kMaxLineBytes in pieces cut between characters), then
// what is left at the end, then calls endOfOutput. Callbacks run one at a
// time, never after finish() or the destructor has returned; a subclass
// whose callbacks use its own members calls finish() in its destructor.
// The child runs in the launcher's job.
class ProcessExecutor : private OutputSink {
public:
    // newProcessGroup: CREATE_NEW_PROCESS_GROUP; showWindow: let a console
    // child open its own window (otherwise CREATE_NO_WINDOW).
    ProcessExecutor(const wchar_t* commandLine, bool newProcessGroup, bool showWindow);

    virtual void outputReceived(const char* line);
    virtual void endOfOutput();
    virtual ~ProcessExecutor();
    // Starts the command. False, with the reason in lastError(), when the
    // pipe or the process cannot be created; it can run only once.
    virtual bool execute();
    // Terminates the child if it is still running.
    virtual bool stop();

    // True when the child has ended and its output has been delivered
    // within `timeoutMs` (also when it never started).
    bool waitForCompletion(uint32_t timeoutMs);
    // Ends a child still running, stops the callbacks and releases
    // everything; safe to call more than once.
    void finish();

    bool started() const { return child_.process() != nullptr; }
    // The child's exit code; STILL_ACTIVE while it runs,
    // 0 when it never started.
    DWORD exitCode() const;
    DWORD processId() const { return child_.processId(); }
    DWORD lastError() const { return lastError_; }
    // ERROR_SUCCESS once the started child is in the launcher's job; else
    // it runs all the same, and would outlive a killed launcher.
    DWORD jobError() const { return child_.jobError(); }

    ProcessExecutor(const ProcessExecutor&) = delete;
    ProcessExecutor& operator=(const ProcessExecutor&) = delete;

protected:
    // Called at least every ChildProcess::kProgressIntervalMs while the
    // child's end is awaited.
    void reportWaitsTo(void (*progress)()) { waitProgress_ = progress; }

private:
    void bytesReceived(const char* data, size_t size) override;
    void outputEnded() override;

    std::wstring commandLine_;
    bool newProcessGroup_;
    bool showWindow_;
    void (*waitProgress_)() = nullptr;
    ChildProcess child_;
    LineAssembler lines_;
    std::string line_;
    DWORD lastError_ = 0;
    bool executed_ = false;
};
