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
// so about four times this stays on disk (more only while a rotation fails).
constexpr ULONGLONG kServerOutputFileBytes = 10ull * 1024 * 1024;
constexpr int kServerOutputFilesKept = 3;

// Rotation that fails (a reader holding the file without delete sharing)
// is tried again each time the file has grown this much further.
constexpr ULONGLONG kServerOutputRetryStepBytes = 1024 * 1024;

// Appends the server's output, unchanged and as it comes, to `path`, and
// never gives up on it: a rotation that fails leaves the file growing past
// the cap until a later one succeeds; a chunk that cannot be written (a
// full disk, a share gone) is dropped and counted, and the next chunk tries
// again, opening the file anew if it was lost. Each kind of trouble costs
// one WARNING when it starts and one INFO when it is over (the dropped
// bytes also at the end of the output). The pipe is read on regardless, so
// the server never waits on it.
class ServerOutputFile : public OutputSink {
public:
    explicit ServerOutputFile(const wchar_t* path) : path_(path) {}
    ServerOutputFile(const ServerOutputFile&) = delete;
    ServerOutputFile& operator=(const ServerOutputFile&) = delete;

    void childCreated(DWORD processId) override;
    void readingStarts() override;
    void bytesReceived(const char* data, size_t size) override;
    void outputEnded() override;
    // The last lines the server wrote, decoded line by line
    // (OutputLineText); read once its reader has finished.
    std::wstring lastLines() const;

private:
    // False when the bytes were dropped.
    bool write(const char* data, size_t size);
    bool open();
    void rotate();
    void writeFailed(const wchar_t* what, DWORD error);
    void reportDropped();

    std::wstring path_;
    DWORD processId_ = 0;
    SYSTEMTIME createdAt_{};
    UniqueFileHandle file_;
    ULONGLONG size_ = 0;
    ULONGLONG rotateAgainAtBytes_ = 0;  // after a failed rotation: not before this size
    bool rotationFailing_ = false;
    bool writeFailing_ = false;
    ULONGLONG droppedBytes_ = 0;
    OutputTail tail_;
};
