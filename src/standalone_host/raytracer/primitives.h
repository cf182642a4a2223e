// Primitive meshes in local coordinates, wound counter-clockwise seen from outside. The box and
// the plane are flat and store no normals; the sphere stores smooth outward normals. PlaceMesh
// puts them in the world with a node transform. Each mesh has the default colour; set `color`
// afterwards.
#pragma once

#include "standalone_host/raytracer/tracer_scene.h"
#include "standalone_host/raytracer/vector_math.h"

namespace KorvoHost {

// Base centred on the origin in z = 0: x within ±width/2, y within ±length/2, z from 0 to height.
// A negative size mirrors the box along that axis (a negative height grows downwards).
TriangleMesh MakeBox(float width, float length, float height);

// In z = 0 facing +Z, centred on the origin: x within ±|width|/2, y within ±|length|/2, cut into
// widthSegments × lengthSegments squares (each clamped to 1..1000).
TriangleMesh MakePlane(float width, float length, int widthSegments = 1, int lengthSegments = 1);

// Centred on the origin, poles on the Z axis: `segments` (clamped to 4..1000) around the equator
// and half as many from pole to pole.
TriangleMesh MakeSphere(float radius, int segments = 32);

// The mesh moved into the world by a local-to-world transform. Normals follow the inverse
// transpose, so non-uniform scale keeps them perpendicular; a mirroring transform also reverses
// the winding, so outside stays outside.
TriangleMesh PlaceMesh(TriangleMesh mesh, const Transform& localToWorld);

}  // namespace KorvoHost
