// Rendering through the host: renderers and the progress callback they call.
#pragma once

#include "host/max_types.h"
#include "host/scene.h"

class ViewExp;
class ViewParams;
struct RECT;

enum RendType {
    RENDTYPE_NORMAL = 0,
    RENDTYPE_REGION = 1,
    RENDTYPE_BLOWUP = 2,
    RENDTYPE_SELECT = 3
};

// Answers of RendProgressCallback::Progress.
constexpr int RENDPROG_ABORT = 0;
constexpr int RENDPROG_CONTINUE = 1;

// The renderer calls these while it renders a frame, on the thread that asked for the frame.
class RendProgressCallback {
  public:
    virtual ~RendProgressCallback() = default;
    virtual void SetTitle(const MCHAR* title) = 0;
    // Answers RENDPROG_CONTINUE to go on, RENDPROG_ABORT to stop the frame.
    virtual int Progress(int done, int total) = 0;
    virtual void SetCurField(int which) {}
    virtual void SetSceneStats(int lights, int rayTraced, int shadowed, int objects, int faces) {}
    virtual void SetStep(int current, int total) {}
};

class Renderer : public ReferenceTarget {
  public:
    enum Requirement {
        kRequirement_NoPauseSupport = 0,
        kRequirement_NoVFB = 1,
        kRequirement_DontSaveRenderOutput = 2,
        kRequirement_Wants32bitFPOutput = 3,
    };
    SClass_ID SuperClassID() override { return RENDERER_CLASS_ID; }
    virtual bool HasRequirement(Requirement requirement) = 0;
};
