// Who may change what the service runs and reads as LocalSystem. Trusted
// are SYSTEM, Administrators, TrustedInstaller and the accounts that an
// administrator lists in HKLM\Software\Orvane\WebUI, value TrustedAccounts;
// any other account that owns, or may change, the install folder, the
// trees below its jre, etc, jetty-home and jetty-base, the configuration
// file and its folder, the chosen Java's home, the folders the launcher and
// Java write their logs to, the folders above all these, or the registry
// keys that choose what runs, is reported by name. Nothing here changes a
// permission.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

class Config;

using SidBytes = std::vector<BYTE>;

struct TrustedAccounts {
    std::vector<SidBytes> sids;
    // A warning for each entry of the registry value that names no account.
    std::vector<std::wstring> problems;
};
// SYSTEM, Administrators and TrustedInstaller.
TrustedAccounts BuiltinTrustedAccounts();
// Adds an account given as a SID string ("S-1-5-21-...") or by name. False,
// with the last error set, when it names no account.
bool AddTrustedAccount(TrustedAccounts& trusted, const wchar_t* account);
// The built-in accounts and those of the registry value (REG_MULTI_SZ).
TrustedAccounts ReadTrustedAccounts();

// Whether an object with this owner and DACL can be changed by an account
// outside `trusted`: its owner is untrusted (an owner may always rewrite the
// DACL), it has no DACL, or an allow entry that applies to the object itself
// (not inherit-only) gives an untrusted SID a right to write, append, add,
// delete, or change permissions or owner, generic rights mapped as for
// files. CREATOR OWNER and OWNER RIGHTS entries stand for the owner.
// `changers` receives each such account once, the owner first.
bool FindUntrustedChangers(PSECURITY_DESCRIPTOR descriptor, const TrustedAccounts& trusted,
                           std::vector<SidBytes>& changers);

// The outcome of one check, ready to show: warnings (untrusted names in
// TrustedAccounts, unreadable objects, then one line per account and object,
// grouped by account) and, per folder, the icacls commands that fix it.
struct PermissionReport {
    std::vector<std::wstring> warnings;
    std::vector<std::wstring> advice;
};
// What one check looks at. Paths are full; empty ones are left out.
struct PermissionInputs {
    std::wstring installDir;
    std::wstring launcherExe;
    std::wstring configFile;
    // When not empty, the Java home (the folder above "bin") of this path
    // and of its final path, past links, as whole trees.
    std::wstring javaExecutable;
    // Registry keys below HKLM whose values chose what runs.
    std::vector<std::wstring> keys;
    // PATH folders searched before the Java was found.
    std::vector<std::wstring> searchedFolders;
    // Files that the launcher or Java create and rotate as SYSTEM: their folders are checked.
    std::vector<std::wstring> writtenFiles;
};
// The inputs of this launcher: its install, configuration and product key,
// the log files that `config` names (or their defaults) and, unless null,
// `javaExecutable`, with what chose it in the last search.
PermissionInputs LauncherPermissionInputs(const Config& config, const wchar_t* javaExecutable);

// Checks the objects of `inputs`, and the folders above each of them up to
// its volume root. `stop`, when not null, is read between two objects: once
// true, the check ends with what it has found.
PermissionReport CheckPermissions(const PermissionInputs& inputs, const std::atomic<bool>* stop);

// For install: checks at once (not the Java home: the service's own
// environment decides which Java it runs) and prints at most
// kMaxPrintedWarnings warnings, then the advice. Returns how many
// warnings there were.
int PrintPermissionWarnings();
constexpr size_t kMaxPrintedWarnings = 20;

// For each run: the run calls StartPermissionCheck once its server has run
// for kPermissionCheckDelayMs (its start reads the same trees, and under
// Wine every file query waits in line at the one Wine server, so the start
// goes first; a shorter run checks nothing). It runs the whole check on a
// low-priority thread of its own and logs every warning and the advice.
// FinishPermissionCheck asks it to stop between two objects and waits for
// it, at most kPermissionCheckStopWaitMs, so nothing of it reaches a closed
// log. Both are no-ops when there is nothing to do.
void StartPermissionCheck(PermissionInputs inputs);
void FinishPermissionCheck();
constexpr DWORD kPermissionCheckDelayMs = 3000;
// Short, as it adds to the graceful stop, which must fit the pre-shutdown time.
constexpr DWORD kPermissionCheckStopWaitMs = 1000;
