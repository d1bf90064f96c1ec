// The launcher's log: the thread-safe file log.
#pragma once

#include <cstdint>

// The log. Safe from any thread at once; each message is written whole as
// one line (log_line.h), in the order of the calls. Threads logging
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
// renamed to "<path>.1" (".1" to ".3" kept, see files.h), and
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
