#include "support/analytics.h"

#include <iterator>

#include "host/win32_platform.h"
#include "support/module_handle.h"

namespace Korvo {
namespace {

using SendHitFn = bool (*)(int category, int event, const wchar_t* id, const wchar_t* detail,
                           bool flag);

struct AnalyticsState {
    bool loadAttempted = false;
    bool disabled = false;
    // Kept loaded for the rest of the process: hits may come until the plug-in itself goes.
    HMODULE module = nullptr;
    SendHitFn sendHit = nullptr;
};

AnalyticsState gState;

// The analytics module lies in the folder of the plug-in's own file.
MSTR ModulePath() {
    const HINSTANCE plugin = PluginInstance();
    if (!plugin) return {};
    // Room for the longest path the file system takes; a path cut short would name another file.
    wchar_t buffer[4096];
    const DWORD length = GetModuleFileNameW(plugin, buffer, static_cast<DWORD>(std::size(buffer)));
    if (length == 0 || length >= std::size(buffer)) return {};
    const MSTR pluginFile(buffer, length);
    const size_t separator = pluginFile.find_last_of(L"/\\");
    if (separator == MSTR::npos) return {};
    return pluginFile.substr(0, separator) + L"/" + kAnalyticsModuleName;
}

void LoadAnalyticsModule() {
    gState.loadAttempted = true;
    const MSTR path = ModulePath();
    gState.module = path.empty() ? nullptr : LoadLibraryW(path.c_str());
    if (gState.module) {
        gState.sendHit = reinterpret_cast<SendHitFn>(GetProcAddress(gState.module, "SendHit"));
    }
    gState.disabled = gState.sendHit == nullptr;
}

}  // namespace

bool SendAnalyticsHit(std::int32_t category, AnalyticsEvent event, const MSTR& identifier,
                      const MCHAR* detail, bool flag) {
    if (!gState.loadAttempted) LoadAnalyticsModule();
    if (gState.disabled) return false;
    return gState.sendHit(category, static_cast<int>(event), identifier.c_str(), detail, flag);
}

}  // namespace Korvo
