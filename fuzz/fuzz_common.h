// Helpers shared by the fuzz targets: a checked assertion that stops the
// run, fuzz input turned into wide and narrow text, and small reference
// codecs written apart from support/text.cpp so the targets can compare
// against something other than the code under test.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// A failed check must stop the run so libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);      \
            abort();                                                                            \
        }                                                                                       \
    } while (0)

namespace fuzz {

inline int Sign(long long v) { return (v > 0) - (v < 0); }

// One wide character, biased towards ASCII (where the line breaks,
// separators and case pairs are) but able to reach every BMP unit
// including surrogates, the supplementary planes, values past U+10FFFF and,
// where wchar_t is 32 bits, negative values.
inline wchar_t ConsumeWideChar(FuzzedDataProvider& p)
{
    const uint8_t kind = p.ConsumeIntegral<uint8_t>();
    if (kind < 0x80)
        return static_cast<wchar_t>(kind);
    if (kind < 0xE0)
        return static_cast<wchar_t>(p.ConsumeIntegral<uint16_t>());
    if (kind < 0xFF)
        return static_cast<wchar_t>(0x10000 + (p.ConsumeIntegral<uint32_t>() & 0x1FFFFF));
    return static_cast<wchar_t>(p.ConsumeIntegral<uint32_t>());
}

// Up to maxLength characters; NUL is left out unless allowNul, so the
// result can be used as a C string.
inline std::wstring ConsumeWide(FuzzedDataProvider& p, size_t maxLength, bool allowNul = false)
{
    const size_t length = p.ConsumeIntegralInRange<size_t>(0, maxLength);
    std::wstring s;
    for (size_t i = 0; i < length && p.remaining_bytes() > 0; ++i) {
        const wchar_t c = ConsumeWideChar(p);
        if (c != L'\0' || allowNul)
            s.push_back(c);
    }
    return s;
}

// Narrow text without NUL, taken from the front of the input.
inline std::string ConsumeNarrow(FuzzedDataProvider& p, size_t maxLength)
{
    std::string s = p.ConsumeRandomLengthString(maxLength);
    std::string out;
    for (char c : s)
        if (c != '\0')
            out.push_back(c);
    return out;
}

// ASCII letters in the other case; the product's case rule folds them.
inline std::wstring SwapAsciiCase(std::wstring s)
{
    for (wchar_t& c : s) {
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
        else if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return s;
}

// Is `cp` a Unicode scalar value (what UTF-8 may encode)?
inline bool IsScalar(uint32_t cp) { return cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF); }

// Reference UTF-8 encoder of one scalar value.
inline void EncodeUtf8(std::string& out, uint32_t cp)
{
    if (!IsScalar(cp))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Code points of wide text: UTF-32 where wchar_t is 32 bits, UTF-16 (pairs
// joined, lone halves kept as they are) where it is 16.
inline std::vector<uint32_t> CodePoints(const std::wstring& w)
{
    std::vector<uint32_t> cps;
    for (size_t i = 0; i < w.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(w[i]);
        if (sizeof(wchar_t) == 2) {
            c &= 0xFFFF;
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < w.size()) {
                const uint32_t d = static_cast<uint32_t>(w[i + 1]) & 0xFFFF;
                if (d >= 0xDC00 && d <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
                    ++i;
                }
            }
        }
        cps.push_back(c);
    }
    return cps;
}

inline std::string WideToUtf8(const std::wstring& w)
{
    std::string out;
    for (uint32_t cp : CodePoints(w))
        EncodeUtf8(out, cp);
    return out;
}

inline void PushCodePoint(std::wstring& out, uint32_t cp)
{
    if (sizeof(wchar_t) == 2 && cp > 0xFFFF) {
        out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
        out += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        out += static_cast<wchar_t>(cp);
    }
}

// Length of the well-formed UTF-8 sequence at s[i] (the shortest form of a
// scalar value), or 0. Written from the table of well-formed byte sequences
// rather than by decoding and checking afterwards.
inline size_t WellFormedLength(const std::string& s, size_t i)
{
    auto at = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    auto in = [](unsigned char b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
    const size_t left = s.size() - i;
    const unsigned char b0 = at(0);
    if (b0 < 0x80)
        return 1;
    if (in(b0, 0xC2, 0xDF))
        return left >= 2 && in(at(1), 0x80, 0xBF) ? 2 : 0;
    if (in(b0, 0xE0, 0xEF)) {
        if (left < 3)
            return 0;
        const unsigned lo = b0 == 0xE0 ? 0xA0 : 0x80, hi = b0 == 0xED ? 0x9F : 0xBF;
        return in(at(1), lo, hi) && in(at(2), 0x80, 0xBF) ? 3 : 0;
    }
    if (in(b0, 0xF0, 0xF4)) {
        if (left < 4)
            return 0;
        const unsigned lo = b0 == 0xF0 ? 0x90 : 0x80, hi = b0 == 0xF4 ? 0x8F : 0xBF;
        return in(at(1), lo, hi) && in(at(2), 0x80, 0xBF) && in(at(3), 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

inline bool IsValidUtf8(const std::string& s)
{
    for (size_t i = 0; i < s.size();) {
        const size_t n = WellFormedLength(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

// Reference for the product's narrow reading: well-formed UTF-8 decoded,
// every other byte kept as its Latin-1 character.
inline std::wstring NarrowToWide(const std::string& s)
{
    std::wstring out;
    for (size_t i = 0; i < s.size();) {
        const size_t n = WellFormedLength(s, i);
        const unsigned char b0 = static_cast<unsigned char>(s[i]);
        if (n <= 1) {
            out += static_cast<wchar_t>(b0);
            ++i;
            continue;
        }
        uint32_t cp = b0 & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
        for (size_t k = 1; k < n; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        PushCodePoint(out, cp);
        i += n;
    }
    return out;
}

}  // namespace fuzz
