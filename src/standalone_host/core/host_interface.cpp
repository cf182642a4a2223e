#include "standalone_host/core/host_interface.h"

#include <algorithm>

#include "standalone_host/core/host_app.h"
#include "standalone_host/core/host_objects.h"
#include "standalone_host/core/open_renderer.h"
#include "standalone_host/core/plugin_library.h"
#include "standalone_host/core/scripting.h"
#include "standalone_host/platform/host_environment.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/scene/scene.h"
#include "standalone_host/script/script_parser.h"
#include "standalone_host/windows/front_end.h"
#include "standalone_host/windows/window_manager.h"

namespace KorvoHost {
namespace {
HostInterface* gInterface = nullptr;
}  // namespace

class HostColors final : public IColorManager {
  public:
    COLORREF GetColor(int id) override {
        // The host's dark interface: grey background, light text.
        return id == kText ? RGB(220, 220, 220) : RGB(68, 68, 68);
    }
};

void SetCoreInterface(HostInterface* ip) { gInterface = ip; }
HostInterface* CurrentHostInterface() { return gInterface; }

HostInterface::HostInterface() : scripting_(std::make_unique<HostScripting>(*this)) {}
HostInterface::~HostInterface() {
    if (gInterface == this) gInterface = nullptr;
}

std::filesystem::path HostInterface::PluginFolder() const {
    for (const PluginLibrary* library : libraries_) return library->File().parent_path();
    return DefaultPluginFile().parent_path();
}

void HostInterface::ReleaseSessionObjects() {
    scripting_->Runner().ClearGlobals();
    ReleaseHostObjects();
}

ClassDesc* HostInterface::FindClassByName(std::wstring_view name) {
    auto matches = [&](ClassDesc* desc) {
        const MCHAR* internalName = desc ? desc->InternalName() : nullptr;
        return internalName && SameName(internalName, name);
    };
    for (PluginLibrary* library : libraries_)
        for (ClassDesc* desc : library->Classes())
            if (matches(desc)) return desc;
    for (ClassDesc* desc : classes_)
        if (matches(desc)) return desc;
    return nullptr;
}

void HostInterface::RemoveLibrary(PluginLibrary* library) {
    libraries_.erase(std::remove(libraries_.begin(), libraries_.end(), library), libraries_.end());
}

ClassDesc* HostInterface::FindClass(SClass_ID superID, Class_ID classID) {
    for (PluginLibrary* library : libraries_)
        if (ClassDesc* desc = library->FindClass(superID, classID)) return desc;
    return nullptr;
}

IScene* HostInterface::GetScene() { return scene_; }
INode* HostInterface::GetRootNode() { return scene_ ? scene_->RootNode() : nullptr; }

INode* HostInterface::GetINodeByName(const MCHAR* name) {
    return scene_ && name ? scene_->FindNode(name) : nullptr;
}

void HostInterface::MakeNameUnique(MSTR& name) {
    if (scene_) scene_->MakeNameUnique(name);
}

void* HostInterface::CreateInstance(SClass_ID superID, Class_ID classID) {
    // The host's own classes first, then those of the loaded plug-ins.
    if (scene_)
        if (void* object = scene_->CreateInstance(superID, classID)) return object;
    ClassDesc* desc = FindClass(superID, classID);
    return desc ? desc->Create(FALSE) : nullptr;
}

INode* HostInterface::CreateObjectNode(Object* obj) { return CreateObjectNode(obj, nullptr); }

INode* HostInterface::CreateObjectNode(Object* obj, const MCHAR* name) {
    return scene_ ? scene_->CreateObjectNode(obj, name) : nullptr;
}

void HostInterface::DeleteNode(INode* node, BOOL, BOOL) {
    if (scene_) scene_->DeleteNode(node);
}

MSTR HostInterface::GetCurFileName() { return scene_ ? scene_->CurFileName() : MSTR(); }
MSTR HostInterface::GetCurFilePath() { return scene_ ? scene_->CurFilePath() : MSTR(); }

BOOL HostInterface::FileSave() {
    std::string error;
    return scene_ && scene_->Save(error);
}

Renderer* HostInterface::GetCurrentRenderer(bool createRendererIfItDoesntExist) {
    return scene_ ? scene_->CurrentRenderer(createRendererIfItDoesntExist) : nullptr;
}

const MCHAR* HostInterface::GetDir(int which) {
    if (which != APP_TEMP_DIR) return L"";
    tempDir_ = FromPath(TempDirectory());
    return tempDir_.c_str();
}

HWND HostInterface::GetMAXHWnd() { return WindowManager::Instance().MainWindow(); }

HWND HostInterface::AddRollupPage(HINSTANCE instance, const MCHAR* dialogTemplate, DLGPROC proc,
                                  const MCHAR* title, LPARAM param, DWORD, int category) {
    // The title is copied before the page initialises: it may live in a buffer the page's own
    // initialisation reuses.
    std::wstring pageTitle = title ? title : L"";
    auto& windows = WindowManager::Instance();
    const HWND page = windows.CreateDialogWindow(instance, dialogTemplate, windows.CommandPanel(),
                                                 proc, param, false, WindowKind::Panel);
    if (page) rollupPages_.push_back({page, std::move(pageTitle), category});
    return page;
}

void HostInterface::DeleteRollupPage(HWND page) {
    rollupPages_.erase(std::remove_if(rollupPages_.begin(), rollupPages_.end(),
                                      [page](const RollupPage& p) { return p.window == page; }),
                       rollupPages_.end());
    DestroyWindow(page);
}

void HostInterface::RollupMouseMessage(HWND, UINT, WPARAM, LPARAM) { ++rollupMouseMessages_; }

void HostInterface::RegisterDlgWnd(HWND dialog) { registeredDialogs_.push_back(dialog); }

int HostInterface::UnRegisterDlgWnd(HWND dialog) {
    const auto it = std::find(registeredDialogs_.begin(), registeredDialogs_.end(), dialog);
    if (it == registeredDialogs_.end()) return FALSE;
    registeredDialogs_.erase(it);
    return TRUE;
}

void HostInterface::ReplacePrompt(const MCHAR* text) {
    prompt_ = text ? text : L"";
    CurrentFrontEnd().PromptChanged(prompt_);
}

}  // namespace KorvoHost

Interface* GetCOREInterface() { return KorvoHost::CurrentHostInterface(); }
Interface17* GetCOREInterface17() { return KorvoHost::CurrentHostInterface(); }

BOOL CenterWindow(HWND window, HWND) { return IsWindow(window); }

IColorManager* GetColorManager() {
    static KorvoHost::HostColors colors;
    return &colors;
}

namespace KorvoHost {}  // namespace KorvoHost

double GetMasterScale(int type) {
    KorvoHost::HostInterface* ip = KorvoHost::CurrentHostInterface();
    KorvoHost::Scene* scene = ip ? ip->CurrentScene() : nullptr;
    return scene ? scene->MasterScale(type) : 1.0;
}
