#include "launcher/context.h"

#include <cwchar>

#include "launcher/command_line.h"
#include "support/handles.h"
#include "support/registry.h"
#include "support/strings.h"

wchar_t g_installDir[kPathChars];
wchar_t g_configFile[kPathChars];

void InitInstallContext()
{
    {
        UniqueRegistryKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRegistryKey, 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS) {
            // A value that is not a string or would not fit counts as absent,
            // so its fallback applies rather than a cut path.
            ReadRegistryString(key.get(), L"LauncherConfigFile", g_configFile);
            ReadRegistryString(key.get(), L"InstallDir", g_installDir);
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
