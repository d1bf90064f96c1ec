#include "support/executor.h"

#include "support/child_process.h"

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

void ProcessExecutor::bytesReceived(const char* data, size_t size)
{
    lines_.feed(data, size, [this](const char* line, size_t length) {
        line_.assign(line, length);
        outputReceived(line_.c_str());
    });
}

void ProcessExecutor::outputEnded()
{
    lines_.finish([this](const char* line, size_t length) {
        line_.assign(line, length);
        outputReceived(line_.c_str());
    });
    endOfOutput();
}

bool ProcessExecutor::execute()
{
    if (executed_) {
        lastError_ = ERROR_ALREADY_INITIALIZED;
        return false;
    }
    executed_ = true;
    ChildOptions options;
    options.creationFlags = (newProcessGroup_ ? CREATE_NEW_PROCESS_GROUP : 0) | (showWindow_ ? 0 : CREATE_NO_WINDOW);
    options.output = this;
    options.waitProgress = waitProgress_;
    if (child_.start(nullptr, commandLine_.c_str(), options))
        return true;
    lastError_ = child_.lastError();
    return false;
}

DWORD ProcessExecutor::exitCode() const
{
    DWORD code = 0;
    if (child_.process() != nullptr && !GetExitCodeProcess(child_.process(), &code))
        code = 0;
    return code;
}

bool ProcessExecutor::stop()
{
    const HANDLE process = child_.process();
    if (process == nullptr)
        return false;
    if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
        return true;
    return TerminateProcess(process, 1) != FALSE;
}

bool ProcessExecutor::waitForCompletion(uint32_t timeoutMs)
{
    const HANDLE process = child_.process();
    if (process == nullptr)
        return true;
    const ULONGLONG start = GetTickCount64();
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0)
        return false;
    // The child has ended; give its last output the rest of the time.
    const ULONGLONG spent = GetTickCount64() - start;
    const DWORD rest = timeoutMs == INFINITE ? INFINITE
                       : spent >= timeoutMs ? 0
                                            : static_cast<DWORD>(timeoutMs - spent);
    return child_.waitForOutputEnd(rest);
}

void ProcessExecutor::finish()
{
    child_.finish();
}
