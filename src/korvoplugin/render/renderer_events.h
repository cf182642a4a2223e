// What differs between renderers inside the cube loop: whether each eye is rendered, what is set
// up before the first render and between the eyes, and how the faces are stitched.
#pragma once

#include <memory>

#include "host/render.h"

namespace Korvo {

// Stitch layouts: one row of twelve mirrored faces, or two rows of six (right eye above).
constexpr int kStitchStrip = 1;
constexpr int kStitchGrid = 3;

// The mono default: every hook does nothing.
class RendererEvents {
  public:
    virtual ~RendererEvents() = default;
    virtual void OnRunStart() {}
    virtual void OnRunEnd() {}
    virtual void OnBeforeFace(int face, int eye, bool stereo) {}
    virtual void OnAfterFace(int face, int eye, bool stereo) {}
    virtual bool IsStereo() { return false; }
    virtual int GetStitchLayout() { return kStitchStrip; }
};

// mental ray renders each eye through the KorvoStereo lens shader.
class MentalRayStereoEvents : public RendererEvents {
  public:
    // Installs the lens shader (creating it once per session) as the renderer's camera lens shader.
    void OnRunStart() override;
    // Switches the shader to the eye about to be rendered.
    void OnBeforeFace(int face, int eye, bool stereo) override;
    bool IsStereo() override { return true; }
    int GetStitchLayout() override { return kStitchGrid; }
};

// The hooks of the renderer's kind.
std::shared_ptr<RendererEvents> MakeRendererEvents(Renderer* renderer);

// The script texts the hooks run.
extern const MCHAR* const kLensShaderSetupScript;
extern const MCHAR* const kLeftEyeScript;
extern const MCHAR* const kRightEyeScript;

}  // namespace Korvo
