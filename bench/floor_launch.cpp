// The floor of the launcher's start, memory and idle figures: it does
// nothing but start the server program and wait for it, with the very
// CreateProcessW call the launcher makes.
//
// usage: floor_launch.exe <program> <the program's whole command line>
// The rest of our command line after our own name is passed unchanged, so
// the child sees what the launcher would give it.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    const wchar_t* rest = GetCommandLineW();
    // Skip our own name, quoted or not, then the blanks after it.
    if (*rest == L'"') {
        ++rest;
        while (*rest != L'\0' && *rest != L'"')
            ++rest;
        if (*rest == L'"')
            ++rest;
    } else {
        while (*rest != L'\0' && *rest != L' ' && *rest != L'\t')
            ++rest;
    }
    while (*rest == L' ' || *rest == L'\t')
        ++rest;

    // CreateProcessW may write to the command line: give it a copy.
    static wchar_t commandLine[32768];
    wcsncpy(commandLine, rest, 32767);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(argv[1], commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return 2;
    CloseHandle(info.hThread);
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hProcess);
    return 0;
}
