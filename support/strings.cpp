#include "support/strings.h"

#include <cwchar>
#include <cwctype>

size_t wcslcpy(wchar_t* dst, const wchar_t* src, size_t size)
{
    const size_t sourceLength = wcslen(src);
    if (size > 0) {
        const size_t copied = sourceLength < size - 1 ? sourceLength : size - 1;
        wmemmove(dst, src, copied);
        dst[copied] = L'\0';
    }
    return sourceLength;
}

size_t wcslcat(wchar_t* dst, const wchar_t* src, size_t size)
{
    // A destination without a terminator inside `size` is treated as full,
    // so nothing is read or written past the buffer.
    size_t used = 0;
    while (used < size && dst[used] != L'\0')
        ++used;
    if (used == size)
        return size + wcslen(src);
    return used + wcslcpy(dst + used, src, size - used);
}

namespace {
wint_t FoldCase(wchar_t c)
{
    if (c >= L'A' && c <= L'Z')
        return static_cast<wint_t>(c - L'A' + L'a');
    if (static_cast<unsigned long>(c) < 0x80)
        return static_cast<wint_t>(c);
    return towlower(static_cast<wint_t>(c));
}
}  // namespace

int ov_wcsicmp(const wchar_t* a, const wchar_t* b)
{
    for (;; ++a, ++b) {
        const wint_t ca = FoldCase(*a);
        const wint_t cb = FoldCase(*b);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
}

bool CopyWhole(wchar_t* dst, size_t size, const wchar_t* src)
{
    if (size == 0)
        return false;
    if (wcslen(src) >= size) {
        dst[0] = L'\0';
        return false;
    }
    wcslcpy(dst, src, size);
    return true;
}

bool AppendWhole(wchar_t* dst, size_t size, const wchar_t* src)
{
    size_t used = 0;
    while (used < size && dst[used] != L'\0')
        ++used;
    if (used == size || used + wcslen(src) >= size)
        return false;
    wcslcpy(dst + used, src, size - used);
    return true;
}

bool StringBuffer::insert(size_t index, const wchar_t* text, size_t count)
{
    if (index > text_.size() || text == nullptr)
        return false;
    text_.insert(index, text, count);
    return true;
}

bool StringBuffer::append(const wchar_t* text)
{
    return insert(text_.size(), text, wcslen(text));
}
