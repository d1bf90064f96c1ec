// A service's server writes into a pipe that nobody sees unless the
// launcher keeps it: this keeps it in a file of bounded size, and keeps the
// last lines to explain a server that died.
#pragma once

#include <windows.h>

#include <string>

#include "support/child_process.h"
#include "support/handles.h"
#include "support/text.h"

constexpr wchar_t kServerOutputFileDefault[] = L"%OVWEBUI_HOME%\\logs\\server-output.log";
// Rotated before it would pass this size; ".1" to ".3" are the older ones,
// so at most four times this stays on disk.
constexpr ULONGLONG kServerOutputFileBytes = 10ull * 1024 * 1024;
constexpr int kServerOutputFilesKept = 3;

// Appends the server's output, unchanged and as it comes, to `path`. A file
// that cannot be opened or written costs one ERROR in the log; from then on
// the output is read and dropped, so the server never waits on it.
class ServerOutputFile : public OutputSink {
public:
    explicit ServerOutputFile(const wchar_t* path) : path_(path) {}
    ServerOutputFile(const ServerOutputFile&) = delete;
    ServerOutputFile& operator=(const ServerOutputFile&) = delete;

    void childCreated(DWORD processId) override;
    void readingStarts() override;
    void bytesReceived(const char* data, size_t size) override;
    // The last lines the server wrote, decoded line by line
    // (OutputLineText); read once its reader has finished.
    std::wstring lastLines() const;

private:
    bool write(const char* data, size_t size);
    bool rotate();
    void fail(const wchar_t* tag, const wchar_t* what, DWORD error);

    std::wstring path_;
    DWORD processId_ = 0;
    SYSTEMTIME createdAt_{};
    UniqueFileHandle file_;
    ULONGLONG size_ = 0;
    bool failed_ = false;
    OutputTail tail_;
};
