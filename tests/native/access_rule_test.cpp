// The rule that decides who can change an object, over (owner, entries)
// rows as a drive's root and the folders below it have them.
#include "launcher/access_rule.h"

#include <gtest/gtest.h>

namespace {

enum Account : size_t { kSystem, kAdministrators, kUsers, kAuthenticatedUsers, kAlice, kCreatorOwner };
constexpr uint32_t kReadExecute = 0x1200a9;
constexpr uint32_t kModify = 0x1301bf;
constexpr uint32_t kFull = 0x1f01ff;

AccessEntry Allow(Account account, uint32_t mask, bool inheritOnly = false)
{
    const bool trusted = account == kSystem || account == kAdministrators;
    return AccessEntry{account, trusted, mask, account == kCreatorOwner, inheritOnly};
}

// C:\ as Windows installs it: users may add folders, and what they create
// below inherits their Modify.
const ObjectAccess kDriveRoot{kSystem, true,
                              {Allow(kAdministrators, kFull), Allow(kSystem, kFull), Allow(kUsers, kReadExecute),
                               Allow(kAuthenticatedUsers, rights::kFileAppendData),
                               Allow(kAuthenticatedUsers, kModify, /*inheritOnly=*/true),
                               Allow(kCreatorOwner, kFull, /*inheritOnly=*/true)}};

}  // namespace

TEST(AccessRule, FoldersAboveAndTheRootOfAVolume)
{
    const ObjectAccess madeByAdministrator{kAdministrators, true,
                                           {Allow(kAdministrators, kFull), Allow(kSystem, kFull),
                                            Allow(kUsers, kReadExecute), Allow(kAuthenticatedUsers, kModify)}};
    EXPECT_TRUE(UntrustedChangers(kDriveRoot, AncestorChangeRights(false)).empty());
    EXPECT_EQ(UntrustedChangers(kDriveRoot, AncestorChangeRights(true)), std::vector<size_t>{kAuthenticatedUsers});
    EXPECT_EQ(UntrustedChangers(madeByAdministrator, AncestorChangeRights(false)),
              std::vector<size_t>{kAuthenticatedUsers});
    // Adding files to a folder above changes nothing below it; deleting them does.
    const ObjectAccess addOnly{kSystem, true, {Allow(kAlice, rights::kFileWriteData | rights::kFileAppendData)}};
    EXPECT_TRUE(UntrustedChangers(addOnly, AncestorChangeRights(false)).empty());
    const ObjectAccess deleteChild{kSystem, true, {Allow(kAlice, rights::kFileDeleteChild)}};
    EXPECT_EQ(UntrustedChangers(deleteChild, AncestorChangeRights(false)), std::vector<size_t>{kAlice});
}

TEST(AccessRule, OwnersCreatorOwnerAndKeys)
{
    // An untrusted owner comes first and once, its CREATOR OWNER entry adds nothing.
    const ObjectAccess owned{kAlice, false, {Allow(kUsers, rights::kWriteDac), Allow(kCreatorOwner, kFull),
                                             Allow(kAlice, kFull)}};
    EXPECT_EQ(UntrustedChangers(owned, AncestorChangeRights(false)), (std::vector<size_t>{kAlice, kUsers}));
    const ObjectAccess key{kSystem, true, {Allow(kUsers, 0x20019 /* KEY_READ */), Allow(kAlice, rights::kKeySetValue)}};
    EXPECT_EQ(UntrustedChangers(key, kKeyChangeRights), std::vector<size_t>{kAlice});
}

TEST(AccessRule, PathsAboveUpToTheVolumeRoot)
{
    using Paths = std::vector<std::wstring>;
    EXPECT_EQ(FoldersAbove(L"C:\\Orvane\\WebUI"), (Paths{L"C:\\Orvane", L"C:\\"}));
    EXPECT_EQ(FoldersAbove(L"\\\\server\\share\\a\\b"), (Paths{L"\\\\server\\share\\a", L"\\\\server\\share\\"}));
    EXPECT_EQ(FoldersAbove(L"C:\\"), Paths{});
    EXPECT_EQ(FoldersAbove(L"relative\\path"), Paths{});
    EXPECT_TRUE(IsVolumeRoot(L"C:\\") && IsVolumeRoot(L"C:") && IsVolumeRoot(L"\\\\server\\share"));
    EXPECT_FALSE(IsVolumeRoot(L"C:\\Orvane") || IsVolumeRoot(L"\\\\server\\share\\a"));
    EXPECT_EQ(WithoutLongPrefix(L"\\\\?\\C:\\jdk\\bin\\java.exe"), L"C:\\jdk\\bin\\java.exe");
    EXPECT_EQ(WithoutLongPrefix(L"\\\\?\\UNC\\server\\share\\java.exe"), L"\\\\server\\share\\java.exe");
}
