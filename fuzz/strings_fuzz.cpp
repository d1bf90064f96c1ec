// Bounded copies on small buffers of fuzzed size and content, the
// case-insensitive compare, and StringBuffer::insert against std::wstring.
#include <cwchar>
#include <memory>

#include "fuzz/fuzz_common.h"
#include "support/portable.h"

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

std::wstring SwapAsciiCase(const std::wstring& s)
{
    std::wstring out = s;
    for (wchar_t& c : out) {
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
        else if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return out;
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
    std::wstring b = p.ConsumeBool() ? SwapAsciiCase(a) : fuzz::ConsumeWide(p, 12);
    if (p.ConsumeBool() && !b.empty())
        b.resize(p.ConsumeIntegralInRange<size_t>(0, b.size()));
    const std::wstring c = p.ConsumeBool() ? a : fuzz::ConsumeWide(p, 12);

    const int ab = ov_wcsicmp(a.c_str(), b.c_str());
    const int ba = ov_wcsicmp(b.c_str(), a.c_str());
    const int bc = ov_wcsicmp(b.c_str(), c.c_str());
    const int ac = ov_wcsicmp(a.c_str(), c.c_str());
    FUZZ_CHECK(fuzz::Sign(ab) == -fuzz::Sign(ba));
    FUZZ_CHECK(ov_wcsicmp(a.c_str(), a.c_str()) == 0);
    FUZZ_CHECK(ov_wcsicmp(a.c_str(), SwapAsciiCase(a).c_str()) == 0);
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider p(data, size);
    while (p.remaining_bytes() > 0) {
        switch (p.ConsumeIntegralInRange(0, 3)) {
        case 0: CheckBoundedCopies(p); break;
        case 1: CheckCompare(p); break;
        case 2: CheckOverlappingCopy(p); break;
        default: CheckStringBuffer(p); break;
        }
    }
    return 0;
}
