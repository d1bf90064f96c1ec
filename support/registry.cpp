#include "support/registry.h"

bool ReadRegistryString(HKEY key, const wchar_t* name, wchar_t* buffer, size_t chars)
{
    if (chars == 0)
        return false;
    DWORD bytes = static_cast<DWORD>(chars * sizeof(wchar_t));
    const LSTATUS status = RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                                        nullptr, buffer, &bytes);
    // Windows terminates the text it returns; Wine 8 returns a value stored
    // without its terminator as stored, and an odd last byte is no
    // character: the text ends after its last whole one.
    size_t length = status == ERROR_SUCCESS ? bytes / sizeof(wchar_t) : 0;
    while (length > 0 && buffer[length - 1] == L'\0')
        --length;
    if (status != ERROR_SUCCESS || length >= chars) {
        // Too long (ERROR_MORE_DATA, or filling the buffer without a
        // terminator), absent or of another type; a failed read may leave
        // part of the value behind.
        buffer[0] = L'\0';
        return false;
    }
    buffer[length] = L'\0';
    return true;
}
