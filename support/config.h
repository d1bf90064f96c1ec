// The configuration reader. Platform-free, except for reading a file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// INI-style configuration: "[Section]" lines, "Name = value" lines, ";" or
// "#" comment lines. Values are read by path, "/Section/Name".
class Config {
public:
    // ignoreCase: section and key names match ignoring letter case.
    explicit Config(bool ignoreCase);
    ~Config() = default;
    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    // Reads a configuration text (UTF-8 with or without BOM, UTF-16 with
    // BOM, or UTF-16LE recognised by its zero bytes). `encoding` forces
    // "UTF-8" or "UTF-16LE"; null detects it. sectionOnly keeps just
    // `section`'s keys; replace drops what earlier loads stored. Always
    // succeeds (bad lines are skipped). A file: LoadConfigFile.
    bool loadConfigText(const unsigned char* data, size_t size, const wchar_t* section,
                        const char* encoding, bool sectionOnly, bool replace);

    // The index-th value of the key at `path`, else `defaultValue` (which
    // may be null). The text stays valid until the next load or the end of
    // this object.
    const wchar_t* getValue(const wchar_t* path, const wchar_t* defaultValue, int index) const;

    size_t entryCount() const { return entries_.size(); }
    size_t skippedLineCount() const { return skippedLines_; }

    // Files larger than this are treated as unreadable rather than held in memory.
    static constexpr size_t kMaxFileBytes = 16u * 1024u * 1024u;

private:
    struct Entry {
        std::wstring section;
        std::wstring name;
        std::wstring value;
    };
    bool namesEqual(const std::wstring& a, const wchar_t* b, size_t bLength) const;
    void parseLine(const std::wstring& line, std::wstring& section, bool& sectionValid,
                   const wchar_t* onlySection, bool sectionOnly);

    bool ignoreCase_;
    std::vector<Entry> entries_;
    size_t skippedLines_ = 0;
};
