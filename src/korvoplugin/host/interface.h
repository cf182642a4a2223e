// The host's core interface: scene, files, rendering and the main window's user interface.
#pragma once

#include "host/bitmap.h"
#include "host/max_types.h"
#include "host/render.h"
#include "host/scene.h"
#include "host/win32_platform.h"

class ClassDesc;

// Host directory ids for Interface::GetDir.
constexpr int APP_TEMP_DIR = 29;

// Rollup categories.
constexpr int ROLLUP_CAT_STANDARD = 4000;

// The utility panel's owner; utilities may ask it to close them.
class IUtil {
  public:
    virtual ~IUtil() = default;
    virtual void CloseUtility() = 0;
};

// The host's user-interface colours.
class IColorManager {
  public:
    enum ColorId { kBackground = 0, kText = 1 };
    virtual ~IColorManager() = default;
    virtual COLORREF GetColor(int id) = 0;
};
IColorManager* GetColorManager();

class Interface {
  public:
    virtual ~Interface() = default;

    // ---- Scene --------------------------------------------------------------------------------
    virtual IScene* GetScene() = 0;
    virtual INode* GetRootNode() = 0;
    virtual INode* GetINodeByName(const MCHAR* name) = 0;
    // Changes name into one that no node of the scene has (it may append digits).
    virtual void MakeNameUnique(MSTR& name) = 0;
    // A new object of the class, or null when the host knows no such class.
    virtual void* CreateInstance(SClass_ID superID, Class_ID classID) = 0;
    virtual INode* CreateObjectNode(Object* obj) = 0;
    virtual INode* CreateObjectNode(Object* obj, const MCHAR* name) = 0;
    virtual void DeleteNode(INode* node, BOOL redraw = TRUE, BOOL overrideSlaves = FALSE) = 0;
    // The class descriptor the host holds for a class, or null.
    virtual ClassDesc* FindClass(SClass_ID superID, Class_ID classID) = 0;

    // ---- Files --------------------------------------------------------------------------------
    // Name of the current scene file ("room.max"), empty when the scene was never saved.
    virtual MSTR GetCurFileName() = 0;
    // Full path of the current scene file, empty when the scene was never saved.
    virtual MSTR GetCurFilePath() = 0;
    // Saves the scene under its current name (asking for one when it has none).
    virtual BOOL FileSave() = 0;
    virtual const MCHAR* GetDir(int which) = 0;

    // ---- Rendering ----------------------------------------------------------------------------
    // The current production renderer; with the flag set the host creates it if there is none.
    virtual Renderer* GetCurrentRenderer(bool createRendererIfItDoesntExist = true) = 0;
    // Opens the current renderer for frames of w × h seen through camNode; answers 0 on failure.
    virtual int OpenCurRenderer(INode* camNode, ViewExp* view, RendType type = RENDTYPE_NORMAL,
                                int w = 0, int h = 0) = 0;
    // Renders one frame into bm; answers 0 when it failed or prog asked to abort.
    virtual int CurRendererRenderFrame(TimeValue t, Bitmap* bm,
                                       RendProgressCallback* prog = nullptr, float frameDur = 1.0f,
                                       ViewParams* vp = nullptr, RECT* regionRect = nullptr) = 0;
    virtual void CloseCurRenderer() = 0;

    // ---- User interface -----------------------------------------------------------------------
    virtual HWND GetMAXHWnd() = 0;
    // Adds a page made from a dialog template to the command panel; answers the page's window.
    virtual HWND AddRollupPage(HINSTANCE instance, const MCHAR* dialogTemplate, DLGPROC proc,
                               const MCHAR* title, LPARAM param = 0, DWORD flags = 0,
                               int category = ROLLUP_CAT_STANDARD) = 0;
    virtual void DeleteRollupPage(HWND page) = 0;
    // Lets the command panel scroll when the mouse drags over a page.
    virtual void RollupMouseMessage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // Dialogs registered here get their messages routed by the host while they exist.
    virtual void RegisterDlgWnd(HWND dialog) = 0;
    virtual int UnRegisterDlgWnd(HWND dialog) = 0;
    // Text of the prompt line under the viewports.
    virtual void ReplacePrompt(const MCHAR* text) = 0;
};

// Later interface versions add operations and keep everything above.
class Interface17 : public Interface {
  public:
    // The node the one-frame render looks through; null for the active view.
    virtual void SetRenderCamera(INode* camera) = 0;
    // Renders one frame with the current render settings into bm; answers 0 on failure.
    virtual int RenderFrame(TimeValue t, Bitmap* bm, RendProgressCallback* prog = nullptr) = 0;
};

Interface* GetCOREInterface();
// Centres a window on another one.
BOOL CenterWindow(HWND window, HWND parent);
Interface17* GetCOREInterface17();
