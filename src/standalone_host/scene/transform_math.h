// Transform arithmetic of the scene model: look-at frames with roll, rotations about an axis and
// inverses. Everything is computed in double precision and rounded once to the host's floats.
#pragma once

#include <optional>

#include "host/geom.h"

namespace KorvoHost {

// A view whose horizontal part is shorter than this (for a unit view) counts as vertical.
constexpr double kVerticalViewTolerance = 1e-6;

// World transform of a camera at `position` looking along `view` (any non-zero length) and turned
// by `roll` radians about its own +Z axis (right-handed). Zero roll has image up along world +Z;
// for a vertical view, which has no such up, zero roll has image up along world +Y (so looking
// down, image right is world +X; looking up, world −X). Axes are unit length.
Matrix3 LookAtTransform(const Point3& position, const Point3& view, float roll);

// The roll that makes LookAtTransform(position, view, roll) come closest to `tm`'s orientation
// about the view axis (tm's X and Y axes projected onto the zero-roll frame). 0 when tm's X and Y
// axes are both along the view.
float RollTowards(const Matrix3& tm, const Point3& view);

// tm rotated by `angle` radians (right-handed) about the line through `centre` along `axis`:
// its axes turned, its position turned about the centre (kept exactly when it is the centre).
// tm itself when the axis has no length or a value is not finite.
Matrix3 RotatedTransform(const Matrix3& tm, const Point3& axis, float angle, const Point3& centre);

// m⁻¹, or nothing when m's axes are (nearly) degenerate or not finite.
std::optional<Matrix3> Inverse(const Matrix3& m);

bool IsFinite(const Matrix3& m);

}  // namespace KorvoHost
