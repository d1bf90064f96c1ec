#include "support/config.h"
#include "support/handles.h"

bool Config::loadConfig(const wchar_t* path, const wchar_t* section, const char* encoding, bool sectionOnly,
                        bool replace)
{
    if (replace) {
        entries_.clear();
        skippedLines_ = 0;
    }
    notAFile_ = false;
    if (path == nullptr || path[0] == L'\0')
        return false;
    UniqueFileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD attributes = GetFileAttributesW(path);
        notAFile_ = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        return false;
    }
    // Disk files only: a pipe whose server never writes, or a console,
    // would block the read for ever, before the caller has even a log.
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        notAFile_ = true;
        return false;
    }
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
            return false;
        }
        if (read == 0)
            break;
        if (bytes.size() + read > kMaxFileBytes)
            return false;
        bytes.append(chunk, read);
    }
    return loadConfigText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), section, encoding,
                          sectionOnly, false);
}
