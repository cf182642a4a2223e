#include "standalone_host/core/plugin_library.h"

#include "standalone_host/platform/utf8.h"

namespace KorvoHost {
namespace {

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(GetProcAddress(module, name));
}

bool Fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return false;
}

}  // namespace

std::unique_ptr<PluginLibrary> PluginLibrary::Load(const std::filesystem::path& file,
                                                   std::string* error) {
    const std::string where = file.string() + ": ";
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        Fail(error, where + "no such plug-in file");
        return nullptr;
    }
    std::unique_ptr<PluginLibrary> library(new PluginLibrary());
    library->file_ = std::filesystem::absolute(file, ec);
    library->module_ = LoadLibraryW(FromPath(library->file_).c_str());
    if (!library->module_) {
        Fail(error, where + "cannot be loaded as a plug-in library (error " +
                        std::to_string(GetLastError()) + ")");
        return nullptr;
    }

    const auto description = Export<LibDescriptionFn>(library->module_, "LibDescription");
    const auto numberClasses = Export<LibNumberClassesFn>(library->module_, "LibNumberClasses");
    const auto classDesc = Export<LibClassDescFn>(library->module_, "LibClassDesc");
    const auto version = Export<LibVersionFn>(library->module_, "LibVersion");
    const auto initialize = Export<LibInitializeFn>(library->module_, "LibInitialize");
    if (!description || !numberClasses || !classDesc || !version) {
        Fail(error, where + "is not a plug-in library (it lacks the library exports)");
        return nullptr;
    }

    // Libraries are compatible when they were built for the same release of the host.
    library->version_ = version();
    if ((library->version_ >> 16) != MAX_RELEASE) {
        Fail(error, where + "was built for another release of the host (version " +
                        std::to_string(library->version_ >> 16) + ", this host is " +
                        std::to_string(MAX_RELEASE) + ")");
        return nullptr;
    }
    if (initialize && !initialize()) {
        Fail(error, where + "refused to initialise");
        return nullptr;
    }
    // Shut down at unload only what initialised.
    library->shutdown_ = Export<LibShutdownFn>(library->module_, "LibShutdown");
    if (const MCHAR* text = description()) library->description_ = text;
    const int count = numberClasses();
    for (int i = 0; i < count; ++i)
        if (ClassDesc* desc = classDesc(i)) library->classes_.push_back(desc);
    return library;
}

PluginLibrary::~PluginLibrary() {
    if (!module_) return;
    if (shutdown_) shutdown_();
    FreeLibrary(module_);
}

ClassDesc* PluginLibrary::FindClass(SClass_ID superID, Class_ID classID) const {
    for (ClassDesc* desc : classes_)
        if (desc->SuperClassID() == superID && desc->ClassID() == classID) return desc;
    return nullptr;
}

ClassDesc* PluginLibrary::FindClass(SClass_ID superID, std::wstring_view internalName) const {
    for (ClassDesc* desc : classes_) {
        const MCHAR* name = desc->InternalName();
        if (desc->SuperClassID() == superID && name && internalName == name) return desc;
    }
    return nullptr;
}

}  // namespace KorvoHost
