// The words an administrator types first: help and version. Platform-free,
// so the text is tested natively.
#pragma once

#include <string>

// "help", "/?", "-?", "-h", "--help" in any letter case.
bool IsHelpWord(const wchar_t* word);
// "version", "--version" in any letter case.
bool IsVersionWord(const wchar_t* word);

// The short usage: each command word with what it does and its exit codes,
// then where the configuration file and the logs are.
std::wstring ComposeUsage(const wchar_t* configFile, const wchar_t* installDir);

// Printed after the message for a word that is none of the above.
constexpr wchar_t kUnknownWordHint[] = L"Run 'ovwebui.exe help' for the command words.\n";
