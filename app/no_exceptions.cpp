// The exe is built without exceptions, so a throw from inside libstdc++
// (out of memory, a string past max_size) can only end in std::terminate
// and abort. Defining the throw helpers and the terminate handler here, as
// plain aborts, keeps libstdc++'s versions out of the link, and with them
// the exception classes, the copy-on-write strings they carry and the
// symbol demangler that only names the uncaught exception's type: about
// 100 KiB of the stripped exe. What is lost is the "terminate called after
// throwing" line on standard error before the abort. Linked into the exe
// only; the tests keep the library's own versions.
#include <cstdlib>
#include <exception>
#include <string>

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
