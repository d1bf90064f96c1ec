#include "support/files.h"

#include "support/handles.h"
#include "support/strings.h"

bool FinalPathOf(const wchar_t* path, std::wstring& finalPath, DWORD& error)
{
    // No access asked: reading the name needs none, and a running exe stays openable.
    UniqueFileHandle file(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        error = GetLastError();
        return false;
    }
    const DWORD needed = GetFinalPathNameByHandleW(file.get(), nullptr, 0, FILE_NAME_NORMALIZED);
    if (needed == 0) {
        error = GetLastError();
        return false;
    }
    finalPath.assign(needed, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(file.get(), &finalPath[0], needed, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= needed) {
        error = length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
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
