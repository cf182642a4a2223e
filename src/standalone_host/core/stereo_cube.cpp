#include "standalone_host/core/stereo_cube.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace KorvoHost {
namespace {

constexpr int kCells = 12;
constexpr Vec3 kUp{0.0f, 0.0f, 1.0f};
// Below this a horizontal direction has no usable heading.
constexpr float kDegenerate = 1e-6f;
constexpr float kFullShiftDegrees = 30.0f;
constexpr float kFadeDegrees = 60.0f;

// A cube face of the levelled camera: view, image right and image up.
struct FaceFrame {
    Vec3 forward, right, up;
};

// The faces in cell order: right, left, top, bottom, back, front.
std::array<FaceFrame, 6> CellFaces(const Vec3& f, const Vec3& r) {
    return {{
        {r, -f, kUp},    // right
        {-r, f, kUp},    // left
        {kUp, -r, f},    // top
        {-kUp, -r, -f},  // bottom
        {-f, -r, kUp},   // back
        {f, r, kUp},     // front
    }};
}

// The camera's heading (forward, right) with its pitch and roll removed; false when it has none.
bool Level(const Transform& camera, Vec3& forward, Vec3& right) {
    Vec3 back{camera.z.x, camera.z.y, 0.0f};
    // Looking straight up or down, the image-up axis gives the heading instead.
    if (Length(back) <= kDegenerate * Length(camera.z)) {
        const float towards = camera.z.z > 0.0f ? -1.0f : 1.0f;
        back = Vec3{camera.y.x, camera.y.y, 0.0f} * towards;
    }
    if (!(Length(back) > 0.0f) || !IsFinite(back)) return false;
    back = Normalize(back);
    forward = -back;
    right = Cross(kUp, back);
    return true;
}

}  // namespace

bool FitsStereoCube(int width, int height) { return height > 0 && width == kCells * height; }

float StereoShiftAt(float elevationDegrees) {
    const float e = std::fabs(elevationDegrees);
    if (e <= kFullShiftDegrees) return 1.0f;
    const float t = std::clamp((e - kFullShiftDegrees) / kFadeDegrees, 0.0f, 1.0f);
    return 1.0f - t * t * (3.0f - 2.0f * t);
}

RayFunction StereoCubeRays(const StereoCube& cube, int width, int height) {
    Vec3 forward, right;
    if (!FitsStereoCube(width, height) || !Level(cube.camera, forward, right)) return {};
    const std::array<FaceFrame, 6> faces = CellFaces(forward, right);
    const Vec3 origin = cube.camera.position;
    const float halfEye = cube.eyeDistance * 0.5f;
    const float perCell = 1.0f / static_cast<float>(height);
    const bool arnold = cube.layout == StereoCubeLayout::ArnoldTiles;

    return [=](float rasterX, float rasterY) -> CameraSample {
        const int index = std::clamp(static_cast<int>(rasterX * perCell), 0, kCells - 1);
        const int faceIndex = index % 6;
        const bool leftEye = index < 6;
        // Position in the cell, 0 … 1 from the left and from the bottom edge.
        const float x = rasterX * perCell - static_cast<float>(index);
        const float y = rasterY * perCell;

        float u = 1.0f - 2.0f * x;  // the strip mirrors every face
        float v = 2.0f * y - 1.0f;
        if (arnold) {
            const bool pole = faceIndex == 2 || faceIndex == 3;
            u = -u;
            if (pole) u = -u, v = -v;
        }
        const FaceFrame& face = faces[faceIndex];
        const Vec3 direction = face.forward + u * face.right + v * face.up;

        // Shift the eye across the ray's heading, less towards the poles
        Vec3 eye = origin;
        const Vec3 horizontal{direction.x, direction.y, 0.0f};
        const float h = Length(horizontal);
        if (halfEye != 0.0f && h > 1e-5f * Length(direction)) {
            // Up to 30° from the horizon (|z| at most half the length) the shift is whole.
            const float z = std::fabs(direction.z);
            const float share = z * z <= 0.25f * Dot(direction, direction)
                                    ? 1.0f
                                    : StereoShiftAt(std::atan2(z, h) * (180.0f / 3.14159265f));
            const Vec3 side = Cross(kUp, horizontal * (1.0f / h));  // towards the viewer's left
            eye = eye + side * ((leftEye ? 1.0f : -1.0f) * halfEye * share);
        }
        return Ray{eye, direction};
    };
}

}  // namespace KorvoHost
