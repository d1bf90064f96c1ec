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
