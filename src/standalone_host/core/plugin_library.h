// A plug-in library loaded the way the host application loads one: by its seven exports and the
// class descriptors they hand out, nothing else.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/plugin.h"

namespace KorvoHost {

class PluginLibrary {
  public:
    // Loads the library, checks that it was built for this host and initialises it. On failure
    // answers null and says why in error.
    static std::unique_ptr<PluginLibrary> Load(const std::filesystem::path& file,
                                               std::string* error);
    // Shuts the library down and unloads it.
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::filesystem::path& File() const { return file_; }
    HMODULE Module() const { return module_; }
    const std::wstring& Description() const { return description_; }
    ULONG Version() const { return version_; }
    const std::vector<ClassDesc*>& Classes() const { return classes_; }

    ClassDesc* FindClass(SClass_ID superID, Class_ID classID) const;
    // The class of the super class with this internal name, or null.
    ClassDesc* FindClass(SClass_ID superID, std::wstring_view internalName) const;

  private:
    PluginLibrary() = default;

    std::filesystem::path file_;
    HMODULE module_ = nullptr;
    LibShutdownFn shutdown_ = nullptr;
    std::wstring description_;
    ULONG version_ = 0;
    std::vector<ClassDesc*> classes_;
};

}  // namespace KorvoHost
