#include "standalone_host/raytracer/primitives.h"

#include <gtest/gtest.h>

#include <cmath>

namespace KorvoHost {
namespace {

struct Bounds {
    Vec3 low{1e30f, 1e30f, 1e30f};
    Vec3 high{-1e30f, -1e30f, -1e30f};
};

Bounds BoundsOf(const TriangleMesh& mesh) {
    Bounds b;
    for (const Vec3& p : mesh.positions) {
        b.low = {std::min(b.low.x, p.x), std::min(b.low.y, p.y), std::min(b.low.z, p.z)};
        b.high = {std::max(b.high.x, p.x), std::max(b.high.y, p.y), std::max(b.high.z, p.z)};
    }
    return b;
}

void ExpectNear(const Vec3& actual, const Vec3& expected, const char* what) {
    EXPECT_NEAR(actual.x, expected.x, 1e-5f) << what;
    EXPECT_NEAR(actual.y, expected.y, 1e-5f) << what;
    EXPECT_NEAR(actual.z, expected.z, 1e-5f) << what;
}

Vec3 TriangleNormal(const TriangleMesh& mesh, std::size_t t) {
    const Vec3& a = mesh.positions[mesh.indices[3 * t]];
    const Vec3& b = mesh.positions[mesh.indices[3 * t + 1]];
    const Vec3& c = mesh.positions[mesh.indices[3 * t + 2]];
    return Cross(b - a, c - a);
}

Vec3 TriangleCentre(const TriangleMesh& mesh, std::size_t t) {
    const Vec3& a = mesh.positions[mesh.indices[3 * t]];
    const Vec3& b = mesh.positions[mesh.indices[3 * t + 1]];
    const Vec3& c = mesh.positions[mesh.indices[3 * t + 2]];
    return (a + b + c) * (1.0f / 3.0f);
}

// For a convex mesh around `inside`: every triangle winds counter-clockwise seen from outside,
// none is degenerate, and stored normals point outwards too.
void ExpectOutward(const TriangleMesh& mesh, const Vec3& inside) {
    ASSERT_EQ(mesh.indices.size() % 3, 0u);
    for (std::size_t t = 0; t < mesh.indices.size() / 3; ++t) {
        const Vec3 n = TriangleNormal(mesh, t);
        ASSERT_GT(Length(n), 0.0f) << "triangle " << t << " is degenerate";
        EXPECT_GT(Dot(n, TriangleCentre(mesh, t) - inside), 0.0f) << "triangle " << t;
    }
    for (std::size_t v = 0; v < mesh.normals.size(); ++v) {
        EXPECT_NEAR(Length(mesh.normals[v]), 1.0f, 1e-5f) << "normal " << v;
        EXPECT_GT(Dot(mesh.normals[v], mesh.positions[v] - inside), 0.0f) << "normal " << v;
    }
}

TEST(Primitives, BoxStandsOnItsBaseAndFacesOutwards) {
    const TriangleMesh box = MakeBox(2.0f, 4.0f, 3.0f);
    EXPECT_EQ(box.indices.size(), 36u);
    const Bounds b = BoundsOf(box);
    ExpectNear(b.low, {-1, -2, 0}, "lower corner");
    ExpectNear(b.high, {1, 2, 3}, "upper corner");
    ExpectOutward(box, {0, 0, 1.5f});

    // A negative height grows downwards and still faces outwards.
    const TriangleMesh down = MakeBox(2.0f, 4.0f, -3.0f);
    ExpectNear(BoundsOf(down).low, {-1, -2, -3}, "lower corner of a downward box");
    ExpectNear(BoundsOf(down).high, {1, 2, 0}, "upper corner of a downward box");
    ExpectOutward(down, {0, 0, -1.5f});
}

TEST(Primitives, PlaneFacesUpWithItsSegments) {
    const TriangleMesh plane = MakePlane(6.0f, 2.0f, 3, 2);
    EXPECT_EQ(plane.indices.size(), 3u * 2u * 6u);
    const Bounds b = BoundsOf(plane);
    ExpectNear(b.low, {-3, -1, 0}, "lower corner");
    ExpectNear(b.high, {3, 1, 0}, "upper corner");
    for (std::size_t t = 0; t < plane.indices.size() / 3; ++t) {
        const Vec3 n = TriangleNormal(plane, t);
        EXPECT_GT(n.z, 0.0f) << "triangle " << t;
        EXPECT_NEAR(n.z, 2.0f, 1e-5f) << "triangle " << t << " has the wrong area";
    }
    EXPECT_EQ(MakePlane(1, 1, 0, -5).indices.size(), 6u) << "segments below 1 count as 1";
}

TEST(Primitives, SphereIsRoundSmoothAndOutward) {
    const TriangleMesh sphere = MakeSphere(2.5f, 16);
    ASSERT_EQ(sphere.normals.size(), sphere.positions.size());
    for (std::size_t v = 0; v < sphere.positions.size(); ++v) {
        EXPECT_NEAR(Length(sphere.positions[v]), 2.5f, 1e-5f) << "vertex " << v;
        ExpectNear(sphere.normals[v], sphere.positions[v] * (1.0f / 2.5f), "smooth normal");
    }
    ExpectOutward(sphere, {0, 0, 0});
    // 16 around, 8 rings: the two polar rings have one triangle per segment.
    EXPECT_EQ(sphere.indices.size(), 3u * 16u * (2u * 8u - 2u));
}

TEST(Primitives, PlaceMeshKeepsNormalsPerpendicularAndOutward) {
    // Rotate 90 degrees about Z, stretch along the new X, move.
    Transform t;
    t.x = {0, 3, 0};
    t.y = {-1, 0, 0};
    t.z = {0, 0, 1};
    t.position = {10, 20, 30};
    const TriangleMesh sphere = PlaceMesh(MakeSphere(1.0f, 12), t);
    ExpectOutward(sphere, t.position);
    // On a stretched sphere the normal at the tip of the long axis still points along it.
    for (std::size_t v = 0; v < sphere.positions.size(); ++v) {
        if (Length(sphere.positions[v] - Vec3{10, 23, 30}) < 1e-4f) {
            ExpectNear(sphere.normals[v], {0, 1, 0}, "normal at the tip");
        }
    }

    // A mirror turns the winding round so that outside stays outside.
    Transform mirror;
    mirror.x = {-1, 0, 0};
    ExpectOutward(PlaceMesh(MakeBox(1, 1, 1), mirror), {0, 0, 0.5f});
    ExpectOutward(PlaceMesh(MakeSphere(1, 8), mirror), {0, 0, 0});
}

}  // namespace
}  // namespace KorvoHost
