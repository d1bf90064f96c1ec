#include "support/error_text.h"

#include <windows.h>

#include "support/console.h"
#include "support/strings.h"

const wchar_t* GetSystemErrorText(uint32_t code, wchar_t* buffer, size_t size)
{
    if (buffer == nullptr || size == 0)
        return L"";
    const DWORD saved = GetLastError();
    const DWORD chars = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                       0, buffer, static_cast<DWORD>(size < 0xFFFF ? size : 0xFFFF), nullptr);
    size_t length = chars < size ? chars : 0;
    buffer[length] = L'\0';
    while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' ||
                          buffer[length - 1] == L' ' || buffer[length - 1] == L'\t'))
        buffer[--length] = L'\0';
    if (length == 0)
        wcslcpy(buffer, FormatWide(L"system error %u", code).c_str(), size);
    SetLastError(saved);
    return buffer;
}
