// The standalone host's core interface: the one Interface17 object the plug-in reaches through
// GetCOREInterface(). Scene, file and renderer-object calls go to the current scene; windows to
// the window manager; rendering to the renderer glue.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/interface.h"

namespace KorvoHost {

class Scene;
class PluginLibrary;
class RayTracer;
class HostScripting;

class HostInterface final : public Interface17 {
  public:
    HostInterface();
    ~HostInterface() override;

    // The scene the host has open (not owned); null before one is loaded.
    void SetScene(Scene* scene) {
        scene_ = scene;
        lastTracer_.reset();
    }
    Scene* CurrentScene() const { return scene_; }

    // Plug-in libraries whose classes the host offers (not owned).
    void AddLibrary(PluginLibrary* library) { libraries_.push_back(library); }
    void RemoveLibrary(PluginLibrary* library);
    // A class offered without a library (a plug-in linked into the program); not owned.
    void AddClass(ClassDesc* desc) { classes_.push_back(desc); }
    // The class whose internal name (the script name) is name, ignoring case, or null.
    ClassDesc* FindClassByName(std::wstring_view name);

    // The session's script engine; its globals last as long as this interface.
    HostScripting& Scripting() { return *scripting_; }
    // Frees what scripts and plug-ins made during the session and forgets the script globals
    // that held it. Call before the plug-ins are unloaded.
    void ReleaseSessionObjects();

    // Scene.
    IScene* GetScene() override;
    INode* GetRootNode() override;
    INode* GetINodeByName(const MCHAR* name) override;
    void MakeNameUnique(MSTR& name) override;
    void* CreateInstance(SClass_ID superID, Class_ID classID) override;
    INode* CreateObjectNode(Object* obj) override;
    INode* CreateObjectNode(Object* obj, const MCHAR* name) override;
    void DeleteNode(INode* node, BOOL redraw, BOOL overrideSlaves) override;
    ClassDesc* FindClass(SClass_ID superID, Class_ID classID) override;

    // Files.
    MSTR GetCurFileName() override;
    MSTR GetCurFilePath() override;
    BOOL FileSave() override;
    const MCHAR* GetDir(int which) override;

    // Rendering.
    Renderer* GetCurrentRenderer(bool createRendererIfItDoesntExist) override;
    int OpenCurRenderer(INode* camNode, ViewExp* view, RendType type, int w, int h) override;
    int CurRendererRenderFrame(TimeValue t, Bitmap* bm, RendProgressCallback* prog, float frameDur,
                               ViewParams* vp, RECT* regionRect) override;
    void CloseCurRenderer() override;
    void SetRenderCamera(INode* camera) override;
    int RenderFrame(TimeValue t, Bitmap* bm, RendProgressCallback* prog) override;

    // User interface.
    HWND GetMAXHWnd() override;
    HWND AddRollupPage(HINSTANCE instance, const MCHAR* dialogTemplate, DLGPROC proc,
                       const MCHAR* title, LPARAM param, DWORD flags, int category) override;
    void DeleteRollupPage(HWND page) override;
    void RollupMouseMessage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) override;
    void RegisterDlgWnd(HWND dialog) override;
    int UnRegisterDlgWnd(HWND dialog) override;
    void ReplacePrompt(const MCHAR* text) override;

    // What the host saw, for tests and front ends.
    struct RollupPage {
        HWND window;
        std::wstring title;
        int category;
    };
    // Samples per pixel along each axis of the renderers (1: one ray through each pixel centre).
    void SetRenderSamples(int samplesPerAxis) { renderSamples_ = samplesPerAxis; }
    // Whether pixels whose neighbourhood is flat keep one sample at their centre (the default)
    // or every pixel takes the whole grid of samples.
    void SetAdaptiveSamples(bool adaptive) { adaptiveSamples_ = adaptive; }
    // Whether the mental ray stand-in traces the rays a lens shader asks for in packets (the
    // default) or one by one as they are asked for; both draw the same pictures.
    void SetLensRaysInPackets(bool packets) { lensRaysInPackets_ = packets; }
    // The folder the renderers find shader libraries in: the loaded plug-in's folder.
    std::filesystem::path PluginFolder() const;
    // A broken renderer cannot be opened (OpenCurRenderer answers 0), as when its licence is gone.
    void SetRendererBroken(bool broken) { rendererBroken_ = broken; }
    // Why the last render could not be opened or run; empty after a render that worked.
    const std::string& LastRenderError() const { return lastRenderError_; }

    // The node the one-frame render looks through; null for none.
    INode* RenderCamera() const { return renderCamera_; }
    const std::vector<RollupPage>& RollupPages() const { return rollupPages_; }
    const std::vector<HWND>& RegisteredDialogs() const { return registeredDialogs_; }
    const std::wstring& Prompt() const { return prompt_; }
    int RollupMouseMessages() const { return rollupMouseMessages_; }

  private:
    Scene* scene_ = nullptr;
    std::vector<PluginLibrary*> libraries_;
    std::vector<ClassDesc*> classes_;
    std::unique_ptr<HostScripting> scripting_;
    std::vector<RollupPage> rollupPages_;
    std::vector<HWND> registeredDialogs_;
    std::wstring prompt_;
    std::wstring tempDir_;
    int rollupMouseMessages_ = 0;
    INode* renderCamera_ = nullptr;

    // The renderer between OpenCurRenderer and CloseCurRenderer.
    struct OpenRenderer;
    std::unique_ptr<OpenRenderer> open_;
    // The last tracer built and what it was built from. A cube of faces renders one scene six or
    // twelve times with only the camera turned: the next open reuses the tracer (its BVH and
    // Embree device) when the scene it would draw is the same, value for value.
    struct BuiltTracer;
    std::shared_ptr<const BuiltTracer> lastTracer_;
    int renderSamples_ = 2;
    bool adaptiveSamples_ = true;
    bool lensRaysInPackets_ = true;
    bool rendererBroken_ = false;
    std::string lastRenderError_;
};

// The interface GetCOREInterface() answers; null restores none. Not owned.
void SetCoreInterface(HostInterface* ip);
HostInterface* CurrentHostInterface();

}  // namespace KorvoHost
