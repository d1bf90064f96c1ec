// The C runtime's formatting; the platform-free helpers are tested natively
// (tests/native/).
#include <gtest/gtest.h>

#include <string>

#include "support/console.h"

// libstdc++ turns on mingw-w64's C99 printf, in which %s is narrow; the
// underscore functions behind FormatWide stay msvcrt's, where it is wide.
static_assert(__USE_MINGW_ANSI_STDIO, "libstdc++ no longer turns on the C99 printf");

TEST(Formatting, PercentSIsWideAndPercentHsNarrow)
{
    EXPECT_EQ(FormatWide(L"%s|%hs|%d|%08x", L"wide \u00E9", "narrow", -42, 0x2au), L"wide \u00E9|narrow|-42|0000002a");
    // Measured first, so no length is too long.
    const std::wstring big(5000, L'q');
    EXPECT_EQ(FormatWide(L"<%s>", big.c_str()), L"<" + big + L">");
}
