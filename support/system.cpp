#include <cwchar>

#include "support/console.h"
#include "support/error_text.h"
#include "support/log.h"
#include "support/registry.h"
#include "support/strings.h"
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

bool RotateNumberedFiles(const wchar_t* path, int kept, unsigned long& error)
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
