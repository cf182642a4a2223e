#include "test_renderer.h"

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

namespace KorvoTest {

Vec operator+(const Vec& a, const Vec& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(const Vec& a, const Vec& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(const Vec& v, double s) { return {v.x * s, v.y * s, v.z * s}; }
double Dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double Length(const Vec& v) { return std::sqrt(Dot(v, v)); }
Vec ToVec(const miVector& v) { return {v.x, v.y, v.z}; }

namespace {

miVector ToMi(const Vec& v) { return {float(v.x), float(v.y), float(v.z)}; }

// Rotation about the axis (1, 2, 2) / 3 by 40°, as the rows of a matrix.
struct Rotation {
    std::array<Vec, 3> rows;
    Rotation() {
        const Vec a{1.0 / 3, 2.0 / 3, 2.0 / 3};
        const double angle = 40.0 * 3.14159265358979323846 / 180.0;
        const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
        rows[0] = {t * a.x * a.x + c, t * a.x * a.y - s * a.z, t * a.x * a.z + s * a.y};
        rows[1] = {t * a.x * a.y + s * a.z, t * a.y * a.y + c, t * a.y * a.z - s * a.x};
        rows[2] = {t * a.x * a.z - s * a.y, t * a.y * a.z + s * a.x, t * a.z * a.z + c};
    }
    Vec Apply(const Vec& v) const { return {Dot(rows[0], v), Dot(rows[1], v), Dot(rows[2], v)}; }
    Vec Inverse(const Vec& v) const { return rows[0] * v.x + rows[1] * v.y + rows[2] * v.z; }
};
const Rotation kRotation;
constexpr double kScale = 2.0;
const Vec kShift{10.0, -20.0, 30.0};

std::mutex gMutex;
Camera gCamera;
std::vector<Message> gMessages;
std::atomic<miBoolean> gConnectedValue{miFALSE};
std::atomic<int> gPhenEvalCalls{0};

Vec CameraToWorldVector(const Vec& v) {
    return gCamera.x * v.x + gCamera.y * v.y + gCamera.z * v.z;
}

}  // namespace

Camera LookingCamera(Vec position, double heading, double pitch) {
    const Vec forward{-std::sin(heading) * std::cos(pitch), std::cos(heading) * std::cos(pitch),
                      std::sin(pitch)};
    const Vec right{std::cos(heading), std::sin(heading), 0.0};
    Camera camera;
    camera.z = forward * -1.0;
    camera.x = right;
    // y = z × x
    camera.y = {camera.z.y * right.z - camera.z.z * right.y,
                camera.z.z * right.x - camera.z.x * right.z,
                camera.z.x * right.y - camera.z.y * right.x};
    camera.position = position;
    return camera;
}

Vec WorldToInternalPoint(const Vec& p) { return kRotation.Apply(p) * kScale + kShift; }
Vec WorldToInternalVector(const Vec& v) { return kRotation.Apply(v) * kScale; }
Vec InternalToWorldPoint(const Vec& p) { return kRotation.Inverse((p - kShift) * (1.0 / kScale)); }
Vec InternalToWorldVector(const Vec& v) { return kRotation.Inverse(v * (1.0 / kScale)); }
Vec WorldToCameraVector(const Camera& camera, const Vec& v) {
    return {Dot(v, camera.x), Dot(v, camera.y), Dot(v, camera.z)};
}

void SetCamera(const Camera& camera) {
    std::lock_guard lock(gMutex);
    gCamera = camera;
}

std::vector<Message> TakeMessages() {
    std::lock_guard lock(gMutex);
    return std::move(gMessages);
}

void SetConnectedValue(miBoolean value) {
    gConnectedValue = value;
    gPhenEvalCalls = 0;
}
int PhenEvalCalls() { return gPhenEvalCalls; }

}  // namespace KorvoTest

using namespace KorvoTest;

// ---- The exported mi_ functions ---------------------------------------------------------------

TEST_EXPORT void mi_info(const char* format, ...) {
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::lock_guard lock(gMutex);
    gMessages.push_back({format, text});
}

TEST_EXPORT void* mi_phen_eval(miState*, void*) {
    ++gPhenEvalCalls;
    thread_local miBoolean value;
    value = gConnectedValue;
    return &value;
}

TEST_EXPORT void mi_point_from_camera(miState*, miVector* result, const miVector* p) {
    *result = ToMi(WorldToInternalPoint(CameraToWorldVector(ToVec(*p)) + gCamera.position));
}
TEST_EXPORT void mi_vector_from_camera(miState*, miVector* result, const miVector* v) {
    *result = ToMi(WorldToInternalVector(CameraToWorldVector(ToVec(*v))));
}
TEST_EXPORT void mi_point_to_world(miState*, miVector* result, const miVector* p) {
    *result = ToMi(InternalToWorldPoint(ToVec(*p)));
}
TEST_EXPORT void mi_vector_to_world(miState*, miVector* result, const miVector* v) {
    *result = ToMi(InternalToWorldVector(ToVec(*v)));
}
TEST_EXPORT void mi_point_from_world(miState*, miVector* result, const miVector* p) {
    *result = ToMi(WorldToInternalPoint(ToVec(*p)));
}
TEST_EXPORT void mi_vector_from_world(miState*, miVector* result, const miVector* v) {
    *result = ToMi(WorldToInternalVector(ToVec(*v)));
}

TEST_EXPORT void mi_vector_transform(miVector* result, const miVector* v, const miScalar* m) {
    const miVector in = *v;
    *result = {in.x * m[0] + in.y * m[4] + in.z * m[8], in.x * m[1] + in.y * m[5] + in.z * m[9],
               in.x * m[2] + in.y * m[6] + in.z * m[10]};
}

// The ray goes back to world space for the tests; the colour tells the origin's x and the
// direction's y, so that runs can be compared by their results alone.
TEST_EXPORT miBoolean mi_trace_eye(miColor* result, miState* state, const miVector* origin,
                                   const miVector* direction) {
    auto* ray = static_cast<TracedRay*>(state->renderer_data);
    ray->traced = true;
    ray->origin = InternalToWorldPoint(ToVec(*origin));
    ray->direction = InternalToWorldVector(ToVec(*direction));
    *result = {origin->x, direction->y, 0.0f, 1.0f};
    return miTRUE;
}
