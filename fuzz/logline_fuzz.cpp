// Log lines from fuzzed stamps, thread ids, levels and text: every message
// is one line with tab-led continuation lines, valid UTF-8, and exactly the
// line composed here from the same parts.
#include <cstring>
#include <memory>

#include "fuzz/fuzz_common.h"
#include "support/log_line.h"

namespace {

// The text as it must appear: trailing breaks dropped, each inner CR LF,
// CR or LF replaced by a break and a tab.
std::string ExpectedBody(const std::wstring& text)
{
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == L'\r' || text[end - 1] == L'\n'))
        --end;
    std::wstring flat;
    for (size_t i = 0; i < end; ++i) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            if (text[i] == L'\r' && i + 1 < end && text[i + 1] == L'\n')
                ++i;
            flat += L'\n';
        } else {
            flat += text[i];
        }
    }
    // Split first so a break never joins the halves of a surrogate pair.
    std::string out;
    size_t start = 0;
    for (;;) {
        const size_t brk = flat.find(L'\n', start);
        out += fuzz::WideToUtf8(flat.substr(start, brk == std::wstring::npos ? std::wstring::npos : brk - start));
        if (brk == std::wstring::npos)
            break;
        out += "\r\n\t";
        start = brk + 1;
    }
    return out;
}

// Only CR LF ends a line, the whole ends with one, and every later line
// starts with a tab.
void CheckShape(const std::string& line)
{
    FUZZ_CHECK(line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0);
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\n')
            FUZZ_CHECK(i > 0 && line[i - 1] == '\r');
        if (line[i] == '\r') {
            FUZZ_CHECK(i + 1 < line.size() && line[i + 1] == '\n');
            FUZZ_CHECK(i + 2 == line.size() || line[i + 2] == '\t');
        }
    }
    FUZZ_CHECK(fuzz::IsValidUtf8(line));
}

void CheckLevelName(FuzzedDataProvider& p, std::string& level)
{
    const int severity = p.ConsumeIntegralInRange(-1, 5);
    const int debugLevel = p.ConsumeIntegral<int>();
    const size_t size = p.ConsumeIntegralInRange<size_t>(0, 20);
    std::unique_ptr<char[]> buffer(new char[size]);
    const char* name = LogLevelName(severity, debugLevel, buffer.get(), size);
    FUZZ_CHECK(name != nullptr);

    std::string expected;
    if (severity == 1)
        expected = "ERROR";
    else if (severity == 2)
        expected = "WARNING";
    else if (severity == 4)
        expected = "INFO";
    else
        expected = "DEBUG" + std::to_string(debugLevel < 0 ? 0 : debugLevel);
    const bool inBuffer = severity != 1 && severity != 2 && severity != 4;
    if (inBuffer)
        expected = expected.substr(0, size == 0 ? 0 : size - 1);
    FUZZ_CHECK(name == expected);
    if (inBuffer && size > 0)
        FUZZ_CHECK(name == buffer.get());
    level = expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider p(data, size);
    LogStamp stamp;
    // Mostly real clock values, sometimes anything at all.
    const bool wild = p.ConsumeBool();
    auto field = [&](unsigned max) { return wild ? p.ConsumeIntegral<unsigned>() : p.ConsumeIntegralInRange(0u, max); };
    stamp.year = field(9999);
    stamp.month = field(12);
    stamp.day = field(31);
    stamp.hour = field(23);
    stamp.minute = field(59);
    stamp.second = field(59);
    stamp.millisecond = field(999);
    const unsigned long threadId = p.ConsumeIntegral<unsigned long>();
    std::string level;
    CheckLevelName(p, level);
    const bool withTag = p.ConsumeBool();
    std::wstring tag = fuzz::ConsumeWide(p, 8);
    // Tags are names in the code (e.g. "java", "jetty"): no line breaks.
    for (wchar_t& c : tag)
        if (c == L'\r' || c == L'\n')
            c = L'_';
    const std::wstring text = fuzz::ConsumeWide(p, 200, true);

    std::string line;
    ComposeLogLine(line, stamp, threadId, level.c_str(), withTag ? tag.c_str() : nullptr, text);

    char head[160];
    snprintf(head, sizeof head, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] %s ", stamp.year, stamp.month, stamp.day,
             stamp.hour, stamp.minute, stamp.second, stamp.millisecond, threadId, level.c_str());
    const std::string expected =
        head + (withTag ? fuzz::WideToUtf8(tag) : std::string()) + ": " + ExpectedBody(text) + "\r\n";
    FUZZ_CHECK(line == expected);
    CheckShape(line);

    // Appends to what is there.
    std::string appended = "x";
    ComposeLogLine(appended, stamp, threadId, level.c_str(), withTag ? tag.c_str() : nullptr, text);
    FUZZ_CHECK(appended == "x" + expected);
    return 0;
}
