#include "support/files.h"

#include "support/handles.h"
#include "support/strings.h"
#include "support/text.h"

bool FinalPathOf(const wchar_t* path, std::wstring& finalPath, DWORD& error)
{
    // No access asked: reading the name needs none, and a running exe stays openable.
    UniqueFileHandle file(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        const DWORD openError = GetLastError();
        error = openError;
        return false;
    }
    const DWORD needed = GetFinalPathNameByHandleW(file.get(), nullptr, 0, FILE_NAME_NORMALIZED);
    if (needed == 0) {
        const DWORD sizeError = GetLastError();
        error = sizeError;
        return false;
    }
    finalPath.assign(needed, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(file.get(), &finalPath[0], needed, FILE_NAME_NORMALIZED);
    if (length == 0) {
        const DWORD nameError = GetLastError();
        error = nameError;
        return false;
    }
    if (length >= needed) {
        error = ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    finalPath.resize(length);
    return true;
}

bool NameSameFile(const wchar_t* first, const wchar_t* second)
{
    std::wstring firstFinal, secondFinal;
    DWORD error = NO_ERROR;
    return FinalPathOf(first, firstFinal, error) && FinalPathOf(second, secondFinal, error) &&
           ov_wcsicmp(firstFinal.c_str(), secondFinal.c_str()) == 0;
}

bool FileIsGone(const wchar_t* path)
{
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void CreateParentFolders(const wchar_t* path)
{
    if (path == nullptr)
        return;
    const std::wstring full(path);
    size_t start = 0;
    if (full.compare(0, 2, L"\\\\") == 0) {
        // \\server\share\ (or \\?\C:\) names no folder that could be created.
        start = 2;
        for (int component = 0; component < 2 && start < full.size(); ++component) {
            const size_t next = full.find_first_of(L"\\/", start);
            start = next == std::wstring::npos ? full.size() : next + 1;
        }
    }
    for (size_t i = start; i < full.size(); ++i) {
        if (full[i] != L'\\' && full[i] != L'/')
            continue;
        if (i == 0 || full[i - 1] == L':' || full[i - 1] == L'\\' || full[i - 1] == L'/')
            continue;
        CreateDirectoryW(full.substr(0, i).c_str(), nullptr);
    }
}

bool RotateNumberedFiles(const wchar_t* path, int kept, DWORD& error)
{
    const auto numbered = [path](int n) { return std::wstring(path) + L"." + DecimalText(static_cast<unsigned>(n)); };
    // Only up to the first gap: a rotation that failed half-way left one,
    // and shifting past it again would drop another old file per retry.
    int top = kept;
    for (int n = 1; n < kept; ++n) {
        if (GetFileAttributesW(numbered(n).c_str()) == INVALID_FILE_ATTRIBUTES) {
            top = n;
            break;
        }
    }
    for (int n = top; n >= 1; --n) {
        const std::wstring from = n > 1 ? numbered(n - 1) : std::wstring(path);
        // Only the oldest is replaced: every other target was moved away
        // just before, and one that is back is not ours to overwrite.
        if (MoveFileExW(from.c_str(), numbered(n).c_str(), n == kept ? MOVEFILE_REPLACE_EXISTING : 0))
            continue;
        const DWORD moveError = GetLastError();
        if (n > 1 && (moveError == ERROR_FILE_NOT_FOUND || moveError == ERROR_PATH_NOT_FOUND))
            continue;
        error = moveError;
        return false;
    }
    error = ERROR_SUCCESS;
    return true;
}
