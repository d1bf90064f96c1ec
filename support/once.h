#pragma once

#include <windows.h>

// Runs `init` once for `once` (INIT_ONCE_STATIC_INIT), whichever thread
// comes first; the others wait until it has run. Windows' own one-time
// initialisation: a function-local static's guard would pull the C++
// runtime's thread library into the exe.
template <typename Init>
void RunOnce(INIT_ONCE& once, Init init)
{
    InitOnceExecuteOnce(
        &once,
        [](PINIT_ONCE, PVOID parameter, PVOID*) -> BOOL {
            (*static_cast<Init*>(parameter))();
            return TRUE;
        },
        &init, nullptr);
}
