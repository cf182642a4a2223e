#include "support/settings.h"

#include <algorithm>
#include <iterator>

#include "host/win32_platform.h"

namespace Korvo {
namespace {

constexpr const MCHAR* kSettingsKey = L"Software\\Korvo\\3dsMax";

std::vector<SettingsEntry>& Store() {
    static std::vector<SettingsEntry> store;
    return store;
}

class RegistryKey {
  public:
    RegistryKey(HKEY root, const MCHAR* path) {
        if (RegOpenKeyExW(root, path, 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() {
        if (key_) RegCloseKey(key_);
    }
    HKEY Get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

// Reads a string value into a buffer of 256 characters, terminator included. The stored data need
// not end with a terminator: the text stops at the first NUL or at the end of what was read,
// never beyond.
MSTR ReadString(HKEY key, const MCHAR* name) {
    wchar_t buffer[256];
    DWORD size = sizeof(buffer);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    const wchar_t* begin = buffer;
    const wchar_t* end = begin + std::min<size_t>(size / sizeof(wchar_t), std::size(buffer));
    return MSTR(begin, std::find(begin, end, L'\0'));
}

}  // namespace

void LoadSettings() {
    std::vector<SettingsEntry>& store = Store();
    store.clear();
    const RegistryKey key(HKEY_LOCAL_MACHINE, kSettingsKey);
    if (!key.Get()) return;
    store.push_back({SettingKey::Cid, ReadString(key.Get(), L"cid")});
    store.push_back({SettingKey::Version, ReadString(key.Get(), L"version")});
}

MSTR GetSetting(SettingKey key) {
    for (const SettingsEntry& entry : Store()) {
        if (entry.key == key) return entry.value;
    }
    return {};
}

const std::vector<SettingsEntry>& SettingsEntries() { return Store(); }

}  // namespace Korvo
