#include "standalone_host/raytracer/primitives.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace KorvoHost {
namespace {

constexpr int kMaxSegments = 1000;

// A grid of nu × nv squares spanning origin + [0, 1]·u + [0, 1]·v, facing along u × v. Flat, so
// without stored normals: the triangles' own normals are exact.
void AddGrid(TriangleMesh& mesh, const Vec3& origin, const Vec3& u, const Vec3& v, int nu, int nv) {
    const auto first = std::uint32_t(mesh.positions.size());
    for (int j = 0; j <= nv; ++j) {
        for (int i = 0; i <= nu; ++i) {
            mesh.positions.push_back(origin + u * (float(i) / float(nu)) +
                                     v * (float(j) / float(nv)));
        }
    }
    const auto row = std::uint32_t(nu + 1);
    for (int j = 0; j < nv; ++j) {
        for (int i = 0; i < nu; ++i) {
            const std::uint32_t a = first + std::uint32_t(j) * row + std::uint32_t(i);
            const std::uint32_t b = a + 1;
            const std::uint32_t c = b + row;
            const std::uint32_t d = a + row;
            mesh.indices.insert(mesh.indices.end(), {a, b, c, a, c, d});
        }
    }
}

}  // namespace

TriangleMesh MakeBox(float width, float length, float height) {
    const float w = std::abs(width);
    const float l = std::abs(length);
    const float h = std::abs(height);
    const Vec3 x{w, 0, 0};
    const Vec3 y{0, l, 0};
    const Vec3 z{0, 0, h};
    const Vec3 low{-w / 2, -l / 2, 0};

    TriangleMesh box;
    box.positions.reserve(24);
    box.indices.reserve(36);
    // Each side as origin and two edges whose cross product points outwards.
    AddGrid(box, low + x, y, z, 1, 1);
    AddGrid(box, low, z, y, 1, 1);
    AddGrid(box, low + y, z, x, 1, 1);
    AddGrid(box, low, x, z, 1, 1);
    AddGrid(box, low + z, x, y, 1, 1);
    AddGrid(box, low, y, x, 1, 1);

    if (width < 0 || length < 0 || height < 0) {
        Transform mirror;
        mirror.x.x = width < 0 ? -1.0f : 1.0f;
        mirror.y.y = length < 0 ? -1.0f : 1.0f;
        mirror.z.z = height < 0 ? -1.0f : 1.0f;
        box = PlaceMesh(std::move(box), mirror);
    }
    return box;
}

TriangleMesh MakePlane(float width, float length, int widthSegments, int lengthSegments) {
    const float w = std::abs(width);
    const float l = std::abs(length);
    const int nu = std::clamp(widthSegments, 1, kMaxSegments);
    const int nv = std::clamp(lengthSegments, 1, kMaxSegments);
    TriangleMesh plane;
    plane.positions.reserve(std::size_t(nu + 1) * (nv + 1));
    plane.indices.reserve(std::size_t(nu) * nv * 6);
    AddGrid(plane, {-w / 2, -l / 2, 0}, {w, 0, 0}, {0, l, 0}, nu, nv);
    return plane;
}

TriangleMesh MakeSphere(float radius, int segments) {
    const float r = std::abs(radius);
    const int around = std::clamp(segments, 4, kMaxSegments);
    const int rings = around / 2;
    const auto row = std::uint32_t(around + 1);

    // A grid of latitude rings from the +Z pole down; the first and last column meet at the seam
    // and the pole rows collapse to a point.
    TriangleMesh sphere;
    sphere.positions.reserve(std::size_t(rings + 1) * row);
    sphere.normals.reserve(sphere.positions.capacity());
    for (int i = 0; i <= rings; ++i) {
        const double theta = std::numbers::pi * i / rings;
        for (int j = 0; j <= around; ++j) {
            const double phi = 2.0 * std::numbers::pi * j / around;
            const Vec3 n{float(std::sin(theta) * std::cos(phi)),
                         float(std::sin(theta) * std::sin(phi)), float(std::cos(theta))};
            sphere.positions.push_back(n * r);
            sphere.normals.push_back(n);
        }
    }
    sphere.indices.reserve(std::size_t(rings - 1) * around * 6);
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < around; ++j) {
            const std::uint32_t a = std::uint32_t(i) * row + std::uint32_t(j);
            const std::uint32_t b = a + row;  // one ring further south
            const std::uint32_t c = b + 1;
            const std::uint32_t d = a + 1;
            if (i != rings - 1) sphere.indices.insert(sphere.indices.end(), {a, b, c});
            if (i != 0) sphere.indices.insert(sphere.indices.end(), {a, c, d});
        }
    }
    return sphere;
}

TriangleMesh PlaceMesh(TriangleMesh mesh, const Transform& localToWorld) {
    const Transform& m = localToWorld;
    for (Vec3& p : mesh.positions) p = m.Point(p);

    // Rows of the inverse transpose, up to the factor 1 / det: its sign is all that matters
    // before normalising.
    const Vec3 yz = Cross(m.y, m.z);
    const Vec3 zx = Cross(m.z, m.x);
    const Vec3 xy = Cross(m.x, m.y);
    const float det = Dot(m.x, yz);
    const float sign = det < 0.0f ? -1.0f : 1.0f;
    for (Vec3& n : mesh.normals) n = Normalize((n.x * yz + n.y * zx + n.z * xy) * sign);

    if (det < 0.0f) {
        for (std::size_t t = 0; t + 2 < mesh.indices.size(); t += 3) {
            std::swap(mesh.indices[t + 1], mesh.indices[t + 2]);
        }
    }
    return mesh;
}

}  // namespace KorvoHost
