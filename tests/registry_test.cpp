// Which registry values read as strings, by type, size and terminator: the
// rule every reader of the install's and Java's keys goes through.
#include <gtest/gtest.h>

#include <string>

#include "support/registry.h"
#include "tests/harness.h"

namespace {

constexpr wchar_t kTestKey[] = L"Software\\Orvane\\RegistryTypesTest";
constexpr size_t kChars = 8;  // the reader's buffer: 7 characters and the terminator

struct StoredValue {
    const char* what;
    bool present;
    DWORD type;
    std::wstring data;  // stored as data.size() * 2 bytes, minus oddBytes
    DWORD oddBytes;
    bool read;
    const wchar_t* text;  // what the reader gives
};

// Wide text with its terminator, as a string type stores it.
std::wstring Terminated(const wchar_t* text) { return std::wstring(text) + L'\0'; }

}  // namespace

TEST(RegistryString, ReadByTypeSizeAndTerminator)
{
    const DWORD number = 42;
    const StoredValue values[] = {
        {"absent", false, REG_SZ, L"", 0, false, L""},
        {"REG_SZ", true, REG_SZ, Terminated(L"D:\\App"), 0, true, L"D:\\App"},
        {"empty REG_SZ", true, REG_SZ, Terminated(L""), 0, true, L""},
        {"REG_EXPAND_SZ, taken as stored", true, REG_EXPAND_SZ, Terminated(L"%X%\\a"), 0, true, L"%X%\\a"},
        {"REG_DWORD", true, REG_DWORD, std::wstring(reinterpret_cast<const wchar_t*>(&number), 2), 0, false, L""},
        {"REG_BINARY", true, REG_BINARY, L"D:", 0, false, L""},
        {"REG_MULTI_SZ", true, REG_MULTI_SZ, std::wstring(L"D:\\a\0D:\\b\0", 10), 0, false, L""},
        {"7 characters fit", true, REG_SZ, Terminated(L"1234567"), 0, true, L"1234567"},
        {"8 characters do not", true, REG_SZ, Terminated(L"12345678"), 0, false, L""},
        {"8 characters without terminator do not", true, REG_SZ, L"12345678", 0, false, L""},
        {"no terminator, fitting: terminated", true, REG_SZ, L"D:\\B", 0, true, L"D:\\B"},
        {"odd byte count: whole characters only", true, REG_SZ, L"D:\\B", 1, true, L"D:\\"},
    };
    for (const StoredValue& value : values) {
        ScopedRegistryKey key(kTestKey);
        if (value.present) {
            const DWORD bytes = static_cast<DWORD>(value.data.size() * sizeof(wchar_t)) - value.oddBytes;
            ASSERT_TRUE(key.setRaw(L"Value", value.type, value.data.data(), bytes)) << value.what;
        }
        wchar_t buffer[kChars + 1];
        wmemset(buffer, L'?', kChars + 1);  // a failed read must not leave this behind
        EXPECT_EQ(ReadRegistryString(key.get(), L"Value", buffer, kChars), value.read) << value.what;
        EXPECT_STREQ(buffer, value.text) << value.what;
        EXPECT_EQ(buffer[kChars], L'?') << value.what << ": written past the buffer";
    }
}
