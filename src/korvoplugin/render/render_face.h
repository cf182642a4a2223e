// Rendering one cube face of a camera with the host's current renderer.
#pragma once

#include "host/bitmap.h"
#include "host/render.h"
#include "host/scene.h"

namespace Korvo {

constexpr int kCubeFacePixels = 1536;

// The bitmap description of one face: 1536 × 1536, square pixels, with alpha, of the given type.
BitmapInfo FaceBitmapSpec(int bitmapType);

// A rendered face: the host bitmap (the caller frees it with DeleteThis) and its description.
struct RenderedFace {
    Bitmap* bitmap = nullptr;
    BitmapInfo info;
};

// Turns the camera to the face, renders 1536 × 1536 through the current renderer and turns the
// camera back, whatever the outcome. Answers false when the renderer could not be opened, the
// render failed or progress asked to abort; nothing is left allocated then.
bool RenderCubeFace(INode* camera, int face, int bitmapType, RendProgressCallback* progress,
                    RenderedFace& rendered);

}  // namespace Korvo
