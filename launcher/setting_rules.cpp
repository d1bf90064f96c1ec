#include "launcher/setting_rules.h"

#include <cwchar>


const LauncherSetting kLauncherSettings[] = {
    {L"LauncherLogFile", L"%OVWEBUI_HOME%\\logs\\launcher.log", true, nullptr},
    {L"ServerOutputFile", L"%OVWEBUI_HOME%\\logs\\server-output.log", true, nullptr},
    {L"JettyLogFile", L"%OVWEBUI_HOME%\\logs\\jetty.log", true, nullptr},
    {L"ApplicationLogFile", L"%OVWEBUI_HOME%\\logs\\ovmc.log", true, nullptr},
    {L"JavaMaxMemory", nullptr, false, L"no -Xmx: Java's default heap"},
    {L"HealthCheckUrl", nullptr, false, L"the address comes from the Jetty base"},
    {L"HealthCheckIntervalSeconds", L"30", false, nullptr},
    {L"HealthCheckTimeoutSeconds", L"10", false, nullptr},
    {L"HealthCheckFailures", L"3", false, nullptr},
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
