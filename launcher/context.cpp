#include "launcher/context.h"

#include <cwchar>

#include "launcher/command_line.h"
#include "support/console.h"
#include "support/handles.h"
#include "support/registry.h"
#include "support/strings.h"

wchar_t g_installDir[kPathChars];
wchar_t g_configFile[kPathChars];
bool g_installDirFromRegistry = false;
bool g_configFileFromRegistry = false;
std::vector<std::wstring> g_contextWarnings;

namespace {
// A relative value would resolve against the current folder, which for a
// service is System32: it counts as absent, with a warning.
bool ReadAbsolutePath(HKEY key, const wchar_t* name, wchar_t (&value)[kPathChars], const wchar_t* fallback)
{
    // A value that is not a string or would not fit counts as absent, so its
    // fallback applies rather than a cut path.
    if (!ReadRegistryString(key, name, value) || value[0] == L'\0')
        return false;
    if (IsFullPath(value)) {
        // One separator from here on: the paths made from this one are
        // judged, and read by other programs, with backslashes.
        for (wchar_t* c = value; *c != L'\0'; ++c)
            if (*c == L'/')
                *c = L'\\';
        return true;
    }
    g_contextWarnings.push_back(
        FormatWide(L"The registry value %s (\"%s\") is not an absolute path; using %s", name, value, fallback));
    value[0] = L'\0';
    return false;
}
}  // namespace

void InitInstallContext()
{
    g_contextWarnings.clear();
    g_installDirFromRegistry = false;
    g_configFileFromRegistry = false;
    {
        UniqueRegistryKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRegistryKey, 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS) {
            g_configFileFromRegistry = ReadAbsolutePath(key.get(), L"LauncherConfigFile", g_configFile,
                                                        L"<install folder>\\etc\\launcher.conf");
            g_installDirFromRegistry =
                ReadAbsolutePath(key.get(), L"InstallDir", g_installDir, L"the folder of ovwebui.exe");
        }
    }
    if (g_installDir[0] == L'\0') {
        const DWORD length = GetModuleFileNameW(nullptr, g_installDir, kPathChars);
        if (length == 0 || length >= kPathChars) {
            // Cut short, the path would name some other folder: leave it empty.
            g_installDir[0] = L'\0';
        } else {
            RemoveLastComponent(g_installDir);
        }
    }
    RemoveTrailingBackslash(g_installDir);
    SetEnvironmentVariableW(kHomeVariable, g_installDir);
    if (g_configFile[0] == L'\0') {
        // Cut to the buffer as it comes: a cut path names a file that is
        // almost never there, and a missing file means the defaults.
        wcslcpy(g_configFile, g_installDir);
        wcslcat(g_configFile, L"\\etc\\launcher.conf");
    }
}
