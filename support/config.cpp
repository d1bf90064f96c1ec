#include "support/config.h"

#include <cwchar>

#include "support/strings.h"
#include "support/text.h"

namespace {

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\v' || c == L'\f' || c == 0xFEFF;
}

std::wstring Trim(const std::wstring& s, size_t begin, size_t end)
{
    while (begin < end && IsBlank(s[begin]))
        ++begin;
    while (end > begin && IsBlank(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

}  // namespace

Config::Config(bool ignoreCase) : ignoreCase_(ignoreCase) {}

bool Config::namesEqual(const std::wstring& a, const wchar_t* b, size_t bLength) const
{
    if (a.size() != bLength)
        return false;
    if (!ignoreCase_)
        return a.compare(0, a.size(), b, bLength) == 0;
    // Names hold no NUL (such lines are skipped), so a bounded copy compares whole names.
    std::wstring other(b, bLength);
    return ov_wcsicmp(a.c_str(), other.c_str()) == 0;
}

void Config::parseLine(const std::wstring& line, std::wstring& section, bool& sectionValid,
                       const wchar_t* onlySection, bool sectionOnly)
{
    const std::wstring text = Trim(line, 0, line.size());
    if (text.empty() || text[0] == L';' || text[0] == L'#')
        return;
    if (text.find(L'\0') != std::wstring::npos) {
        ++skippedLines_;
        return;
    }
    if (text[0] == L'[') {
        const size_t close = text.find(L']');
        const std::wstring rest = close == std::wstring::npos ? std::wstring() : Trim(text, close + 1, text.size());
        if (close == std::wstring::npos || !(rest.empty() || rest[0] == L';' || rest[0] == L'#')) {
            // Keys under a broken header must not land in the section before it.
            sectionValid = false;
            ++skippedLines_;
            return;
        }
        section = Trim(text, 1, close);
        sectionValid = true;
        return;
    }
    const size_t equals = text.find(L'=');
    if (equals == std::wstring::npos || !sectionValid) {
        ++skippedLines_;
        return;
    }
    std::wstring name = Trim(text, 0, equals);
    if (name.empty()) {
        ++skippedLines_;
        return;
    }
    if (sectionOnly && (onlySection == nullptr || !namesEqual(section, onlySection, wcslen(onlySection))))
        return;
    entries_.push_back(Entry{section, std::move(name), Trim(text, equals + 1, text.size())});
}

bool Config::loadConfigText(const unsigned char* data, size_t size, const wchar_t* section,
                            const char* encoding, bool sectionOnly, bool replace)
{
    if (replace) {
        entries_.clear();
        skippedLines_ = 0;
    }
    const std::wstring text = DecodeText(data, size, encoding);
    std::wstring currentSection;
    bool sectionValid = true;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = begin;
        while (end < text.size() && text[end] != L'\n' && text[end] != L'\r')
            ++end;
        if (end > begin)
            parseLine(text.substr(begin, end - begin), currentSection, sectionValid, section, sectionOnly);
        if (end < text.size() && text[end] == L'\r' && end + 1 < text.size() && text[end + 1] == L'\n')
            ++end;
        begin = end + 1;
    }
    return true;
}

const wchar_t* Config::getValue(const wchar_t* path, const wchar_t* defaultValue, int index) const
{
    if (path == nullptr || index < 0)
        return defaultValue;
    const wchar_t* sectionStart = path[0] == L'/' ? path + 1 : path;
    const wchar_t* slash = wcschr(sectionStart, L'/');
    const wchar_t* nameStart = slash != nullptr ? slash + 1 : sectionStart;
    const size_t sectionLength = slash != nullptr ? static_cast<size_t>(slash - sectionStart) : 0;
    const size_t nameLength = wcslen(nameStart);
    int seen = 0;
    for (const Entry& entry : entries_) {
        if (!namesEqual(entry.section, sectionStart, sectionLength) || !namesEqual(entry.name, nameStart, nameLength))
            continue;
        if (seen++ == index)
            return entry.value.c_str();
    }
    return defaultValue;
}
