// The plug-in's settings, read from the registry (HKEY_LOCAL_MACHINE "Software\Korvo\3dsMax")
// into one process-wide store. Not thread-safe: read and loaded on the user-interface thread.
#pragma once

#include <cstdint>
#include <vector>

#include "host/max_types.h"

namespace Korvo {

enum class SettingKey : std::uint32_t { Version = 1, Cid = 2 };

struct SettingsEntry {
    SettingKey key;
    MSTR value;
};

// Replaces the store's entries with the registry's "cid" and "version" values, in that order. A
// missing key leaves the store empty; a value that is missing, not a string or longer than 255
// characters reads as empty text.
void LoadSettings();

// A copy of the first entry's value for the key; empty text when the store has none.
MSTR GetSetting(SettingKey key);

const std::vector<SettingsEntry>& SettingsEntries();

}  // namespace Korvo
