#include "standalone_host/mental_ray/mental_ray_renderer.h"

#include <dlfcn.h>

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#define KORVO_MI_EXPORT extern "C" __attribute__((visibility("default")))

namespace KorvoHost::MentalRay {
namespace {

// ---- Internal space ---------------------------------------------------------------------------

// World → internal: a rotation of 37° about (0.36, 0.48, 0.8), a scale by 2 and a move.
struct Spaces {
    Transform worldToInternal;
    Transform internalToWorld;

    Spaces() {
        const double ax = 0.36, ay = 0.48, az = 0.8;
        const double angle = 37.0 * 3.14159265358979323846 / 180.0;
        const double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
        // Column-vector rotation matrix; the row-vector transform's rows are its columns.
        const double m[3][3] = {{t * ax * ax + c, t * ax * ay - s * az, t * ax * az + s * ay},
                                {t * ax * ay + s * az, t * ay * ay + c, t * ay * az - s * ax},
                                {t * ax * az - s * ay, t * ay * az + s * ax, t * az * az + c}};
        constexpr double kScale = 2.0;
        const double move[3] = {1000.0, -2000.0, 500.0};
        Vec3* forward[3] = {&worldToInternal.x, &worldToInternal.y, &worldToInternal.z};
        Vec3* backward[3] = {&internalToWorld.x, &internalToWorld.y, &internalToWorld.z};
        for (int i = 0; i < 3; ++i) {
            *forward[i] = {float(m[0][i] * kScale), float(m[1][i] * kScale),
                           float(m[2][i] * kScale)};
            *backward[i] = {float(m[i][0] / kScale), float(m[i][1] / kScale),
                            float(m[i][2] / kScale)};
        }
        worldToInternal.position = {float(move[0]), float(move[1]), float(move[2])};
        // internal → world: (p − move) · inverse
        double back[3] = {0, 0, 0};
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 3; ++i) back[j] -= move[i] * m[i][j] / kScale;
        internalToWorld.position = {float(back[0]), float(back[1]), float(back[2])};
    }
};
// At namespace scope rather than in a function, so the space conversions each ray makes check
// no initialisation guard.
const Spaces gSpaces;
const Spaces& TheSpaces() { return gSpaces; }

Vec3 ToVec3(const miVector& v) { return {v.x, v.y, v.z}; }

// Transform::Point and Transform::Vector, operation for operation, on the shader's own vectors:
// read where the shader wrote them, without a copy between (a shader makes several of these
// calls for every ray).
[[gnu::always_inline]] inline miVector PointBy(const Transform& t, const miVector& p) {
    return {p.x * t.x.x + p.y * t.y.x + p.z * t.z.x + t.position.x,
            p.x * t.x.y + p.y * t.y.y + p.z * t.z.y + t.position.y,
            p.x * t.x.z + p.y * t.y.z + p.z * t.z.z + t.position.z};
}
[[gnu::always_inline]] inline miVector VectorBy(const Transform& t, const miVector& v) {
    return {v.x * t.x.x + v.y * t.y.x + v.z * t.z.x, v.x * t.x.y + v.y * t.y.y + v.z * t.z.y,
            v.x * t.x.z + v.y * t.y.z + v.z * t.z.z};
}

// The rays of a batch from internal to world space in place, PointBy and VectorBy for every
// sample at once. Lanes given a colour are converted too, whatever they hold: nobody reads them.
void ToWorld(CameraSampleBatch& __restrict batch) {
    const Transform& t = TheSpaces().internalToWorld;
    for (int i = 0; i < batch.count; ++i) {
        const float px = batch.originX[i], py = batch.originY[i], pz = batch.originZ[i];
        batch.originX[i] = px * t.x.x + py * t.y.x + pz * t.z.x + t.position.x;
        batch.originY[i] = px * t.x.y + py * t.y.y + pz * t.z.y + t.position.y;
        batch.originZ[i] = px * t.x.z + py * t.y.z + pz * t.z.z + t.position.z;
        const float vx = batch.directionX[i], vy = batch.directionY[i], vz = batch.directionZ[i];
        batch.directionX[i] = vx * t.x.x + vy * t.y.x + vz * t.z.x;
        batch.directionY[i] = vx * t.x.y + vy * t.y.y + vz * t.z.y;
        batch.directionZ[i] = vx * t.x.z + vy * t.y.z + vz * t.z.z;
    }
}

// ---- Calls in flight --------------------------------------------------------------------------

// What the module's functions know of the call that reached them, through the state.
struct CallContext {
    const LensRender* render = nullptr;
    miColor* sampleResult = nullptr;  // the colour of the sample being shaded
    bool defer = false;
    bool queued = false;
    // Where a queued ray goes, still in internal space: lane `lane` of the batch.
    CameraSampleBatch* batch = nullptr;
    int lane = 0;
};

const CallContext* ContextOf(const miState* state) {
    return state ? static_cast<const CallContext*>(state->renderer_data) : nullptr;
}

// A colour no shader writes: a quiet NaN with a payload of its own.
miColor Untouched() {
    const std::uint32_t bits = 0x7FC0BEEF;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return {f, f, f, f};
}
bool IsUntouched(const miColor& c) {
    const miColor u = Untouched();
    return std::memcmp(&c, &u, sizeof c) == 0;
}

// ---- Messages ---------------------------------------------------------------------------------

std::mutex gMessageMutex;
std::deque<ShaderMessage> gMessages;
std::atomic<int> gFatalCount{0};

void Record(const char* level, const std::string& prefix, const char* format, va_list args) {
    std::string text = prefix;
    if (format) {
        va_list copy;
        va_copy(copy, args);
        const int length = std::vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        if (length > 0) {
            std::string body(static_cast<std::size_t>(length) + 1, '\0');
            std::vsnprintf(body.data(), body.size(), format, args);
            body.pop_back();
            text += body;
        }
    }
    const std::string_view kind = level;
    if (kind == "warning" || kind == "error" || kind == "fatal")
        std::fprintf(stderr, "mental ray %s: %s\n", level, text.c_str());
    if (kind == "fatal") ++gFatalCount;
    std::lock_guard lock(gMessageMutex);
    gMessages.push_back({level, std::move(text)});
    if (gMessages.size() > 1000) gMessages.pop_front();
}

// ---- Libraries --------------------------------------------------------------------------------

std::mutex gLibraryMutex;
std::map<std::filesystem::path, std::unique_ptr<ShaderLibrary>>& Libraries() {
    static std::map<std::filesystem::path, std::unique_ptr<ShaderLibrary>> libraries;
    return libraries;
}

// This module's own handle, the one shader libraries bind their mi_ functions in.
void* OwnHandle() {
    static void* const handle = [] {
        Dl_info info{};
        if (!::dladdr(reinterpret_cast<void*>(&OwnHandle), &info) || !info.dli_fname)
            return (void*)nullptr;
        return ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    }();
    return handle;
}

}  // namespace

Vec3 WorldToInternalPoint(const Vec3& p) { return TheSpaces().worldToInternal.Point(p); }
Vec3 WorldToInternalVector(const Vec3& v) { return TheSpaces().worldToInternal.Vector(v); }
Vec3 InternalToWorldPoint(const Vec3& p) { return TheSpaces().internalToWorld.Point(p); }
Vec3 InternalToWorldVector(const Vec3& v) { return TheSpaces().internalToWorld.Vector(v); }

std::vector<ShaderMessage> Messages() {
    std::lock_guard lock(gMessageMutex);
    return {gMessages.begin(), gMessages.end()};
}
void ClearMessages() {
    std::lock_guard lock(gMessageMutex);
    gMessages.clear();
}

ShaderLibrary* ShaderLibrary::Load(const std::filesystem::path& file, std::string& error) {
    std::lock_guard lock(gLibraryMutex);
    auto& libraries = Libraries();
    const std::filesystem::path key = file.lexically_normal();
    if (auto it = libraries.find(key); it != libraries.end()) return it->second.get();

    // The declarations come first: a library the renderer cannot describe is not loaded.
    std::filesystem::path declarationFile = key;
    declarationFile.replace_extension(".mi");
    std::ifstream in(declarationFile, std::ios::binary);
    if (!in) {
        error = "cannot read the shader declarations " + declarationFile.string();
        return nullptr;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::unique_ptr<ShaderLibrary> library(new ShaderLibrary());
    std::string problem;
    if (!ParseShaderDeclarations(text.str(), library->declarations_, problem)) {
        error = declarationFile.string() + ", " + problem;
        return nullptr;
    }
    library->file_ = key;
    library->handle_ = ::dlopen(key.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library->handle_) {
        const char* why = ::dlerror();
        error =
            "cannot load the shader library " + key.string() + (why ? std::string(": ") + why : "");
        return nullptr;
    }
    // Loaded: name the module that exports the shader functions.
    if (auto setModule =
            reinterpret_cast<miSetModuleHandleFunction>(library->Symbol("miSetModuleHandle")))
        setModule(OwnHandle());
    ShaderLibrary* result = library.get();
    libraries[key] = std::move(library);
    return result;
}

ShaderLibrary::~ShaderLibrary() {
    if (handle_) ::dlclose(handle_);
}

void* ShaderLibrary::Symbol(const std::string& name) const {
    return handle_ ? ::dlsym(handle_, name.c_str()) : nullptr;
}

const ShaderDeclaration* ShaderLibrary::Declaration(std::string_view name) const {
    for (const ShaderDeclaration& d : declarations_)
        if (d.name == name) return &d;
    return nullptr;
}

miShaderFunction ShaderLibrary::Shader(const std::string& name) const {
    return reinterpret_cast<miShaderFunction>(Symbol(name));
}
miShaderInitFunction ShaderLibrary::Init(const std::string& name) const {
    return reinterpret_cast<miShaderInitFunction>(Symbol(name + "_init"));
}
miShaderExitFunction ShaderLibrary::Exit(const std::string& name) const {
    return reinterpret_cast<miShaderExitFunction>(Symbol(name + "_exit"));
}
miShaderVersionFunction ShaderLibrary::Version(const std::string& name) const {
    return reinterpret_cast<miShaderVersionFunction>(Symbol(name + "_version"));
}

std::unique_ptr<LensRender> LensRender::Begin(ShaderLibrary& library,
                                              const ShaderDeclaration& shader,
                                              std::vector<unsigned char> parameters,
                                              const Transform& cameraToWorld, TraceMode mode,
                                              TraceFunction trace, std::string& error) {
    const std::string& name = shader.name;
    if (!shader.AppliesAs("lens")) {
        error = "shader " + name + " is not declared as a lens shader";
        return nullptr;
    }
    std::unique_ptr<LensRender> render(new LensRender());
    render->shader_ = library.Shader(name);
    if (!render->shader_) {
        error = library.File().string() + " has no shader " + name;
        return nullptr;
    }
    if (auto version = library.Version(name); version && version() != shader.version) {
        error = "shader " + name + " of " + library.File().string() + " is version " +
                std::to_string(version()) + ", its declaration says " +
                std::to_string(shader.version);
        return nullptr;
    }
    if (parameters.size() < shader.blockSize) {
        error = "the parameters of shader " + name + " do not fill its declared block";
        return nullptr;
    }
    render->exit_ = library.Exit(name);
    render->parameters_ = std::move(parameters);
    const Transform& toInternal = TheSpaces().worldToInternal;
    render->cameraToInternal_ = {
        toInternal.Vector(cameraToWorld.x), toInternal.Vector(cameraToWorld.y),
        toInternal.Vector(cameraToWorld.z), toInternal.Point(cameraToWorld.position)};
    render->mode_ = mode;
    render->trace_ = std::move(trace);

    // Shader-level init, then the instance's when the shader asks for it
    const int fatalBefore = gFatalCount;
    render->fatalAtBegin_ = fatalBefore;
    if (miShaderInitFunction init = library.Init(name)) {
        CallContext context{render.get()};
        miState state{0.0f, 0.0f, &render->function_, &context};
        miBoolean instanceInit = miFALSE;
        init(&state, nullptr, &instanceInit);
        if (instanceInit) init(&state, render->parameters_.data(), nullptr);
    }
    if (gFatalCount != fatalBefore) {
        error = "shader " + name + " stopped the render in its init";
        return nullptr;
    }
    return render;
}

bool LensRender::Failed() const { return gFatalCount != fatalAtBegin_; }

LensRender::~LensRender() {
    if (!exit_) return;
    CallContext context{this};
    miState state{0.0f, 0.0f, &function_, &context};
    exit_(&state, parameters_.data());
}

CameraSample LensRender::Sample(float rasterX, float rasterY) const {
    CameraSampleBatch batch{};
    batch.count = 1;
    batch.rasterX[0] = rasterX;
    batch.rasterY[0] = rasterY;
    batch.given[0] = false;
    Samples(batch);
    if (batch.given[0]) return batch.colors[0];
    return Ray{{batch.originX[0], batch.originY[0], batch.originZ[0]},
               {batch.directionX[0], batch.directionY[0], batch.directionZ[0]}};
}

void LensRender::Samples(CameraSampleBatch& batch) const {
    // Every call ends with its trace request, and the next sample's call need not wait for the
    // conversion of this one's ray.
    for (int i = 0; i < batch.count; ++i) {
        miColor result = Untouched();
        CallContext context{this, &result, mode_ == TraceMode::Packets, false, &batch, i};
        miState state{batch.rasterX[i], batch.rasterY[i], const_cast<miFunction*>(&function_),
                      &context};
        shader_(&result, &state, const_cast<unsigned char*>(parameters_.data()));
        const bool written = !IsUntouched(result);
        if (written || !context.queued) {
            // The colour the shader made; with neither a colour nor a ray the sample stays empty.
            batch.colors[i] = written ? Rgba{result.r, result.g, result.b, result.a} : Rgba{};
            batch.given[i] = true;
        }
    }
    ToWorld(batch);
}

}  // namespace KorvoHost::MentalRay

// ---- The exported shader interface
// ---------------------------------------------------------------

using namespace KorvoHost;
using namespace KorvoHost::MentalRay;

#define KORVO_MESSAGE(name, level)                        \
    KORVO_MI_EXPORT void name(const char* message, ...) { \
        va_list args;                                     \
        va_start(args, message);                          \
        Record(level, "", message, args);                 \
        va_end(args);                                     \
    }
#define KORVO_NUMBERED_MESSAGE(name, level)                           \
    KORVO_MI_EXPORT void name(int number, const char* message, ...) { \
        va_list args;                                                 \
        va_start(args, message);                                      \
        Record(level, std::to_string(number) + ": ", message, args);  \
        va_end(args);                                                 \
    }

KORVO_MESSAGE(mi_info, "info")
KORVO_MESSAGE(mi_progress, "progress")
KORVO_MESSAGE(mi_warning, "warning")
KORVO_MESSAGE(mi_error, "error")
KORVO_MESSAGE(mi_fatal, "fatal")
KORVO_MESSAGE(mi_debug, "debug")
KORVO_MESSAGE(mi_vdebug, "debug")
KORVO_NUMBERED_MESSAGE(mi_nwarning, "warning")
KORVO_NUMBERED_MESSAGE(mi_nerror, "error")
KORVO_NUMBERED_MESSAGE(mi_nfatal, "fatal")
KORVO_MESSAGE(mi_api_warning, "warning")
KORVO_MESSAGE(mi_api_error, "error")

// The stand-in connects no parameters, so every parameter is its own value.
KORVO_MI_EXPORT void* mi_phen_eval(miState*, void* param) { return param; }

KORVO_MI_EXPORT void mi_point_from_camera(miState* state, miVector* result, const miVector* p) {
    const CallContext* context = ContextOf(state);
    *result = context ? PointBy(context->render->CameraToInternal(), *p) : miVector{};
}
KORVO_MI_EXPORT void mi_vector_from_camera(miState* state, miVector* result, const miVector* v) {
    const CallContext* context = ContextOf(state);
    *result = context ? VectorBy(context->render->CameraToInternal(), *v) : miVector{};
}
KORVO_MI_EXPORT void mi_point_to_world(miState*, miVector* result, const miVector* p) {
    *result = PointBy(TheSpaces().internalToWorld, *p);
}
KORVO_MI_EXPORT void mi_vector_to_world(miState*, miVector* result, const miVector* v) {
    *result = VectorBy(TheSpaces().internalToWorld, *v);
}
KORVO_MI_EXPORT void mi_point_from_world(miState*, miVector* result, const miVector* p) {
    *result = PointBy(TheSpaces().worldToInternal, *p);
}
KORVO_MI_EXPORT void mi_vector_from_world(miState*, miVector* result, const miVector* v) {
    *result = VectorBy(TheSpaces().worldToInternal, *v);
}

KORVO_MI_EXPORT void mi_vector_transform(miVector* result, const miVector* v, const miScalar* m) {
    const miVector in = *v;
    *result = {in.x * m[0] + in.y * m[4] + in.z * m[8], in.x * m[1] + in.y * m[5] + in.z * m[9],
               in.x * m[2] + in.y * m[6] + in.z * m[10]};
}

KORVO_MI_EXPORT miBoolean mi_trace_eye(miColor* result, miState* state, const miVector* origin,
                                       const miVector* direction) {
    auto* context = state ? static_cast<CallContext*>(state->renderer_data) : nullptr;
    if (!context || !result || !origin || !direction) return miFALSE;
    if (context->defer && result == context->sampleResult && !context->queued) {
        context->queued = true;
        CameraSampleBatch& batch = *context->batch;
        const int lane = context->lane;
        batch.originX[lane] = origin->x;
        batch.originY[lane] = origin->y;
        batch.originZ[lane] = origin->z;
        batch.directionX[lane] = direction->x;
        batch.directionY[lane] = direction->y;
        batch.directionZ[lane] = direction->z;
        return miTRUE;
    }
    const Vec3 worldOrigin = ToVec3(PointBy(TheSpaces().internalToWorld, *origin));
    const Vec3 worldDirection = ToVec3(VectorBy(TheSpaces().internalToWorld, *direction));
    const TraceResult traced = context->render->Trace(worldOrigin, worldDirection);
    *result = {traced.color.r, traced.color.g, traced.color.b, traced.color.a};
    return traced.hit ? miTRUE : miFALSE;
}
