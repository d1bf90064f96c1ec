// The entry point: the installation context, then the first argument.
// Above both subsystems: it is the one place that reaches the service and
// the launcher alike.
#include "app/console_control.h"
#include "app/usage.h"
#include "launcher/context.h"
#include "launcher/run.h"
#include "launcher/version.h"
#include "service/check.h"
#include "service/control.h"
#include "service/host.h"
#include "support/console.h"
#include "support/strings.h"

constexpr int kExitInvalidOption = 3;

int wmain(int argc, wchar_t** argv)
{
    InitInstallContext();
    if (argc < 2) {
        // Only in the foreground: a service must not take logoff events for its own.
        // A parent that started us with CREATE_NEW_PROCESS_GROUP left Ctrl+C
        // ignored; take it back first.
        SetConsoleCtrlHandler(nullptr, FALSE);
        SetConsoleCtrlHandler(&ConsoleCtrlHandler, TRUE);
        const int status = RunLauncher();
        // A port held by another process is a server that could not be created.
        return status == kRunStopPortInUse || status == kRunWebPortInUse ? kRunCreateFailed : status;
    }

    const wchar_t* word = argv[1];
    if (IsHelpWord(word)) {
        ConsolePrint(L"%s", ComposeUsage(g_configFile, g_installDir).c_str());
        return 0;
    }
    if (IsVersionWord(word)) {
        ConsolePrint(L"ovwebui " L"" OV_VERSION_TEXT L"\n");
        return 0;
    }
    if (ov_wcsicmp(word, L"service") == 0) {
        // The run logs the context's warnings.
        RunService();
        return 0;
    }
    if (ov_wcsicmp(word, L"check") == 0)
        return CheckInstallation();
    // A command word's own output is the console: the context's warnings go there.
    for (const std::wstring& warning : g_contextWarnings)
        ConsolePrint(L"WARNING: %s\n", warning.c_str());
    if (ov_wcsicmp(word, L"install") == 0)
        return static_cast<int>(InstallWebUIService());
    if (ov_wcsicmp(word, L"remove") == 0)
        return static_cast<int>(RemoveWebUIService());
    if (ov_wcsicmp(word, L"start") == 0)
        return static_cast<int>(StartWebUIService());
    if (ov_wcsicmp(word, L"stop") == 0)
        return static_cast<int>(StopWebUIService());
    if (ov_wcsicmp(word, L"restart") == 0)
        return static_cast<int>(RestartWebUIService());
    if (ov_wcsicmp(word, L"status") == 0)
        return static_cast<int>(ShowWebUIServiceStatus());
    ConsolePrint(L"Invalid command line option \"%s\"\n%s", word, kUnknownWordHint);
    return kExitInvalidOption;
}
