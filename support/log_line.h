// The log's line, composed apart from the file it goes to: platform-free,
// so it is fuzzed and tested natively.
#pragma once

#include <cstddef>
#include <string>

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
