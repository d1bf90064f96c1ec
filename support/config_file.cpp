#include "support/support.h"

bool Config::loadConfig(const wchar_t* path, const wchar_t* section, const char* encoding, bool sectionOnly,
                        bool replace)
{
    if (replace) {
        entries_.clear();
        skippedLines_ = 0;
    }
    if (path == nullptr || path[0] == L'\0')
        return false;
    UniqueFileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > kMaxFileBytes)
        return false;
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t total = 0;
    while (total < bytes.size()) {
        DWORD read = 0;
        if (!ReadFile(file.get(), &bytes[total], static_cast<DWORD>(bytes.size() - total), &read, nullptr))
            return false;
        if (read == 0)
            break;
        total += read;
    }
    bytes.resize(total);
    return loadConfigText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), section, encoding,
                          sectionOnly, false);
}
