#include <aclapi.h>

#include <cwchar>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "support/eventlog.h"
#include "support/support.h"

namespace {

constexpr wchar_t kStartupTag[] = L"startup";
constexpr wchar_t kWarningText[] = L"ordinary users can change files in \"%s\" (run as SYSTEM by this service)";

// Any of these lets a user plant or replace what the service runs or reads.
constexpr DWORD kChangeRights = FILE_ADD_FILE | FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_ADD_SUBDIRECTORY | DELETE |
                                WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
constexpr WELL_KNOWN_SID_TYPE kOrdinaryUsers[] = {WinWorldSid, WinAuthenticatedUserSid, WinBuiltinUsersSid,
                                                  WinInteractiveSid, WinAnonymousSid};

bool IsOrdinaryUsers(PSID sid)
{
    for (const WELL_KNOWN_SID_TYPE type : kOrdinaryUsers) {
        BYTE known[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof(known);
        if (CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known))
            return true;
    }
    return false;
}

// Only the folder's own entries count (not inherit-only ones, which apply
// to what is created below it). A folder whose DACL cannot be read is not
// reported: nothing can be said about it.
bool OrdinaryUsersCanChange(const wchar_t* folder)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor) != ERROR_SUCCESS)
        return false;
    // No DACL at all grants everything to everyone.
    bool open = dacl == nullptr;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount && !open; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry))
            continue;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        open = (allowed->Mask & kChangeRights) != 0 && IsOrdinaryUsers(&allowed->SidStart);
    }
    LocalFree(descriptor);
    return open;
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void AddFolder(std::vector<std::wstring>& folders, const std::wstring& folder)
{
    if (folder.empty() || !IsFolder(folder))
        return;
    for (const std::wstring& known : folders)
        if (ov_wcsicmp(known.c_str(), folder.c_str()) == 0)
            return;
    folders.push_back(folder);
}

}  // namespace

int WarnOfWritableInstallFolders(FolderWarnings where)
{
    // The folders themselves, not their trees: what lies below them is
    // created by whoever may write there, so these are the ones to guard.
    std::vector<std::wstring> folders;
    if (g_installDir[0] != L'\0') {
        const std::wstring root = g_installDir;
        AddFolder(folders, root);
        for (const wchar_t* child : {L"\\jre", L"\\jre\\bin", L"\\etc", L"\\jetty-home", L"\\jetty-base"})
            AddFolder(folders, root + child);
    }
    wchar_t configFolder[kPathChars];
    wcslcpy(configFolder, g_configFile);
    if (wcschr(configFolder, L'\\') != nullptr) {
        RemoveLastComponent(configFolder);
        AddFolder(folders, configFolder);
    }

    int warned = 0;
    std::wstring listed;  // one event for them all, a folder a line
    for (const std::wstring& folder : folders) {
        if (!OrdinaryUsersCanChange(folder.c_str()))
            continue;
        ++warned;
        const std::wstring warning = FormatWide(kWarningText, folder.c_str());
        if (where == FolderWarnings::kLog) {
            ovlog_write_tag(kLogWarning, kStartupTag, L"%s", warning.c_str());
            listed += (listed.empty() ? L"" : L"\r\n") + folder;
        } else {
            ConsolePrint(L"WARNING: %s\n         To restrict it: icacls \"%s\" /inheritance:r /grant:r "
                         L"*S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX\n",
                         warning.c_str(), folder.c_str());
        }
    }
    if (!listed.empty())
        ReportServiceEvent(MSG_WRITABLE_FOLDERS, {listed.c_str()});
    return warned;
}
