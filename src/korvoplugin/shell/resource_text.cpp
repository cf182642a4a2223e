#include "shell/resource_text.h"

#include "host/win32.h"
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

}  // namespace Korvo
