// The launcher's log: the thread-safe file log and the line it writes.
// The line's composition is platform-free (text.cpp), so it is fuzzed natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The log. Safe from any thread at once; each message is written whole as
// one line (see ComposeLogLine), in the order of the calls. Threads logging
// at the same moment share one write: a call returns once its line is
// written or, while another thread's write is under way, once that writer
// has taken it (it writes it before it returns). Errors always wait for the
// disk, and ovlog_open and ovlog_close first write everything queued, so an
// orderly end loses nothing. Before ovlog_open, and when the file cannot be
// opened, messages go to standard error; after ovlog_close they are
// dropped. No call changes the caller's last-error code.
enum : uint32_t {
    kLogEchoToStderr = 0x1,  // also copy every message to standard error
};
constexpr int16_t kLogError = 1;
constexpr int16_t kLogWarning = 2;
constexpr int16_t kLogInformation = 4;

// A log found at kLogFileRotateBytes or more when it is opened is first
// renamed to "<path>.1" (".1" to ".3" kept, see RotateNumberedFiles), and
// the new file's first line names it. Only at the open: one run's log is
// never cut in two. Only when no other process writes it (the service's
// run beside a foreground one): else, and on any failure, it grows on.
constexpr uint64_t kLogFileRotateBytes = 10ull * 1024 * 1024;
constexpr int kLogFilesKept = 3;
bool ovlog_open(const wchar_t* path, uint32_t flags);
void ovlog_set_debug_level(int level);
void ovlog_debug_tag(const wchar_t* tag, int level, const wchar_t* format, ...);
void ovlog_write_tag(int16_t severity, const wchar_t* tag, const wchar_t* format, ...);
void ovlog_close();
// Creates every missing folder above `path` (a file's path); errors ignored.
void CreateParentFolders(const wchar_t* path);
// Moves "<path>.<kept-1>" to ".<kept>" (replacing the oldest), and so on
// down to "<path>" to ".1"; from a missing ".<n>" down only, so nothing is
// replaced. A move that fails ends the rotation there, so no newer file is
// ever moved onto one that stayed: false, with that move's error (a DWORD:
// this header is also built natively).
bool RotateNumberedFiles(const wchar_t* path, int kept, unsigned long& error);

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
