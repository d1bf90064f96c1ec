// The configuration file read from disk; what it says is Config's to parse.
#pragma once

#include "support/config.h"

enum class ConfigFileRead { kRead, kMissing, kNotAFile, kUnreadable };

// Loads the file at `path` into `config` as Config::loadConfigText does,
// detecting its encoding. Only a disk file is read: anything else (a pipe,
// a device, a folder) is kNotAFile, as a pipe whose server never writes
// would block the read for ever. A file that cannot be opened for a reason
// other than its absence, cannot be read whole, or is over
// Config::kMaxFileBytes, is kUnreadable. With `replace`, what earlier
// loads stored goes whatever the outcome.
ConfigFileRead LoadConfigFile(Config& config, const wchar_t* path, const wchar_t* section, bool sectionOnly,
                              bool replace);
