#include "launcher/server_output.h"

#include <string>

#include "support/console.h"
#include "support/error_text.h"
#include "support/handles.h"
#include "support/files.h"
#include "support/log.h"
#include "support/text.h"

namespace {

constexpr wchar_t kOutputTag[] = L"output";

// The file, or none with `error` set.
UniqueFileHandle OpenForAppend(const std::wstring& path, ULONGLONG& size, DWORD& error)
{
    CreateParentFolders(path.c_str());
    // Others may read it while it grows (a tail in a console), and nothing
    // may write into it but us.
    UniqueFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    error = file ? ERROR_SUCCESS : GetLastError();
    LARGE_INTEGER existing{};
    size = file && GetFileSizeEx(file.get(), &existing) ? static_cast<ULONGLONG>(existing.QuadPart) : 0;
    return file;
}

}  // namespace

std::wstring ServerOutputFile::lastLines() const
{
    return OutputLinesText(tail_.lines());
}

void ServerOutputFile::childCreated(DWORD processId)
{
    processId_ = processId;
    GetLocalTime(&createdAt_);
}

// Opened here, on the reader's thread, while the server starts: not on the
// way to its start.
void ServerOutputFile::readingStarts()
{
    // Tells one run's output from the next.
    const SYSTEMTIME& now = createdAt_;
    const std::wstring header =
        FormatWide(L"---- %04u-%02u-%02u %02u:%02u:%02u.%03u the launcher started the server, process %lu ----\r\n",
                   now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                   static_cast<unsigned long>(processId_));
    std::string bytes;
    AppendUtf8(bytes, header.data(), header.size());
    // The header is ours, not the server's: a header that is lost counts
    // for nothing in the dropped bytes.
    const ULONGLONG dropped = droppedBytes_;
    write(bytes.data(), bytes.size());
    droppedBytes_ = dropped;
}

void ServerOutputFile::bytesReceived(const char* data, size_t size)
{
    tail_.append(data, size);
    write(data, size);
}

void ServerOutputFile::outputEnded()
{
    reportDropped();
}

bool ServerOutputFile::open()
{
    DWORD error = ERROR_SUCCESS;
    file_ = OpenForAppend(path_, size_, error);
    if (!file_)
        writeFailed(L"open", error);
    return static_cast<bool>(file_);
}

bool ServerOutputFile::write(const char* data, size_t size)
{
    if (size_ > 0 && size_ + size > kServerOutputFileBytes && size_ >= rotateAgainAtBytes_)
        rotate();
    if (!file_ && !open()) {
        droppedBytes_ += size;
        return false;
    }
    DWORD written = 0;
    const BOOL wrote = WriteFile(file_.get(), data, static_cast<DWORD>(size), &written, nullptr);
    if (!wrote || written != size) {
        // A short write sets no error of its own.
        const DWORD error = wrote ? static_cast<DWORD>(ERROR_WRITE_FAULT) : GetLastError();
        // What did reach the file stays; the rest of the chunk is dropped,
        // and the next chunk opens the file anew.
        size_ += written;
        droppedBytes_ += size - written;
        file_.reset();
        writeFailed(L"write", error == ERROR_SUCCESS ? static_cast<DWORD>(ERROR_WRITE_FAULT) : error);
        return false;
    }
    size_ += size;
    if (writeFailing_)
        reportDropped();
    return true;
}

void ServerOutputFile::writeFailed(const wchar_t* what, DWORD error)
{
    if (writeFailing_)
        return;
    writeFailing_ = true;
    ovlog_write_tag(kLogWarning, kOutputTag,
                    L"Cannot %s the server output file \"%s\" (Error 0x%08x: %s); the server's output is dropped "
                    L"until it can be written again",
                    what, path_.c_str(), error, ErrorText(error).get());
}

void ServerOutputFile::reportDropped()
{
    writeFailing_ = false;
    if (droppedBytes_ == 0)
        return;
    ovlog_write_tag(kLogInformation, kOutputTag,
                    L"%s bytes of the server's output were dropped while %s could not be written",
                    DecimalText(droppedBytes_).c_str(), path_.c_str());
    droppedBytes_ = 0;
}

// Moves the older files up one number and the file to ".1", then starts a
// new one. A move that fails (someone holds a file without delete sharing)
// leaves every file where it is and the current one growing.
void ServerOutputFile::rotate()
{
    file_.reset();
    DWORD error = ERROR_SUCCESS;
    if (!RotateNumberedFiles(path_.c_str(), kServerOutputFilesKept, error)) {
        rotateAgainAtBytes_ = size_ + kServerOutputRetryStepBytes;
        if (!rotationFailing_)
            ovlog_write_tag(kLogWarning, kOutputTag,
                            L"Cannot rotate the server output file \"%s\" (Error 0x%08x: %s); it grows past %u MiB "
                            L"and the rotation is tried again every %u MiB",
                            path_.c_str(), error, ErrorText(error).get(),
                            static_cast<unsigned>(kServerOutputFileBytes >> 20),
                            static_cast<unsigned>(kServerOutputRetryStepBytes >> 20));
        rotationFailing_ = true;
        return;
    }
    rotateAgainAtBytes_ = 0;
    if (rotationFailing_)
        ovlog_write_tag(kLogInformation, kOutputTag, L"The server output file \"%s\" was rotated again at %s bytes",
                        path_.c_str(), DecimalText(size_).c_str());
    rotationFailing_ = false;
}
