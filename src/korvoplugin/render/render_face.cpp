#include "render/render_face.h"

#include "host/interface.h"
#include "render/face_geometry.h"

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
    const CameraTransformBackup backup = TransformCameraToFace(camera, face);

    Bitmap* bitmap = TheManager ? TheManager->Create(&info) : nullptr;
    if (!bitmap ||
        !ip->OpenCurRenderer(camera, nullptr, RENDTYPE_NORMAL, kCubeFacePixels, kCubeFacePixels)) {
        UndoCameraTransform(camera, backup.camera, backup.target);
        if (bitmap) {
            ip->CloseCurRenderer();
            bitmap->DeleteThis();
        }
        return false;
    }
    const int result = ip->CurRendererRenderFrame(0, bitmap, progress, 1.0f, nullptr, nullptr);
    UndoCameraTransform(camera, backup.camera, backup.target);
    ip->CloseCurRenderer();
    if (!result) {
        bitmap->DeleteThis();
        return false;
    }
    rendered.bitmap = bitmap;
    rendered.info = info;
    return true;
}

}  // namespace Korvo
