// The host's renderers: every renderer kind draws through the standalone host's ray tracer.
#include <cmath>

#include "host/interface.h"
#include "standalone_host/core/bitmaps.h"
#include "standalone_host/core/host_interface.h"
#include "standalone_host/core/open_renderer.h"
#include "standalone_host/raytracer/ray_tracer.h"
#include "standalone_host/scene/scene.h"
#include "standalone_host/scene/tracer_input.h"

namespace KorvoHost {

namespace {

Vec3 ToVec3(const Point3& p) { return {p.x, p.y, p.z}; }

CameraObject* CameraOf(INode* node) {
    Object* object = node ? node->EvalWorldState(0, TRUE).obj : nullptr;
    return object && object->SuperClassID() == CAMERA_CLASS_ID ? static_cast<CameraObject*>(object)
                                                               : nullptr;
}

// The camera's view as the tracer takes it. An orthographic lens is drawn in perspective.
PinholeCamera ViewOf(INode* node) {
    const Matrix3 tm = node->GetNodeTM(0);
    PinholeCamera view;
    view.cameraToWorld = {ToVec3(tm.GetRow(0)), ToVec3(tm.GetRow(1)), ToVec3(tm.GetRow(2)),
                          ToVec3(tm.GetTrans())};
    const float fov = CameraOf(node)->GetFOV(0);
    constexpr float kMinFov = 1e-3f, kMaxFov = 3.1f;
    view.horizontalFov = std::isfinite(fov) ? std::fmin(std::fmax(fov, kMinFov), kMaxFov) : HALFPI;
    return view;
}

}  // namespace

int HostInterface::OpenCurRenderer(INode* camNode, ViewExp*, RendType, int w, int h) {
    CloseCurRenderer();
    lastRenderError_.clear();
    if (!scene_) {
        lastRenderError_ = "no scene is open";
        return 0;
    }
    if (rendererBroken_) {
        lastRenderError_ = "the renderer is broken";
        return 0;
    }
    if (!CameraOf(camNode) || w <= 0 || h <= 0) {
        lastRenderError_ = "the render needs a camera node and a size";
        return 0;
    }
    auto open = std::make_unique<OpenRenderer>();
    open->camera = camNode;
    open->width = w;
    open->height = h;
    open->tracer = RayTracer::Create(MakeTracerScene(*scene_), lastRenderError_);
    if (!open->tracer) return 0;
    open_ = std::move(open);
    return 1;
}

int HostInterface::CurRendererRenderFrame(TimeValue, Bitmap* bm, RendProgressCallback* prog, float,
                                          ViewParams*, RECT*) {
    auto* bitmap = dynamic_cast<HostBitmap*>(bm);
    if (!open_ || !bitmap || !CameraOf(open_->camera)) {
        lastRenderError_ = "the renderer is not open or the bitmap is not the host's";
        return 0;
    }
    const PinholeCamera view = ViewOf(open_->camera);
    TracerOptions options;
    options.samplesPerAxis = renderSamples_;
    // The renderer reports between tiles, on this thread; the callback may stop it.
    const TracerProgress progress = [prog](int done, int total) {
        return !prog || prog->Progress(done, total) != RENDPROG_ABORT;
    };
    if (prog) prog->SetTitle(L"Rendering");
    const int width = bitmap->Width(), height = bitmap->Height();
    const bool done =
        bitmap->Type() == BMM_FLOAT_RGBA_32
            ? open_->tracer->Render(view, width, height, bitmap->RgbaFloat(), options, progress)
            : open_->tracer->Render(view, width, height, bitmap->Rgba8(), options, progress);
    if (!done) lastRenderError_ = "the render was cancelled";
    return done ? 1 : 0;
}

void HostInterface::CloseCurRenderer() { open_.reset(); }

void HostInterface::SetRenderCamera(INode* camera) { renderCamera_ = camera; }

int HostInterface::RenderFrame(TimeValue t, Bitmap* bm, RendProgressCallback* prog) {
    INode* camera = renderCamera_;
    if (!camera || !bm) return 0;
    if (!OpenCurRenderer(camera, nullptr, RENDTYPE_NORMAL, bm->Width(), bm->Height())) return 0;
    const int result = CurRendererRenderFrame(t, bm, prog, 1.0f, nullptr, nullptr);
    CloseCurRenderer();
    return result;
}

}  // namespace KorvoHost
