// Reading the registry.
#pragma once

#include <windows.h>

#include <cstddef>

// Reads a string value (REG_SZ, or REG_EXPAND_SZ taken unexpanded) into
// `buffer` of `chars` characters. A value that is absent, of another type,
// or would not fit with its terminator gives false and leaves `buffer`
// empty; one stored without its terminator is terminated when it fits.
bool ReadRegistryString(HKEY key, const wchar_t* name, wchar_t* buffer, size_t chars);
template <size_t N>
bool ReadRegistryString(HKEY key, const wchar_t* name, wchar_t (&buffer)[N])
{
    return ReadRegistryString(key, name, buffer, N);
}
