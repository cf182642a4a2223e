// The machine's registry, read from a JSON file (KorvoHost::RegistryFilePath()):
//
//   { "HKEY_LOCAL_MACHINE": { "Software\\Korvo\\3dsMax": { "version": "0.1.0", "cid": "…" } } }
//
// Under a root, each member names a key by its full path below the root and holds the key's
// values. A value is a string (REG_SZ, stored with its terminator), an integer (REG_DWORD), or an
// object {"type": "REG_SZ", "data": "text", "terminated": false} for a string stored without its
// terminator, as other programs sometimes write them. Key and value names ignore case.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "host/win32_platform.h"
#include "standalone_host/platform/host_environment.h"
#include "standalone_host/platform/utf8.h"

namespace {

constexpr DWORD kRegDword = 4;
constexpr const char* kLocalMachineName = "HKEY_LOCAL_MACHINE";

struct RegistryValue {
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
};

// Values by lower-case name.
using KeyValues = std::map<std::wstring, RegistryValue>;

struct OpenKey {
    std::wstring path;  // lower case, from the root's name on, parts joined with '\'
    KeyValues values;
};

std::mutex gKeysMutex;
std::map<const HKEY__*, std::unique_ptr<OpenKey>> gOpenKeys;

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring TrimSeparators(std::wstring_view path) {
    const size_t first = path.find_first_not_of(L'\\');
    if (first == std::wstring_view::npos) return {};
    const size_t last = path.find_last_not_of(L'\\');
    return std::wstring(path.substr(first, last - first + 1));
}

void Complain(const std::string& problem) {
    std::fprintf(stderr, "korvo: registry file %s: %s\n", KorvoHost::RegistryFilePath().c_str(),
                 problem.c_str());
}

std::vector<BYTE> StringData(const std::string& utf8, bool terminated) {
    std::wstring text = KorvoHost::FromUtf8(utf8);
    if (terminated) text.push_back(L'\0');
    const auto* bytes = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(bytes, bytes + text.size() * sizeof(wchar_t));
}

std::optional<RegistryValue> ParseValue(const nlohmann::json& json) {
    if (json.is_string()) return RegistryValue{REG_SZ, StringData(json.get<std::string>(), true)};
    if (json.is_number_integer()) {
        const auto number = json.get<std::int64_t>();
        if (number < 0 || number > 0xFFFFFFFFLL) return std::nullopt;
        const auto dword = static_cast<DWORD>(number);
        std::vector<BYTE> data(sizeof dword);
        std::memcpy(data.data(), &dword, sizeof dword);
        return RegistryValue{kRegDword, std::move(data)};
    }
    if (json.is_object() && json.value("type", "") == "REG_SZ" && json.contains("data") &&
        json["data"].is_string()) {
        const bool terminated = json.value("terminated", true);
        return RegistryValue{REG_SZ, StringData(json["data"].get<std::string>(), terminated)};
    }
    return std::nullopt;
}

// Finds the key (lower-case path from the root's name on) in the registry file. A key also exists
// when only keys below it are listed.
std::optional<KeyValues> ReadKey(const std::wstring& keyPath) {
    const std::filesystem::path file = KorvoHost::RegistryFilePath();
    std::ifstream in(file);
    if (!in) return std::nullopt;
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(in);
    } catch (const nlohmann::json::exception& e) {
        Complain(e.what());
        return std::nullopt;
    }
    if (!document.is_object()) {
        Complain("the top level must be an object of root keys");
        return std::nullopt;
    }

    std::optional<KeyValues> found;
    for (const auto& [rootName, keys] : document.items()) {
        if (!keys.is_object()) {
            Complain("root " + rootName + " must hold an object of keys");
            continue;
        }
        const std::wstring root = Lower(KorvoHost::FromUtf8(rootName));
        for (const auto& [keyName, values] : keys.items()) {
            const std::wstring trimmed = TrimSeparators(Lower(KorvoHost::FromUtf8(keyName)));
            const std::wstring path = trimmed.empty() ? root : root + L'\\' + trimmed;
            const bool exact = path == keyPath;
            if (!exact && !(path.size() > keyPath.size() && path.starts_with(keyPath) &&
                            path[keyPath.size()] == L'\\')) {
                continue;
            }
            if (!found) found.emplace();
            if (!exact) continue;
            if (!values.is_object()) {
                Complain("key " + keyName + " must hold an object of values");
                continue;
            }
            for (const auto& [valueName, value] : values.items()) {
                if (auto parsed = ParseValue(value)) {
                    (*found)[Lower(KorvoHost::FromUtf8(valueName))] = std::move(*parsed);
                } else {
                    Complain("value " + valueName + " of key " + keyName +
                             " is neither a string, a 32-bit integer nor a REG_SZ object");
                }
            }
        }
    }
    return found;
}

// The path of a root or of a key opened before; empty for anything else. Callers hold the lock.
std::wstring BasePath(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return Lower(KorvoHost::FromUtf8(kLocalMachineName));
    const auto it = gOpenKeys.find(key);
    return it == gOpenKeys.end() ? std::wstring() : it->second->path;
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, DWORD access, HKEY* result) {
    if (!result) return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    std::wstring path;
    {
        std::lock_guard lock(gKeysMutex);
        path = BasePath(key);
    }
    if (path.empty()) return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
    const std::wstring below = TrimSeparators(Lower(subKey ? subKey : L""));
    if (!below.empty()) path += L'\\' + below;

    std::optional<KeyValues> values = ReadKey(path);
    if (!values) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
    auto record = std::make_unique<OpenKey>(OpenKey{std::move(path), std::move(*values)});
    std::lock_guard lock(gKeysMutex);
    *result = reinterpret_cast<HKEY>(record.get());
    gOpenKeys.emplace(*result, std::move(record));
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize) {
    if (data && !dataSize) return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(gKeysMutex);
    const auto keyIt = gOpenKeys.find(key);
    if (keyIt == gOpenKeys.end()) return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
    const KeyValues& values = keyIt->second->values;
    const auto it = values.find(Lower(valueName ? valueName : L""));
    if (it == values.end()) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);

    const RegistryValue& value = it->second;
    const auto size = static_cast<DWORD>(value.data.size());
    if (type) *type = value.type;
    if (data) {
        const DWORD room = *dataSize;
        *dataSize = size;
        if (room < size) return static_cast<LSTATUS>(ERROR_MORE_DATA);
        std::copy(value.data.begin(), value.data.end(), data);
    } else if (dataSize) {
        *dataSize = size;
    }
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    std::lock_guard lock(gKeysMutex);
    return gOpenKeys.erase(key) ? ERROR_SUCCESS : static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
}
