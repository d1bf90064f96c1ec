#include "launcher/permissions.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>
#include <memory>

#include "launcher/access_rule.h"
#include "launcher/context.h"
#include "launcher/java.h"
#include "launcher/server_output.h"
#include "launcher/settings.h"
#include "support/config.h"
#include "support/config_file.h"
#include "support/console.h"
#include "support/error_text.h"
#include "support/eventlog.h"
#include "support/files.h"
#include "support/handles.h"
#include "support/log.h"
#include "support/text.h"

namespace {

constexpr wchar_t kPermissionsTag[] = L"permissions";
constexpr wchar_t kTrustedInstallerSid[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr DWORD kAccountChars = 256;
// The files that the launcher and Java create and rotate as SYSTEM.
constexpr struct {
    const wchar_t* key;
    const wchar_t* defaultValue;
} kWrittenFiles[] = {
    {L"/Launcher/LauncherLogFile", kLauncherLogDefault},
    {L"/Launcher/ServerOutputFile", kServerOutputFileDefault},
    {L"/Launcher/JettyLogFile", kJettyLogDefault},
    {L"/Launcher/ApplicationLogFile", kApplicationLogDefault},
};

PSID AsSid(const SidBytes& sid)
{
    return const_cast<BYTE*>(sid.data());
}

SidBytes CopySid(PSID sid)
{
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return SidBytes(bytes, bytes + GetLengthSid(sid));
}

SidBytes WellKnownSid(WELL_KNOWN_SID_TYPE type)
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(sid);
    return CreateWellKnownSid(type, nullptr, sid, &size) ? SidBytes(sid, sid + size) : SidBytes();
}

bool IsListed(const std::vector<SidBytes>& list, PSID sid)
{
    for (const SidBytes& known : list)
        if (!known.empty() && EqualSid(AsSid(known), sid))
            return true;
    return false;
}

void AddOnce(std::vector<SidBytes>& list, PSID sid)
{
    if (!IsListed(list, sid))
        list.push_back(CopySid(sid));
}

std::wstring SidText(const SidBytes& sid)
{
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(AsSid(sid), &text))
        return L"(unreadable SID)";
    const UniqueLocalMemory owner(text);
    return text;
}

// "DOMAIN\name" (or the bare name of a well-known group), else the SID.
std::wstring AccountName(const SidBytes& sid)
{
    wchar_t name[kAccountChars], domain[kAccountChars];
    DWORD nameChars = kAccountChars, domainChars = kAccountChars;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, AsSid(sid), name, &nameChars, domain, &domainChars, &use))
        return SidText(sid);
    return domain[0] == L'\0' ? std::wstring(name) : std::wstring(domain) + L"\\" + name;
}

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// `path` is `folder` or lies below it.
bool Within(const std::wstring& path, const std::wstring& folder)
{
    return !folder.empty() && path.size() >= folder.size() &&
           _wcsnicmp(path.c_str(), folder.c_str(), folder.size()) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == L'\\');
}

// What to check: one object, a folder with everything below it, a folder
// above those (by the rule for folders above), or a registry key below
// HKLM. The advice for what an object or tree holds names `adviceFolder`.
enum class ItemKind { kObject, kTree, kAncestor, kKey };
struct ScanItem {
    std::wstring path;
    ItemKind kind;
    std::wstring adviceFolder;
    bool createsBelow = false;
};
struct Finding {
    std::wstring path;
    SidBytes changer;
    size_t item;
    bool owner;
};
struct Scan {
    const TrustedAccounts& trusted;
    const std::atomic<bool>* stop;
    std::vector<Finding> findings;
    std::vector<std::wstring> problems;
    size_t item = 0;
    bool stopped() const { return stop != nullptr && stop->load(); }
};

size_t AccountIndex(std::vector<SidBytes>& accounts, PSID sid)
{
    for (size_t i = 0; i < accounts.size(); ++i)
        if (!accounts[i].empty() && EqualSid(AsSid(accounts[i]), sid))
            return i;
    accounts.push_back(CopySid(sid));
    return accounts.size() - 1;
}

// The untrusted accounts that `changeRights` (after `mapping`) let change
// an object with this descriptor, by the rule of access_rule.h, the owner
// first; `ownerUntrusted` says whether that first one is the owner.
std::vector<SidBytes> Changers(PSECURITY_DESCRIPTOR descriptor, const TrustedAccounts& trusted,
                               uint32_t changeRights, GENERIC_MAPPING mapping, bool& ownerUntrusted)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted))
        owner = nullptr;
    // Account 0 is the owner; a descriptor without one names none.
    std::vector<SidBytes> accounts{owner != nullptr ? CopySid(owner) : SidBytes()};
    ObjectAccess access{0, owner == nullptr || IsListed(trusted.sids, owner), {}};

    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || dacl == nullptr) {
        // No DACL grants everything to everyone.
        const SidBytes everyone = WellKnownSid(WinWorldSid);
        access.allows.push_back({AccountIndex(accounts, AsSid(everyone)), false, ~0u, false, false});
    } else {
        const SidBytes creatorOwner = WellKnownSid(WinCreatorOwnerSid);
        const SidBytes ownerRights = WellKnownSid(WinCreatorOwnerRightsSid);
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* entry = nullptr;
            if (!GetAce(dacl, i, &entry))
                continue;
            const auto* header = static_cast<const ACE_HEADER*>(entry);
            // A callback entry's condition is not evaluated: it may hold.
            if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
                continue;
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
            DWORD rights = allowed->Mask;
            MapGenericMask(&rights, &mapping);
            const PSID sid = &allowed->SidStart;
            const bool standsForOwner = EqualSid(sid, AsSid(creatorOwner)) || EqualSid(sid, AsSid(ownerRights));
            access.allows.push_back({AccountIndex(accounts, sid), IsListed(trusted.sids, sid), rights, standsForOwner,
                                     (header->AceFlags & INHERIT_ONLY_ACE) != 0});
        }
    }
    std::vector<SidBytes> changers;
    for (const size_t account : UntrustedChangers(access, changeRights))
        changers.push_back(accounts[account]);
    ownerUntrusted = !access.ownerTrusted;
    return changers;
}

void AddFindings(Scan& scan, const std::wstring& path, std::vector<SidBytes> changers, bool ownerUntrusted)
{
    for (size_t i = 0; i < changers.size(); ++i)
        scan.findings.push_back(Finding{path, std::move(changers[i]), scan.item, i == 0 && ownerUntrusted});
}

const GENERIC_MAPPING kFileMapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};

void CheckObject(Scan& scan, const std::wstring& path, uint32_t changeRights = kFileChangeRights)
{
    if (scan.stopped())
        return;
    // "C:" alone would name the drive's current folder, not its root.
    const std::wstring object = path.size() == 2 && path[1] == L':' ? path + L"\\" : path;
    UniqueLocalMemory descriptor;
    const DWORD error =
        GetNamedSecurityInfoW(object.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, descriptor.put());
    // What is not there is guarded by the folder it would be created in.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return;
    if (error != ERROR_SUCCESS) {
        scan.problems.push_back(
            FormatWide(L"cannot read the permissions of \"%s\" (%s)", object.c_str(), ErrorText(error).get()));
        return;
    }
    bool ownerUntrusted = false;
    std::vector<SidBytes> changers =
        Changers(descriptor.get(), scan.trusted, changeRights, kFileMapping, ownerUntrusted);
    AddFindings(scan, object, std::move(changers), ownerUntrusted);
}

std::wstring KeyName(const std::wstring& subKey)
{
    return L"HKLM\\" + subKey;
}

void CheckKey(Scan& scan, const std::wstring& subKey)
{
    if (scan.stopped())
        return;
    UniqueRegistryKey key;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, READ_CONTROL, key.put());
    if (status == ERROR_FILE_NOT_FOUND)
        return;
    constexpr SECURITY_INFORMATION kWanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD bytes = 0;
    std::vector<BYTE> descriptor;
    if (status == ERROR_SUCCESS)
        status = RegGetKeySecurity(key.get(), kWanted, nullptr, &bytes);
    if (status == ERROR_INSUFFICIENT_BUFFER) {
        descriptor.resize(bytes);
        status = RegGetKeySecurity(key.get(), kWanted, descriptor.data(), &bytes);
    }
    if (status != ERROR_SUCCESS) {
        scan.problems.push_back(FormatWide(L"cannot read the permissions of \"%s\" (%s)", KeyName(subKey).c_str(),
                                           ErrorText(status).get()));
        return;
    }
    const GENERIC_MAPPING keyMapping{KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
    bool ownerUntrusted = false;
    std::vector<SidBytes> changers =
        Changers(descriptor.data(), scan.trusted, kKeyChangeRights, keyMapping, ownerUntrusted);
    AddFindings(scan, KeyName(subKey), std::move(changers), ownerUntrusted);
}

void CheckTree(Scan& scan, const std::wstring& folder)
{
    CheckObject(scan, folder);
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                           nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_DIRECTORY)
            scan.problems.push_back(
                FormatWide(L"cannot list the contents of \"%s\" (%s)", folder.c_str(), ErrorText(error).get()));
        return;
    }
    do {
        if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0)
            continue;
        const std::wstring path = folder + L"\\" + entry.cFileName;
        // A junction or link is checked where it leads but not walked,
        // which could go round in circles.
        const bool walk = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                          (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        if (walk)
            CheckTree(scan, path);
        else
            CheckObject(scan, path);
    } while (!scan.stopped() && FindNextFileW(find.get(), &entry));
}

// The home above a Java's "bin" as a tree; a java.exe elsewhere (a copy or
// a launcher on PATH) has no home to walk: it and its folder are checked.
void AddJava(std::vector<ScanItem>& items, const std::wstring& java)
{
    const std::wstring bin = FolderOf(java);
    const std::wstring home = FolderOf(bin);
    if (!home.empty() && _wcsicmp(bin.c_str() + home.size(), L"\\bin") == 0) {
        items.push_back({home, ItemKind::kTree, home});
    } else {
        items.push_back({bin, ItemKind::kObject, bin});
        items.push_back({java, ItemKind::kObject, bin});
    }
}

// An object or tree of `items` that checks `path` by its own, stricter rule.
bool CheckedAlready(const std::vector<ScanItem>& items, const std::wstring& path)
{
    for (const ScanItem& item : items)
        if ((item.kind == ItemKind::kTree && Within(path, item.path)) ||
            (item.kind == ItemKind::kObject && _wcsicmp(path.c_str(), item.path.c_str()) == 0))
            return true;
    return false;
}

// The folders above each item up to its volume root, each once. Where an
// item, or a folder above it, does not exist yet, the nearest folder that
// does also counts its right to add folders: whoever creates the missing
// one first owns it, and what the launcher or Java then write there.
std::vector<ScanItem> Ancestors(const std::vector<ScanItem>& items)
{
    std::vector<ScanItem> ancestors;
    for (const ScanItem& item : items) {
        bool missingBelow = FileIsGone(item.path.c_str());
        for (const std::wstring& folder : FoldersAbove(item.path)) {
            if (FileIsGone(folder.c_str()))
                continue;
            bool known = CheckedAlready(items, folder);
            for (ScanItem& ancestor : ancestors)
                if (!known && _wcsicmp(ancestor.path.c_str(), folder.c_str()) == 0) {
                    ancestor.createsBelow = ancestor.createsBelow || missingBelow;
                    known = true;
                }
            if (!known)
                ancestors.push_back({folder, ItemKind::kAncestor, folder, missingBelow});
            missingBelow = false;
        }
    }
    return ancestors;
}

// The objects of one check, in order of importance (a check stopped early
// has done the first): single objects, the keys and the folders above, then
// the trees (the Java homes, the install's). An object or tree inside a
// tree of the list is left to that tree.
std::vector<ScanItem> ScanItems(const PermissionInputs& inputs)
{
    const std::wstring& install = inputs.installDir;
    std::vector<ScanItem> items;
    if (!install.empty())
        items.push_back({install, ItemKind::kObject, install});
    if (!inputs.launcherExe.empty()) {
        // Where it differs from the install: the system looks for the DLLs
        // that the launcher loads in its folder first.
        items.push_back({FolderOf(inputs.launcherExe), ItemKind::kObject, FolderOf(inputs.launcherExe)});
        items.push_back({inputs.launcherExe, ItemKind::kObject, FolderOf(inputs.launcherExe)});
    }
    const std::wstring configFolder = FolderOf(inputs.configFile);
    if (!inputs.configFile.empty()) {
        items.push_back({configFolder, ItemKind::kObject, configFolder});
        items.push_back({inputs.configFile, ItemKind::kObject, configFolder});
    }
    for (const std::wstring& file : inputs.writtenFiles)
        if (!FolderOf(file).empty())
            items.push_back({FolderOf(file), ItemKind::kObject, FolderOf(file)});
    for (const std::wstring& folder : inputs.searchedFolders)
        items.push_back({folder, ItemKind::kObject, folder});
    if (!inputs.javaExecutable.empty()) {
        AddJava(items, inputs.javaExecutable);
        // The runtime behind a link or junction is the one that runs.
        std::wstring finalPath;
        DWORD error = NO_ERROR;
        if (FinalPathOf(inputs.javaExecutable.c_str(), finalPath, error)) {
            const std::wstring final = WithoutLongPrefix(finalPath);
            if (_wcsicmp(final.c_str(), inputs.javaExecutable.c_str()) != 0)
                AddJava(items, final);
        }
    }
    if (!install.empty())
        for (const wchar_t* child : {L"\\jre", L"\\etc", L"\\jetty-home", L"\\jetty-base"})
            items.push_back({install + child, ItemKind::kTree, install});

    std::vector<ScanItem> kept;
    for (size_t i = 0; i < items.size(); ++i) {
        bool covered = items[i].path.empty();
        for (size_t j = 0; j < items.size() && !covered; ++j) {
            const bool tree = items[i].kind == ItemKind::kTree, otherTree = items[j].kind == ItemKind::kTree;
            const bool samePath = items[i].path.size() == items[j].path.size();
            if (j != i && otherTree && Within(items[i].path, items[j].path))
                covered = !tree || !samePath || j < i;
            else if (j < i && !tree && !otherTree && samePath && Within(items[i].path, items[j].path))
                covered = true;
        }
        if (!covered)
            kept.push_back(items[i]);
    }
    std::vector<ScanItem> ordered;
    for (const ScanItem& item : kept)
        if (item.kind == ItemKind::kObject)
            ordered.push_back(item);
    for (const std::wstring& key : inputs.keys)
        ordered.push_back({key, ItemKind::kKey, std::wstring()});
    const std::vector<ScanItem> ancestors = Ancestors(kept);
    ordered.insert(ordered.end(), ancestors.begin(), ancestors.end());
    for (const ScanItem& item : kept)
        if (item.kind == ItemKind::kTree)
            ordered.push_back(item);
    return ordered;
}

// What one piece of advice is about: the folder of objects and trees, a
// folder above, or a key.
struct AdviceTarget {
    ItemKind kind;
    std::wstring name;
    std::vector<SidBytes> accounts;
    bool ownerUntrusted;
};

AdviceTarget TargetOf(const Finding& finding, const std::vector<ScanItem>& items)
{
    const ScanItem& item = items[finding.item];
    if (item.kind == ItemKind::kKey || item.kind == ItemKind::kAncestor)
        return AdviceTarget{item.kind, finding.path, {}, false};
    return AdviceTarget{ItemKind::kObject, item.adviceFolder, {}, false};
}

std::wstring Advice(const AdviceTarget& target)
{
    const wchar_t* name = target.name.c_str();
    std::wstring removeList, quoted;
    for (const SidBytes& sid : target.accounts) {
        removeList += L" *" + SidText(sid);
        quoted += (quoted.empty() ? L"'" : L",'") + SidText(sid) + L"'";
    }
    if (target.kind == ItemKind::kAncestor && IsVolumeRoot(target.name))
        return FormatWide(L"\"%s\" is the root of its drive, whose permissions are best left as Windows sets them: "
                          L"install, or write the logs, below a folder that only administrators can change",
                          name);
    if (target.kind == ItemKind::kAncestor) {
        // Inherited entries become explicit first: /remove:g drops only
        // explicit ones. The folders below follow through inheritance.
        std::wstring text =
            FormatWide(L"To keep other accounts from replacing what lies below \"%s\", from an elevated prompt:\n"
                       L"icacls \"%s\" /inheritance:d\n"
                       L"icacls \"%s\" /remove:g%s",
                       name, name, name, removeList.c_str());
        if (target.ownerUntrusted)
            text += FormatWide(L"\nicacls \"%s\" /setowner *S-1-5-32-544", name);
        return text;
    }
    if (target.kind == ItemKind::kKey) {
        // A subkey's name (a Java version from the registry) can hold a
        // quote: doubled, it stays inside PowerShell's literal string.
        std::wstring keyPath = target.name.substr(4);
        for (size_t at = keyPath.find(L'\''); at != std::wstring::npos; at = keyPath.find(L'\'', at + 2))
            keyPath.insert(at, 1, L'\'');
        // reg.exe sets no permissions. RemoveAccessRule and PurgeAccessRules
        // ignore inherited entries: the key first keeps copies of them as its own.
        return FormatWide(
            L"To restrict \"%s\" to administrators, remove the entries of the accounts named in the key's "
            L"Permissions dialog of regedit, or from an elevated PowerShell prompt:\n"
            L"$k = 'Registry::HKEY_LOCAL_MACHINE%s'; $a = Get-Acl $k; $a.SetAccessRuleProtection($true, $true); "
            L"Set-Acl $k $a; $a = Get-Acl $k; "
            L"foreach ($s in @(%s)) { $a.PurgeAccessRules([Security.Principal.SecurityIdentifier]$s) }; %sSet-Acl $k $a",
            name, keyPath.c_str(), quoted.c_str(),
            target.ownerUntrusted ? L"$a.SetOwner([Security.Principal.SecurityIdentifier]'S-1-5-32-544'); " : L"");
    }
    return FormatWide(L"To restrict \"%s\" to administrators, from an elevated prompt:\n"
                      L"icacls \"%s\" /setowner *S-1-5-32-544 /T /C /Q\n"
                      L"icacls \"%s\" /remove:g%s /T /C /Q\n"
                      L"icacls \"%s\" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F "
                      L"*S-1-5-32-545:(OI)(CI)RX",
                      name, name, name, removeList.c_str(), name);
}

// One warning per account and object, grouped by account; one advice per
// folder of objects and trees (an owner that Administrators replace, the
// untrusted accounts' grants removed, the folder restricted for what
// inherits from it), per folder above and per key.
void Compose(const Scan& scan, const std::vector<ScanItem>& items, PermissionReport& report)
{
    std::vector<SidBytes> accounts;
    std::vector<AdviceTarget> targets;
    for (const Finding& finding : scan.findings) {
        AddOnce(accounts, AsSid(finding.changer));
        const AdviceTarget found = TargetOf(finding, items);
        AdviceTarget* target = nullptr;
        for (AdviceTarget& known : targets)
            if (known.kind == found.kind && _wcsicmp(known.name.c_str(), found.name.c_str()) == 0)
                target = &known;
        if (target == nullptr) {
            targets.push_back(found);
            target = &targets.back();
        }
        AddOnce(target->accounts, AsSid(finding.changer));
        target->ownerUntrusted = target->ownerUntrusted || finding.owner;
    }
    for (const SidBytes& account : accounts) {
        const std::wstring name = AccountName(account);
        for (const Finding& finding : scan.findings)
            if (EqualSid(AsSid(finding.changer), AsSid(account)))
                report.warnings.push_back(FormatWide(L"%s can change \"%s\" (run as SYSTEM by this service)",
                                                     name.c_str(), finding.path.c_str()));
    }
    for (const AdviceTarget& target : targets)
        report.advice.push_back(Advice(target));
}

// One check: its inputs and its own stop flags, shared by the check's
// thread and the run, so that a check that did not stop in time reads and
// obeys nothing of the next run's.
struct CheckJob {
    PermissionInputs inputs;
    // Read between two objects, where a wait on an event would cost a call
    // to the Wine server each time.
    std::atomic<bool> stop{false};
    std::atomic<bool> abandoned{false};  // its run's log may be closed
};

// Written only by the thread that runs the launcher.
UniqueKernelHandle g_checkThread;
std::shared_ptr<CheckJob> g_checkJob;

DWORD WINAPI PermissionCheckMain(void* parameter)
{
    // The thread's reference, handed over by StartPermissionCheck.
    const std::shared_ptr<CheckJob> job =
        std::move(*std::unique_ptr<std::shared_ptr<CheckJob>>(static_cast<std::shared_ptr<CheckJob>*>(parameter)));
    // Background mode also lowers the I/O priority, so the walk does not
    // slow the server's own reading of its jars.
    SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    const PermissionReport report = CheckPermissions(job->inputs, &job->stop);
    if (job->abandoned)
        return 0;
    for (const std::wstring& warning : report.warnings)
        ovlog_write_tag(kLogWarning, kPermissionsTag, L"%s", warning.c_str());
    for (const std::wstring& advice : report.advice)
        ovlog_write_tag(kLogWarning, kPermissionsTag, L"%s", advice.c_str());
    // One event for them all, a warning a line, as many as install prints.
    std::wstring listed;
    for (size_t i = 0; i < report.warnings.size() && i < kMaxPrintedWarnings; ++i)
        listed += (i == 0 ? L"" : L"\r\n") + report.warnings[i];
    if (report.warnings.size() > kMaxPrintedWarnings)
        listed += L"\r\n\u2026 and " + DecimalText(report.warnings.size() - kMaxPrintedWarnings) + L" more";
    if (!listed.empty())
        ReportServiceEvent(MSG_WRITABLE_FOLDERS, {listed.c_str()});
    return 0;
}

}  // namespace

TrustedAccounts BuiltinTrustedAccounts()
{
    TrustedAccounts trusted;
    trusted.sids.push_back(WellKnownSid(WinLocalSystemSid));
    trusted.sids.push_back(WellKnownSid(WinBuiltinAdministratorsSid));
    AddTrustedAccount(trusted, kTrustedInstallerSid);
    return trusted;
}

bool AddTrustedAccount(TrustedAccounts& trusted, const wchar_t* account)
{
    if (_wcsnicmp(account, L"S-1-", 4) == 0) {
        UniqueLocalMemory sid;
        if (!ConvertStringSidToSidW(account, sid.put()))
            return false;
        trusted.sids.push_back(CopySid(sid.get()));
        return true;
    }
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidBytes = sizeof(sid);
    wchar_t domain[kAccountChars];
    DWORD domainChars = kAccountChars;
    SID_NAME_USE use;
    if (!LookupAccountNameW(nullptr, account, sid, &sidBytes, domain, &domainChars, &use))
        return false;
    trusted.sids.push_back(CopySid(sid));
    return true;
}

TrustedAccounts ReadTrustedAccounts()
{
    TrustedAccounts trusted = BuiltinTrustedAccounts();
    UniqueRegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRegistryKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return trusted;
    DWORD type = 0, bytes = 0;
    LSTATUS status = RegQueryValueExW(key.get(), L"TrustedAccounts", nullptr, &type, nullptr, &bytes);
    if (status == ERROR_FILE_NOT_FOUND)
        return trusted;
    // Two more characters: a value stored without its terminators still ends.
    std::wstring list(bytes / sizeof(wchar_t) + 2, L'\0');
    if (status == ERROR_SUCCESS && (type == REG_MULTI_SZ || type == REG_SZ))
        status = RegQueryValueExW(key.get(), L"TrustedAccounts", nullptr, &type, reinterpret_cast<BYTE*>(&list[0]),
                                  &bytes);
    if (status != ERROR_SUCCESS || (type != REG_MULTI_SZ && type != REG_SZ)) {
        trusted.problems.push_back(L"TrustedAccounts is not a list of accounts (REG_MULTI_SZ); trusting none of it");
        return trusted;
    }
    for (const wchar_t* account = list.c_str(); *account != L'\0'; account += wcslen(account) + 1) {
        if (AddTrustedAccount(trusted, account))
            continue;
        const DWORD error = GetLastError();
        trusted.problems.push_back(FormatWide(L"TrustedAccounts names \"%s\", which is no account (%s); not trusting it",
                                              account, ErrorText(error).get()));
    }
    return trusted;
}

bool FindUntrustedChangers(PSECURITY_DESCRIPTOR descriptor, const TrustedAccounts& trusted,
                           std::vector<SidBytes>& changers)
{
    bool ownerUntrusted = false;
    changers = Changers(descriptor, trusted, kFileChangeRights, kFileMapping, ownerUntrusted);
    return !changers.empty();
}

namespace {

// As the run expands its paths: a value that does not fit once expanded,
// or holds a double quote, gives way to the default.
// The path a run writes for `key`: the same value, refused or not, that
// the run itself takes.
std::wstring ConfiguredPath(const Config& config, const wchar_t* key, const wchar_t* defaultValue)
{
    wchar_t expanded[kPathChars];
    PathRefusal refusal = PathRefusal::kNone;
    ExpandSetting(config, key, defaultValue, expanded, refusal);
    return expanded;
}

}  // namespace

PermissionInputs LauncherPermissionInputs(const Config& config, const wchar_t* javaExecutable)
{
    PermissionInputs inputs;
    inputs.installDir = g_installDir;
    wchar_t launcher[kPathChars];
    const DWORD length = GetModuleFileNameW(nullptr, launcher, kPathChars);
    if (length > 0 && length < kPathChars)
        inputs.launcherExe = launcher;
    inputs.configFile = g_configFile;
    inputs.keys.push_back(kRegistryKey);
    for (const auto& file : kWrittenFiles)
        inputs.writtenFiles.push_back(ConfiguredPath(config, file.key, file.defaultValue));
    if (javaExecutable != nullptr && javaExecutable[0] != L'\0') {
        inputs.javaExecutable = javaExecutable;
        const JavaOrigin& origin = ChosenJavaOrigin();
        inputs.keys.insert(inputs.keys.end(), origin.keys.begin(), origin.keys.end());
        inputs.searchedFolders = origin.searchedFolders;
    }
    return inputs;
}

PermissionReport CheckPermissions(const PermissionInputs& inputs, const std::atomic<bool>* stop)
{
    const TrustedAccounts trusted = ReadTrustedAccounts();
    const std::vector<ScanItem> items = ScanItems(inputs);
    Scan scan{trusted, stop, {}, {}};
    for (scan.item = 0; scan.item < items.size(); ++scan.item) {
        const ScanItem& item = items[scan.item];
        if (item.kind == ItemKind::kTree)
            CheckTree(scan, item.path);
        else if (item.kind == ItemKind::kKey)
            CheckKey(scan, item.path);
        else if (item.kind == ItemKind::kAncestor)
            CheckObject(scan, item.path, AncestorChangeRights(item.createsBelow));
        else
            CheckObject(scan, item.path);
    }
    PermissionReport report;
    report.warnings = trusted.problems;
    report.warnings.insert(report.warnings.end(), scan.problems.begin(), scan.problems.end());
    Compose(scan, items, report);
    return report;
}

int PrintPermissionWarnings()
{
    // The service's own environment decides which Java it runs: not checked here.
    Config config(/*ignoreCase=*/true);
    LoadConfigFile(config, g_configFile, L"Launcher", /*sectionOnly=*/true, /*replace=*/true);
    const PermissionReport report = CheckPermissions(LauncherPermissionInputs(config, /*javaExecutable=*/nullptr), nullptr);
    const size_t count = report.warnings.size();
    for (size_t i = 0; i < count && i < kMaxPrintedWarnings; ++i)
        ConsolePrint(L"WARNING: %s\n", report.warnings[i].c_str());
    if (count > kMaxPrintedWarnings)
        ConsolePrint(L"WARNING: \u2026 and %u more\n", static_cast<unsigned>(count - kMaxPrintedWarnings));
    for (const std::wstring& advice : report.advice) {
        std::wstring indented = L"         " + advice;
        for (size_t at = indented.find(L'\n'); at != std::wstring::npos; at = indented.find(L'\n', at + 1))
            indented.insert(at + 1, L"         ");
        ConsolePrint(L"%s\n", indented.c_str());
    }
    return static_cast<int>(count);
}

void StartPermissionCheck(PermissionInputs checked)
{
    if (g_checkThread)
        return;
    std::shared_ptr<CheckJob> job(new (std::nothrow) CheckJob);
    // CreateThread passes one pointer: a reference of the thread's own.
    std::unique_ptr<std::shared_ptr<CheckJob>> threadReference(job ? new (std::nothrow) std::shared_ptr<CheckJob>(job)
                                                                   : nullptr);
    if (threadReference) {
        job->inputs = std::move(checked);
        g_checkThread.reset(CreateThread(nullptr, 0, PermissionCheckMain, threadReference.get(), 0, nullptr));
    }
    if (!g_checkThread) {
        const DWORD error = threadReference ? GetLastError() : static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY);
        ovlog_write_tag(kLogWarning, kPermissionsTag, L"Cannot start the permission check (Error 0x%08x: %s)", error,
                        ErrorText(error).get());
        return;
    }
    threadReference.release();  // the thread's now
    g_checkJob = std::move(job);
}

void FinishPermissionCheck()
{
    if (!g_checkThread)
        return;
    g_checkJob->stop = true;
    if (WaitForSingleObject(g_checkThread.get(), kPermissionCheckStopWaitMs) != WAIT_OBJECT_0) {
        g_checkJob->abandoned = true;
        ovlog_write_tag(kLogWarning, kPermissionsTag,
                        L"The permission check did not stop within %u ms; what it still finds is not logged",
                        static_cast<unsigned>(kPermissionCheckStopWaitMs));
    }
    g_checkThread.reset();
    g_checkJob.reset();
}
