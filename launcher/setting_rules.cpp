#include "launcher/setting_rules.h"

#include <cwchar>


const LauncherSetting kLauncherSettings[] = {
    {L"LauncherLogFile", L"%OVWEBUI_HOME%\\logs\\launcher.log", true},
    {L"ServerOutputFile", L"%OVWEBUI_HOME%\\logs\\server-output.log", true},
    {L"JettyLogFile", L"%OVWEBUI_HOME%\\logs\\jetty.log", true},
    {L"ApplicationLogFile", L"%OVWEBUI_HOME%\\logs\\ovmc.log", true},
    {L"JavaMaxMemory", nullptr, false},
};
const size_t kLauncherSettingCount = sizeof(kLauncherSettings) / sizeof(kLauncherSettings[0]);

PathRefusal JudgeExpandedPath(const wchar_t* expanded)
{
    if (wcschr(expanded, L'"') != nullptr)
        return PathRefusal::kQuote;
    // "X:\" or "\\": a forward slash is no path separator to every program
    // that reads these values.
    const bool drive = ((expanded[0] >= L'A' && expanded[0] <= L'Z') || (expanded[0] >= L'a' && expanded[0] <= L'z')) &&
                       expanded[1] == L':' && expanded[2] == L'\\';
    const bool unc = expanded[0] == L'\\' && expanded[1] == L'\\';
    return drive || unc ? PathRefusal::kNone : PathRefusal::kRelative;
}

const wchar_t* RefusalReason(PathRefusal refusal)
{
    switch (refusal) {
    case PathRefusal::kTooLong:
        return L"is too long once expanded (259 characters at most)";
    case PathRefusal::kQuote:
        return L"holds a double quote, which no path can hold";
    case PathRefusal::kRelative:
        return L"is not an absolute path (a drive letter and backslash, or \\\\server\\share)";
    default:
        return L"";
    }
}
