// The log's line: its level names, stamp and continuation lines.
#include <gtest/gtest.h>

#include <string>

#include "support/log_line.h"

TEST(LogLine, FormatLevelsAndLineBreaks)
{
    char buffer[16];
    EXPECT_STREQ(LogLevelName(1, 0, buffer, 16), "ERROR");
    EXPECT_STREQ(LogLevelName(2, 0, buffer, 16), "WARNING");
    EXPECT_STREQ(LogLevelName(4, 0, buffer, 16), "INFO");
    EXPECT_STREQ(LogLevelName(0, 5, buffer, 16), "DEBUG5");

    std::string line;
    ComposeLogLine(line, LogStamp{2026, 3, 4, 5, 6, 7, 8}, 1234, "INFO", L"java", L"caf\u00E9\r\n");
    EXPECT_EQ(line, "2026-03-04 05:06:07.008 [1234] INFO java: caf\xC3\xA9\r\n");
    line.clear();
    ComposeLogLine(line, LogStamp{2026, 12, 31, 23, 59, 59, 999}, 1, "DEBUG5", L"jetty", L"a\r\nb\nc\n\n");
    EXPECT_EQ(line, "2026-12-31 23:59:59.999 [1] DEBUG5 jetty: a\r\n\tb\r\n\tc\r\n");
}
