// The floor of the output capture figure: the least a program can do to
// keep a server's output. One pipe with a 1 MiB buffer takes the server's
// standard output and error; 64 KiB reads go straight to a file.
//
// usage: relay.exe <output file> <the server's whole command line>
// The server is the stand-in in spew mode: it records in spew-ms.txt
// beside its exe how long its writes took, then serves for ever, so the
// relay ends it once that file is complete.
#include <windows.h>

#include <cwchar>
#include <string>

#include "support/handles.h"

namespace {

constexpr DWORD kPipeBufferBytes = 1 << 20;
constexpr DWORD kReadBytes = 64 << 10;
constexpr DWORD kSpewFilePollMs = 20;
constexpr DWORD kSpewWaitMs = 600000;

// Past one argument, quoted or not, and the blanks after it.
const wchar_t* SkipArgument(const wchar_t* text)
{
    if (*text == L'"') {
        ++text;
        while (*text != L'\0' && *text != L'"')
            ++text;
        if (*text == L'"')
            ++text;
    } else {
        while (*text != L'\0' && *text != L' ' && *text != L'\t')
            ++text;
    }
    while (*text == L' ' || *text == L'\t')
        ++text;
    return text;
}

struct Watch {
    std::wstring spewFile;
    HANDLE server;
};

// The stand-in writes its figure and a line break, then serves: once the
// line is whole, nothing more of interest comes.
DWORD WINAPI EndServerOnceTimed(void* context)
{
    const Watch* watch = static_cast<const Watch*>(context);
    for (DWORD waitedMs = 0; waitedMs < kSpewWaitMs; waitedMs += kSpewFilePollMs) {
        if (WaitForSingleObject(watch->server, kSpewFilePollMs) == WAIT_OBJECT_0)
            return 1;
        const UniqueFileHandle file(CreateFileW(watch->spewFile.c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
        char text[64];
        DWORD read = 0;
        if (file && ReadFile(file.get(), text, sizeof(text), &read, nullptr) && read > 0 && text[read - 1] == '\n') {
            TerminateProcess(watch->server, 0);
            return 0;
        }
    }
    TerminateProcess(watch->server, 1);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    // CreateProcessW may write to the command line: give it a copy.
    std::wstring commandLine = SkipArgument(SkipArgument(GetCommandLineW()));
    commandLine.push_back(L'\0');
    const std::wstring server = argv[2];
    Watch watch{server.substr(0, server.find_last_of(L'\\') + 1) + L"spew-ms.txt", nullptr};

    UniqueFileHandle output(CreateFileW(argv[1], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    UniqueKernelHandle readEnd, writeEnd;
    if (!output || !CreatePipe(readEnd.put(), writeEnd.put(), nullptr, kPipeBufferBytes))
        return 3;
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    UniqueFileHandle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                     OPEN_EXISTING, 0, nullptr));
    if (!nul || !SetHandleInformation(writeEnd.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
        return 3;

    // Only these two handles go to the child, whatever else is inheritable.
    HANDLE inherited[] = {writeEnd.get(), nul.get()};
    SIZE_T listBytes = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listBytes);
    std::string listStorage(listBytes, '\0');
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(&listStorage[0]);
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &listBytes))
        return 3;
    const BOOL listed = UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                                  sizeof(inherited), nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nul.get();
    startup.StartupInfo.hStdOutput = startup.StartupInfo.hStdError = writeEnd.get();
    startup.lpAttributeList = attributes;
    PROCESS_INFORMATION info{};
    const BOOL created = listed && CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE,
                                                  CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                                  &startup.StartupInfo, &info);
    DeleteProcThreadAttributeList(attributes);
    // Our copy of the write end must go, or the pipe never breaks.
    writeEnd.reset();
    nul.reset();
    if (!created)
        return 4;
    CloseHandle(info.hThread);
    const UniqueKernelHandle process(info.hProcess);
    watch.server = process.get();
    const UniqueKernelHandle watcher(CreateThread(nullptr, 0, &EndServerOnceTimed, &watch, 0, nullptr));
    if (!watcher) {
        TerminateProcess(process.get(), 1);
        return 5;
    }

    static char buffer[kReadBytes];
    DWORD read = 0, written = 0;
    bool writeFailed = false;
    while (ReadFile(readEnd.get(), buffer, kReadBytes, &read, nullptr))
        writeFailed = !WriteFile(output.get(), buffer, read, &written, nullptr) || written != read || writeFailed;
    const DWORD readError = GetLastError();
    WaitForSingleObject(watcher.get(), INFINITE);
    DWORD timed = 1;
    GetExitCodeThread(watcher.get(), &timed);
    if (readError != ERROR_BROKEN_PIPE || writeFailed)
        return 6;
    return timed == 0 ? 0 : 7;
}
