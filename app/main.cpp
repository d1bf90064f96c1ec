// The entry point: the installation context, then the first argument.
// Above both subsystems: it is the one place that reaches the service and
// the launcher alike.
#include "app/console_control.h"
#include "launcher/context.h"
#include "launcher/run.h"
#include "service/service.h"
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
        return ForegroundExitCode(RunLauncher());
    }

    const wchar_t* word = argv[1];
    if (ov_wcsicmp(word, L"service") == 0)
        RunService();
    else if (ov_wcsicmp(word, L"install") == 0)
        return static_cast<int>(InstallWebUIService());
    else if (ov_wcsicmp(word, L"remove") == 0)
        return static_cast<int>(RemoveWebUIService());
    else if (ov_wcsicmp(word, L"start") == 0)
        return static_cast<int>(StartWebUIService());
    else if (ov_wcsicmp(word, L"stop") == 0)
        return static_cast<int>(StopWebUIService());
    else if (ov_wcsicmp(word, L"status") == 0)
        return static_cast<int>(ShowWebUIServiceStatus());
    else {
        ConsolePrint(L"Invalid command line option \"%s\"\n", word);
        return kExitInvalidOption;
    }
    return 0;
}
