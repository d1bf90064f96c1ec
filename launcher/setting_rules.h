// The keys of the configuration file and the rules for its path values.
// Platform-free, so they are tested natively.
#pragma once

#include <cstddef>

struct LauncherSetting {
    const wchar_t* name;
    // The value used without the key; null where there is none (the option
    // is then left out).
    const wchar_t* defaultValue;
    bool isPath;
    // What the key's absence means, where it has no default value.
    const wchar_t* whenAbsent;
};
// Every key of the [Launcher] section that the launcher reads, in the order
// of the shipped launcher.conf.
extern const LauncherSetting kLauncherSettings[];
extern const size_t kLauncherSettingCount;

// Why a configured path value gave way to its default.
enum class PathRefusal { kNone, kTooLong, kQuote, kRelative };

// The rule for an expanded path value of up to 259 characters: no double
// quote (no Windows path holds one, and on a command line it would end the
// argument) and absolute, a drive letter and backslash or a UNC path (a
// relative one would resolve against the current folder, System32 for a
// service).
PathRefusal JudgeExpandedPath(const wchar_t* expanded);
// The reason, for a warning "The value of <key> <reason>; using its default".
const wchar_t* RefusalReason(PathRefusal refusal);
