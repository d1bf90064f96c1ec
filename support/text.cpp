#include "support/portable.h"

#include <cstring>
#include <cwchar>

namespace {

constexpr uint32_t kReplacementChar = 0xFFFD;

void AppendCodePoint(std::wstring& out, uint32_t cp)
{
    if (sizeof(wchar_t) == 2 && cp > 0xFFFF) {
        cp -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<wchar_t>(cp));
    }
}

// Length of the valid UTF-8 sequence at `p` (at most `avail` bytes) with
// its code point, or 0 when the bytes there are not valid UTF-8.
size_t DecodeUtf8Sequence(const unsigned char* p, size_t avail, uint32_t& cp)
{
    const unsigned char lead = p[0];
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    size_t length;
    uint32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        minimum = 0x80;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        minimum = 0x800;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        minimum = 0x10000;
        cp = lead & 0x07;
    } else {
        return 0;
    }
    if (length > avail)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

void AppendUtf8Bytes(std::wstring& out, const unsigned char* p, size_t size)
{
    size_t i = 0;
    while (i < size) {
        uint32_t cp = 0;
        const size_t length = DecodeUtf8Sequence(p + i, size - i, cp);
        if (length == 0) {
            // Not UTF-8: most likely an ANSI byte; keep it as its Latin-1 character.
            AppendCodePoint(out, p[i]);
            ++i;
        } else {
            AppendCodePoint(out, cp);
            i += length;
        }
    }
}

void AppendUtf16Bytes(std::wstring& out, const unsigned char* p, size_t size, bool bigEndian)
{
    const size_t units = size / 2;
    for (size_t i = 0; i < units; ++i) {
        const unsigned char a = p[2 * i], b = p[2 * i + 1];
        const uint32_t unit = bigEndian ? (a << 8 | b) : (b << 8 | a);
        if (sizeof(wchar_t) == 2) {
            out.push_back(static_cast<wchar_t>(unit));
            continue;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const unsigned char c = p[2 * i + 2], d = p[2 * i + 3];
            const uint32_t low = bigEndian ? (c << 8 | d) : (d << 8 | c);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendCodePoint(out, (unit >= 0xD800 && unit <= 0xDFFF) ? kReplacementChar : unit);
    }
}

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool NameIs(const char* encoding, const char* a, const char* b)
{
    for (const char* want : {a, b}) {
        const char* x = encoding;
        const char* y = want;
        while (*x && *y && AsciiLower(*x) == AsciiLower(*y)) {
            ++x;
            ++y;
        }
        if (*x == '\0' && *y == '\0')
            return true;
    }
    return false;
}

}  // namespace

std::wstring DecodeText(const unsigned char* data, size_t size, const char* encoding)
{
    std::wstring out;
    enum class Kind { Utf8, Utf16Le, Utf16Be } kind = Kind::Utf8;
    size_t skip = 0;
    const bool utf8Bom = size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF;
    const bool leBom = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
    const bool beBom = size >= 2 && data[0] == 0xFE && data[1] == 0xFF;
    if (encoding != nullptr && NameIs(encoding, "UTF-8", "UTF8")) {
        skip = utf8Bom ? 3 : 0;
    } else if (encoding != nullptr && NameIs(encoding, "UTF-16LE", "UTF16LE")) {
        kind = Kind::Utf16Le;
        skip = leBom ? 2 : 0;
    } else if (utf8Bom) {
        skip = 3;
    } else if (leBom) {
        kind = Kind::Utf16Le;
        skip = 2;
    } else if (beBom) {
        kind = Kind::Utf16Be;
        skip = 2;
    } else if (size >= 2 && data[0] != 0 && data[1] == 0) {
        // Text starting with an ASCII character in UTF-16LE, written without a BOM.
        kind = Kind::Utf16Le;
    }
    out.reserve(size - skip);
    if (kind == Kind::Utf8)
        AppendUtf8Bytes(out, data + skip, size - skip);
    else
        AppendUtf16Bytes(out, data + skip, size - skip, kind == Kind::Utf16Be);
    return out;
}

void AppendNarrowAsWide(std::wstring& out, const char* text, size_t size)
{
    AppendUtf8Bytes(out, reinterpret_cast<const unsigned char*>(text), size);
}

void AppendUtf8(std::string& out, const wchar_t* text, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        uint32_t cp = static_cast<uint32_t>(text[i]);
        if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count &&
            static_cast<uint32_t>(text[i + 1]) >= 0xDC00 && static_cast<uint32_t>(text[i + 1]) <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
            cp = kReplacementChar;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
}

namespace {

enum class Length { None, Char, Short, Long, LongLong, Size };

// Field widths beyond this are clamped: a format is ours, but a width taken
// from an argument ("*") must not be able to ask for gigabytes.
constexpr int kMaxFieldWidth = 4096;

void AppendPadded(std::wstring& out, const std::wstring& body, int width, bool left, wchar_t pad)
{
    const size_t fill = width > 0 && static_cast<size_t>(width) > body.size()
                            ? static_cast<size_t>(width) - body.size()
                            : 0;
    if (!left)
        out.append(fill, pad);
    out += body;
    if (left)
        out.append(fill, L' ');
}

void AppendNumber(std::wstring& out, unsigned long long magnitude, bool negative, unsigned base,
                  bool upper, int width, int precision, bool left, bool zero)
{
    wchar_t digits[72];
    size_t n = 0;
    const wchar_t* set = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    do {
        digits[n++] = set[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    std::wstring body;
    if (negative)
        body.push_back(L'-');
    for (int i = static_cast<int>(n); i < precision && i < kMaxFieldWidth; ++i)
        body.push_back(L'0');
    while (n > 0)
        body.push_back(digits[--n]);
    if (zero && !left && precision < 0) {
        const size_t signChars = negative ? 1 : 0;
        while (width > 0 && body.size() < static_cast<size_t>(width))
            body.insert(signChars, 1, L'0');
    }
    AppendPadded(out, body, width, left, L' ');
}

int ReadNumber(const wchar_t*& f)
{
    int value = 0;
    while (*f >= L'0' && *f <= L'9') {
        if (value < kMaxFieldWidth)
            value = value * 10 + (*f - L'0');
        ++f;
    }
    return value < kMaxFieldWidth ? value : kMaxFieldWidth;
}

}  // namespace

void FormatWideV(std::wstring& out, const wchar_t* f, va_list args)
{
    va_list ap;
    va_copy(ap, args);
    while (*f != L'\0') {
        if (*f != L'%') {
            const wchar_t* run = f;
            while (*f != L'\0' && *f != L'%')
                ++f;
            out.append(run, static_cast<size_t>(f - run));
            continue;
        }
        const wchar_t* start = f++;
        if (*f == L'%') {
            out.push_back(L'%');
            ++f;
            continue;
        }
        bool left = false, zero = false;
        for (;; ++f) {
            if (*f == L'-')
                left = true;
            else if (*f == L'0')
                zero = true;
            else if (*f != L'+' && *f != L' ' && *f != L'#')
                break;
        }
        int width = 0;
        if (*f == L'*') {
            width = va_arg(ap, int);
            if (width < 0) {
                left = true;
                // Not -width for INT_MIN, which has no positive counterpart.
                width = width < -kMaxFieldWidth ? kMaxFieldWidth : -width;
            }
            width = width < kMaxFieldWidth ? width : kMaxFieldWidth;
            ++f;
        } else {
            width = ReadNumber(f);
        }
        int precision = -1;
        if (*f == L'.') {
            ++f;
            if (*f == L'*') {
                precision = va_arg(ap, int);
                precision = precision < kMaxFieldWidth ? precision : kMaxFieldWidth;
                ++f;
            } else {
                precision = ReadNumber(f);
            }
        }
        Length length = Length::None;
        if (*f == L'h') {
            ++f;
            length = Length::Short;
            if (*f == L'h') {
                ++f;
                length = Length::Char;
            }
        } else if (*f == L'l') {
            ++f;
            length = Length::Long;
            if (*f == L'l') {
                ++f;
                length = Length::LongLong;
            }
        } else if (*f == L'z' || *f == L'j' || *f == L't') {
            length = *f == L'j' ? Length::LongLong : Length::Size;
            ++f;
        } else if (*f == L'I') {
            ++f;
            if (f[0] == L'6' && f[1] == L'4') {
                length = Length::LongLong;
                f += 2;
            } else if (f[0] == L'3' && f[1] == L'2') {
                f += 2;
            } else {
                length = Length::Size;
            }
        }
        const wchar_t conversion = *f;
        if (conversion == L'\0') {
            out.append(start);
            break;
        }
        ++f;
        switch (conversion) {
        case L's':
        case L'S': {
            const bool narrow = length == Length::Short || length == Length::Char ||
                                (conversion == L'S' && length != Length::Long);
            std::wstring body;
            if (narrow) {
                const char* s = va_arg(ap, const char*);
                if (s == nullptr)
                    s = "(null)";
                size_t n = 0;
                while (s[n] != '\0' && (precision < 0 || n < static_cast<size_t>(precision)))
                    ++n;
                AppendNarrowAsWide(body, s, n);
            } else {
                const wchar_t* s = va_arg(ap, const wchar_t*);
                if (s == nullptr)
                    s = L"(null)";
                size_t n = 0;
                while (s[n] != L'\0' && (precision < 0 || n < static_cast<size_t>(precision)))
                    ++n;
                body.assign(s, n);
            }
            AppendPadded(out, body, width, left, L' ');
            break;
        }
        case L'c':
        case L'C': {
            const int c = va_arg(ap, int);
            std::wstring body;
            if (length == Length::Short || conversion == L'C') {
                const char narrow = static_cast<char>(c);
                AppendNarrowAsWide(body, &narrow, 1);
            } else {
                body.push_back(static_cast<wchar_t>(c));
            }
            AppendPadded(out, body, width, left, L' ');
            break;
        }
        case L'd':
        case L'i': {
            long long value;
            switch (length) {
            case Length::LongLong: value = va_arg(ap, long long); break;
            case Length::Long: value = va_arg(ap, long); break;
            case Length::Size: value = static_cast<long long>(va_arg(ap, ptrdiff_t)); break;
            case Length::Short: value = static_cast<short>(va_arg(ap, int)); break;
            case Length::Char: value = static_cast<signed char>(va_arg(ap, int)); break;
            default: value = va_arg(ap, int); break;
            }
            const bool negative = value < 0;
            const unsigned long long magnitude =
                negative ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
            AppendNumber(out, magnitude, negative, 10, false, width, precision, left, zero);
            break;
        }
        case L'u':
        case L'x':
        case L'X':
        case L'o': {
            unsigned long long value;
            switch (length) {
            case Length::LongLong: value = va_arg(ap, unsigned long long); break;
            case Length::Long: value = va_arg(ap, unsigned long); break;
            case Length::Size: value = va_arg(ap, size_t); break;
            case Length::Short: value = static_cast<unsigned short>(va_arg(ap, unsigned)); break;
            case Length::Char: value = static_cast<unsigned char>(va_arg(ap, unsigned)); break;
            default: value = va_arg(ap, unsigned); break;
            }
            const unsigned base = conversion == L'u' ? 10 : conversion == L'o' ? 8 : 16;
            AppendNumber(out, value, false, base, conversion == L'X', width, precision, left, zero);
            break;
        }
        case L'p': {
            const void* p = va_arg(ap, const void*);
            AppendNumber(out, reinterpret_cast<uintptr_t>(p), false, 16, true,
                         static_cast<int>(2 * sizeof(void*)), -1, false, true);
            break;
        }
        default:
            // Unknown: keep it visible rather than guess at its argument.
            out.append(start, static_cast<size_t>(f - start));
            break;
        }
    }
    va_end(ap);
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
    AppendDigits(out, s.year, 4);
    out.push_back('-');
    AppendDigits(out, s.month, 2);
    out.push_back('-');
    AppendDigits(out, s.day, 2);
    out.push_back(' ');
    AppendDigits(out, s.hour, 2);
    out.push_back(':');
    AppendDigits(out, s.minute, 2);
    out.push_back(':');
    AppendDigits(out, s.second, 2);
    out.push_back('.');
    AppendDigits(out, s.millisecond, 3);
    out += " [";
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
