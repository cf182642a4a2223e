#include "korvo_plugin.h"

#include <array>

#include "host/win32_window.h"
#include "resources/resource.h"
#include "resources/resource_text.h"
#include "shell/workflow.h"
#include "support/host_boundary.h"
#include "support/module_handle.h"
#include "support/settings.h"
#include "support/text_format.h"

namespace Korvo {

KorvoPlugin::KorvoPlugin() {
    // The outcome of either initialisation does not change what the plug-in does.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LINK_CLASS};
    InitCommonControlsEx(&controls);
    LoadSettings();
}

KorvoPlugin::~KorvoPlugin() {
    CoUninitialize();
    ClearCameras(*this);
}

void KorvoPlugin::BeginEditParams(Interface* ip, IUtil*) {
    // A copy: the page's initialisation looks up another text while the host takes this one.
    const MSTR title = ResourceString(IDS_ROLLUP_TITLE);
    panel = ip->AddRollupPage(PluginInstance(), MAKEINTRESOURCEW(IDD_PANEL), PanelDialogProc,
                              title.c_str(), 0, 0, ROLLUP_CAT_STANDARD);
}

void KorvoPlugin::EndEditParams(Interface* ip, IUtil*) {
    ip->DeleteRollupPage(panel);
    panel = nullptr;
}

int KorvoPlugin::callback(INode* node) {
    Object* object = node ? node->GetObjectRef() : nullptr;
    if (object && object->SuperClassID() == GEN_DERIVOB_CLASS_ID)
        object = static_cast<IDerivedObject*>(object)->GetObjRef();
    if (object && object->SuperClassID() == CAMERA_CLASS_ID) {
        // Owned by the camera list; ClearCameras frees it.
        CameraData* camera = new CameraData{node, MSTR(), false};
        cameras.Append(1, &camera, 50);
    }
    return TREE_CONTINUE;
}

KorvoPlugin& GetKorvoPlugin() {
    static KorvoPlugin plugin;
    return plugin;
}

void* KorvoPluginClassDesc::Create(BOOL) { return static_cast<UtilityObj*>(&GetKorvoPlugin()); }
const MCHAR* KorvoPluginClassDesc::ClassName() { return LastingResourceText(IDS_CLASS_NAME); }
const MCHAR* KorvoPluginClassDesc::Category() { return LastingResourceText(IDS_CATEGORY); }
HINSTANCE KorvoPluginClassDesc::HInstance() { return PluginInstance(); }

ClassDesc2* GetKorvoPluginClassDesc() {
    static KorvoPluginClassDesc desc;
    return &desc;
}

static INT_PTR PanelDialogProcBody(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            KorvoPlugin& plugin = GetKorvoPlugin();
            plugin.Init(window);
            const MSTR label =
                Format(ResourceString(IDS_VERSION_LABEL), GetSetting(SettingKey::Version));
            // The label is formatted into a buffer of 260 characters.
            SetWindowTextW(GetDlgItem(window, IDC_VERSION), label.substr(0, 259).c_str());
            return TRUE;
        }
        case WM_DESTROY:
            GetKorvoPlugin().Destroy(window);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_GENERATE) generate(GetKorvoPlugin());
            return TRUE;
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
            if (Interface* ip = GetCOREInterface())
                ip->RollupMouseMessage(window, message, wParam, lParam);
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK PanelDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardedDialogProc<PanelDialogProcBody>(window, message, wParam, lParam);
}

}  // namespace Korvo
