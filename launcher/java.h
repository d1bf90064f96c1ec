// Finding the Java runtime that runs the server.
#pragma once

#include "launcher/context.h"

// Written by FindJavaRuntime alone, on the thread that runs the launcher.
extern wchar_t g_javaExecutable[kPathChars];

// Searches the runtime in its fixed order and sets g_javaExecutable; false,
// logged and reported, when there is none.
bool FindJavaRuntime();
