// Bounded copies, the case-blind compare and the growable string.
#include <gtest/gtest.h>

#include <string>

#include "support/strings.h"

TEST(BoundedStrings, CopyAndAppendAlwaysTerminateAndReportTheWholeLength)
{
    wchar_t buffer[8];
    EXPECT_EQ(wcslcpy(buffer, L"abc", 8), 3u);
    EXPECT_STREQ(buffer, L"abc");
    EXPECT_EQ(wcslcpy(buffer, L"0123456789", 8), 10u);
    EXPECT_STREQ(buffer, L"0123456");
    wcslcpy(buffer, L"abc", 8);
    EXPECT_EQ(wcslcat(buffer, L"defgh", 8), 8u);
    EXPECT_STREQ(buffer, L"abcdefg");
    // A destination with no terminator inside the size is not read past.
    wmemset(buffer, L'x', 8);
    EXPECT_EQ(wcslcat(buffer, L"yz", 8), 10u);
    EXPECT_EQ(buffer[7], L'x');
    EXPECT_EQ(wcslcpy(buffer, L"zzz", 0), 3u);
}

TEST(BoundedStrings, WholeCopiesRefuseToCut)
{
    wchar_t buffer[6] = L"ab";
    EXPECT_FALSE(AppendWhole(buffer, L"cdef"));  // would need 7 with the terminator
    EXPECT_STREQ(buffer, L"ab");
    EXPECT_TRUE(AppendWhole(buffer, L"cde"));
    EXPECT_STREQ(buffer, L"abcde");
    EXPECT_FALSE(CopyWhole(buffer, L"123456"));
    EXPECT_STREQ(buffer, L"");
    EXPECT_TRUE(CopyWhole(buffer, L"12345"));
    EXPECT_STREQ(buffer, L"12345");
}

TEST(BoundedStrings, CaseInsensitiveCompare)
{
    EXPECT_EQ(ov_wcsicmp(L"INSTALL", L"install"), 0);
    EXPECT_EQ(ov_wcsicmp(L"InStAlL", L"install"), 0);
    EXPECT_NE(ov_wcsicmp(L"install ", L"install"), 0);
    EXPECT_NE(ov_wcsicmp(L"-install", L"install"), 0);
    EXPECT_NE(ov_wcsicmp(L"", L"install"), 0);
    EXPECT_LT(ov_wcsicmp(L"a", L"B"), 0);
}

TEST(StringBuffer, InsertAtTheEndAppendsAndTextStaysTerminated)
{
    StringBuffer buffer;
    EXPECT_EQ(buffer.length(), 0u);
    EXPECT_STREQ(buffer.getText(), L"");
    EXPECT_TRUE(buffer.insert(0, L"hello", 5));
    EXPECT_TRUE(buffer.insert(buffer.length(), L", world!!", 7));
    EXPECT_STREQ(buffer.getText(), L"hello, world");
    EXPECT_FALSE(buffer.insert(100, L"x", 1));
    EXPECT_EQ(buffer.length(), 12u);
    std::wstring big(100000, L'q');
    buffer.append(big.c_str());
    EXPECT_EQ(buffer.length(), 100012u);
}
