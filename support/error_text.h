// The text of a Windows error code, for messages.
#pragma once

#include <cstddef>
#include <cstdint>

// The system's text for a Windows error code, without its trailing line
// break, or "system error N" when the system has none. Returns `buffer`.
const wchar_t* GetSystemErrorText(uint32_t code, wchar_t* buffer, size_t size);
template <size_t N>
const wchar_t* GetSystemErrorText(uint32_t code, wchar_t (&buffer)[N])
{
    return GetSystemErrorText(code, buffer, N);
}
constexpr size_t kErrorTextChars = 1024;

// The system's text for an error code, held for the message that shows it:
// `ErrorText(error).get()`, with `error` read right after the failed call.
class ErrorText {
public:
    explicit ErrorText(uint32_t code) { GetSystemErrorText(code, text_); }
    const wchar_t* get() const { return text_; }

private:
    wchar_t text_[kErrorTextChars];
};
