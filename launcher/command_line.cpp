#include "launcher/command_line.h"

#include <cwchar>

#include "support/strings.h"

namespace {
void Append(StringBuffer& out, const wchar_t* piece)
{
    out.insert(out.length(), piece, wcslen(piece));
}

void AppendRepeated(StringBuffer& out, wchar_t c, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        out.insert(out.length(), &c, 1);
}

// Appends `value` followed by `suffix` inside double quotes, so that the C
// runtime's and CommandLineToArgvW's splitting give back exactly that text:
// backslashes are literal unless they come before a quote, where they pair
// up, so those before an inner quote or the closing one are doubled and an
// inner quote is escaped. A value ending in "\" would otherwise swallow the
// closing quote and run into every argument after it.
void AppendQuoted(StringBuffer& out, const wchar_t* value, const wchar_t* suffix)
{
    Append(out, L"\"");
    size_t backslashes = 0;
    for (const wchar_t* part : {value, suffix}) {
        for (const wchar_t* p = part; *p != L'\0'; ++p) {
            if (*p == L'\\') {
                ++backslashes;
                continue;
            }
            if (*p == L'"')
                AppendRepeated(out, L'\\', backslashes + 1);
            AppendRepeated(out, L'\\', backslashes);
            backslashes = 0;
            out.insert(out.length(), p, 1);
        }
    }
    AppendRepeated(out, L'\\', backslashes * 2);
    Append(out, L"\"");
}

// The program name is split by a rule of its own: everything up to the next
// quote, backslashes included. A Java path always ends in "java.exe".
void AppendProgram(StringBuffer& out, const wchar_t* javaExecutable)
{
    Append(out, L"\"");
    Append(out, javaExecutable);
    Append(out, L"\"");
}
}  // namespace

void ComposeServerCommandLine(StringBuffer& out, const ServerCommandParts& parts)
{
    AppendProgram(out, parts.javaExecutable);
    Append(out, L" -Djetty.home=");
    AppendQuoted(out, parts.installDir, L"\\jetty-home");
    Append(out, L" -Djetty.base=");
    AppendQuoted(out, parts.installDir, L"\\jetty-base");
    Append(out, L" -Djetty.logfile=");
    AppendQuoted(out, parts.jettyLogFile, L"");
    Append(out, L" -Dovmc.logfile=");
    AppendQuoted(out, parts.applicationLogFile, L"");
    if (parts.javaMaxMemory != nullptr && IsHeapSize(parts.javaMaxMemory)) {
        Append(out, L" -Xmx");
        Append(out, parts.javaMaxMemory);
    }
    Append(out, L" -jar ");
    AppendQuoted(out, parts.installDir, L"\\jetty-home\\start.jar");
    Append(out, L" jetty.server.stopAtShutdown=true stop.port=" OV_STOP_PORT L" stop.key=" OV_STOP_KEY);
}

void ComposeStopCommandLine(StringBuffer& out, const wchar_t* javaExecutable, const wchar_t* installDir)
{
    AppendProgram(out, javaExecutable);
    Append(out, L" -jar ");
    AppendQuoted(out, installDir, L"\\jetty-home\\start.jar");
    Append(out, L" --stop stop.port=" OV_STOP_PORT L" stop.key=" OV_STOP_KEY L" stop.wait=20");
}

bool IsHeapSize(const wchar_t* value)
{
    const wchar_t* p = value;
    while (*p >= L'0' && *p <= L'9')
        ++p;
    if (p == value)
        return false;
    if (*p != L'\0' && wcschr(L"kKmMgGtT", *p) != nullptr)
        ++p;
    return *p == L'\0';
}

bool IsFullPath(const wchar_t* path)
{
    const bool driveRoot = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                           path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    const bool unc = (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/');
    return driveRoot || unc;
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

std::wstring ProgramOfCommandLine(const wchar_t* commandLine)
{
    const std::wstring line = commandLine;
    if (!line.empty() && line[0] == L'"') {
        const size_t close = line.find(L'"', 1);
        return line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    }
    return line.substr(0, line.find_first_of(L" \t"));
}
