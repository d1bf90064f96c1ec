#include "support/log_line.h"

#include <cstring>
#include <cwchar>

#include "support/text.h"

namespace {
void AppendDigits(std::string& out, unsigned long value, int minDigits)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && n < 24);
    for (int i = n; i < minDigits; ++i)
        out.push_back('0');
    while (n > 0)
        out.push_back(digits[--n]);
}
}  // namespace

const char* LogLevelName(int severity, int debugLevel, char* buffer, size_t size)
{
    switch (severity) {
    case 1: return "ERROR";
    case 2: return "WARNING";
    case 4: return "INFO";
    default: break;
    }
    std::string name = "DEBUG";
    AppendDigits(name, debugLevel < 0 ? 0ul : static_cast<unsigned long>(debugLevel), 1);
    if (size == 0)
        return "";
    const size_t n = name.size() < size - 1 ? name.size() : size - 1;
    memcpy(buffer, name.data(), n);
    buffer[n] = '\0';
    return buffer;
}

void ComposeLogLine(std::string& out, const LogStamp& s, unsigned long threadId, const char* level,
                    const wchar_t* tag, const std::wstring& text)
{
    const struct {
        unsigned value;
        int digits;
        char after;
    } fields[] = {{s.year, 4, '-'},  {s.month, 2, '-'},  {s.day, 2, ' '},        {s.hour, 2, ':'},
                  {s.minute, 2, ':'}, {s.second, 2, '.'}, {s.millisecond, 3, ' '}};
    for (const auto& field : fields) {
        AppendDigits(out, field.value, field.digits);
        out.push_back(field.after);
    }
    out.push_back('[');
    AppendDigits(out, threadId, 1);
    out += "] ";
    out += level;
    out.push_back(' ');
    if (tag != nullptr)
        AppendUtf8(out, tag, wcslen(tag));
    out += ": ";

    size_t end = text.size();
    while (end > 0 && (text[end - 1] == L'\r' || text[end - 1] == L'\n'))
        --end;
    size_t run = 0;
    for (size_t i = 0; i < end; ++i) {
        const wchar_t c = text[i];
        if (c != L'\r' && c != L'\n')
            continue;
        AppendUtf8(out, text.data() + run, i - run);
        out += "\r\n\t";
        if (c == L'\r' && i + 1 < end && text[i + 1] == L'\n')
            ++i;
        run = i + 1;
    }
    AppendUtf8(out, text.data() + run, end - run);
    out += "\r\n";
}
