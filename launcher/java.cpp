#include "launcher/java.h"

#include <io.h>

#include <cstring>
#include <string>

#include "launcher/command_line.h"
#include "launcher/context.h"
#include "support/console.h"
#include "support/eventlog.h"
#include "support/handles.h"
#include "support/log.h"
#include "support/registry.h"
#include "support/strings.h"

wchar_t g_javaExecutable[kPathChars];

namespace {

constexpr wchar_t kJavaTag[] = L"java";
constexpr size_t kVersionChars = 64;    // "CurrentVersion": 128 bytes
constexpr size_t kJavaHomeChars = 240;  // "JavaHome": 480 bytes, so "\bin\java.exe" always fits after it
constexpr wchar_t kJavaSoftKey[] = L"SOFTWARE\\JavaSoft\\Java Runtime Environment";
// The keys that Oracle's "javapath" launchers read to find the runtime they start.
constexpr const wchar_t* kJavaPathShimKeys[] = {kJavaSoftKey, L"SOFTWARE\\JavaSoft\\JRE", L"SOFTWARE\\JavaSoft\\JDK"};

JavaOrigin g_javaOrigin;

// The candidates of the search, one a line, for the event that says none was found.
std::wstring g_checkedCandidates;

bool IsPresent(const wchar_t* candidate)
{
    return candidate[0] != L'\0' && _waccess(candidate, 0) == 0;
}

void LogCandidate(const wchar_t* candidate, const wchar_t* source)
{
    ovlog_debug_tag(kJavaTag, 3, L"FindJavaRuntime: checking %s (%s)", candidate, source);
    g_checkedCandidates += FormatWide(L"%s%s (%s)", g_checkedCandidates.empty() ? L"" : L"\r\n", candidate, source);
}

// A relative folder would resolve against the current folder, which is
// never searched: whoever opened the prompt may have put a java.exe there.
bool IsUsableFolder(const wchar_t* folder, const wchar_t* source)
{
    if (IsFullPath(folder))
        return true;
    ovlog_debug_tag(kJavaTag, 3, L"FindJavaRuntime: skipping %s (%s): not an absolute path", folder, source);
    return false;
}

// An environment value that does not fit its buffer gives nothing (the
// platform would have left the buffer undefined).
bool ReadEnvironment(const wchar_t* name, wchar_t (&value)[kPathChars])
{
    const DWORD length = GetEnvironmentVariableW(name, value, kPathChars);
    if (length == 0 || length >= kPathChars) {
        value[0] = L'\0';
        return false;
    }
    return true;
}

// The one way candidates are made: "<folder><suffix>" whole, or an empty
// candidate, since a path cut to the buffer could name another file.
bool FormCandidate(wchar_t (&candidate)[kPathChars], const wchar_t* folder, const wchar_t* suffix)
{
    if (CopyWhole(candidate, folder) && AppendWhole(candidate, suffix))
        return true;
    candidate[0] = L'\0';
    return false;
}

bool FromRegistry(wchar_t (&candidate)[kPathChars])
{
    UniqueRegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kJavaSoftKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    wchar_t version[kVersionChars];
    if (!ReadRegistryString(key.get(), L"CurrentVersion", version) || version[0] == L'\0')
        return false;
    UniqueRegistryKey versionKey;
    if (RegOpenKeyExW(key.get(), version, 0, KEY_QUERY_VALUE, versionKey.put()) != ERROR_SUCCESS)
        return false;
    wchar_t home[kJavaHomeChars];
    if (!ReadRegistryString(versionKey.get(), L"JavaHome", home) || !IsUsableFolder(home, L"registry"))
        return false;
    if (!FormCandidate(candidate, home, L"\\bin\\java.exe"))
        return false;
    g_javaOrigin.keys = {kJavaSoftKey, std::wstring(kJavaSoftKey) + L"\\" + version};
    return true;
}

// The first "java.exe" in the folders that PATH names, in order. Only
// those: the system's own search would look in the launcher's folder and
// the current folder first, where whoever opened the prompt may have left a
// java.exe. Empty and relative entries are skipped for the same reason; an
// entry in quotes counts without them.
bool FromSearchPath(wchar_t (&candidate)[kPathChars])
{
    const DWORD needed = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (needed == 0)
        return false;
    std::wstring path(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"PATH", &path[0], needed);
    if (length == 0 || length >= needed)
        return false;
    path.resize(length);
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = path.find(L';', begin);
        if (end == std::wstring::npos)
            end = path.size();
        std::wstring folder = path.substr(begin, end - begin);
        begin = end + 1;
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"')
            folder = folder.substr(1, folder.size() - 2);
        if (!IsFullPath(folder.c_str()))
            continue;
        const wchar_t* name = folder.back() == L'\\' || folder.back() == L'/' ? L"java.exe" : L"\\java.exe";
        // A folder too long for the buffer is passed over, not cut.
        if (FormCandidate(candidate, folder.c_str(), name) && IsPresent(candidate)) {
            const size_t end = folder.find_last_not_of(L"\\/");
            const size_t slash = folder.find_last_of(L"\\/", end);
            if (slash != std::wstring::npos &&
                _wcsicmp(folder.substr(slash + 1, end - slash).c_str(), L"javapath") == 0)
                g_javaOrigin.keys.assign(std::begin(kJavaPathShimKeys), std::end(kJavaPathShimKeys));
            return true;
        }
        g_javaOrigin.searchedFolders.push_back(folder);
    }
    candidate[0] = L'\0';
    return false;
}

// The sources after the private runtime: ORVANE_HOME's runtime, the
// registered Java runtime, JAVA_HOME, then PATH. They share one candidate
// buffer: a source that forms nothing leaves the previous candidate to its
// test.
bool FindInSharedSources(wchar_t (&candidate)[kPathChars])
{
    wchar_t value[kPathChars];
    memset(candidate, 0, sizeof(candidate));
    if (ReadEnvironment(L"ORVANE_HOME", value) && IsUsableFolder(value, L"Orvane home") &&
        FormCandidate(candidate, value, L"\\bin\\jre\\bin\\java.exe")) {
        LogCandidate(candidate, L"Orvane home");
        if (IsPresent(candidate))
            return true;
    }

    if (FromRegistry(candidate))
        LogCandidate(candidate, L"registry");
    if (IsPresent(candidate))
        return true;
    g_javaOrigin.keys.clear();

    candidate[0] = L'\0';
    if (ReadEnvironment(L"JAVA_HOME", value) && IsUsableFolder(value, L"JAVA_HOME")) {
        if (FormCandidate(candidate, value, L"\\bin\\java.exe")) {
            LogCandidate(candidate, L"JAVA_HOME");
            if (!IsPresent(candidate) && FormCandidate(candidate, value, L"\\jre\\bin\\java.exe"))
                LogCandidate(candidate, L"JAVA_HOME");
        }
        if (IsPresent(candidate))
            return true;
    }

    if (!FromSearchPath(candidate))
        return false;
    LogCandidate(candidate, L"PATH");
    return true;
}

}  // namespace

const JavaOrigin& ChosenJavaOrigin()
{
    return g_javaOrigin;
}

bool SearchJavaRuntime(wchar_t (&java)[kPathChars], std::wstring& candidates)
{
    bool found = false;
    g_checkedCandidates.clear();
    g_javaOrigin = JavaOrigin();
    // The installation's private runtime first. Without an install folder
    // (its path was too long) there is none: "\jre\bin\java.exe" would be
    // a path on the current drive that any user may create.
    if (g_installDir[0] != L'\0' && FormCandidate(java, g_installDir, L"\\jre\\bin\\java.exe")) {
        LogCandidate(java, L"executable path");
        found = IsPresent(java);
    }
    if (!found) {
        wchar_t candidate[kPathChars];
        found = FindInSharedSources(candidate);
        if (found)
            wcslcpy(java, candidate);
    }
    if (!found)
        java[0] = L'\0';
    candidates = g_checkedCandidates;
    return found;
}

bool FindJavaRuntime()
{
    std::wstring candidates;
    if (!SearchJavaRuntime(g_javaExecutable, candidates)) {
        ovlog_write_tag(kLogError, kJavaTag, L"Cannot find suitable Java runtime environment");
        ReportServiceEvent(MSG_NO_JAVA, {g_checkedCandidates.c_str()});
        return false;
    }
    ovlog_write_tag(kLogInformation, kJavaTag, L"Using Java executable \"%s\"", g_javaExecutable);
    return true;
}
