// The platform-free text rules for a child's output and for events.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "support/text.h"

static bool Valid(const char* text) { return IsValidUtf8(text, strlen(text)); }

TEST(OutputText, Utf8ValidityAndLiteralEventStrings)
{
    EXPECT_TRUE(Valid("") && Valid("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
    EXPECT_FALSE(Valid("caf\xE9 \x80")) << "cp1252";
    EXPECT_FALSE(Valid("\x93\xFA\x96\x7B")) << "cp932, an ASCII second byte";
    EXPECT_FALSE(Valid("\xE2\x82") || Valid("\xC0\xAF") || Valid("\xED\xA0\x80") || Valid("\xF4\x90\x80\x80"))
        << "cut, overlong, surrogate, past U+10FFFF";
    EXPECT_EQ(LiteralEventText(L"C:\\100%\\%1 %%12"), L"C:\\100\uFF05\\\uFF051 \uFF05\uFF0512");
}

// A last line longer than the tail is quoted from its beginning, also when
// a blank line follows it.
TEST(OutputText, TheTailStartsAtALineStart)
{
    OutputTail tail;
    const std::string text = "\x93\xFA start:" + std::string(3 * OutputTail::kTailBytes, 'x') + "\r\n";
    for (size_t at = 0; at < text.size(); at += 1000)
        tail.append(text.data() + at, std::min<size_t>(1000, text.size() - at));
    EXPECT_EQ(tail.lines(), text.substr(0, OutputTail::kTailBytes));
    tail.append("\r\n", 2);
    EXPECT_EQ(tail.lines(), text.substr(0, OutputTail::kTailBytes));
    tail.append("after\n", 6);
    EXPECT_EQ(tail.lines(), "\nafter");
}
