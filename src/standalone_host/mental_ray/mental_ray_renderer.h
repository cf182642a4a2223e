// The mental ray stand-in: a renderer module that exports the renderer's mi_ shader functions
// and drives a lens shader library through them. It loads the library, names itself to it with
// miSetModuleHandle, runs the shader's init for a render and then the shader once per camera
// sample, from any number of threads.
//
// Its internal space is not world space: a fixed rotation, scale and move apart, so that a
// shader that skips a conversion draws a visibly wrong picture.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mi_interface.h"
#include "standalone_host/mental_ray/shader_declaration.h"
#include "standalone_host/raytracer/ray_tracer.h"

namespace KorvoHost::MentalRay {

// World ↔ internal space of the stand-in.
Vec3 WorldToInternalPoint(const Vec3& p);
Vec3 WorldToInternalVector(const Vec3& v);
Vec3 InternalToWorldPoint(const Vec3& p);
Vec3 InternalToWorldVector(const Vec3& v);

// A shader library and the declarations read from the ".mi" file of the same name beside it.
// Loaded once per file for the process, as the renderer keeps its shader libraries.
class ShaderLibrary {
  public:
    // Null with error set when the library or its declarations cannot be loaded.
    static ShaderLibrary* Load(const std::filesystem::path& library, std::string& error);

    const ShaderDeclaration* Declaration(std::string_view name) const;
    // The shader's entry points; null when the library lacks them.
    miShaderFunction Shader(const std::string& name) const;
    miShaderInitFunction Init(const std::string& name) const;
    miShaderExitFunction Exit(const std::string& name) const;
    miShaderVersionFunction Version(const std::string& name) const;
    const std::filesystem::path& File() const { return file_; }

    ~ShaderLibrary();

  private:
    ShaderLibrary() = default;
    void* Symbol(const std::string& name) const;

    std::filesystem::path file_;
    void* handle_ = nullptr;
    std::vector<ShaderDeclaration> declarations_;
};

// How mi_trace_eye answers. PerRay traces each ray when the shader asks. Packets lets the shader
// ask first and traces the rays of many samples together: a trace into the sample's own result is
// answered true at once and filled in later, which draws the same picture for every shader that
// does not read its result after tracing (a shader that writes it afterwards keeps its colour).
enum class TraceMode { PerRay, Packets };

// Traces one ray in world space.
using TraceFunction = std::function<TraceResult(const Vec3& origin, const Vec3& direction)>;

// One render through a lens shader: init when it begins, exit when it ends.
class LensRender {
  public:
    // Runs the shader-level init and, when it asks, the instance init with `parameters` (laid
    // out as the declaration says). Null with error set when the shader cannot be used.
    static std::unique_ptr<LensRender> Begin(ShaderLibrary& library,
                                             const ShaderDeclaration& shader,
                                             std::vector<unsigned char> parameters,
                                             const Transform& cameraToWorld, TraceMode mode,
                                             TraceFunction trace, std::string& error);
    ~LensRender();
    LensRender(const LensRender&) = delete;
    LensRender& operator=(const LensRender&) = delete;

    // The camera sample at a raster position (pixels, origin at the lower left): a ray for the
    // tracer to follow, or the colour the shader made. Thread-safe.
    CameraSample Sample(float rasterX, float rasterY) const;
    // The same for every sample of a batch, in order: the shader is called for each, and the
    // rays it leaves to the tracer are taken from internal to world space together at the end.
    // Thread-safe.
    void Samples(CameraSampleBatch& batch) const;
    // Whether a shader reported a fatal error since the render began; the render should stop.
    bool Failed() const;

    // For the module's functions.
    const Transform& CameraToInternal() const { return cameraToInternal_; }
    TraceResult Trace(const Vec3& worldOrigin, const Vec3& worldDirection) const {
        return trace_(worldOrigin, worldDirection);
    }

  private:
    LensRender() = default;

    miShaderFunction shader_ = nullptr;
    miShaderExitFunction exit_ = nullptr;
    std::vector<unsigned char> parameters_;
    miFunction function_{0};
    Transform cameraToInternal_;
    TraceMode mode_ = TraceMode::Packets;
    TraceFunction trace_;
    int fatalAtBegin_ = 0;
};

// Messages shaders sent through mi_info and the other message functions, oldest first (at most
// the last 1000). Warnings and errors also go to standard error.
struct ShaderMessage {
    std::string level;  // "info", "progress", "warning", "error", "fatal", "debug"
    std::string text;
};
std::vector<ShaderMessage> Messages();
void ClearMessages();

}  // namespace KorvoHost::MentalRay
