// Forced into every C++ source of the Windows build (CMakeLists.txt).
//
// libstdc++ declares its std::string and std::wstring members as explicitly
// instantiated in the library; the library's copies were compiled with
// exceptions, so linking them brings in the exception runtime and, through
// its locks and thread-local globals, the POSIX threads library: about
// 65 KiB of an exe that never throws. -1 is the library's own setting that
// lifts that declaration for basic_string alone, so the members used are
// compiled here, without exceptions, and unused ones are dropped.
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
