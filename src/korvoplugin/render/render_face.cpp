#include "render/render_face.h"

#include "host/interface.h"
#include "render/face_geometry.h"
#include "support/scope_exit.h"

namespace Korvo {

BitmapInfo FaceBitmapSpec(int bitmapType) {
    BitmapInfo info;
    info.SetWidth(kCubeFacePixels);
    info.SetHeight(kCubeFacePixels);
    info.SetAspect(1.0f);
    info.SetFlags(MAP_HAS_ALPHA);
    info.SetType(bitmapType);
    return info;
}

bool RenderCubeFace(INode* camera, int face, int bitmapType, RendProgressCallback* progress,
                    RenderedFace& rendered) {
    Interface* ip = GetCOREInterface();
    if (!ip || !camera) return false;
    BitmapInfo info = FaceBitmapSpec(bitmapType);
    BitmapPtr bitmap;
    bool closeRenderer = false;
    const CameraTransformBackup backup = TransformCameraToFace(camera, face);
    // The camera turns back before the renderer closes, on every way out.
    const ScopeExit restore([&] {
        UndoCameraTransform(camera, backup.camera, backup.target);
        if (closeRenderer) ip->CloseCurRenderer();
    });

    bitmap.reset(TheManager ? TheManager->Create(&info) : nullptr);
    if (!bitmap) return false;
    closeRenderer = true;
    if (!ip->OpenCurRenderer(camera, nullptr, RENDTYPE_NORMAL, kCubeFacePixels, kCubeFacePixels))
        return false;
    if (!ip->CurRendererRenderFrame(0, bitmap.get(), progress, 1.0f, nullptr, nullptr))
        return false;
    rendered.bitmap = std::move(bitmap);
    rendered.info = info;
    return true;
}

}  // namespace Korvo
