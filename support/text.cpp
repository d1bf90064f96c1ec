#include "support/text.h"

#include <algorithm>
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

std::wstring NarrowAsWide(const char* text)
{
    std::wstring out;
    AppendNarrowAsWide(out, text, strlen(text));
    return out;
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

bool IsValidUtf8(const char* text, size_t size)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < size;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        uint32_t cp = 0;
        const size_t length = DecodeUtf8Sequence(p + i, size - i, cp);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::wstring LiteralEventText(const wchar_t* text)
{
    std::wstring out = text != nullptr ? text : L"";
    for (wchar_t& c : out)
        if (c == L'%')
            c = static_cast<wchar_t>(0xFF05);
    return out;
}

size_t CompleteUtf8Length(const char* text, size_t size)
{
    // Back over at most three continuation bytes to the byte that starts
    // the last sequence; only a lead byte whose sequence is longer than
    // what follows it is held back. Anything else is decoded as it is.
    size_t start = size;
    while (start > 0 && size - start < 3 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80)
        --start;
    if (start == 0)
        return size;
    const unsigned char lead = static_cast<unsigned char>(text[start - 1]);
    const size_t length = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 1;
    return length > size - start + 1 ? start - 1 : size;
}

std::wstring DecimalText(unsigned long long value)
{
    wchar_t digits[24];
    size_t start = sizeof(digits) / sizeof(digits[0]);
    do {
        digits[--start] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    return std::wstring(digits + start, sizeof(digits) / sizeof(digits[0]) - start);
}

void OutputTail::append(const char* data, size_t size)
{
    kept_.append(data, size);
    // Up to twice the tail is kept, so most appends only add.
    if (kept_.size() > 2 * kTailBytes) {
        const size_t drop = kept_.size() - kTailBytes;
        keptStartsLine_ = kept_[drop - 1] == '\n';
        kept_.erase(0, drop);
    }
    // The head of the last line, for a last line longer than the tail. A
    // line break alone, or a blank line's carriage return, keeps the head of
    // the line before.
    for (size_t i = 0; i < size;) {
        const char* lineBreak = static_cast<const char*>(memchr(data + i, '\n', size - i));
        const size_t end = lineBreak != nullptr ? static_cast<size_t>(lineBreak - data) : size;
        size_t textEnd = end;
        while (textEnd > i && data[textEnd - 1] == '\r')
            --textEnd;
        if (textEnd > i) {
            if (atLineStart_)
                lastLineHead_.clear();
            if (lastLineHead_.size() < kTailBytes)
                lastLineHead_.append(data + i, std::min(textEnd - i, kTailBytes - lastLineHead_.size()));
            atLineStart_ = false;
        }
        if (lineBreak != nullptr)
            atLineStart_ = true;
        i = end + 1;
    }
}

std::string OutputTail::lines() const
{
    // Trailing line breaks are no text: the window ends at the last text.
    size_t end = kept_.size();
    while (end > 0 && (kept_[end - 1] == '\n' || kept_[end - 1] == '\r'))
        --end;
    size_t begin = end > kTailBytes ? end - kTailBytes : 0;
    const bool startsLine = begin == 0 ? keptStartsLine_ : kept_[begin - 1] == '\n';
    const char* text = kept_.data();
    if (!startsLine) {
        const size_t lineBreak = kept_.find('\n', begin);
        if (lineBreak < end) {
            begin = lineBreak + 1;
        } else {
            // The last line began before the window: its head instead.
            text = lastLineHead_.data();
            begin = 0;
            end = lastLineHead_.size();
        }
    }
    std::string out;
    for (size_t i = begin; i < end; ++i)
        if (text[i] != '\r')
            out.push_back(text[i]);
    return out;
}
