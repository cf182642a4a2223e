#include "resources/resource_text.h"

#include <map>
#include <mutex>

#include "host/win32_window.h"
#include "support/module_handle.h"

namespace Korvo {

const MCHAR* LoadResourceText(int id) {
    static MCHAR buffer[256];
    const HINSTANCE instance = PluginInstance();
    if (!instance) return nullptr;
    if (LoadStringW(instance, static_cast<UINT>(id), buffer, 256) <= 0) return nullptr;
    return buffer;
}

MSTR ResourceString(int id) {
    const MCHAR* text = LoadResourceText(id);
    return text ? MSTR(text) : MSTR();
}

const MCHAR* LastingResourceText(int id) {
    static std::mutex mutex;
    static std::map<int, MSTR> texts;  // nodes never move, so the pointers stay valid
    std::lock_guard lock(mutex);
    if (const auto it = texts.find(id); it != texts.end()) return it->second.c_str();
    const MCHAR* text = LoadResourceText(id);
    if (!text) return nullptr;
    return texts.emplace(id, text).first->second.c_str();
}

}  // namespace Korvo
