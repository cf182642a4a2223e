#include "standalone_host/scene/transform_math.h"

#include <cmath>

namespace KorvoHost {
namespace {

struct D3 {
    double x = 0.0, y = 0.0, z = 0.0;

    D3() = default;
    D3(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}
    explicit D3(const Point3& p) : x(p.x), y(p.y), z(p.z) {}

    D3 operator+(const D3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    D3 operator-(const D3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    D3 operator*(double s) const { return {x * s, y * s, z * s}; }
    Point3 ToPoint() const {
        return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
    }
};

double Dot(const D3& a, const D3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
D3 Cross(const D3& a, const D3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double Length(const D3& v) { return std::sqrt(Dot(v, v)); }
D3 Normalized(const D3& v) {
    const double length = Length(v);
    return length > 0.0 ? v * (1.0 / length) : v;
}
bool IsFinite(const D3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

struct Frame {
    D3 x, y, z;
};

// The zero-roll frame of a view; `view` is finite and not zero.
Frame ZeroRollFrame(const D3& view) {
    const D3 forward = Normalized(view);
    const double horizontal = std::hypot(forward.x, forward.y);
    const D3 reference = horizontal < kVerticalViewTolerance ? D3(0, 1, 0) : D3(0, 0, 1);
    Frame frame;
    frame.x = Normalized(Cross(forward, reference));
    frame.z = forward * -1.0;
    frame.y = Cross(frame.z, frame.x);
    return frame;
}

// Rotates v about the unit axis u (Rodrigues).
D3 RotateVector(const D3& v, const D3& u, double c, double s) {
    return v * c + Cross(u, v) * s + u * (Dot(u, v) * (1.0 - c));
}

}  // namespace

bool IsFinite(const Matrix3& m) {
    for (int i = 0; i < 4; ++i)
        if (!IsFinite(D3(m.GetRow(i)))) return false;
    return true;
}

Matrix3 LookAtTransform(const Point3& position, const Point3& view, float roll) {
    D3 v(view);
    if (!IsFinite(v) || Length(v) == 0.0) v = D3(0, 1, 0);
    const Frame base = ZeroRollFrame(v);
    const double r = std::isfinite(roll) ? roll : 0.0;
    const double c = std::cos(r), s = std::sin(r);
    const D3 x = base.x * c + base.y * s;
    const D3 y = base.y * c - base.x * s;
    return {x.ToPoint(), y.ToPoint(), base.z.ToPoint(), position};
}

float RollTowards(const Matrix3& tm, const Point3& view) {
    D3 v(view);
    if (!IsFinite(v) || Length(v) == 0.0) return 0.0f;
    const Frame base = ZeroRollFrame(v);
    const D3 x(tm.GetRow(0)), y(tm.GetRow(1));
    if (!IsFinite(x) || !IsFinite(y)) return 0.0f;
    // Both axes vote: with X = Xb·cos r + Yb·sin r and Y = Yb·cos r − Xb·sin r, the two estimates
    // agree for a rotation and the sum stays defined when one axis lies along the view.
    const double c = Dot(x, base.x) + Dot(y, base.y);
    const double s = Dot(x, base.y) - Dot(y, base.x);
    if (c == 0.0 && s == 0.0) return 0.0f;
    return static_cast<float>(std::atan2(s, c));
}

Matrix3 RotatedTransform(const Matrix3& tm, const Point3& axis, float angle, const Point3& centre) {
    const D3 u = Normalized(D3(axis));
    const D3 o(centre);
    if (!IsFinite(u) || Length(u) == 0.0 || !std::isfinite(angle) || !IsFinite(o)) return tm;
    const double c = std::cos(static_cast<double>(angle));
    const double s = std::sin(static_cast<double>(angle));
    Matrix3 out;
    for (int i = 0; i < 3; ++i) out.SetRow(i, RotateVector(D3(tm.GetRow(i)), u, c, s).ToPoint());
    out.SetTrans((o + RotateVector(D3(tm.GetTrans()) - o, u, c, s)).ToPoint());
    return out;
}

std::optional<Matrix3> Inverse(const Matrix3& m) {
    if (!IsFinite(m)) return std::nullopt;
    const D3 a(m.GetRow(0)), b(m.GetRow(1)), c(m.GetRow(2)), t(m.GetRow(3));
    const D3 bc = Cross(b, c), ca = Cross(c, a), ab = Cross(a, b);
    const double det = Dot(a, bc);
    const double scale = Length(a) * Length(b) * Length(c);
    if (!(std::fabs(det) > 1e-12 * scale) || scale == 0.0) return std::nullopt;
    // The inverse of the 3 × 3 part has the cross products as columns.
    const double k = 1.0 / det;
    const D3 r0(bc.x * k, ca.x * k, ab.x * k);
    const D3 r1(bc.y * k, ca.y * k, ab.y * k);
    const D3 r2(bc.z * k, ca.z * k, ab.z * k);
    const D3 tr = (r0 * t.x + r1 * t.y + r2 * t.z) * -1.0;
    return Matrix3(r0.ToPoint(), r1.ToPoint(), r2.ToPoint(), tr.ToPoint());
}

}  // namespace KorvoHost
