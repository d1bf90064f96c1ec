// Bounded wide-string helpers and the growable string. Platform-free.
#pragma once

#include <cstddef>
#include <string>

// Bounded copy and append in the BSD manner: the destination always ends up
// terminated within `size` characters (when size > 0). They return the
// length the whole result would have had, so `result >= size` means the
// text was cut.
size_t wcslcpy(wchar_t* dst, const wchar_t* src, size_t size);
size_t wcslcat(wchar_t* dst, const wchar_t* src, size_t size);
template <size_t N>
size_t wcslcpy(wchar_t (&dst)[N], const wchar_t* src) { return wcslcpy(dst, src, N); }
template <size_t N>
size_t wcslcat(wchar_t (&dst)[N], const wchar_t* src) { return wcslcat(dst, src, N); }

// 0 when equal ignoring letter case; otherwise the sign of the first
// difference, like wcscmp on case-folded text.
int ov_wcsicmp(const wchar_t* a, const wchar_t* b);

// Copies that refuse to cut: a path cut short can name another file, so
// callers that must not use a partial path use these. On refusal the
// destination is left empty (CopyWhole) or unchanged (AppendWhole).
bool CopyWhole(wchar_t* dst, size_t size, const wchar_t* src);
bool AppendWhole(wchar_t* dst, size_t size, const wchar_t* src);
template <size_t N>
bool CopyWhole(wchar_t (&dst)[N], const wchar_t* src) { return CopyWhole(dst, N, src); }
template <size_t N>
bool AppendWhole(wchar_t (&dst)[N], const wchar_t* src) { return AppendWhole(dst, N, src); }

// Growable wide text, always terminated.
class StringBuffer {
public:
    StringBuffer() = default;
    ~StringBuffer() = default;
    StringBuffer(const StringBuffer&) = delete;
    StringBuffer& operator=(const StringBuffer&) = delete;

    // Inserts `count` characters of `text` at `index` (index == length()
    // appends). False, and nothing changed, when index is past the end.
    bool insert(size_t index, const wchar_t* text, size_t count);
    bool append(const wchar_t* text);

    size_t length() const { return text_.size(); }
    const wchar_t* getText() const { return text_.c_str(); }
    // Writable text for APIs such as CreateProcessW that may modify it.
    wchar_t* getBuffer() { return &text_[0]; }

private:
    std::wstring text_;
};
