#include "launcher/access_rule.h"

#include <algorithm>

namespace {

void AddOnce(std::vector<size_t>& accounts, size_t account)
{
    if (std::find(accounts.begin(), accounts.end(), account) == accounts.end())
        accounts.push_back(account);
}

// Where the volume root of a full path ends: after "C:\", or after the
// share's name of "\\server\share" (with its backslash, if any); 0 when
// the path is not full.
size_t VolumeRootLength(const std::wstring& path)
{
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\')
        return 3;
    if (path.size() < 2 || path[0] != L'\\' || path[1] != L'\\')
        return 0;
    const size_t server = path.find(L'\\', 2);
    if (server == std::wstring::npos || server == 2)
        return 0;
    const size_t share = path.find(L'\\', server + 1);
    if (share == server + 1)
        return 0;
    return share == std::wstring::npos ? path.size() : share + 1;
}

}  // namespace

uint32_t AncestorChangeRights(bool createsBelow)
{
    const uint32_t always = rights::kDelete | rights::kWriteDac | rights::kWriteOwner | rights::kFileDeleteChild;
    return createsBelow ? always | rights::kFileAppendData : always;
}

std::vector<size_t> UntrustedChangers(const ObjectAccess& object, uint32_t changeRights)
{
    std::vector<size_t> changers;
    if (!object.ownerTrusted)
        changers.push_back(object.owner);
    for (const AccessEntry& entry : object.allows) {
        if (entry.inheritOnly || (entry.rights & changeRights) == 0)
            continue;
        if (entry.standsForOwner) {
            if (!object.ownerTrusted)
                AddOnce(changers, object.owner);
        } else if (!entry.trusted) {
            AddOnce(changers, entry.account);
        }
    }
    return changers;
}

bool IsVolumeRoot(const std::wstring& path)
{
    if (path.size() == 2 && path[1] == L':')
        return true;
    const size_t root = VolumeRootLength(path);
    return root != 0 && path.size() <= root;
}

std::vector<std::wstring> FoldersAbove(const std::wstring& path)
{
    std::vector<std::wstring> folders;
    const size_t root = VolumeRootLength(path);
    std::wstring folder = path;
    while (folder.size() > root && folder.back() == L'\\')
        folder.pop_back();
    while (root != 0 && folder.size() > root) {
        const size_t slash = folder.find_last_of(L'\\');
        if (slash + 1 <= root)
            folder = path.substr(0, root);
        else
            folder.resize(slash);
        folders.push_back(folder);
    }
    return folders;
}

std::wstring WithoutLongPrefix(const std::wstring& path)
{
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + path.substr(8);
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return path.substr(4);
    return path;
}
