// The ray tracer's own small math: vectors, colours and 4 × 3 transforms.
//
// A Transform holds four rows of three floats: the local X, Y and Z axes expressed in world space,
// then the position. Points are row vectors, world = x·X + y·Y + z·Z + position. World up is +Z.
#pragma once

#include <cmath>

namespace KorvoHost {

struct Vec3 {
    float x = 0.0f, y = 0.0f, z = 0.0f;

    constexpr Vec3 operator+(const Vec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    constexpr Vec3 operator-(const Vec3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    constexpr Vec3 operator-() const { return {-x, -y, -z}; }
    constexpr Vec3 operator*(float s) const { return {x * s, y * s, z * s}; }
    constexpr bool operator==(const Vec3&) const = default;
};

constexpr Vec3 operator*(float s, const Vec3& v) { return v * s; }
constexpr float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
constexpr Vec3 Cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float Length(const Vec3& v) { return std::sqrt(Dot(v, v)); }
// The unit vector along v; the zero vector stays zero.
inline Vec3 Normalize(const Vec3& v) {
    const float length = Length(v);
    return length > 0.0f ? v * (1.0f / length) : v;
}
inline bool IsFinite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

struct Transform {
    Vec3 x{1.0f, 0.0f, 0.0f};
    Vec3 y{0.0f, 1.0f, 0.0f};
    Vec3 z{0.0f, 0.0f, 1.0f};
    Vec3 position{};

    constexpr Vec3 Point(const Vec3& p) const { return p.x * x + p.y * y + p.z * z + position; }
    constexpr Vec3 Vector(const Vec3& v) const { return v.x * x + v.y * y + v.z * z; }
    constexpr bool operator==(const Transform&) const = default;
};

// Colours: sRGB display values where a field says so, linear light elsewhere.
struct Rgb {
    float r = 0.0f, g = 0.0f, b = 0.0f;
    constexpr bool operator==(const Rgb&) const = default;
};

struct Rgba {
    float r = 0.0f, g = 0.0f, b = 0.0f, a = 0.0f;
    constexpr bool operator==(const Rgba&) const = default;
};

}  // namespace KorvoHost
