// Modules are shared objects opened with dlopen. An HMODULE points at the host's record of a
// loaded file; loading the same file again answers the same record with one more reference, and
// the module's DllMain sees the attach and detach of the first load and the last free.
#include "standalone_host/platform/modules.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "host/win32_platform.h"
#include "standalone_host/platform/host_environment.h"
#include "standalone_host/platform/utf8.h"

namespace {

constexpr DWORD kErrorDllInitFailed = 1114;

using DllMainFn = BOOL (*)(HINSTANCE, DWORD, void*);

struct DlCloser {
    void operator()(void* handle) const { ::dlclose(handle); }
};
using DlHandle = std::unique_ptr<void, DlCloser>;

struct ModuleRecord {
    DlHandle handle;
    std::wstring path;
    int references = 0;
};

// DllMain may call back into the module functions (GetModuleFileNameW of itself is common), so
// the lock is recursive, like the loader lock it stands in for.
std::recursive_mutex gMutex;
std::vector<std::unique_ptr<ModuleRecord>> gModules;
thread_local std::string tLastLoadError;

HMODULE AsHandle(ModuleRecord* record) { return reinterpret_cast<HMODULE>(record); }

// The record of the running program; never freed.
ModuleRecord& Program() {
    static ModuleRecord program{DlHandle(::dlopen(nullptr, RTLD_NOW)),
                                KorvoHost::FromPath(KorvoHost::ProgramPath()), 1};
    return program;
}

ModuleRecord* Find(HMODULE module) {
    if (!module) return &Program();
    if (module == AsHandle(&Program())) return &Program();
    const auto it = std::find_if(gModules.begin(), gModules.end(), [&](const auto& record) {
        return AsHandle(record.get()) == module;
    });
    return it == gModules.end() ? nullptr : it->get();
}

std::wstring LoadedPath(void* handle) {
    link_map* map = nullptr;
    if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(map->l_name, error);
    return KorvoHost::FromPath(path.lexically_normal());
}

// Runs the module's entry point; a module without one agrees to everything.
bool CallDllMain(ModuleRecord& record, DWORD reason) {
    auto* entry = reinterpret_cast<DllMainFn>(::dlsym(record.handle.get(), "DllMain"));
    if (!entry) return true;
    try {
        return entry(AsHandle(&record), reason, nullptr) != FALSE;
    } catch (...) {
        return false;
    }
}

void Forget(ModuleRecord* record) {
    std::erase_if(gModules, [&](const auto& r) { return r.get() == record; });
}

}  // namespace

namespace KorvoHost {
std::string LastLoadError() { return tLastLoadError; }
}  // namespace KorvoHost

HMODULE LoadLibraryW(LPCWSTR fileName) {
    tLastLoadError.clear();
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        tLastLoadError = "no file name given";
        return nullptr;
    }
    DlHandle handle(::dlopen(KorvoHost::ToUtf8(fileName).c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!handle) {
        const char* why = ::dlerror();
        tLastLoadError = why ? why : "cannot load the module";
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }

    std::lock_guard lock(gMutex);
    for (const auto& record : gModules) {
        // dlopen answers the same handle for a file it has open; ours keeps the first reference.
        if (record->handle.get() == handle.get()) {
            ++record->references;
            return AsHandle(record.get());
        }
    }
    auto owned = std::make_unique<ModuleRecord>();
    owned->path = LoadedPath(handle.get());
    owned->handle = std::move(handle);
    owned->references = 1;
    ModuleRecord* record = owned.get();
    gModules.push_back(std::move(owned));

    if (!CallDllMain(*record, DLL_PROCESS_ATTACH)) {
        CallDllMain(*record, DLL_PROCESS_DETACH);
        Forget(record);
        tLastLoadError = "the module's DllMain refused to attach";
        SetLastError(kErrorDllInitFailed);
        return nullptr;
    }
    return AsHandle(record);
}

BOOL FreeLibrary(HMODULE module) {
    std::lock_guard lock(gMutex);
    ModuleRecord* record = module ? Find(module) : nullptr;
    if (!record) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (record == &Program()) return TRUE;
    if (--record->references == 0) {
        CallDllMain(*record, DLL_PROCESS_DETACH);
        Forget(record);
    }
    return TRUE;
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    std::lock_guard lock(gMutex);
    ModuleRecord* record = Find(module);
    if (!record) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = name ? ::dlsym(record->handle.get(), name) : nullptr;
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
    std::lock_guard lock(gMutex);
    if (!moduleName) return AsHandle(&Program());
    // Like the system, a bare file name matches a loaded module of that name in any folder.
    const std::wstring_view wanted(moduleName);
    const bool bare = wanted.find(L'/') == std::wstring_view::npos;
    for (const auto& record : gModules) {
        const std::wstring& path = record->path;
        const std::wstring_view name =
            bare ? std::wstring_view(path).substr(path.rfind(L'/') + 1) : std::wstring_view(path);
        if (name == wanted) return AsHandle(record.get());
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    std::lock_guard lock(gMutex);
    const ModuleRecord* record = Find(module);
    if (!record) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const std::wstring& path = record->path;
    // A path that does not fit is cut short and still ended by a NUL; the answer is then size.
    if (path.size() >= size) {
        std::copy_n(path.begin(), size - 1, buffer);
        buffer[size - 1] = L'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = L'\0';
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
}

BOOL DisableThreadLibraryCalls(HMODULE) { return TRUE; }

HRESULT CoInitializeEx(void*, DWORD) { return 0; }
void CoUninitialize() {}
