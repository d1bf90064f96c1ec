// Text decoding and UTF-8: the configuration's bytes, a child's output in
// lines and its last words, numbers as text. Platform-free.
#pragma once

#include <cstddef>
#include <string>

// Text decoding used by the configuration reader and the log.
std::wstring DecodeText(const unsigned char* data, size_t size, const char* encoding);
// Narrow text as UTF-8 where it is valid, each other byte as its Latin-1
// character, so no byte of a child's output is lost.
void AppendNarrowAsWide(std::wstring& out, const char* text, size_t size);
std::wstring NarrowAsWide(const char* text);
// True when all `size` bytes are UTF-8: no stray, cut or overlong
// sequence and no surrogate. A child's output that is not is in the
// system's ANSI code page (Java's console streams when redirected).
bool IsValidUtf8(const char* text, size_t size);
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
    // The kept lines without carriage returns or a final line break. They
    // always begin where a line begins: the output's code page is unknown
    // here, and in some (cp932) no character boundary can be found by
    // scanning backwards. When the last line alone is longer than
    // kTailBytes, its first kTailBytes are what is quoted.
    std::string lines() const;

private:
    std::string kept_;
    bool keptStartsLine_ = true;  // kept_ begins a line (nothing dropped, or a line break last)
    std::string lastLineHead_;    // the first kTailBytes of the last line that has any text
    bool atLineStart_ = true;     // the next byte begins a line
};

// An event's insertion string as Event Viewer must show it: each '%'
// becomes U+FF05 FULLWIDTH PERCENT SIGN. Event Viewer formats the message
// after inserting the strings, so a "%1" or "%%12" inside one (a path,
// Java's last words) would be expanded into something else.
std::wstring LiteralEventText(const wchar_t* text);

// A number in decimal digits. (std::to_wstring would bring the C++
// library's own formatter into the exe: tens of KiB.)
std::wstring DecimalText(unsigned long long value);
// Wide text to UTF-8; an unpaired surrogate becomes U+FFFD.
void AppendUtf8(std::string& out, const wchar_t* text, size_t count);
