// The utility plug-in: the one utility object of the process and its class descriptor.
#pragma once

#include "host/interface.h"
#include "host/plugin.h"
#include "host/scene.h"
#include "host/tab.h"
#include "shell/run_state.h"

namespace Korvo {

constexpr Class_ID kKorvoPluginClassID{0x505201BD, 0x5A582925};

// The workflow object. Exactly one exists per process, created on first use (GetKorvoPlugin) and
// destroyed when the library unloads; the host's DeleteThis leaves it alive. The run's fields
// are its RunState, which the back ends take.
class KorvoPlugin : public UtilityObj, public ITreeEnumProc, public RunState {
  public:
    KorvoPlugin();
    ~KorvoPlugin() override;
    KorvoPlugin(const KorvoPlugin&) = delete;
    KorvoPlugin& operator=(const KorvoPlugin&) = delete;

    // UtilityObj: the user opens and closes the utility.
    void BeginEditParams(Interface* ip, IUtil* iu) override;
    void EndEditParams(Interface* ip, IUtil* iu) override;
    void SelectionSetChanged(Interface* ip, IUtil* iu) override {}
    void DeleteThis() override {}
    void SetStartupParam(MSTR param) override {}

    // Called by the panel's window procedure.
    virtual void Init(HWND panelWindow) {}
    virtual void Destroy(HWND panelWindow) {}

    // ITreeEnumProc: collects the scene's cameras.
    int callback(INode* node) override;

    HWND panel = nullptr;
    HWND cameraDialog = nullptr;
    HWND cameraListView = nullptr;
};

// The one utility object, created on first use (thread-safe).
KorvoPlugin& GetKorvoPlugin();

class KorvoPluginClassDesc : public ClassDesc2 {
  public:
    int IsPublic() override { return 1; }
    void* Create(BOOL loading = FALSE) override;
    const MCHAR* ClassName() override;
    SClass_ID SuperClassID() override { return UTILITY_CLASS_ID; }
    Class_ID ClassID() override { return kKorvoPluginClassID; }
    const MCHAR* Category() override;
    const MCHAR* InternalName() override { return L"KorvoPlugin"; }
    HINSTANCE HInstance() override;
    DWORD InitialRollupPageState() override { return 0x7FFFFFFF; }
};

// The descriptor, created on first use (thread-safe).
ClassDesc2* GetKorvoPluginClassDesc();

// The panel's window procedure (dialog 101).
INT_PTR CALLBACK PanelDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace Korvo
