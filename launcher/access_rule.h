// Who can change an object, decided over plain data: the owner and the
// allow entries of its DACL, each already told whether its account is
// trusted. The Win32 side (permissions.cpp) reads the descriptors and maps
// generic rights; what makes a right dangerous lives here, so it builds and
// is tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The access bits of Windows, as plain numbers.
namespace rights {
constexpr uint32_t kFileWriteData = 0x0002;       // FILE_ADD_FILE on a folder
constexpr uint32_t kFileAppendData = 0x0004;      // FILE_ADD_SUBDIRECTORY on a folder
constexpr uint32_t kFileDeleteChild = 0x0040;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyCreateSubKey = 0x0004;
constexpr uint32_t kDelete = 0x00010000;
constexpr uint32_t kWriteDac = 0x00040000;
constexpr uint32_t kWriteOwner = 0x00080000;
}  // namespace rights

// What lets an account change an object the service runs or reads: write,
// add files or folders, delete it or what it holds, rewrite its DACL or owner.
constexpr uint32_t kFileChangeRights = rights::kFileWriteData | rights::kFileAppendData | rights::kFileDeleteChild |
                                       rights::kDelete | rights::kWriteDac | rights::kWriteOwner;
// A folder above: whoever may delete or rename it, or remove what it holds,
// can put a folder of their own in place of the one below. Adding folders
// only matters above one that does not exist yet and will be created: its
// first creator owns it.
uint32_t AncestorChangeRights(bool createsBelow);
// A registry key whose values choose what runs.
constexpr uint32_t kKeyChangeRights =
    rights::kKeySetValue | rights::kKeyCreateSubKey | rights::kDelete | rights::kWriteDac | rights::kWriteOwner;

// One allow entry: `account` is the caller's index of its SID; `rights` are
// already free of generic bits. An entry for CREATOR OWNER or OWNER RIGHTS
// stands for the owner; an inherit-only one does not apply to the object.
struct AccessEntry {
    size_t account;
    bool trusted;
    uint32_t rights;
    bool standsForOwner;
    bool inheritOnly;
};
struct ObjectAccess {
    size_t owner;
    bool ownerTrusted;
    std::vector<AccessEntry> allows;
};
// The untrusted accounts that can change the object, each once, the owner
// first (an owner may always rewrite the DACL): those whose entries that
// apply to the object give any of `changeRights`. An object without a DACL
// is given to the caller as an entry for Everyone with every right.
std::vector<size_t> UntrustedChangers(const ObjectAccess& object, uint32_t changeRights);

// The folders above `path`, nearest first, down to its volume root ("C:\",
// "\\server\share\"); none for a volume root or a path that is not full.
std::vector<std::wstring> FoldersAbove(const std::wstring& path);
bool IsVolumeRoot(const std::wstring& path);
// "\\?\C:\x" and "\\?\UNC\server\share\x", as the system gives final paths,
// in their usual forms.
std::wstring WithoutLongPrefix(const std::wstring& path);
