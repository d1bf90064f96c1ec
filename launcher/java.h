// Finding the Java runtime that runs the server.
#pragma once

#include <string>
#include <vector>

#include "launcher/context.h"

// Written by FindJavaRuntime alone, on the thread that runs the launcher.
extern wchar_t g_javaExecutable[kPathChars];

// The search alone: the runtime chosen in `java` (true) or an empty `java`
// (false), and every candidate checked, one a line, "<path> (<source>)".
// Writes nothing but DEBUG lines to the log, so a dry run can call it.
bool SearchJavaRuntime(wchar_t (&java)[kPathChars], std::wstring& candidates);
// Searches the runtime in its fixed order and sets g_javaExecutable; false,
// logged and reported, when there is none.
bool FindJavaRuntime();

// What else decided that choice: the registry keys below HKLM that named
// it, and the PATH folders searched before the one it was found in.
struct JavaOrigin {
    std::vector<std::wstring> keys;
    std::vector<std::wstring> searchedFolders;
};
// Of the last FindJavaRuntime; read on the thread that runs the launcher.
const JavaOrigin& ChosenJavaOrigin();
