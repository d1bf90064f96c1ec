#include "support/config_file.h"

#include <windows.h>

#include <string>

#include "support/handles.h"

ConfigFileRead LoadConfigFile(Config& config, const wchar_t* path, const wchar_t* section, bool sectionOnly,
                              bool replace)
{
    if (replace)
        config.loadConfigText(nullptr, 0, section, nullptr, sectionOnly, /*replace=*/true);
    if (path == nullptr || path[0] == L'\0')
        return ConfigFileRead::kMissing;
    UniqueFileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return ConfigFileRead::kNotAFile;
        // A file that is there but cannot be opened (access denied, held
        // without sharing) is no missing file.
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ConfigFileRead::kMissing
                                                                               : ConfigFileRead::kUnreadable;
    }
    // Disk files only: a pipe or a console would block the read before the
    // caller has even a log.
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
        return ConfigFileRead::kNotAFile;
    // Read to the end rather than trust a size taken first: the file may
    // grow while it is read.
    std::string bytes;
    char chunk[16384];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr)) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF)
                break;
            return ConfigFileRead::kUnreadable;
        }
        if (read == 0)
            break;
        if (bytes.size() + read > Config::kMaxFileBytes)
            return ConfigFileRead::kUnreadable;
        bytes.append(chunk, read);
    }
    config.loadConfigText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), section,
                          /*encoding=*/nullptr, sectionOnly, /*replace=*/false);
    return ConfigFileRead::kRead;
}
