#include "standalone_host/core/host_app.h"

#include "standalone_host/platform/host_environment.h"
#include "standalone_host/scene/scene.h"
#include "standalone_host/scene/scene_file.h"

namespace KorvoHost {

// The command panel's utility list: it closes the open utility when asked.
class HostApp::UtilityPanel final : public IUtil {
  public:
    explicit UtilityPanel(HostApp& app) : app_(app) {}
    void CloseUtility() override { app_.CloseUtility(); }

  private:
    HostApp& app_;
};

std::filesystem::path DefaultPluginFile() {
    return ProgramPath().parent_path().parent_path() / "lib" / "korvo" / "KorvoPlugin.so";
}

HostApp::HostApp(HostOptions options) : options_(std::move(options)) {
    if (!options_.registryFile.empty()) SetRegistryFilePath(options_.registryFile);
    if (!options_.tempDirectory.empty()) SetTempDirectory(options_.tempDirectory);
    PublishAnalyticsLogPath();
    SetCoreInterface(&core_);
    utilityPanel_ = std::make_unique<UtilityPanel>(*this);
}

HostApp::~HostApp() {
    CloseUtility();
    core_.ReleaseSessionObjects();
    if (plugin_) core_.RemoveLibrary(plugin_.get());
    plugin_.reset();
    core_.SetScene(nullptr);
    scene_.reset();
    SetCoreInterface(nullptr);
}

bool HostApp::LoadPlugin(std::string* error) {
    const auto file = options_.pluginFile.empty() ? DefaultPluginFile() : options_.pluginFile;
    plugin_ = PluginLibrary::Load(file, error);
    if (!plugin_) return false;
    core_.AddLibrary(plugin_.get());
    return true;
}

bool HostApp::OpenScene(const std::filesystem::path& file, std::string* error) {
    SceneLoadResult loaded = LoadSceneFile(file);
    if (!loaded.scene) {
        if (error) *error = loaded.error;
        return false;
    }
    std::unique_ptr<Scene> scene = std::move(loaded.scene);
    CloseUtility();
    core_.SetScene(scene.get());
    scene_ = std::move(scene);
    return true;
}

HWND HostApp::OpenUtility(std::wstring_view internalName, std::string* error) {
    CloseUtility();
    ClassDesc* desc = plugin_ ? plugin_->FindClass(UTILITY_CLASS_ID, internalName) : nullptr;
    if (!desc) {
        if (error) *error = "the plug-in offers no such utility";
        return nullptr;
    }
    utility_ = static_cast<UtilityObj*>(desc->Create(FALSE));
    if (!utility_) {
        if (error) *error = "the plug-in could not create its utility";
        return nullptr;
    }
    const size_t before = core_.RollupPages().size();
    utility_->BeginEditParams(&core_, utilityPanel_.get());
    return core_.RollupPages().size() > before ? core_.RollupPages().back().window : nullptr;
}

void HostApp::CloseUtility() {
    if (!utility_) return;
    UtilityObj* utility = utility_;
    utility_ = nullptr;
    utility->EndEditParams(&core_, utilityPanel_.get());
    utility->DeleteThis();
}

}  // namespace KorvoHost
