// FormatWide with fuzzed arguments, and the text codecs.
//
// A fuzzed format would hand va_arg types the caller never passed, so the
// formats are built here: fixed ones, and single conversions assembled from
// fuzzed flags, width, precision and length, each called with an argument
// of the type that conversion takes. Numbers are checked against the C
// library's snprintf, text against the reference codecs in fuzz_common.h.
#include <cinttypes>
#include <cstring>

#include "fuzz/fuzz_common.h"
#include "support/portable.h"

namespace {

constexpr int kMaxFieldWidth = 4096;  // the clamp documented in text.cpp

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::wstring Pad(const std::wstring& body, int width, bool left)
{
    if (width <= 0 || static_cast<size_t>(width) <= body.size())
        return body;
    const std::wstring fill(static_cast<size_t>(width) - body.size(), L' ');
    return left ? body + fill : fill + body;
}

std::string Snprintf(const char* format, ...)
{
    std::vector<char> buffer(3 * kMaxFieldWidth);
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    FUZZ_CHECK(n >= 0 && static_cast<size_t>(n) < buffer.size());
    return std::string(buffer.data(), static_cast<size_t>(n));
}

// --- fixed formats --------------------------------------------------------

void CheckFixedFormats(FuzzedDataProvider& p)
{
    const std::wstring w1 = fuzz::ConsumeWide(p, 20), w2 = fuzz::ConsumeWide(p, 20), w3 = fuzz::ConsumeWide(p, 20);
    const std::string n1 = fuzz::ConsumeNarrow(p, 20);
    const int i1 = p.ConsumeIntegral<int>();
    const unsigned u1 = p.ConsumeIntegral<unsigned>();

    const std::wstring got = FormatWide(L"%s|%hs|%d|%08x|%.5s|%-10s", w1.c_str(), n1.c_str(), i1, u1, w2.c_str(), w3.c_str());
    const std::wstring expected = w1 + L"|" + fuzz::NarrowToWide(n1) + L"|" + Widen(Snprintf("%d", i1)) + L"|" +
                                  Widen(Snprintf("%08x", u1)) + L"|" + w2.substr(0, 5) + L"|" + Pad(w3, 10, true);
    FUZZ_CHECK(got == expected);

    // Conversions it does not know are copied as written and take no
    // argument, so the next conversion still gets its own.
    FUZZ_CHECK(FormatWide(L"%n%q|%5k|%ls%", w1.c_str()) == L"%n%q|%5k|" + w1 + L"%");
    FUZZ_CHECK(FormatWide(L"%S|%ls|%%|%hhs", n1.c_str(), w2.c_str(), n1.c_str()) ==
               fuzz::NarrowToWide(n1) + L"|" + w2 + L"|%|" + fuzz::NarrowToWide(n1));

    const long long ll = p.ConsumeIntegral<long long>();
    const unsigned long long ull = p.ConsumeIntegral<unsigned long long>();
    const size_t z = p.ConsumeIntegral<size_t>();
    const int c = p.ConsumeIntegral<int>();
    const std::wstring got2 = FormatWide(L"%lld|%I64u|%zu|%I64X|%llo|%c|%hc|%5.3d|%-6.2x|", ll, ull, z, ull, ull,
                                         c, c, i1, u1);
    std::wstring expected2 = Widen(Snprintf("%lld|%llu|%zu|%llX|%llo|", ll, ull, z, ull, ull));
    expected2 += static_cast<wchar_t>(c);
    expected2 += L'|';
    expected2 += static_cast<wchar_t>(static_cast<unsigned char>(static_cast<char>(c)));
    expected2 += Widen(Snprintf("|%5.3d|%-6.2x|", i1, u1));
    FUZZ_CHECK(got2 == expected2);

    // %C is the narrow character; literal widths and precisions past the
    // clamp are clamped; "%I6" is no length modifier, so it is copied.
    const std::wstring narrowChar(1, static_cast<wchar_t>(static_cast<unsigned char>(static_cast<char>(c))));
    FUZZ_CHECK(FormatWide(L"%C|%-3C|", c, c) == narrowChar + L"|" + Pad(narrowChar, 3, true) + L"|");
    FUZZ_CHECK(FormatWide(L"%5000d|%.9999u|%I6d|%I3d", i1, u1) ==
               Widen(Snprintf("%4096d|%.4096u|", i1, u1)) + L"%I6d|%I3d");

    const void* pointer = reinterpret_cast<const void*>(static_cast<uintptr_t>(ull));
    FUZZ_CHECK(FormatWide(L"%p", pointer) ==
               Widen(Snprintf("%0*" PRIXPTR, static_cast<int>(2 * sizeof(void*)), reinterpret_cast<uintptr_t>(pointer))));
}

// --- one conversion from fuzzed parts -------------------------------------

enum class Len { None, hh, h, l, ll, j, z, t, I, I32, I64 };
const wchar_t* const kLenText[] = {L"", L"hh", L"h", L"l", L"ll", L"j", L"z", L"t", L"I", L"I32", L"I64"};

struct Directive {
    bool left = false, zero = false;
    bool widthStar = false, precisionStar = false;
    int width = 0;       // literal width, or the '*' argument
    int precision = -1;  // literal precision (-1: none), or the '*' argument
    bool hasPrecision = false;
    Len length = Len::None;
    wchar_t conversion = L'd';
};

std::wstring DirectiveText(const Directive& s)
{
    std::wstring f = L"%";
    if (s.left)
        f += L'-';
    if (s.zero)
        f += L'0';
    if (s.widthStar)
        f += L'*';
    else if (s.width > 0)
        f += std::to_wstring(s.width);
    if (s.hasPrecision) {
        f += L'.';
        if (s.precisionStar)
            f += L'*';
        else if (s.precision >= 0)
            f += std::to_wstring(s.precision);
    }
    f += kLenText[static_cast<int>(s.length)];
    f += s.conversion;
    return f;
}

// The width and precision in effect: a negative '*' width means
// left-aligned, a negative '*' precision none at all, and both are clamped.
void Effective(const Directive& s, int& width, bool& left, int& precision)
{
    left = s.left;
    long long w = s.width;
    if (s.widthStar && w < 0) {
        left = true;
        w = -w;
    }
    width = static_cast<int>(w < kMaxFieldWidth ? w : kMaxFieldWidth);
    precision = -1;
    if (s.hasPrecision) {
        const int raw = s.precisionStar ? s.precision : (s.precision < 0 ? 0 : s.precision);
        precision = raw < 0 ? -1 : (raw < kMaxFieldWidth ? raw : kMaxFieldWidth);
    }
}

template <typename T>
std::wstring Call(const std::wstring& format, const Directive& s, T value)
{
    if (s.widthStar && s.hasPrecision && s.precisionStar)
        return FormatWide(format.c_str(), s.width, s.precision, value);
    if (s.widthStar)
        return FormatWide(format.c_str(), s.width, value);
    if (s.hasPrecision && s.precisionStar)
        return FormatWide(format.c_str(), s.precision, value);
    return FormatWide(format.c_str(), value);
}

// Integers: the value as the length modifier reads it, printed by
// snprintf with the same flags, width and precision.
template <typename T>
void CheckInteger(const std::wstring& before, const Directive& s, const std::wstring& after, long long raw, bool isSigned)
{
    int width, precision;
    bool left;
    Effective(s, width, left, precision);
    const T value = static_cast<T>(raw);
    long long asSigned = static_cast<long long>(value);
    unsigned long long asUnsigned = static_cast<unsigned long long>(value);
    if (s.length == Len::hh) {
        asSigned = static_cast<signed char>(value);
        asUnsigned = static_cast<unsigned char>(value);
    } else if (s.length == Len::h) {
        asSigned = static_cast<short>(value);
        asUnsigned = static_cast<unsigned short>(value);
    }
    const std::wstring format = before + DirectiveText(s) + after;
    const std::wstring got = Call(format, s, value);
    // C prints no digits for a zero value at precision 0; FormatWide prints
    // "0". Nothing relies on either, so that one case is not compared.
    if (precision == 0 && (isSigned ? asSigned == 0 : asUnsigned == 0))
        return;
    std::string cformat = "%";
    if (left)
        cformat += '-';
    else if (s.zero)
        cformat += '0';
    cformat += precision >= 0 ? "*.*ll" : "*ll";
    cformat += static_cast<char>(s.conversion);
    std::string expected;
    if (precision >= 0)
        expected = isSigned ? Snprintf(cformat.c_str(), width, precision, asSigned)
                            : Snprintf(cformat.c_str(), width, precision, asUnsigned);
    else
        expected = isSigned ? Snprintf(cformat.c_str(), width, asSigned) : Snprintf(cformat.c_str(), width, asUnsigned);
    if (got != before + Widen(expected) + after) {
        fprintf(stderr, "format \"%ls\" printed \"%ls\", expected \"%s\" inside\n", format.c_str(), got.c_str(),
                expected.c_str());
        FUZZ_CHECK(got == before + Widen(expected) + after);
    }
}

void CheckOneConversion(FuzzedDataProvider& p)
{
    static const wchar_t kConversions[] = L"diuxXoscSp";
    Directive s;
    s.conversion = kConversions[p.ConsumeIntegralInRange<size_t>(0, wcslen(kConversions) - 1)];
    s.left = p.ConsumeBool();
    s.zero = p.ConsumeBool();
    switch (p.ConsumeIntegralInRange(0, 3)) {
    case 0: break;
    case 1: s.width = p.ConsumeIntegralInRange(1, 5000); break;
    case 2: s.width = p.ConsumeIntegralInRange(1, 40); break;
    default:
        s.widthStar = true;
        s.width = p.ConsumeBool() ? p.ConsumeIntegralInRange(-40, 40) : p.ConsumeIntegral<int>();
        break;
    }
    switch (p.ConsumeIntegralInRange(0, 3)) {
    case 0: break;
    case 1:
        s.hasPrecision = true;
        s.precision = p.ConsumeIntegralInRange(-1, 30);  // -1: a lone "."
        break;
    case 2:
        s.hasPrecision = true;
        s.precision = p.ConsumeIntegralInRange(0, 5000);
        break;
    default:
        s.hasPrecision = true;
        s.precisionStar = true;
        s.precision = p.ConsumeBool() ? p.ConsumeIntegralInRange(-40, 40) : p.ConsumeIntegral<int>();
        break;
    }
    // Length modifiers are only combined with the conversions the header
    // gives them for.
    const bool isInteger = wcschr(L"diuxXo", s.conversion) != nullptr;
    if (isInteger)
        s.length = static_cast<Len>(p.ConsumeIntegralInRange(0, 10));
    else if (s.conversion == L's')
        s.length = static_cast<Len>(p.ConsumeIntegralInRange(0, 3));  // "", hh, h, l
    else if (s.conversion == L'S')
        s.length = p.ConsumeBool() ? Len::None : (p.ConsumeBool() ? Len::h : Len::l);
    else if (s.conversion == L'c')
        s.length = p.ConsumeBool() ? Len::None : (p.ConsumeBool() ? Len::h : Len::l);

    // Literal text around the conversion; '%' in it would be a conversion.
    std::wstring before = fuzz::ConsumeWide(p, 6), after = fuzz::ConsumeWide(p, 6);
    for (std::wstring* t : {&before, &after})
        for (wchar_t& c : *t)
            if (c == L'%')
                c = L'!';
    const std::wstring format = before + DirectiveText(s) + after;

    int width, precision;
    bool left;
    Effective(s, width, left, precision);

    if (isInteger) {
        const bool isSigned = s.conversion == L'd' || s.conversion == L'i';
        const long long raw = p.ConsumeIntegral<long long>();
        switch (s.length) {
        case Len::None:
        case Len::I32:
        case Len::h:
        case Len::hh:
            isSigned ? CheckInteger<int>(before, s, after, raw, true) : CheckInteger<unsigned>(before, s, after, raw, false);
            break;
        case Len::l:
            isSigned ? CheckInteger<long>(before, s, after, raw, true) : CheckInteger<unsigned long>(before, s, after, raw, false);
            break;
        case Len::ll:
        case Len::j:
        case Len::I64:
            isSigned ? CheckInteger<long long>(before, s, after, raw, true)
                     : CheckInteger<unsigned long long>(before, s, after, raw, false);
            break;
        case Len::z:
        case Len::t:
        case Len::I:
            isSigned ? CheckInteger<ptrdiff_t>(before, s, after, raw, true) : CheckInteger<size_t>(before, s, after, raw, false);
            break;
        }
        return;
    }

    std::wstring body;
    std::wstring got;
    switch (s.conversion) {
    case L's':
    case L'S': {
        const bool narrow = s.length == Len::h || s.length == Len::hh || (s.conversion == L'S' && s.length != Len::l);
        if (narrow) {
            const std::string text = fuzz::ConsumeNarrow(p, 30);
            const bool null = p.ConsumeIntegralInRange(0, 15) == 0;
            const std::string shown = null ? std::string("(null)") : text;
            body = fuzz::NarrowToWide(precision >= 0 ? shown.substr(0, static_cast<size_t>(precision)) : shown);
            got = Call(format, s, null ? static_cast<const char*>(nullptr) : text.c_str());
        } else {
            const std::wstring text = fuzz::ConsumeWide(p, 30);
            const bool null = p.ConsumeIntegralInRange(0, 15) == 0;
            const std::wstring shown = null ? std::wstring(L"(null)") : text;
            body = precision >= 0 ? shown.substr(0, static_cast<size_t>(precision)) : shown;
            got = Call(format, s, null ? static_cast<const wchar_t*>(nullptr) : text.c_str());
        }
        body = Pad(body, width, left);
        break;
    }
    case L'c': {
        const int c = p.ConsumeIntegral<int>();
        if (s.length == Len::h)
            body = static_cast<wchar_t>(static_cast<unsigned char>(static_cast<char>(c)));
        else
            body = static_cast<wchar_t>(c);
        body = Pad(body, width, left);
        got = Call(format, s, c);
        break;
    }
    default: {  // 'p' always shows every digit of the address, whatever the flags
        const uintptr_t bits = p.ConsumeIntegral<uintptr_t>();
        body = Widen(Snprintf("%0*" PRIXPTR, static_cast<int>(2 * sizeof(void*)), bits));
        got = Call(format, s, reinterpret_cast<const void*>(bits));
        break;
    }
    }
    const std::wstring expected = before + body + after;
    if (got != expected) {
        fprintf(stderr, "format \"%ls\"\n", format.c_str());
        FUZZ_CHECK(got == expected);
    }
}

// --- codecs ---------------------------------------------------------------

std::string Utf16Le(const std::wstring& w)
{
    std::string out;
    for (uint32_t cp : fuzz::CodePoints(w)) {
        auto unit = [&](uint32_t u) {
            out += static_cast<char>(u & 0xFF);
            out += static_cast<char>((u >> 8) & 0xFF);
        };
        if (cp > 0xFFFF) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return out;
}

// Reference UTF-16 reading: pairs joined; where wchar_t is 32 bits a lone
// surrogate becomes U+FFFD, where it is 16 it is kept as it is. A last odd
// byte is dropped.
std::wstring FromUtf16(const std::string& bytes, bool bigEndian)
{
    std::vector<uint32_t> units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const uint32_t a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(bigEndian ? (a << 8 | b) : (b << 8 | a));
    }
    std::wstring out;
    for (size_t i = 0; i < units.size(); ++i) {
        const uint32_t u = units[i];
        if (sizeof(wchar_t) == 2) {
            out += static_cast<wchar_t>(u);
        } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                   units[i + 1] <= 0xDFFF) {
            out += static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            out += static_cast<wchar_t>(u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
        }
    }
    return out;
}

bool StartsWith(const std::string& s, const char* prefix, size_t n) { return s.size() >= n && memcmp(s.data(), prefix, n) == 0; }

std::wstring Decode(const std::string& bytes, const char* encoding)
{
    return DecodeText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), encoding);
}

void CheckCodecs(FuzzedDataProvider& p)
{
    const std::string bytes = p.ConsumeRandomLengthString(200);

    // Narrow to wide keeps every byte and agrees with the reference.
    std::wstring wide;
    AppendNarrowAsWide(wide, bytes.data(), bytes.size());
    FUZZ_CHECK(wide == fuzz::NarrowToWide(bytes));
    std::string back;
    AppendUtf8(back, wide.data(), wide.size());
    FUZZ_CHECK(fuzz::IsValidUtf8(back));
    if (fuzz::IsValidUtf8(bytes))
        FUZZ_CHECK(back == bytes);
    // Latin-1 stand-ins re-read as themselves.
    std::wstring again;
    AppendNarrowAsWide(again, back.data(), back.size());
    FUZZ_CHECK(again == wide);
    // Appending keeps what was there.
    std::wstring prefixed = L"p";
    AppendNarrowAsWide(prefixed, bytes.data(), bytes.size());
    FUZZ_CHECK(prefixed == L"p" + wide);

    // Forced encodings, BOM or not.
    const bool utf8Bom = StartsWith(bytes, "\xEF\xBB\xBF", 3);
    const std::wstring asUtf8 = fuzz::NarrowToWide(utf8Bom ? bytes.substr(3) : bytes);
    FUZZ_CHECK(Decode(bytes, "UTF-8") == asUtf8);
    FUZZ_CHECK(Decode(bytes, "utf8") == asUtf8);
    const bool leBom = StartsWith(bytes, "\xFF\xFE", 2);
    const bool beBom = StartsWith(bytes, "\xFE\xFF", 2);
    const std::string leBody = leBom ? bytes.substr(2) : bytes;
    const std::wstring asLe = FromUtf16(leBody, false);
    FUZZ_CHECK(Decode(bytes, "UTF-16LE") == asLe);
    FUZZ_CHECK(Decode(bytes, "utf16le") == asLe);
    // Well-formed UTF-16 comes back byte for byte.
    if (leBody.size() % 2 == 0 && asLe.find(static_cast<wchar_t>(0xFFFD)) == std::wstring::npos)
        FUZZ_CHECK(Utf16Le(asLe) == leBody);

    // Detection: BOMs first, then UTF-16LE by a zero second byte.
    std::wstring detected;
    if (utf8Bom)
        detected = fuzz::NarrowToWide(bytes.substr(3));
    else if (leBom)
        detected = FromUtf16(bytes.substr(2), false);
    else if (beBom)
        detected = FromUtf16(bytes.substr(2), true);
    else if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0)
        detected = FromUtf16(bytes, false);
    else
        detected = fuzz::NarrowToWide(bytes);
    FUZZ_CHECK(Decode(bytes, nullptr) == detected);
    // An encoding name it does not know means: detect; names only nearly
    // right are not known.
    for (const char* unknown : {"latin1", "UTF-16", "UTF-8X", "UTF-16LEX", "UTF", ""})
        FUZZ_CHECK(Decode(bytes, unknown) == detected);

    // Wide to UTF-8 agrees with the reference and reads back, with what
    // UTF-8 cannot hold replaced by U+FFFD.
    const std::wstring w = fuzz::ConsumeWide(p, 40, true);
    std::string utf8 = "q";
    AppendUtf8(utf8, w.data(), w.size());
    FUZZ_CHECK(utf8 == "q" + fuzz::WideToUtf8(w));
    std::wstring read;
    AppendNarrowAsWide(read, utf8.data() + 1, utf8.size() - 1);
    std::wstring replaced;
    for (uint32_t cp : fuzz::CodePoints(w))
        fuzz::PushCodePoint(replaced, fuzz::IsScalar(cp) ? cp : 0xFFFD);
    FUZZ_CHECK(read == replaced);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider p(data, size);
    CheckCodecs(p);
    CheckFixedFormats(p);
    for (int i = 0; i < 8 && p.remaining_bytes() > 0; ++i)
        CheckOneConversion(p);
    return 0;
}
