// What Windows shows of the built exe: the version resource that Explorer's
// Details tab reads, the manifest that the loader applies and the message
// table of the events.
#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <vector>

#include "launcher/version.h"
#include "messages.h"
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

// Event Viewer renders each event from the exe's message table: every ID
// there formats, and with just the insertion strings that the code passes.
TEST(Release, EveryEventFormatsWithItsInsertionStrings)
{
    const std::unique_ptr<HINSTANCE__, decltype(&FreeLibrary)> image(
        LoadLibraryExW(LauncherExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), &FreeLibrary);
    ASSERT_NE(image, nullptr);
    // Each ID with the number of strings that the code passes.
    const std::pair<DWORD, size_t> events[] = {
        {MSG_SERVICE_STARTED, 3},      {MSG_SERVER_READY, 1},      {MSG_SERVICE_STOPPED, 1},
        {MSG_STOP_COMMAND_GAVE_UP, 1}, {MSG_SERVER_TERMINATED, 1}, {MSG_WRITABLE_FOLDERS, 1},
        {MSG_CONFIG_VALUE_REFUSED, 2}, {MSG_NO_JAVA, 1},           {MSG_SERVER_NOT_CREATED, 2},
        {MSG_SERVER_ENDED, 2},         {MSG_HEALTH_CHECK_FAILED, 3}};
    const HRSRC found = FindResourceW(image.get(), MAKEINTRESOURCEW(1), RT_MESSAGETABLE);
    ASSERT_NE(found, nullptr);
    const auto* table = static_cast<const MESSAGE_RESOURCE_DATA*>(LockResource(LoadResource(image.get(), found)));
    size_t ids = 0;
    for (DWORD i = 0; i < table->NumberOfBlocks; ++i)
        ids += table->Blocks[i].HighId - table->Blocks[i].LowId + 1;
    EXPECT_EQ(ids, std::size(events)) << "an event of the table is not tested here";

    // More strings than any message takes: one that shows is read past what is passed.
    DWORD_PTR strings[] = {reinterpret_cast<DWORD_PTR>(L"<1>"), reinterpret_cast<DWORD_PTR>(L"<2>"),
                           reinterpret_cast<DWORD_PTR>(L"<3>"), reinterpret_cast<DWORD_PTR>(L"<4>")};
    for (const auto& [id, inserts] : events) {
        wchar_t* text = nullptr;
        const DWORD chars = FormatMessageW(
            FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER, image.get(),
            id, 0, reinterpret_cast<wchar_t*>(&text), 0, reinterpret_cast<va_list*>(strings));
        ASSERT_GT(chars, 0u) << std::hex << id;
        const std::wstring formatted(text, chars);
        LocalFree(text);
        for (size_t i = 1; i <= std::size(strings); ++i)
            EXPECT_EQ(formatted.find(L"<" + std::to_wstring(i) + L">") != std::wstring::npos, i <= inserts)
                << std::hex << id << ": " << Narrow(formatted);
    }
}
