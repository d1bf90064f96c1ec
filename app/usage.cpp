#include "app/usage.h"

#include "support/strings.h"

namespace {
bool IsOneOf(const wchar_t* word, std::initializer_list<const wchar_t*> words)
{
    for (const wchar_t* candidate : words) {
        if (ov_wcsicmp(word, candidate) == 0)
            return true;
    }
    return false;
}
}  // namespace

bool IsHelpWord(const wchar_t* word)
{
    return IsOneOf(word, {L"help", L"/?", L"-?", L"-h", L"--help"});
}

bool IsVersionWord(const wchar_t* word)
{
    return IsOneOf(word, {L"version", L"--version"});
}

std::wstring ComposeUsage(const wchar_t* configFile, const wchar_t* installDir)
{
    std::wstring text =
        L"Usage: ovwebui.exe [command]\n"
        L"\n"
        L"  (none)    run the server in the foreground until it ends (Ctrl+C stops it)\n"
        L"            exit 0 it ran and ended, 1 no Java found, 2 it could not be started\n"
        L"  install   register the service ovWebUI for this exe (or point it here), check permissions\n"
        L"  remove    delete the service and its event source\n"
        L"  start     start the service and wait until the server runs\n"
        L"  stop      stop the service and wait until it has stopped\n"
        L"  restart   stop the service if it runs, then start it\n"
        L"            these five exit 0, or the Win32 error code of the step that failed\n"
        L"            (5 access denied: use an elevated prompt; 1060 not installed)\n"
        L"  status    print the service's state: exit 0 running, 1 not running, or the error code\n"
        L"  check     a dry run: print what a run would use and find; writes nothing\n"
        L"            exit 0 nothing wrong, 1 only warnings, 2 a run would fail\n"
        L"  service   what the Service Control Manager runs; not for a prompt\n"
        L"  help      this text (also /?, -?, -h, --help)\n"
        L"  version   the launcher's version (also --version)\n"
        L"\n"
        L"Configuration file: ";
    text += configFile;
    text += L"\nLogs: ";
    text += installDir;
    text += L"\\logs\\ (launcher.log first), unless the configuration file names others\n";
    return text;
}
