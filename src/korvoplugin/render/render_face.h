// Rendering one cube face of a camera with the host's current renderer.
#pragma once

#include <memory>

#include "host/bitmap.h"
#include "host/render.h"
#include "host/scene.h"

namespace Korvo {

constexpr int kCubeFacePixels = 1536;

// The bitmap description of one face: 1536 × 1536, square pixels, with alpha, of the given type.
BitmapInfo FaceBitmapSpec(int bitmapType);

// Host bitmaps are freed by DeleteThis.
struct BitmapDeleter {
    void operator()(Bitmap* bitmap) const { bitmap->DeleteThis(); }
};
using BitmapPtr = std::unique_ptr<Bitmap, BitmapDeleter>;

// A rendered face: the host bitmap and its description.
struct RenderedFace {
    BitmapPtr bitmap;
    BitmapInfo info;
};

// Turns the camera to the face, renders 1536 × 1536 through the current renderer and turns the
// camera back and closes the renderer, whatever the outcome (an exception included). Answers
// false when the renderer could not be opened, the render failed or progress asked to abort;
// nothing is left allocated then.
bool RenderCubeFace(INode* camera, int face, int bitmapType, RendProgressCallback* progress,
                    RenderedFace& rendered);

}  // namespace Korvo
