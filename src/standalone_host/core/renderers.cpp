// The host's renderers: every renderer kind draws through the standalone host's ray tracer.
#include <cmath>

#include "host/interface.h"
#include "standalone_host/core/bitmaps.h"
#include "standalone_host/core/host_interface.h"
#include "standalone_host/core/mental_ray_translator.h"
#include "standalone_host/core/open_renderer.h"
#include "standalone_host/core/stereo_cube.h"
#include "standalone_host/raytracer/ray_tracer.h"
#include "standalone_host/scene/scene.h"
#include "standalone_host/scene/scene_objects.h"
#include "standalone_host/scene/tracer_input.h"
#include "standalone_host/windows/front_end.h"

namespace KorvoHost {

namespace {

Vec3 ToVec3(const Point3& p) { return {p.x, p.y, p.z}; }

CameraObject* CameraOf(INode* node) {
    Object* object = node ? node->EvalWorldState(0, TRUE).obj : nullptr;
    return object && object->SuperClassID() == CAMERA_CLASS_ID ? static_cast<CameraObject*>(object)
                                                               : nullptr;
}

Transform TransformOf(const Matrix3& tm) {
    return {ToVec3(tm.GetRow(0)), ToVec3(tm.GetRow(1)), ToVec3(tm.GetRow(2)),
            ToVec3(tm.GetTrans())};
}

// V-Ray's stereoscopic helper and Arnold's VR camera.
constexpr Class_ID kVRayStereoHelperClassId{0x778103A1, 0x3B985164};
constexpr Class_ID kArnoldVRCameraClassId{0x0007DC4F, 0x000400FD};
constexpr ParamID kHelperEyeDistance = 2;
// Arnold's VR camera keeps the eyes this far apart, in centimetres.
constexpr double kArnoldEyeDistanceCm = 6.4;

// The scene's first stereoscopic helper object in tree order, or null.
Object* StereoHelper(Scene& scene) {
    for (INode* node : scene.Nodes()) {
        Object* object = node->GetObjectRef();
        if (object && object->ClassID() == kVRayStereoHelperClassId) return object;
    }
    return nullptr;
}

// The camera's view as the tracer takes it. An orthographic lens is drawn in perspective.
PinholeCamera ViewOf(INode* node) {
    const Matrix3 tm = node->GetNodeTM(0);
    PinholeCamera view;
    view.cameraToWorld = TransformOf(tm);
    const float fov = CameraOf(node)->GetFOV(0);
    constexpr float kMinFov = 1e-3f, kMaxFov = 3.1f;
    view.horizontalFov = std::isfinite(fov) ? std::fmin(std::fmax(fov, kMinFov), kMaxFov) : HALFPI;
    return view;
}

// V-Ray with its stereoscopic helper and Arnold draw the stereo cube of the camera node, opened
// for frames of openWidth × openHeight, in one width × height frame: sets `camera` to its rays.
// False, with `error` set, when Arnold cannot draw the frame.
bool StereoCubeCamera(Scene& scene, SceneRenderer* renderer, INode* node, int openWidth,
                      int openHeight, int width, int height, TracerCamera& camera,
                      std::string& error) {
    if (!renderer) return true;
    StereoCube cube;
    cube.camera = TransformOf(node->GetNodeTM(0));
    switch (renderer->Type()) {
        case RendererType::VRay: {
            // With the helper, each eye is the frame V-Ray was opened for and the two lie side
            // by side; a frame of another shape is a plain view.
            Object* helper = StereoHelper(scene);
            if (!helper || width != 2 * openWidth || height != openHeight ||
                !FitsStereoCube(width, height))
                return true;
            IParamBlock2* block = helper->GetParamBlock(0);
            const float distance = block ? block->GetFloat(kHelperEyeDistance) : 0.0f;
            cube.eyeDistance = std::isfinite(distance) ? distance : 0.0f;
            cube.layout = StereoCubeLayout::Strip;
            break;
        }
        case RendererType::Arnold: {
            Object* object = node->GetObjectRef();
            if (!object || object->ClassID() != kArnoldVRCameraClassId) {
                error = "Arnold renders only through its VR camera";
                return false;
            }
            if (!FitsStereoCube(width, height)) {
                error = "the VR camera draws its stereo cube into a frame twelve cells wide";
                return false;
            }
            cube.eyeDistance = static_cast<float>(kArnoldEyeDistanceCm / scene.MasterScale(4));
            cube.layout = StereoCubeLayout::ArnoldTiles;
            break;
        }
        default:
            return true;
    }
    RayFunction rays = StereoCubeRays(cube, width, height);
    if (!rays) {
        error = "the camera has no heading to turn the stereo cube by";
        return false;
    }
    camera = std::move(rays);
    return true;
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
    // The cube loop opens the renderer for every face with only the camera moved: the scene's
    // inputs tell that without making its meshes again.
    TracerSceneInputs inputs = ReadTracerSceneInputs(*scene_);
    if (lastTracer_ && lastTracer_->inputs == inputs) {
        open->tracer = lastTracer_->tracer;
    } else if (TracerScene drawn = MakeTracerScene(*scene_);
               lastTracer_ && lastTracer_->scene == drawn) {
        lastTracer_ = std::make_shared<const BuiltTracer>(
            BuiltTracer{std::move(inputs), std::move(drawn), lastTracer_->tracer});
        open->tracer = lastTracer_->tracer;
    } else {
        lastTracer_.reset();  // its memory is free before the next BVH is built
        std::shared_ptr<const RayTracer> tracer = RayTracer::Create(drawn, lastRenderError_);
        if (!tracer) return 0;
        lastTracer_ = std::make_shared<const BuiltTracer>(
            BuiltTracer{std::move(inputs), std::move(drawn), tracer});
        open->tracer = std::move(tracer);
    }
    open_ = std::move(open);
    return 1;
}

int HostInterface::CurRendererRenderFrame(TimeValue t, Bitmap* bm, RendProgressCallback* prog,
                                          float, ViewParams*, RECT*) {
    auto* bitmap = dynamic_cast<HostBitmap*>(bm);
    if (!open_ || !bitmap || !CameraOf(open_->camera)) {
        lastRenderError_ = "the renderer is not open or the bitmap is not the host's";
        return 0;
    }
    const PinholeCamera view = ViewOf(open_->camera);
    TracerCamera camera = view;

    // mental ray draws through its camera lens shader when one is set
    std::unique_ptr<MentalRay::LensRender> lens;
    if (auto* renderer = dynamic_cast<SceneRenderer*>(GetCurrentRenderer(false))) {
        const RayTracer* tracer = open_->tracer.get();
        lens = PrepareLensShader(
            *renderer, view.cameraToWorld, t, PluginFolder(),
            lensRaysInPackets_ ? MentalRay::TraceMode::Packets : MentalRay::TraceMode::PerRay,
            [tracer](const Vec3& origin, const Vec3& direction) {
                return tracer->Trace(origin, direction);
            },
            lastRenderError_);
        if (!lastRenderError_.empty()) return 0;
        if (lens) {
            const MentalRay::LensRender* shader = lens.get();
            camera =
                RayBatchFunction([shader](CameraSampleBatch& batch) { shader->Samples(batch); });
        }
    }

    if (!lens && !StereoCubeCamera(*scene_, dynamic_cast<SceneRenderer*>(GetCurrentRenderer(false)),
                                   open_->camera, open_->width, open_->height, bitmap->Width(),
                                   bitmap->Height(), camera, lastRenderError_))
        return 0;

    TracerOptions options;
    options.samplesPerAxis = renderSamples_;
    options.adaptiveSamples = adaptiveSamples_;
    // The renderer reports between tiles, on this thread; the callback may stop it, and so may a
    // lens shader's fatal error.
    const MentalRay::LensRender* shader = lens.get();
    const TracerProgress progress = [prog, shader](int done, int total) {
        if (shader && shader->Failed()) return false;
        return !prog || prog->Progress(done, total) != RENDPROG_ABORT;
    };
    const int width = bitmap->Width(), height = bitmap->Height();
    const MCHAR* cameraName = open_->camera->GetName();
    CurrentFrontEnd().RenderStarted(cameraName ? cameraName : L"", width, height);
    if (prog) prog->SetTitle(L"Rendering");
    const bool done =
        bitmap->Type() == BMM_FLOAT_RGBA_32
            ? open_->tracer->Render(camera, width, height, bitmap->RgbaFloat(), options, progress)
            : open_->tracer->Render(camera, width, height, bitmap->Rgba8(), options, progress);
    if (!done) {
        lastRenderError_ = shader && shader->Failed() ? "the lens shader stopped the render"
                                                      : "the render was cancelled";
    }
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
