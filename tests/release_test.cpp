// What Windows shows of the built exe: the version resource that Explorer's
// Details tab reads and the manifest that the loader applies.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "launcher/version.h"
#include "tests/harness.h"

namespace {

std::wstring VersionString(const std::vector<char>& info, const wchar_t* name)
{
    void* value = nullptr;
    UINT chars = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueW(info.data(), key.c_str(), &value, &chars) || chars == 0)
        return L"(absent)";
    return static_cast<const wchar_t*>(value);
}

}  // namespace

TEST(Release, VersionResourceCarriesTheProjectVersion)
{
    const std::wstring exe = LauncherExe();
    DWORD unused = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &unused);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));

    void* value = nullptr;
    UINT bytes = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", &value, &bytes));
    ASSERT_EQ(bytes, sizeof(VS_FIXEDFILEINFO));
    const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    const DWORD high = MAKELONG(OV_VERSION_MINOR, OV_VERSION_MAJOR), low = MAKELONG(0, OV_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);

    // The text that Explorer's Details tab shows; the other fields are the
    // resource script's literals.
    EXPECT_EQ(VersionString(info, L"FileVersion"), Widen(OV_VERSION_TEXT));
    EXPECT_EQ(VersionString(info, L"ProductVersion"), Widen(OV_VERSION_TEXT));
}

TEST(Release, ManifestIsFoundAndAsksForNoElevationOnly)
{
    const std::unique_ptr<HINSTANCE__, decltype(&FreeLibrary)> image(
        LoadLibraryExW(LauncherExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE),
        &FreeLibrary);
    ASSERT_NE(image, nullptr);
    const HRSRC found = FindResourceW(image.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    const char* data = static_cast<const char*>(LockResource(LoadResource(image.get(), found)));
    ASSERT_NE(data, nullptr);
    const std::string manifest(data, SizeofResource(image.get(), found));

    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\""), std::string::npos);
    // Paths stay limited to 260 characters and the code page stays the system's.
    EXPECT_EQ(manifest.find("longPathAware"), std::string::npos);
    EXPECT_EQ(manifest.find("activeCodePage"), std::string::npos);
}
