#include "support/console.h"

#include <windows.h>

#include <cwchar>

#include "support/text.h"

void FormatWideV(std::wstring& out, const wchar_t* format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    const int chars = _vscwprintf(format, measure);
    va_end(measure);
    if (chars < 0) {
        // A format msvcrt rejects: the message is kept as written, not lost.
        out += format;
        return;
    }
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(chars) + 1);
    const int written = _vsnwprintf(&out[start], static_cast<size_t>(chars) + 1, format, args);
    out.resize(start + (written < 0 ? 0 : static_cast<size_t>(written)));
}

std::wstring FormatWide(const wchar_t* format, ...)
{
    std::wstring out;
    va_list args;
    va_start(args, format);
    FormatWideV(out, format, args);
    va_end(args);
    return out;
}

void ConsolePrint(const wchar_t* format, ...)
{
    const DWORD saved = GetLastError();
    std::wstring text;
    va_list args;
    va_start(args, format);
    FormatWideV(text, format, args);
    va_end(args);

    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE) {
        DWORD mode = 0;
        DWORD written = 0;
        if (GetConsoleMode(out, &mode)) {
            WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        } else {
            std::string utf8;
            AppendUtf8(utf8, text.data(), text.size());
            WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
        }
    }
    SetLastError(saved);
}

std::wstring OutputLineText(const char* text, size_t size)
{
    std::wstring out;
    // A character cut off at the very end (the output's last bytes, a quote
    // cut at its length) does not make a UTF-8 line another code page's.
    if (IsValidUtf8(text, CompleteUtf8Length(text, size))) {
        AppendNarrowAsWide(out, text, size);
        return out;
    }
    // A line longer than an int can count is no line anyone reads whole.
    const int bytes = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    const int chars = MultiByteToWideChar(CP_ACP, 0, text, bytes, nullptr, 0);
    if (chars <= 0) {
        AppendNarrowAsWide(out, text, size);
        return out;
    }
    out.resize(static_cast<size_t>(chars));
    MultiByteToWideChar(CP_ACP, 0, text, bytes, &out[0], chars);
    return out;
}

std::wstring OutputLinesText(const std::string& lines)
{
    std::wstring out;
    for (size_t begin = 0; begin <= lines.size();) {
        size_t end = lines.find('\n', begin);
        if (end == std::string::npos)
            end = lines.size();
        out += OutputLineText(lines.data() + begin, end - begin);
        if (end < lines.size())
            out.push_back(L'\n');
        begin = end + 1;
    }
    return out;
}
