#include <cwchar>

#include "launcher/launcher.h"
#include "service/service.h"
#include "support/support.h"

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
        wcslcpy(g_configFile, g_installDir, kPathChars);
        wcslcat(g_configFile, L"\\etc\\launcher.conf", kPathChars);
    }
}

int LauncherMain(int argc, wchar_t** argv)
{
    InitInstallContext();
    if (argc < 2) {
        // Only in the foreground: a service must not take logoff events for its own.
        SetConsoleCtrlHandler(&ConsoleCtrlHandler, TRUE);
        return RunLauncher();
    }

    const wchar_t* word = argv[1];
    if (ov_wcsicmp(word, L"service") == 0)
        RunService();
    else if (ov_wcsicmp(word, L"install") == 0)
        InstallWebUIService();
    else if (ov_wcsicmp(word, L"remove") == 0)
        RemoveWebUIService();
    else if (ov_wcsicmp(word, L"start") == 0)
        StartWebUIService();
    else if (ov_wcsicmp(word, L"stop") == 0)
        StopWebUIService();
    else {
        ConsolePrint(L"Invalid command line option \"%s\"\n", word);
        return kExitInvalidOption;
    }
    return 0;
}
