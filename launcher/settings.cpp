#include "launcher/settings.h"

#include <windows.h>

namespace {
// A value that would need the whole buffer or more counts as too long.
bool ExpandWhole(const wchar_t* value, wchar_t (&expanded)[kPathChars])
{
    const DWORD needed = ExpandEnvironmentStringsW(value, expanded, kPathChars);
    if (needed == 0 || needed > kPathChars) {
        expanded[0] = L'\0';
        return false;
    }
    return true;
}
}  // namespace

void ExpandSetting(const Config& config, const wchar_t* key, const wchar_t* defaultValue,
                   wchar_t (&expanded)[kPathChars], PathRefusal& refusal)
{
    const wchar_t* value = config.getValue(key, defaultValue, 0);
    refusal = ExpandWhole(value, expanded) ? JudgeExpandedPath(expanded) : PathRefusal::kTooLong;
    if (refusal != PathRefusal::kNone && value != defaultValue)
        ExpandWhole(defaultValue, expanded);
}
