// The exe is built without exceptions, so a throw from inside libstdc++
// (out of memory, a string past max_size) can only end in std::terminate
// and abort. Defining the throw helpers and the terminate handler here, as
// plain aborts, keeps libstdc++'s versions out of the link, and with them
// the exception classes, the copy-on-write strings they carry and the
// symbol demangler that only names the uncaught exception's type: about
// 100 KiB of the stripped exe. What is lost is the "terminate called after
// throwing" line on standard error before the abort. Linked into the exe
// only; the tests keep the library's own versions.
//
// The allocation functions are replaced for the same reason: the library's
// operator new throws bad_alloc, which brings in the exception runtime and,
// through its locks and thread-local globals, the POSIX threads library
// (about 40 KiB more). Running out of memory aborts, as it did before; the
// nothrow forms return null, as callers expect.
#include <cstdlib>
#include <exception>
#include <new>
#include <string>

void* operator new(std::size_t size)
{
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr)
        std::abort();
    return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_exception() { std::abort(); }
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_bad_cast() { std::abort(); }
void __throw_bad_typeid() { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_domain_error(const char*) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_runtime_error(const char*) { std::abort(); }
void __throw_range_error(const char*) { std::abort(); }
void __throw_overflow_error(const char*) { std::abort(); }
void __throw_underflow_error(const char*) { std::abort(); }
}  // namespace std
