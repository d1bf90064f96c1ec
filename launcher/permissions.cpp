#include "launcher/permissions.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>

#include "launcher/context.h"
#include "launcher/java.h"
#include "support/console.h"
#include "support/error_text.h"
#include "support/eventlog.h"
#include "support/handles.h"
#include "support/log.h"
#include "support/text.h"

namespace {

constexpr wchar_t kPermissionsTag[] = L"permissions";
constexpr wchar_t kTrustedInstallerSid[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// On folders the first two are FILE_ADD_FILE and FILE_ADD_SUBDIRECTORY;
// FILE_DELETE_CHILD lets a user delete, and so replace, what a folder holds.
constexpr DWORD kChangeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;
constexpr DWORD kAccountChars = 256;

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

// What to check: one object, or a folder with everything below it. The
// advice for what is found there names `adviceFolder`.
struct ScanItem {
    std::wstring path;
    bool tree;
    std::wstring adviceFolder;
};
struct Finding {
    std::wstring path;
    SidBytes changer;
    size_t item;
};
struct Scan {
    const TrustedAccounts& trusted;
    const std::atomic<bool>* stop;
    std::vector<Finding> findings;
    std::vector<std::wstring> problems;
    size_t item = 0;
    bool stopped() const { return stop != nullptr && stop->load(); }
};

void CheckObject(Scan& scan, const std::wstring& path)
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
    std::vector<SidBytes> changers;
    FindUntrustedChangers(descriptor.get(), scan.trusted, changers);
    for (SidBytes& changer : changers)
        scan.findings.push_back(Finding{object, std::move(changer), scan.item});
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

// The objects of one check, in order of importance (a check stopped early
// has done the first): single objects, then the Java home, then the
// install's trees. An object or tree inside a tree of the list is left to
// that tree.
std::vector<ScanItem> ScanItems(const std::wstring& install, const std::wstring& config, const std::wstring& java)
{
    std::vector<ScanItem> items;
    if (!install.empty())
        items.push_back({install, false, install});
    wchar_t launcher[kPathChars];
    const DWORD length = GetModuleFileNameW(nullptr, launcher, kPathChars);
    if (length > 0 && length < kPathChars)
        items.push_back({launcher, false, FolderOf(launcher)});
    const std::wstring configFolder = FolderOf(config);
    if (!config.empty()) {
        items.push_back({configFolder, false, configFolder});
        items.push_back({config, false, configFolder});
    }
    if (!java.empty()) {
        const std::wstring bin = FolderOf(java);
        const std::wstring home = FolderOf(bin);
        if (!home.empty() && _wcsicmp(bin.c_str() + home.size(), L"\\bin") == 0) {
            items.push_back({home, true, home});
        } else {
            // Not in a "bin" folder (a copy on PATH): no home to walk.
            items.push_back({bin, false, bin});
            items.push_back({java, false, bin});
        }
    }
    if (!install.empty())
        for (const wchar_t* child : {L"\\jre", L"\\etc", L"\\jetty-home", L"\\jetty-base"})
            items.push_back({install + child, true, install});

    std::vector<ScanItem> kept;
    for (size_t i = 0; i < items.size(); ++i) {
        bool covered = items[i].path.empty();
        for (size_t j = 0; j < items.size() && !covered; ++j) {
            const bool samePath = items[i].path.size() == items[j].path.size();
            if (j != i && items[j].tree && Within(items[i].path, items[j].path))
                covered = !items[i].tree || !samePath || j < i;
            else if (j < i && !items[i].tree && !items[j].tree && samePath && Within(items[i].path, items[j].path))
                covered = true;
        }
        if (!covered)
            kept.push_back(items[i]);
    }
    return kept;
}

// One warning per account and object, grouped by account; one advice per
// folder: an owner that Administrators replace, the untrusted accounts'
// grants removed, and the folder restricted for what inherits from it.
void Compose(const Scan& scan, const std::vector<ScanItem>& items, PermissionReport& report)
{
    std::vector<SidBytes> accounts;
    std::vector<std::wstring> folders;
    for (const Finding& finding : scan.findings) {
        AddOnce(accounts, AsSid(finding.changer));
        bool known = false;
        for (const std::wstring& folder : folders)
            known = known || _wcsicmp(folder.c_str(), items[finding.item].adviceFolder.c_str()) == 0;
        if (!known)
            folders.push_back(items[finding.item].adviceFolder);
    }
    for (const SidBytes& account : accounts) {
        const std::wstring name = AccountName(account);
        for (const Finding& finding : scan.findings)
            if (EqualSid(AsSid(finding.changer), AsSid(account)))
                report.warnings.push_back(FormatWide(L"%s can change \"%s\" (run as SYSTEM by this service)",
                                                     name.c_str(), finding.path.c_str()));
    }
    for (const std::wstring& folder : folders) {
        std::vector<SidBytes> removals;
        for (const Finding& finding : scan.findings)
            if (_wcsicmp(folder.c_str(), items[finding.item].adviceFolder.c_str()) == 0)
                AddOnce(removals, AsSid(finding.changer));
        std::wstring removeList;
        for (const SidBytes& sid : removals)
            removeList += L" *" + SidText(sid);
        report.advice.push_back(FormatWide(
            L"To restrict \"%s\" to administrators, from an elevated prompt:\n"
            L"icacls \"%s\" /setowner *S-1-5-32-544 /T /C /Q\n"
            L"icacls \"%s\" /remove:g%s /T /C /Q\n"
            L"icacls \"%s\" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F "
            L"*S-1-5-32-545:(OI)(CI)RX",
            folder.c_str(), folder.c_str(), folder.c_str(), removeList.c_str(), folder.c_str()));
    }
}

// Read between two objects, where a wait on an event would cost a call to
// the Wine server each time.
std::atomic<bool> g_checkStop{false};
// Written only by the thread that runs the launcher.
UniqueKernelHandle g_checkThread;

DWORD WINAPI PermissionCheckMain(void*)
{
    // Background mode also lowers the I/O priority, so the walk does not
    // slow the server's own reading of its jars.
    SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    const PermissionReport report = CheckPermissions(g_installDir, g_configFile, g_javaExecutable, &g_checkStop);
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
    changers.clear();
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted))
        owner = nullptr;
    const bool ownerTrusted = owner != nullptr && IsListed(trusted.sids, owner);
    if (owner != nullptr && !ownerTrusted)
        AddOnce(changers, owner);

    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || dacl == nullptr) {
        // No DACL grants everything to everyone.
        const SidBytes everyone = WellKnownSid(WinWorldSid);
        AddOnce(changers, AsSid(everyone));
        return true;
    }
    GENERIC_MAPPING fileRights{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    const SidBytes creatorOwner = WellKnownSid(WinCreatorOwnerSid);
    const SidBytes ownerRights = WellKnownSid(WinCreatorOwnerRightsSid);
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry))
            continue;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        // A callback entry's condition is not evaluated: it may hold.
        const bool allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
                            header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
        if (!allows || (header->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        DWORD rights = allowed->Mask;
        MapGenericMask(&rights, &fileRights);
        if ((rights & kChangeRights) == 0)
            continue;
        const PSID sid = &allowed->SidStart;
        if (EqualSid(sid, AsSid(creatorOwner)) || EqualSid(sid, AsSid(ownerRights))) {
            if (owner != nullptr && !ownerTrusted)
                AddOnce(changers, owner);
        } else if (!IsListed(trusted.sids, sid)) {
            AddOnce(changers, sid);
        }
    }
    return !changers.empty();
}

PermissionReport CheckPermissions(const wchar_t* installDir, const wchar_t* configFile,
                                  const wchar_t* javaExecutable, const std::atomic<bool>* stop)
{
    const TrustedAccounts trusted = ReadTrustedAccounts();
    const std::vector<ScanItem> items =
        ScanItems(installDir, configFile, javaExecutable != nullptr ? javaExecutable : L"");
    Scan scan{trusted, stop, {}, {}};
    for (scan.item = 0; scan.item < items.size(); ++scan.item) {
        if (items[scan.item].tree)
            CheckTree(scan, items[scan.item].path);
        else
            CheckObject(scan, items[scan.item].path);
    }
    PermissionReport report;
    report.warnings = trusted.problems;
    report.warnings.insert(report.warnings.end(), scan.problems.begin(), scan.problems.end());
    Compose(scan, items, report);
    return report;
}

int PrintPermissionWarnings()
{
    const PermissionReport report = CheckPermissions(g_installDir, g_configFile, nullptr, nullptr);
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

void StartPermissionCheck()
{
    if (g_checkThread)
        return;
    g_checkStop = false;
    g_checkThread.reset(CreateThread(nullptr, 0, PermissionCheckMain, nullptr, 0, nullptr));
    if (!g_checkThread) {
        const DWORD error = GetLastError();
        ovlog_write_tag(kLogWarning, kPermissionsTag, L"Cannot start the permission check (Error 0x%08x: %s)", error,
                        ErrorText(error).get());
    }
}

void FinishPermissionCheck()
{
    if (!g_checkThread)
        return;
    g_checkStop = true;
    if (WaitForSingleObject(g_checkThread.get(), kPermissionCheckStopWaitMs) != WAIT_OBJECT_0)
        ovlog_write_tag(kLogWarning, kPermissionsTag,
                        L"The permission check did not stop within %u ms; what it still finds is not logged",
                        static_cast<unsigned>(kPermissionCheckStopWaitMs));
    g_checkThread.reset();
}
