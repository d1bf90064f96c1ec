#include "launcher/command_line.h"

#include <cwchar>

namespace {
void Append(StringBuffer& out, const wchar_t* piece)
{
    out.insert(out.length(), piece, wcslen(piece));
}
}  // namespace

void ComposeServerCommandLine(StringBuffer& out, const ServerCommandParts& parts)
{
    Append(out, L"\"");
    Append(out, parts.javaExecutable);
    Append(out, L"\" ");
    Append(out, L"-Djetty.home=\"");
    Append(out, parts.installDir);
    Append(out, L"\\jetty-home\"");
    Append(out, L" -Djetty.base=\"");
    Append(out, parts.installDir);
    Append(out, L"\\jetty-base\"");
    Append(out, L" -Djetty.logfile=\"");
    Append(out, parts.jettyLogFile);
    Append(out, L"\"");
    Append(out, L" -Dovmc.logfile=\"");
    Append(out, parts.applicationLogFile);
    Append(out, L"\"");
    if (parts.javaMaxMemory != nullptr) {
        Append(out, L" -Xmx");
        Append(out, parts.javaMaxMemory);
    }
    Append(out, L" -jar \"");
    Append(out, parts.installDir);
    Append(out, L"\\jetty-home\\start.jar\" jetty.server.stopAtShutdown=true stop.port=" OV_STOP_PORT
                L" stop.key=" OV_STOP_KEY);
}

void ComposeStopCommandLine(StringBuffer& out, const wchar_t* javaExecutable, const wchar_t* installDir)
{
    Append(out, L"\"");
    Append(out, javaExecutable);
    Append(out, L"\" -jar \"");
    Append(out, installDir);
    Append(out, L"\\jetty-home\\start.jar\" --stop stop.port=" OV_STOP_PORT L" stop.key=" OV_STOP_KEY
                L" stop.wait=20");
}

void RemoveTrailingBackslash(wchar_t* path)
{
    const size_t length = wcslen(path);
    if (length > 0 && path[length - 1] == L'\\')
        path[length - 1] = L'\0';
}

void RemoveLastComponent(wchar_t* path)
{
    wchar_t* last = wcsrchr(path, L'\\');
    if (last != nullptr)
        *last = L'\0';
}
