// The platform-free text rules for a child's output and for events.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/text.h"

template <size_t N>
bool Valid(const char (&text)[N])
{
    return IsValidUtf8(text, N - 1);
}

TEST(Utf8Validity, WholeSequencesOnly)
{
    EXPECT_TRUE(Valid(""));
    EXPECT_TRUE(Valid("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
    // cp1252 "café €": the bytes that mark it as not UTF-8.
    EXPECT_FALSE(Valid("caf\xE9 \x80"));
    EXPECT_FALSE(Valid("\xE2\x82")) << "a cut sequence";
    EXPECT_FALSE(Valid("\xC0\xAF")) << "an overlong form";
    EXPECT_FALSE(Valid("\xED\xA0\x80")) << "a surrogate";
    EXPECT_FALSE(Valid("\xF4\x90\x80\x80")) << "past U+10FFFF";
    // cp932 "日本" (93 FA 96 7B): a second byte that is ASCII.
    EXPECT_FALSE(Valid("\x93\xFA\x96\x7B"));
}

TEST(EventText, EveryPercentIsShownNotExpanded)
{
    EXPECT_EQ(LiteralEventText(L"C:\\100% sure\\%1 and %%12%"),
              L"C:\\100\uFF05 sure\\\uFF051 and \uFF05\uFF0512\uFF05");
    EXPECT_EQ(LiteralEventText(L"no percent"), L"no percent");
    EXPECT_EQ(LiteralEventText(nullptr), L"");
}

// The quoted tail begins where a line begins, whatever the code page.
TEST(OutputTailStart, AlwaysALineStart)
{
    OutputTail tail;
    std::string lines;
    for (int i = 0; i < 1000; ++i)
        lines += "\x93\xFA\x96\x7B line " + std::to_string(i) + "\r\n";
    tail.append(lines.data(), lines.size());
    std::string kept = tail.lines();
    EXPECT_LE(kept.size(), OutputTail::kTailBytes);
    EXPECT_EQ(kept.rfind("\x93\xFA\x96\x7B line ", 0), 0u) << kept.substr(0, 20);
    EXPECT_EQ(kept.substr(kept.size() - 8), "line 999");
    EXPECT_EQ(kept.find('\r'), std::string::npos);

    // A last line longer than the tail: its beginning, never a middle.
    std::string longLine = "start:";
    while (longLine.size() < 3 * OutputTail::kTailBytes)
        longLine += "\x93\xFA";
    longLine += ":end\r\n";
    for (size_t at = 0; at < longLine.size(); at += 1000)
        tail.append(longLine.data() + at, std::min<size_t>(1000, longLine.size() - at));
    kept = tail.lines();
    EXPECT_EQ(kept.size(), OutputTail::kTailBytes);
    EXPECT_EQ(kept.rfind("start:\x93\xFA", 0), 0u) << kept.substr(0, 20);

    // Once a short line follows, the window has a line start again.
    tail.append("after\n", 6);
    EXPECT_EQ(tail.lines(), "after");
}
