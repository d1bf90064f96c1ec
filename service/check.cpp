#include "service/check.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdarg>
#include <string>

#include "launcher/command_line.h"
#include "launcher/context.h"
#include "launcher/health.h"
#include "launcher/java.h"
#include "launcher/permissions.h"
#include "launcher/settings.h"
#include "service/control.h"
#include "support/config.h"
#include "support/config_file.h"
#include "support/console.h"
#include "support/error_text.h"
#include "support/files.h"
#include "support/strings.h"

namespace {

// The worst finding so far decides the exit code.
class Findings {
public:
    void warn(const wchar_t* format, ...)
    {
        va_list args;
        va_start(args, format);
        print(L"WARNING: ", format, args);
        va_end(args);
        raise(kCheckWarnings);
    }
    void fail(const wchar_t* format, ...)
    {
        va_list args;
        va_start(args, format);
        print(L"ERROR: ", format, args);
        va_end(args);
        raise(kCheckWouldFail);
    }
    int exitCode() const { return worst_; }

private:
    static void print(const wchar_t* prefix, const wchar_t* format, va_list args)
    {
        std::wstring text;
        FormatWideV(text, format, args);
        ConsolePrint(L"  %s%s\n", prefix, text.c_str());
    }
    void raise(int level) { worst_ = level > worst_ ? level : worst_; }
    int worst_ = kCheckClean;
};

void CheckContext(Findings& findings)
{
    ConsolePrint(L"Install folder: %s (%s)\n", g_installDir,
                 g_installDirFromRegistry ? L"registry value InstallDir" : L"the folder of ovwebui.exe");
    for (const std::wstring& warning : g_contextWarnings)
        findings.warn(L"%s", warning.c_str());
    if (g_installDir[0] == L'\0') {
        findings.fail(L"the install folder's path is too long (259 characters at most)");
        return;
    }
    const std::wstring startJar = std::wstring(g_installDir) + L"\\jetty-home\\start.jar";
    if (FileIsGone(startJar.c_str()))
        findings.fail(L"%s is missing: the server cannot start", startJar.c_str());
}

// Prints each key's value as a run would use it; the server's log paths
// come back for the command line.
void CheckConfiguration(const Config& config, ConfigFileRead configRead, Findings& findings,
                        wchar_t (&jettyLog)[kPathChars], wchar_t (&applicationLog)[kPathChars])
{
    ConsolePrint(L"Configuration file: %s (%s)\n", g_configFile,
                 g_configFileFromRegistry ? L"registry value LauncherConfigFile" : L"the default");
    if (configRead == ConfigFileRead::kNotAFile)
        findings.warn(L"\"%s\" is not a file; every key is at its default", g_configFile);
    else if (configRead == ConfigFileRead::kUnreadable)
        findings.warn(L"\"%s\" cannot be read; every key is at its default", g_configFile);
    else if (config.entryCount() == 0 && FileIsGone(g_configFile))
        ConsolePrint(L"  not there: every key is at its default\n");
    for (size_t i = 0; i < kLauncherSettingCount; ++i) {
        const LauncherSetting& setting = kLauncherSettings[i];
        const std::wstring key = std::wstring(L"/Launcher/") + setting.name;
        const wchar_t* value = config.getValue(key.c_str(), nullptr, 0);
        const wchar_t* origin = value != nullptr ? L"configured" : L"default";
        if (!setting.isPath) {
            if (value == nullptr && setting.defaultValue == nullptr)
                ConsolePrint(L"  %s is not set: %s\n", setting.name, setting.whenAbsent);
            else
                ConsolePrint(L"  %s = %s (%s)\n", setting.name, value != nullptr ? value : setting.defaultValue,
                             origin);
            continue;
        }
        wchar_t expanded[kPathChars];
        PathRefusal refusal = PathRefusal::kNone;
        ExpandSetting(config, key.c_str(), setting.defaultValue, expanded, refusal);
        ConsolePrint(L"  %s = %s (%s)\n", setting.name, expanded, refusal == PathRefusal::kNone ? origin : L"default");
        if (refusal != PathRefusal::kNone)
            findings.warn(L"The value of %s %s; using its default", setting.name, RefusalReason(refusal));
        if (ov_wcsicmp(setting.name, L"JettyLogFile") == 0)
            wcslcpy(jettyLog, expanded);
        else if (ov_wcsicmp(setting.name, L"ApplicationLogFile") == 0)
            wcslcpy(applicationLog, expanded);
    }
    const wchar_t* maxMemory = config.getValue(L"/Launcher/JavaMaxMemory", nullptr, 0);
    if (maxMemory != nullptr && !IsHeapSize(maxMemory))
        findings.warn(L"The value of JavaMaxMemory is not a size; leaving the heap size to Java");
}

// The search a run makes, in this prompt's environment.
bool CheckJava(wchar_t (&java)[kPathChars], Findings& findings)
{
    ConsolePrint(L"Java, searched in this prompt's environment (the service searches the machine's):\n");
    std::wstring candidates;
    const bool found = SearchJavaRuntime(java, candidates);
    size_t begin = 0;
    while (!candidates.empty() && begin <= candidates.size()) {
        size_t end = candidates.find(L"\r\n", begin);
        if (end == std::wstring::npos)
            end = candidates.size();
        ConsolePrint(L"  tried %s\n", candidates.substr(begin, end - begin).c_str());
        begin = end + 2;
    }
    if (found)
        ConsolePrint(L"  chosen: %s\n", java);
    else
        findings.fail(L"no Java runtime was found");
    return found;
}

// A port that answers is the running service's when its listener is the
// service's process or its child, or, where Windows names no listener, when
// the service runs: a run would find it taken, but that is no fault.
void CheckPort(const wchar_t* what, const IpAddress& ip, uint16_t port, const ServiceRegistration& service,
               Findings& findings)
{
    const std::string host = ip.v6 ? '[' + IpAddressText(ip) + ']' : IpAddressText(ip);
    const std::wstring where = FormatWide(L"%s %hs:%u", what, host.c_str(), static_cast<unsigned>(port));
    if (!PortAnswers(ip, port)) {
        ConsolePrint(L"  %s: free\n", where.c_str());
        return;
    }
    bool known = false;
    const std::vector<DWORD> listeners = PortListenerPids(ip, port, known);
    const bool serviceRuns = service.state == SERVICE_RUNNING && service.processId != 0;
    // Every listener that the table names must be the service's.
    bool ours = serviceRuns;
    for (DWORD pid : listeners)
        ours = ours && (pid == 0 || IsProcessOrChildOf(pid, service.processId));
    if (ours)
        ConsolePrint(L"  %s: held by the running service ovWebUI (process %u)\n", where.c_str(),
                     static_cast<unsigned>(service.processId));
    else
        findings.fail(L"%s is in use by %s: the server would not start", where.c_str(),
                      DescribePortListener(ip, port).c_str());
}

void CheckPorts(const Config& config, const ServiceRegistration& service, Findings& findings)
{
    const HealthSettings health = ReadHealthSettings(config, g_installDir);
    ConsolePrint(L"Ports:\n");
    CheckPort(L"Jetty's stop port", kLoopbackIpv4, OV_STOP_PORT_NUMBER, service, findings);
    for (const std::wstring& warning : health.warnings)
        findings.warn(L"%s", warning.c_str());
    if (!health.enabled) {
        ConsolePrint(L"  no health address: the stop port alone shows the server up\n");
        return;
    }
    ConsolePrint(L"  health address %s (from %s)\n", health.address.text.c_str(), health.source.c_str());
    if (IsLocalAddress(health.address.ip))
        CheckPort(L"the health address's port", health.address.ip, health.address.port, service, findings);
    else
        ConsolePrint(L"  its port is on another machine: not checked\n");
}

ServiceRegistration CheckService(Findings& findings)
{
    ServiceRegistration registration;
    DWORD error = NO_ERROR;
    if (!ReadServiceRegistration(registration, error)) {
        findings.warn(L"cannot read the service's registration (%s)", ErrorText(error).get());
        return registration;
    }
    if (!registration.installed) {
        ConsolePrint(L"Service ovWebUI: not installed\n");
        return registration;
    }
    ConsolePrint(L"Service ovWebUI: installed, runs %s\n", registration.binaryPath.c_str());
    wchar_t launcherPath[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, launcherPath, MAX_PATH);
    if (length > 0 && length < MAX_PATH && NameSameFile(registration.program.c_str(), launcherPath))
        ConsolePrint(L"  that is this exe\n");
    else
        findings.warn(L"the service runs another exe than this one; 'ovwebui.exe install' from here points it here");
    if (registration.state == SERVICE_RUNNING)
        ConsolePrint(L"  running (process %u)\n", static_cast<unsigned>(registration.processId));
    else
        ConsolePrint(L"  not running\n");
    return registration;
}

void CheckPermissionsOf(const Config& config, const wchar_t* java, Findings& findings)
{
    ConsolePrint(L"Permissions (who may change what the service runs as SYSTEM):\n");
    // The Java of this prompt's search, and what chose it.
    const PermissionReport report = CheckPermissions(LauncherPermissionInputs(config, java), nullptr);
    for (const std::wstring& warning : report.warnings)
        findings.warn(L"%s", warning.c_str());
    for (const std::wstring& advice : report.advice) {
        std::wstring indented = L"  " + advice;
        for (size_t at = indented.find(L'\n'); at != std::wstring::npos; at = indented.find(L'\n', at + 1))
            indented.insert(at + 1, L"    ");
        ConsolePrint(L"%s\n", indented.c_str());
    }
    if (report.warnings.empty())
        ConsolePrint(L"  no findings\n");
}

}  // namespace

int CheckInstallation()
{
    Findings findings;
    CheckContext(findings);

    Config config(/*ignoreCase=*/true);
    const ConfigFileRead configRead =
        LoadConfigFile(config, g_configFile, L"Launcher", /*sectionOnly=*/true, /*replace=*/true);
    wchar_t jettyLog[kPathChars] = {};
    wchar_t applicationLog[kPathChars] = {};
    CheckConfiguration(config, configRead, findings, jettyLog, applicationLog);

    wchar_t java[kPathChars] = {};
    if (CheckJava(java, findings)) {
        StringBuffer commandLine;
        const ServerCommandParts parts{java, g_installDir, jettyLog, applicationLog,
                                       config.getValue(L"/Launcher/JavaMaxMemory", nullptr, 0)};
        ComposeServerCommandLine(commandLine, parts);
        ConsolePrint(L"Server command line:\n  %s\n", commandLine.getText());
    }

    const ServiceRegistration service = CheckService(findings);
    CheckPorts(config, service, findings);
    CheckPermissionsOf(config, java, findings);

    const int result = findings.exitCode();
    ConsolePrint(L"%s\n", result == kCheckClean      ? L"Check: nothing wrong"
                          : result == kCheckWarnings ? L"Check: warnings only; a run would go on"
                                                     : L"Check: a run would fail");
    return result;
}
