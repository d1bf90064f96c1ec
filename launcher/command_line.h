// Platform-free rules of the launcher: the server and stop command lines and
// the install-directory path rules. No <windows.h>, so they build natively.
#pragma once

#include <string>

#include "support/strings.h"

// Jetty's stop channel; the server and the stop command must use the same pair.
// The port is also how the launcher sees that the server is up.
#define OV_STOP_PORT_NUMBER 17003
#define OV_WIDE_TEXT_(x) L## #x
#define OV_WIDE_TEXT(x) OV_WIDE_TEXT_(x)
#define OV_STOP_PORT OV_WIDE_TEXT(OV_STOP_PORT_NUMBER)
#define OV_STOP_KEY L"qmvr$gates$hub"

struct ServerCommandParts {
    const wchar_t* javaExecutable;
    const wchar_t* installDir;
    const wchar_t* jettyLogFile;
    const wchar_t* applicationLogFile;
    const wchar_t* javaMaxMemory;  // null, or not a heap size: no -Xmx option
};

// What -Xmx takes: digits, then at most one of k, K, m, M, g, G, t, T.
// Anything else after -Xmx would reach Java as options of its own.
bool IsHeapSize(const wchar_t* value);

// Appends the Java command line that starts Jetty. Each path goes inside
// quotes, escaped so that Windows' argument splitting gives it back whole;
// the memory value goes in as written when it is a heap size.
void ComposeServerCommandLine(StringBuffer& out, const ServerCommandParts& parts);
// Appends the command line of Jetty's own stop command.
void ComposeStopCommandLine(StringBuffer& out, const wchar_t* javaExecutable, const wchar_t* installDir);

// A path that names the same place whatever the current folder and drive:
// "X:\..." or "\\server\...".
bool IsFullPath(const wchar_t* path);
// Removes one trailing backslash, if there is one.
void RemoveTrailingBackslash(wchar_t* path);
// Cuts a file path at its last backslash, leaving the folder; a path
// without a backslash stays whole.
void RemoveLastComponent(wchar_t* path);
// The program of a service's binary path: the text inside its leading
// quotes, or up to its first blank when it has none.
std::wstring ProgramOfCommandLine(const wchar_t* commandLine);
