// The input is a configuration file. It is read with every combination of
// encoding, case rule and section filter, and each read is compared with a
// small model of the format written from its description in config.h:
// which keys exist, their index-th values, the default when absent, the
// count of skipped lines, and what repeated loads and `replace` do.
#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <set>

#include "fuzz/fuzz_common.h"
#include "support/config.h"
#include "support/text.h"

namespace {

struct Entry {
    std::wstring section, name, value;
};

struct Model {
    std::vector<Entry> entries;
    size_t skipped = 0;
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\v' || c == L'\f' || c == 0xFEFF; }

std::wstring Trim(const std::wstring& s)
{
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

wint_t Fold(wchar_t c)
{
    if (c >= L'A' && c <= L'Z')
        return static_cast<wint_t>(c + (L'a' - L'A'));
    if (static_cast<unsigned long>(c) < 0x80)
        return static_cast<wint_t>(c);
    return towlower(static_cast<wint_t>(c));
}

bool SameName(const std::wstring& a, const std::wstring& b, bool ignoreCase)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ignoreCase ? Fold(a[i]) != Fold(b[i]) : a[i] != b[i])
            return false;
    return true;
}

std::vector<std::wstring> Lines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    std::wstring line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n')
                ++i;
            lines.push_back(line);
            line.clear();
        } else {
            line += text[i];
        }
    }
    lines.push_back(line);
    return lines;
}

void ParseInto(Model& m, const std::wstring& text, const wchar_t* only, bool sectionOnly, bool ignoreCase)
{
    std::wstring section;
    bool valid = true;
    for (const std::wstring& raw : Lines(text)) {
        const std::wstring line = Trim(raw);
        if (line.empty() || line[0] == L';' || line[0] == L'#')
            continue;
        if (line.find(L'\0') != std::wstring::npos) {
            ++m.skipped;
            continue;
        }
        if (line[0] == L'[') {
            const size_t close = line.find(L']');
            const std::wstring rest = close == std::wstring::npos ? std::wstring() : Trim(line.substr(close + 1));
            if (close == std::wstring::npos || (!rest.empty() && rest[0] != L';' && rest[0] != L'#')) {
                valid = false;
                ++m.skipped;
            } else {
                section = Trim(line.substr(1, close - 1));
                valid = true;
            }
            continue;
        }
        const size_t equals = line.find(L'=');
        const std::wstring name = equals == std::wstring::npos ? std::wstring() : Trim(line.substr(0, equals));
        if (!valid || name.empty()) {
            ++m.skipped;
            continue;
        }
        if (sectionOnly && (only == nullptr || !SameName(section, only, ignoreCase)))
            continue;
        m.entries.push_back(Entry{section, name, Trim(line.substr(equals + 1))});
    }
}

// The values getValue(path, ..., index) must find, by index: the path is
// "/Section/Name" split at its first slash after an optional leading one;
// without a slash it names a key outside any section.
std::vector<const std::wstring*> Lookup(const Model& m, const std::wstring& path, bool ignoreCase)
{
    const std::wstring rest = !path.empty() && path[0] == L'/' ? path.substr(1) : path;
    const size_t slash = rest.find(L'/');
    const std::wstring section = slash == std::wstring::npos ? std::wstring() : rest.substr(0, slash);
    const std::wstring name = slash == std::wstring::npos ? rest : rest.substr(slash + 1);
    std::vector<const std::wstring*> values;
    for (const Entry& e : m.entries)
        if (SameName(e.section, section, ignoreCase) && SameName(e.name, name, ignoreCase))
            values.push_back(&e.value);
    return values;
}

const wchar_t kDefault[] = L"<default>";

void CheckValue(const Config& config, const std::wstring& path, int index, const std::wstring* want)
{
    const wchar_t* got = config.getValue(path.c_str(), kDefault, index);
    if (want == nullptr) {
        FUZZ_CHECK(got == kDefault);
        FUZZ_CHECK(config.getValue(path.c_str(), nullptr, index) == nullptr);
        return;
    }
    FUZZ_CHECK(got != kDefault && got != nullptr);
    // Terminated right after the value, which holds no line break and no
    // surrounding blanks.
    FUZZ_CHECK(wcslen(got) == want->size());
    FUZZ_CHECK(wmemcmp(got, want->data(), want->size()) == 0);
    FUZZ_CHECK(want->find_first_of(L"\r\n") == std::wstring::npos);
}

// Paths to ask for: the ones the launcher reads, odd shapes, and the keys
// in the model (each once, bounded).
std::vector<std::wstring> Paths(const Model& m)
{
    std::vector<std::wstring> paths = {L"/Launcher/JavaMaxMemory", L"/Launcher/LauncherLogFile",
                                       L"/launcher/jettylogfile", L"Launcher/ApplicationLogFile",
                                       L"Launcher", L"/", L"", L"//", L"/Launcher/", L"///x"};
    std::set<std::wstring> seen;
    for (size_t i = 0; i < m.entries.size() && paths.size() < 32; ++i) {
        const Entry& e = m.entries[i];
        std::wstring path = L"/" + e.section + L"/" + e.name;
        if (!seen.insert(path).second)
            continue;
        if (e.section.empty())
            paths.push_back(e.name);
        paths.push_back(fuzz::SwapAsciiCase(path));
        paths.push_back(std::move(path));
    }
    return paths;
}

void CheckAgainstModel(const Config& config, const Model& m, bool ignoreCase)
{
    FUZZ_CHECK(config.entryCount() == m.entries.size());
    FUZZ_CHECK(config.skippedLineCount() == m.skipped);
    FUZZ_CHECK(config.getValue(nullptr, kDefault, 0) == kDefault);
    for (const std::wstring& path : Paths(m)) {
        // Paths hold no NUL (names never do), so they pass as C strings.
        if (path.find(L'\0') != std::wstring::npos)
            continue;
        const std::vector<const std::wstring*> values = Lookup(m, path, ignoreCase);
        const int count = static_cast<int>(values.size());
        CheckValue(config, path, -1, nullptr);
        for (int index = 0; index < count; ++index)
            CheckValue(config, path, index, values[static_cast<size_t>(index)]);
        CheckValue(config, path, count, nullptr);
        CheckValue(config, path, 2147483647, nullptr);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const char* const kEncodings[] = {nullptr, "UTF-8", "UTF-16LE"};
    std::vector<std::wstring> texts;
    for (const char* encoding : kEncodings) {
        const std::wstring text = DecodeText(data, size, encoding);
        // Where two encodings read the same text, the reads must agree and
        // the second needs no full check (most inputs are plain ASCII).
        const bool seenText = std::find(texts.begin(), texts.end(), text) != texts.end();
        texts.push_back(text);
        // Filters to try: none, the launcher's section, the first section
        // named in the file, and a null section (which keeps nothing).
        std::vector<std::wstring> sections = {L"Launcher"};
        for (const std::wstring& line : Lines(text)) {
            const std::wstring t = Trim(line);
            const size_t close = t.find(L']');
            if (!t.empty() && t[0] == L'[' && close != std::wstring::npos && t.find(L'\0') == std::wstring::npos) {
                sections.push_back(Trim(t.substr(1, close - 1)));
                break;
            }
        }
        for (bool ignoreCase : {false, true}) {
            for (int filter = -1; filter <= static_cast<int>(sections.size()); ++filter) {
                const bool sectionOnly = filter >= 0;
                const wchar_t* only = filter >= 0 && filter < static_cast<int>(sections.size())
                                          ? sections[static_cast<size_t>(filter)].c_str()
                                          : nullptr;
                Config config(ignoreCase);
                FUZZ_CHECK(config.loadConfigText(data, size, only, encoding, sectionOnly, true));
                Model m;
                ParseInto(m, text, only, sectionOnly, ignoreCase);
                if (seenText) {
                    FUZZ_CHECK(config.entryCount() == m.entries.size());
                    FUZZ_CHECK(config.skippedLineCount() == m.skipped);
                    continue;
                }
                CheckAgainstModel(config, m, ignoreCase);

                if (!sectionOnly) {
                    // A second load without replace adds the same entries
                    // again: index i + n then finds what index i found.
                    FUZZ_CHECK(config.loadConfigText(data, size, only, encoding, sectionOnly, false));
                    Model twice = m;
                    ParseInto(twice, text, only, sectionOnly, ignoreCase);
                    FUZZ_CHECK(twice.entries.size() == 2 * m.entries.size());
                    CheckAgainstModel(config, twice, ignoreCase);
                }

                // replace drops everything loaded before; no bytes at all
                // may come without a buffer.
                FUZZ_CHECK(config.loadConfigText(nullptr, 0, only, encoding, sectionOnly, true));
                FUZZ_CHECK(config.entryCount() == 0 && config.skippedLineCount() == 0);
                FUZZ_CHECK(config.getValue(L"/Launcher/JavaMaxMemory", kDefault, 0) == kDefault);
            }
        }
    }
    return 0;
}
