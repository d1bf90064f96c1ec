// The platform-free half of the support library: bounded wide-string
// helpers, the growable string, the configuration reader, UTF-8 and the log
// line. Nothing here includes <windows.h>, so it also builds natively for
// fuzzing and sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Bounded copy and append in the BSD manner: the destination always ends up
// terminated within `size` characters (when size > 0). They return the
// length the whole result would have had, so `result >= size` means the
// text was cut.
size_t wcslcpy(wchar_t* dst, const wchar_t* src, size_t size);
size_t wcslcat(wchar_t* dst, const wchar_t* src, size_t size);
template <size_t N>
size_t wcslcpy(wchar_t (&dst)[N], const wchar_t* src) { return wcslcpy(dst, src, N); }
template <size_t N>
size_t wcslcat(wchar_t (&dst)[N], const wchar_t* src) { return wcslcat(dst, src, N); }

// 0 when equal ignoring letter case; otherwise the sign of the first
// difference, like wcscmp on case-folded text.
int ov_wcsicmp(const wchar_t* a, const wchar_t* b);

// Copies that refuse to cut: a path cut short can name another file, so
// callers that must not use a partial path use these. On refusal the
// destination is left empty (CopyWhole) or unchanged (AppendWhole).
bool CopyWhole(wchar_t* dst, size_t size, const wchar_t* src);
bool AppendWhole(wchar_t* dst, size_t size, const wchar_t* src);
template <size_t N>
bool CopyWhole(wchar_t (&dst)[N], const wchar_t* src) { return CopyWhole(dst, N, src); }
template <size_t N>
bool AppendWhole(wchar_t (&dst)[N], const wchar_t* src) { return AppendWhole(dst, N, src); }

// Growable wide text, always terminated.
class StringBuffer {
public:
    StringBuffer() = default;
    ~StringBuffer() = default;
    StringBuffer(const StringBuffer&) = delete;
    StringBuffer& operator=(const StringBuffer&) = delete;

    // Inserts `count` characters of `text` at `index` (index == length()
    // appends). False, and nothing changed, when index is past the end.
    bool insert(size_t index, const wchar_t* text, size_t count);
    bool append(const wchar_t* text);

    size_t length() const { return text_.size(); }
    const wchar_t* getText() const { return text_.c_str(); }
    // Writable text for APIs such as CreateProcessW that may modify it.
    wchar_t* getBuffer() { return &text_[0]; }

private:
    std::wstring text_;
};

// INI-style configuration: "[Section]" lines, "Name = value" lines, ";" or
// "#" comment lines. Values are read by path, "/Section/Name".
class Config {
public:
    // ignoreCase: section and key names match ignoring letter case.
    explicit Config(bool ignoreCase);
    ~Config() = default;
    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    // Reads a file (UTF-8 with or without BOM, UTF-16 with BOM, or UTF-16LE
    // recognised by its zero bytes). `encoding` forces "UTF-8" or
    // "UTF-16LE"; null detects it. sectionOnly keeps just `section`'s keys;
    // replace drops what earlier loads stored. False when the file cannot
    // be read; the configuration is then left as it was (replace aside).
    // Only a disk file is read: anything else (a pipe, a device, a folder)
    // counts as missing, and notAFile() then says so.
    bool loadConfig(const wchar_t* path, const wchar_t* section, const char* encoding,
                    bool sectionOnly, bool replace);
    // The last loadConfig found something at its path that is not a file.
    bool notAFile() const { return notAFile_; }

    // The same from bytes in memory; always succeeds (bad lines are skipped).
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
    bool notAFile_ = false;
};

// Text decoding used by the configuration reader and the log.
std::wstring DecodeText(const unsigned char* data, size_t size, const char* encoding);
// Narrow text as UTF-8 where it is valid, each other byte as its Latin-1
// character, so no byte of a child's output is lost.
void AppendNarrowAsWide(std::wstring& out, const char* text, size_t size);
std::wstring NarrowAsWide(const char* text);
// The length of `text` without an unfinished UTF-8 sequence at its end (at
// most 3 bytes), so a reader of output in pieces can keep that for the next
// piece: a character cut by a read is then decoded whole.
size_t CompleteUtf8Length(const char* text, size_t size);
// Joins output read in pieces into whole lines. Each line goes out with its
// line break; a line longer than kMaxLineBytes goes out in pieces cut
// between UTF-8 characters; what is left at the end goes out by finish().
class LineAssembler {
public:
    static constexpr size_t kMaxLineBytes = 16384;
    // `deliver(const char* line, size_t size)` for each line.
    template <typename Deliver>
    void feed(const char* data, size_t size, Deliver deliver)
    {
        for (size_t i = 0; i < size; ++i) {
            pending_.push_back(data[i]);
            if (data[i] == '\n') {
                deliver(pending_.data(), pending_.size());
                pending_.clear();
            } else if (pending_.size() >= kMaxLineBytes) {
                const size_t whole = CompleteUtf8Length(pending_.data(), pending_.size());
                deliver(pending_.data(), whole);
                pending_.erase(0, whole);
            }
        }
    }
    template <typename Deliver>
    void finish(Deliver deliver)
    {
        if (!pending_.empty())
            deliver(pending_.data(), pending_.size());
        pending_.clear();
    }

private:
    std::string pending_;
};

// The last lines of a child's output, at most kTailBytes of them, so a
// message can quote what a dying process said last.
class OutputTail {
public:
    static constexpr size_t kTailBytes = 4096;
    void append(const char* data, size_t size);
    // The kept lines without carriage returns or a final line break; a
    // first line whose start was cut off is left out.
    std::string lines() const;

private:
    std::string kept_;
    bool keptStartsLine_ = true;  // kept_ begins a line (nothing dropped, or a line break last)
};

// A number in decimal digits. (std::to_wstring would bring the C++
// library's own formatter into the exe: tens of KiB.)
std::wstring DecimalText(unsigned long long value);
// Wide text to UTF-8; an unpaired surrogate becomes U+FFFD.
void AppendUtf8(std::string& out, const wchar_t* text, size_t count);

// One log line: "YYYY-MM-DD HH:MM:SS.mmm [thread] LEVEL tag: text\n" in
// UTF-8. Trailing line breaks of the text are dropped; inner ones continue
// the message on lines that start with a tab, so every line that starts
// with a timestamp starts a new message.
struct LogStamp {
    unsigned year, month, day, hour, minute, second, millisecond;
};
void ComposeLogLine(std::string& out, const LogStamp& stamp, unsigned long threadId,
                    const char* level, const wchar_t* tag, const std::wstring& text);
// "ERROR", "WARNING", "INFO" for severities 1, 2 and 4; "DEBUGn" for debug
// messages (severity 0 with a level). Writes into `buffer` (>= 16 bytes).
const char* LogLevelName(int severity, int debugLevel, char* buffer, size_t size);
