// The support library: handle owners, error text, the thread-safe log and
// console output, on top of the platform-free helpers of portable.h. Child
// processes: child_process.h and executor.h.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdint>

#include "support/portable.h"

// Move-only owner for one kind of handle, so no way out of a function can
// leak it. Closing keeps the caller's last-error code.
template <typename Traits>
class UniqueHandle {
public:
    using Value = typename Traits::Value;
    UniqueHandle() = default;
    explicit UniqueHandle(Value v) : value_(v) {}
    UniqueHandle(UniqueHandle&& o) noexcept : value_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept
    {
        reset(o.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Value get() const { return value_; }
    explicit operator bool() const { return Traits::valid(value_); }
    Value release()
    {
        Value v = value_;
        value_ = Traits::empty();
        return v;
    }
    void reset(Value v = Traits::empty())
    {
        if (Traits::valid(value_)) {
            const DWORD saved = GetLastError();
            Traits::close(value_);
            SetLastError(saved);
        }
        value_ = v;
    }
    // For out-parameters: releases what is held and hands out the slot.
    Value* put()
    {
        reset();
        return &value_;
    }

private:
    Value value_ = Traits::empty();
};

// Processes, threads, events and pipes fail as NULL.
struct KernelHandleTraits {
    using Value = HANDLE;
    static Value empty() { return nullptr; }
    static bool valid(Value v) { return v != nullptr && v != INVALID_HANDLE_VALUE; }
    static void close(Value v) { CloseHandle(v); }
};
// CreateFileW fails as INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Value = HANDLE;
    static Value empty() { return INVALID_HANDLE_VALUE; }
    static bool valid(Value v) { return v != INVALID_HANDLE_VALUE && v != nullptr; }
    static void close(Value v) { CloseHandle(v); }
};
struct ServiceHandleTraits {
    using Value = SC_HANDLE;
    static Value empty() { return nullptr; }
    static bool valid(Value v) { return v != nullptr; }
    static void close(Value v) { CloseServiceHandle(v); }
};
struct RegistryKeyTraits {
    using Value = HKEY;
    static Value empty() { return nullptr; }
    static bool valid(Value v) { return v != nullptr; }
    static void close(Value v) { RegCloseKey(v); }
};

// RegisterEventSourceW fails as NULL.
struct EventSourceTraits {
    using Value = HANDLE;
    static Value empty() { return nullptr; }
    static bool valid(Value v) { return v != nullptr; }
    static void close(Value v) { DeregisterEventSource(v); }
};
// FindFirstFileExW fails as INVALID_HANDLE_VALUE and closes with FindClose.
struct FindHandleTraits {
    using Value = HANDLE;
    static Value empty() { return INVALID_HANDLE_VALUE; }
    static bool valid(Value v) { return v != INVALID_HANDLE_VALUE && v != nullptr; }
    static void close(Value v) { FindClose(v); }
};
// Memory that a system call allocated for its caller with LocalAlloc
// (security descriptors, SIDs and texts of the security API).
struct LocalMemoryTraits {
    using Value = void*;
    static Value empty() { return nullptr; }
    static bool valid(Value v) { return v != nullptr; }
    static void close(Value v) { LocalFree(v); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueServiceHandle = UniqueHandle<ServiceHandleTraits>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;
using UniqueEventSource = UniqueHandle<EventSourceTraits>;
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;

// Exclusive lock over an SRWLOCK for one scope.
class ScopedLock {
public:
    explicit ScopedLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ScopedLock() { ReleaseSRWLockExclusive(&lock_); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    SRWLOCK& lock_;
};

// The system's text for a Windows error code, without its trailing line
// break, or "system error N" when the system has none. Returns `buffer`.
const wchar_t* GetSystemErrorText(uint32_t code, wchar_t* buffer, size_t size);
template <size_t N>
const wchar_t* GetSystemErrorText(uint32_t code, wchar_t (&buffer)[N])
{
    return GetSystemErrorText(code, buffer, N);
}
constexpr size_t kErrorTextChars = 1024;

// The system's text for an error code, held for the message that shows it:
// `ErrorText(error).get()`, with `error` read right after the failed call.
class ErrorText {
public:
    explicit ErrorText(uint32_t code) { GetSystemErrorText(code, text_); }
    const wchar_t* get() const { return text_; }

private:
    wchar_t text_[kErrorTextChars];
};

// Reads a string value (REG_SZ, or REG_EXPAND_SZ taken unexpanded) into
// `buffer` of `chars` characters. A value that is absent, of another type,
// or would not fit with its terminator gives false and leaves `buffer`
// empty; one stored without its terminator is terminated when it fits.
bool ReadRegistryString(HKEY key, const wchar_t* name, wchar_t* buffer, size_t chars);
template <size_t N>
bool ReadRegistryString(HKEY key, const wchar_t* name, wchar_t (&buffer)[N])
{
    return ReadRegistryString(key, name, buffer, N);
}

// printf-style formatting by the C runtime: msvcrt's _vscwprintf and
// _vsnwprintf, which mingw-w64 leaves to msvcrt even with
// __USE_MINGW_ANSI_STDIO, so %s is wide and %hs narrow. msvcrt reads %hs
// through the C locale: decode UTF-8 first (NarrowAsWide) and pass it as %s.
void FormatWideV(std::wstring& out, const wchar_t* format, va_list args);
std::wstring FormatWide(const wchar_t* format, ...);

// Console output formatted as above, written whole: UTF-16 to a console,
// UTF-8 to a file or pipe.
void ConsolePrint(const wchar_t* format, ...);

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

bool ovlog_open(const wchar_t* path, uint32_t flags);
void ovlog_set_debug_level(int level);
void ovlog_debug_tag(const wchar_t* tag, int level, const wchar_t* format, ...);
void ovlog_write_tag(int16_t severity, const wchar_t* tag, const wchar_t* format, ...);
void ovlog_close();
// Creates every missing folder above `path` (a file's path); errors ignored.
void CreateParentFolders(const wchar_t* path);
