#include "launcher/server_output.h"

#include <string>

#include "support/console.h"
#include "support/error_text.h"
#include "support/handles.h"
#include "support/log.h"
#include "support/text.h"

namespace {

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

static_assert(kServerOutputFilesKept < 10, "the numbers are one digit");

std::wstring Numbered(const std::wstring& path, int n)
{
    return path + L"." + static_cast<wchar_t>(L'0' + n);
}

}  // namespace

void ServerOutputFile::fail(const wchar_t* tag, const wchar_t* what, DWORD error)
{
    file_.reset();
    if (failed_)
        return;
    failed_ = true;
    ovlog_write_tag(kLogError, tag, L"Cannot %s the server output file \"%s\" (Error 0x%08x: %s); the server's output is dropped",
                    what, path_.c_str(), error, ErrorText(error).get());
}

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
    DWORD error = ERROR_SUCCESS;
    file_ = OpenForAppend(path_, size_, error);
    if (!file_) {
        fail(L"startup", L"open", error);
        return;
    }
    // Tells one run's output from the next.
    const SYSTEMTIME& now = createdAt_;
    const std::wstring header =
        FormatWide(L"---- %04u-%02u-%02u %02u:%02u:%02u.%03u the launcher started the server, process %lu ----\r\n",
                   now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                   static_cast<unsigned long>(processId_));
    std::string bytes;
    AppendUtf8(bytes, header.data(), header.size());
    write(bytes.data(), bytes.size());
}

void ServerOutputFile::bytesReceived(const char* data, size_t size)
{
    tail_.append(data, size);
    write(data, size);
}

bool ServerOutputFile::write(const char* data, size_t size)
{
    if (!file_)
        return false;
    if (size_ > 0 && size_ + size > kServerOutputFileBytes && !rotate())
        return false;
    DWORD written = 0;
    if (!WriteFile(file_.get(), data, static_cast<DWORD>(size), &written, nullptr) || written != size) {
        const DWORD error = GetLastError();
        fail(L"shutdown", L"write", error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error);
        return false;
    }
    size_ += size;
    return true;
}

// Moves "<path>.2" to ".3", ".1" to ".2", the file to ".1", and starts a
// new one. Older files that are not there yet are no error.
bool ServerOutputFile::rotate()
{
    file_.reset();
    for (int n = kServerOutputFilesKept; n > 1; --n)
        MoveFileExW(Numbered(path_, n - 1).c_str(), Numbered(path_, n).c_str(), MOVEFILE_REPLACE_EXISTING);
    // Should the file stay, appending to it would pass the cap: drop instead.
    if (!MoveFileExW(path_.c_str(), Numbered(path_, 1).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD error = GetLastError();
        fail(L"shutdown", L"rotate", error);
        return false;
    }
    DWORD error = ERROR_SUCCESS;
    file_ = OpenForAppend(path_, size_, error);
    if (!file_) {
        fail(L"shutdown", L"open", error);
        return false;
    }
    return true;
}
