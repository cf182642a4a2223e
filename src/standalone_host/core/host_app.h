// The standalone host application: its environment, the core interface, the loaded plug-in and
// the open scene. The korvo command and the end-to-end tests each run one.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "host/plugin.h"
#include "standalone_host/core/host_interface.h"
#include "standalone_host/core/plugin_library.h"

namespace KorvoHost {

class Scene;

struct HostOptions {
    std::filesystem::path pluginFile;     // empty: DefaultPluginFile()
    std::filesystem::path registryFile;   // empty: the installation's registry file
    std::filesystem::path tempDirectory;  // empty: a per-user folder under the system's temp folder
};

// <folder of the running program>/../lib/korvo/KorvoPlugin.so
std::filesystem::path DefaultPluginFile();

class HostApp {
  public:
    explicit HostApp(HostOptions options = {});
    ~HostApp();
    HostApp(const HostApp&) = delete;
    HostApp& operator=(const HostApp&) = delete;

    // Loads the plug-in library as the host application does at start-up.
    bool LoadPlugin(std::string* error);
    PluginLibrary* Plugin() { return plugin_.get(); }

    // Opens a scene file; the previous scene is closed.
    bool OpenScene(const std::filesystem::path& file, std::string* error);
    Scene* CurrentScene() { return scene_.get(); }

    HostInterface& Core() { return core_; }

    // Opens the plug-in's utility in the command panel (the user picks it from the utility list)
    // and answers its page, or null with the reason in error.
    HWND OpenUtility(std::wstring_view internalName, std::string* error);
    void CloseUtility();

  private:
    HostOptions options_;
    HostInterface core_;
    std::unique_ptr<Scene> scene_;
    std::unique_ptr<PluginLibrary> plugin_;
    UtilityObj* utility_ = nullptr;
    class UtilityPanel;
    std::unique_ptr<UtilityPanel> utilityPanel_;
};

}  // namespace KorvoHost
