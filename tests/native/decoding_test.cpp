// Decoding, UTF-8, and the child output's lines and tail (support/text).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/text.h"

TEST(Utf8, NarrowTextKeepsEveryByteAndACutCharacterWaits)
{
    // Valid UTF-8 is decoded; other bytes stay as their Latin-1 characters.
    EXPECT_EQ(NarrowAsWide("caf\xC3\xA9"), L"caf\u00E9");
    EXPECT_EQ(NarrowAsWide("caf\xE9!"), L"caf\u00E9!");
    std::string utf8;
    AppendUtf8(utf8, L"\u00E9\u20AC", 2);
    EXPECT_EQ(utf8, "\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(CompleteUtf8Length("caf\xC3", 4), 3u);
    EXPECT_EQ(CompleteUtf8Length("\xE2\x82", 2), 0u);
    EXPECT_EQ(CompleteUtf8Length("\xE2\x82\xAC", 3), 3u);
    // Stray continuation bytes are no character's start: nothing waits.
    EXPECT_EQ(CompleteUtf8Length("a\x82\x82\x82", 4), 4u);
}

TEST(ConfigReader, EncodingNamesMatchIgnoringLetterCaseOnly)
{
    const unsigned char bytes[] = {'a', 0, 'b', 0};
    // Forced UTF-8 keeps the zero bytes; a name that is not an encoding
    // leaves the choice to detection, which sees UTF-16LE.
    EXPECT_EQ(DecodeText(bytes, sizeof(bytes), "utf-8"), std::wstring(L"a\0b\0", 4));
    EXPECT_EQ(DecodeText(bytes, sizeof(bytes), "UTF\r8"), L"ab");
    EXPECT_EQ(DecodeText(bytes, sizeof(bytes), "utf-16LE"), L"ab");
}

TEST(ChildOutput, LinesAreJoinedAcrossReadsAndTheTailStartsAtALine)
{
    LineAssembler lines;
    std::vector<std::string> got;
    const auto collect = [&got](const char* line, size_t size) { got.emplace_back(line, size); };
    for (const char* piece : {"one", "\r\n", "two\nthr", "ee"})
        lines.feed(piece, strlen(piece), collect);
    lines.finish(collect);
    EXPECT_EQ(got, (std::vector<std::string>{"one\r\n", "two\n", "three"}));
    // An endless line goes out in pieces, never inside a character.
    got.clear();
    std::string endless = "a";
    while (endless.size() <= LineAssembler::kMaxLineBytes)
        endless += "\xE2\x82\xAC";
    lines.feed(endless.data(), endless.size(), collect);
    lines.finish(collect);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].size() + got[1].size(), endless.size());
    EXPECT_EQ(got[1].rfind("\xE2\x82\xAC", 0), 0u) << "a character was cut";

    OutputTail tail;
    tail.append("short\r\nlines\r\n", 14);
    EXPECT_EQ(tail.lines(), "short\nlines");
    std::string lots;
    for (int i = 0; i < 2000; ++i)
        lots += "line " + std::to_string(i) + "\n";
    tail.append(lots.data(), lots.size());
    const std::string kept = tail.lines();
    EXPECT_LE(kept.size(), OutputTail::kTailBytes);
    EXPECT_EQ(kept.rfind("line ", 0), 0u) << "the first kept line is cut: " << kept.substr(0, 20);
    EXPECT_EQ(kept.substr(kept.size() - 9), "line 1999");
}
