// Bounded copies on small buffers of fuzzed size and content, the
// case-insensitive compare, StringBuffer::insert against std::wstring, and
// the text codecs against the reference codecs of fuzz_common.h.
#include <cstring>
#include <cwchar>
#include <memory>

#include "fuzz/fuzz_common.h"
#include "support/strings.h"
#include "support/text.h"

namespace {

constexpr size_t kMaxSize = 40;
constexpr size_t kCanary = 8;
constexpr wchar_t kCanaryChar = static_cast<wchar_t>(0x5A5A);

enum class Op { Copy, Cat, CopyWhole, AppendWhole };

struct Outcome {
    size_t returned;
    std::vector<wchar_t> buffer;  // the first `size` characters afterwards
};

size_t Run(Op op, wchar_t* dst, size_t size, const wchar_t* src)
{
    switch (op) {
    case Op::Copy: return wcslcpy(dst, src, size);
    case Op::Cat: return wcslcat(dst, src, size);
    case Op::CopyWhole: return CopyWhole(dst, size, src) ? 1 : 0;
    case Op::AppendWhole: return AppendWhole(dst, size, src) ? 1 : 0;
    }
    return 0;
}

// Once on an allocation of exactly `size` characters, so AddressSanitizer
// sees any access past it, and once followed by a canary, so a write past
// `size` is caught even where it would stay inside an allocation.
Outcome RunBoth(Op op, const std::vector<wchar_t>& initial, const std::wstring& src)
{
    const size_t size = initial.size();
    std::unique_ptr<wchar_t[]> exact(new wchar_t[size]);
    std::copy(initial.begin(), initial.end(), exact.get());
    const size_t exactReturned = Run(op, exact.get(), size, src.c_str());

    std::vector<wchar_t> guarded(size + kCanary, kCanaryChar);
    std::copy(initial.begin(), initial.end(), guarded.begin());
    const size_t guardedReturned = Run(op, guarded.data(), size, src.c_str());
    for (size_t i = size; i < size + kCanary; ++i)
        FUZZ_CHECK(guarded[i] == kCanaryChar);

    FUZZ_CHECK(exactReturned == guardedReturned);
    FUZZ_CHECK(std::equal(guarded.begin(), guarded.begin() + static_cast<std::ptrdiff_t>(size), exact.get()));
    return Outcome{guardedReturned, std::vector<wchar_t>(guarded.begin(), guarded.begin() + static_cast<std::ptrdiff_t>(size))};
}

// Characters in use: up to the first NUL inside `size`, or `size` when
// there is none.
size_t Used(const std::vector<wchar_t>& b)
{
    size_t used = 0;
    while (used < b.size() && b[used] != L'\0')
        ++used;
    return used;
}

bool SameRange(const std::vector<wchar_t>& a, const std::vector<wchar_t>& b, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

// `b` holds `text` from `at`, then a terminator.
bool HoldsAt(const std::vector<wchar_t>& b, size_t at, const wchar_t* text, size_t count)
{
    if (at + count >= b.size())
        return false;
    for (size_t i = 0; i < count; ++i)
        if (b[at + i] != text[i])
            return false;
    return b[at + count] == L'\0';
}

void CheckBoundedCopies(FuzzedDataProvider& p)
{
    const size_t size = p.ConsumeIntegralInRange<size_t>(0, kMaxSize);
    std::vector<wchar_t> initial(size);
    // The destination may be unterminated, or terminated anywhere.
    for (size_t i = 0; i < size; ++i)
        initial[i] = p.ConsumeBool() ? L'\0' : fuzz::ConsumeWideChar(p);
    const std::wstring src = fuzz::ConsumeWide(p, kMaxSize + 8);
    const size_t length = src.size();
    const size_t used = Used(initial);

    Outcome copy = RunBoth(Op::Copy, initial, src);
    FUZZ_CHECK(copy.returned == length);
    if (size > 0) {
        const size_t kept = length < size ? length : size - 1;
        FUZZ_CHECK(HoldsAt(copy.buffer, 0, src.c_str(), kept));
    }

    Outcome cat = RunBoth(Op::Cat, initial, src);
    if (used == size) {
        FUZZ_CHECK(cat.returned == size + length);
        FUZZ_CHECK(cat.buffer == initial);
    } else {
        FUZZ_CHECK(cat.returned == used + length);
        const size_t room = size - used - 1;
        FUZZ_CHECK(SameRange(cat.buffer, initial, 0, used));
        FUZZ_CHECK(HoldsAt(cat.buffer, used, src.c_str(), length < room ? length : room));
    }

    Outcome whole = RunBoth(Op::CopyWhole, initial, src);
    if (length < size) {
        FUZZ_CHECK(whole.returned == 1);
        FUZZ_CHECK(HoldsAt(whole.buffer, 0, src.c_str(), length));
    } else {
        FUZZ_CHECK(whole.returned == 0);
        if (size > 0)
            FUZZ_CHECK(whole.buffer[0] == L'\0');
        else
            FUZZ_CHECK(whole.buffer.empty());
    }

    Outcome append = RunBoth(Op::AppendWhole, initial, src);
    if (used < size && used + length < size) {
        FUZZ_CHECK(append.returned == 1);
        FUZZ_CHECK(SameRange(append.buffer, initial, 0, used));
        FUZZ_CHECK(HoldsAt(append.buffer, used, src.c_str(), length));
    } else {
        FUZZ_CHECK(append.returned == 0);
        FUZZ_CHECK(append.buffer == initial);
    }
}

// wcslcpy moves rather than copies, so source and destination may overlap
// in either direction; the result is the source as it was.
void CheckOverlappingCopy(FuzzedDataProvider& p)
{
    const std::wstring text = fuzz::ConsumeWide(p, kMaxSize);
    std::unique_ptr<wchar_t[]> buffer(new wchar_t[text.size() + 1]);
    wmemcpy(buffer.get(), text.c_str(), text.size() + 1);
    const size_t from = p.ConsumeIntegralInRange<size_t>(0, text.size());
    const size_t to = p.ConsumeIntegralInRange<size_t>(0, text.size());
    const size_t size = p.ConsumeIntegralInRange<size_t>(0, text.size() + 1 - to);
    const std::wstring source = text.substr(from);
    FUZZ_CHECK(wcslcpy(buffer.get() + to, buffer.get() + from, size) == source.size());
    if (size > 0) {
        const size_t kept = source.size() < size ? source.size() : size - 1;
        FUZZ_CHECK(wmemcmp(buffer.get() + to, source.data(), kept) == 0);
        FUZZ_CHECK(buffer[to + kept] == L'\0');
    }
    FUZZ_CHECK(wmemcmp(buffer.get(), text.data(), to) == 0);
}

bool IsAscii(const std::wstring& s)
{
    for (wchar_t c : s)
        if (static_cast<uint32_t>(c) >= 0x80)
            return false;
    return true;
}

// Reference for ASCII text: compare lower-cased characters.
int AsciiCompare(const std::wstring& a, const std::wstring& b)
{
    auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : static_cast<int>(c); };
    for (size_t i = 0;; ++i) {
        const int ca = i < a.size() ? lower(a[i]) : 0;
        const int cb = i < b.size() ? lower(b[i]) : 0;
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
}

void CheckCompare(FuzzedDataProvider& p)
{
    const std::wstring a = fuzz::ConsumeWide(p, 12);
    // Often a case variant of `a`, so equal names are reached.
    std::wstring b = p.ConsumeBool() ? fuzz::SwapAsciiCase(a) : fuzz::ConsumeWide(p, 12);
    if (p.ConsumeBool() && !b.empty())
        b.resize(p.ConsumeIntegralInRange<size_t>(0, b.size()));
    const std::wstring c = p.ConsumeBool() ? a : fuzz::ConsumeWide(p, 12);

    const int ab = ov_wcsicmp(a.c_str(), b.c_str());
    const int ba = ov_wcsicmp(b.c_str(), a.c_str());
    const int bc = ov_wcsicmp(b.c_str(), c.c_str());
    const int ac = ov_wcsicmp(a.c_str(), c.c_str());
    FUZZ_CHECK(fuzz::Sign(ab) == -fuzz::Sign(ba));
    FUZZ_CHECK(ov_wcsicmp(a.c_str(), a.c_str()) == 0);
    FUZZ_CHECK(ov_wcsicmp(a.c_str(), fuzz::SwapAsciiCase(a).c_str()) == 0);
    // Folding maps one character to one, so equal text has equal length.
    if (ab == 0)
        FUZZ_CHECK(a.size() == b.size());
    // A consistent order: equality and "less" are transitive.
    if (ab == 0 && bc == 0)
        FUZZ_CHECK(ac == 0);
    if (ab < 0 && bc < 0)
        FUZZ_CHECK(ac < 0);
    if (IsAscii(a) && IsAscii(b))
        FUZZ_CHECK(fuzz::Sign(ab) == AsciiCompare(a, b));
}

void CheckStringBuffer(FuzzedDataProvider& p)
{
    StringBuffer buffer;
    std::wstring model;
    FUZZ_CHECK(!buffer.insert(0, nullptr, 0));
    const int steps = p.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < steps; ++i) {
        const std::wstring text = fuzz::ConsumeWide(p, 16, true);
        if (p.ConsumeBool()) {
            // append() stops at the first NUL, like any C string.
            FUZZ_CHECK(buffer.append(text.c_str()));
            model += std::wstring(text.c_str());
        } else {
            const size_t index = p.ConsumeIntegralInRange<size_t>(0, model.size() + 2);
            const size_t count = p.ConsumeIntegralInRange<size_t>(0, text.size());
            const bool inserted = buffer.insert(index, text.data(), count);
            FUZZ_CHECK(inserted == (index <= model.size()));
            if (inserted)
                model.insert(index, text.data(), count);
        }
        FUZZ_CHECK(buffer.length() == model.size());
        FUZZ_CHECK(std::equal(model.begin(), model.end(), buffer.getText()));
        FUZZ_CHECK(buffer.getText()[buffer.length()] == L'\0');
        FUZZ_CHECK(buffer.getBuffer() == buffer.getText());
    }
}

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

// Output read in pieces of any size, each piece's unfinished UTF-8 sequence
// carried to the next and the rest flushed at the end, reads as the whole.
void CheckCarriedUtf8(FuzzedDataProvider& p)
{
    const std::string bytes = p.ConsumeRandomLengthString(64);
    std::wstring pieces;
    std::string pending;
    for (size_t at = 0; at < bytes.size();) {
        const size_t n = p.ConsumeIntegralInRange<size_t>(1, bytes.size() - at);
        pending.append(bytes, at, n);
        at += n;
        const size_t complete = CompleteUtf8Length(pending.data(), pending.size());
        FUZZ_CHECK(complete <= pending.size() && pending.size() - complete <= 3);
        // What is held back is never a whole well-formed character.
        FUZZ_CHECK(complete == pending.size() || fuzz::WellFormedLength(pending, complete) == 0);
        AppendNarrowAsWide(pieces, pending.data(), complete);
        pending.erase(0, complete);
    }
    AppendNarrowAsWide(pieces, pending.data(), pending.size());
    FUZZ_CHECK(pieces == fuzz::NarrowToWide(bytes));
    // Text that ends on a whole character is never held back.
    std::string whole = fuzz::WideToUtf8(fuzz::ConsumeWide(p, 8));
    FUZZ_CHECK(CompleteUtf8Length(whole.data(), whole.size()) == whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider p(data, size);
    while (p.remaining_bytes() > 0) {
        switch (p.ConsumeIntegralInRange(0, 5)) {
        case 0: CheckBoundedCopies(p); break;
        case 1: CheckCompare(p); break;
        case 2: CheckOverlappingCopy(p); break;
        case 3: CheckCodecs(p); break;
        case 4: CheckCarriedUtf8(p); break;
        default: CheckStringBuffer(p); break;
        }
    }
    return 0;
}
