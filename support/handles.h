// Owners of Windows handles, one move-only type for each kind, and a lock
// held for one scope.
#pragma once

#include <windows.h>

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
