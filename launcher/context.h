// The installation context: where the launcher is installed, which
// configuration it reads, and where the product's registry key is.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

constexpr size_t kPathChars = MAX_PATH;

// Filled by the entry point before any second thread exists, then read only.
extern wchar_t g_installDir[kPathChars];
extern wchar_t g_configFile[kPathChars];
// Where they came from: the registry value, or the default.
extern bool g_installDirFromRegistry;
extern bool g_configFileFromRegistry;
// A registry value that was refused (a relative path), one warning each,
// for the caller to show: the log of a run, the console of a command word.
extern std::vector<std::wstring> g_contextWarnings;

constexpr wchar_t kRegistryKey[] = L"Software\\Orvane\\WebUI";
constexpr wchar_t kHomeVariable[] = L"OVWEBUI_HOME";
// Where the launcher and Java write their logs unless the configuration says otherwise.
constexpr wchar_t kLauncherLogDefault[] = L"%OVWEBUI_HOME%\\logs\\launcher.log";
constexpr wchar_t kJettyLogDefault[] = L"%OVWEBUI_HOME%\\logs\\jetty.log";
constexpr wchar_t kApplicationLogDefault[] = L"%OVWEBUI_HOME%\\logs\\ovmc.log";

// Fills the above and publishes OVWEBUI_HOME.
void InitInstallContext();
