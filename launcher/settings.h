// Reading a path value of the configuration file as a run uses it.
#pragma once

#include "launcher/context.h"
#include "launcher/setting_rules.h"
#include "support/config.h"

// The expanded value of `key` ("/Launcher/<name>"), or of its default when
// the configured value is refused (setting_rules.h) or does not fit the
// buffer once expanded (a cut path would name another file). `refusal`
// tells the caller to say so.
void ExpandSetting(const Config& config, const wchar_t* key, const wchar_t* defaultValue,
                   wchar_t (&expanded)[kPathChars], PathRefusal& refusal);
