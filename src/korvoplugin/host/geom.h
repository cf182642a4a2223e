// Geometry of the host SDK: points and 4 × 3 transforms.
//
// A Matrix3 holds four rows of three floats: rows 0, 1, 2 are the local X, Y and Z axes in world
// space, row 3 is the position. Points are row vectors (world = local · M), and A · B means
// "first A, then B".
#pragma once

#include <cmath>

class Point3 {
  public:
    float x = 0.0f, y = 0.0f, z = 0.0f;

    constexpr Point3() = default;
    constexpr Point3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

    constexpr Point3 operator+(const Point3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    constexpr Point3 operator-(const Point3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    constexpr Point3 operator-() const { return {-x, -y, -z}; }
    constexpr Point3 operator*(float s) const { return {x * s, y * s, z * s}; }
    constexpr Point3 operator/(float s) const { return {x / s, y / s, z / s}; }
    Point3& operator+=(const Point3& o) { return *this = *this + o; }
    Point3& operator-=(const Point3& o) { return *this = *this - o; }
    constexpr float operator[](int i) const { return i == 0 ? x : i == 1 ? y : z; }
    float& operator[](int i) { return i == 0 ? x : i == 1 ? y : z; }
    constexpr bool operator==(const Point3&) const = default;

    float Length() const { return std::sqrt(x * x + y * y + z * z); }
    float LengthSquared() const { return x * x + y * y + z * z; }
};

inline constexpr Point3 operator*(float s, const Point3& p) { return p * s; }
inline constexpr float DotProd(const Point3& a, const Point3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline constexpr Point3 CrossProd(const Point3& a, const Point3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float Length(const Point3& p) { return p.Length(); }
// The unit vector along p; the zero vector stays zero.
inline Point3 Normalize(const Point3& p) {
    const float len = p.Length();
    return len > 0.0f ? p / len : p;
}

class Matrix3 {
  public:
    // The identity.
    constexpr Matrix3() = default;
    constexpr Matrix3(const Point3& r0, const Point3& r1, const Point3& r2, const Point3& r3)
        : rows_{r0, r1, r2, r3} {}

    void IdentityMatrix() { *this = Matrix3(); }
    constexpr const Point3& GetRow(int i) const { return rows_[i]; }
    void SetRow(int i, const Point3& p) { rows_[i] = p; }
    constexpr const Point3& GetTrans() const { return rows_[3]; }
    void SetTrans(const Point3& p) { rows_[3] = p; }
    constexpr const Point3& operator[](int i) const { return rows_[i]; }
    Point3& operator[](int i) { return rows_[i]; }
    constexpr bool operator==(const Matrix3&) const = default;

    // Moves the origin by p given in local coordinates: row3 += p · (rows 0..2).
    void PreTranslate(const Point3& p) { rows_[3] = rows_[3] + VectorTransform(p); }
    void Translate(const Point3& p) { rows_[3] = rows_[3] + p; }

    // Transforms a direction (no translation).
    constexpr Point3 VectorTransform(const Point3& v) const {
        return rows_[0] * v.x + rows_[1] * v.y + rows_[2] * v.z;
    }
    constexpr Point3 PointTransform(const Point3& p) const { return VectorTransform(p) + rows_[3]; }

    // First this, then b.
    constexpr Matrix3 operator*(const Matrix3& b) const {
        return {b.VectorTransform(rows_[0]), b.VectorTransform(rows_[1]),
                b.VectorTransform(rows_[2]), b.PointTransform(rows_[3])};
    }
    Matrix3& operator*=(const Matrix3& b) { return *this = *this * b; }

  private:
    Point3 rows_[4] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}};
};

inline Point3 operator*(const Point3& p, const Matrix3& m) { return m.PointTransform(p); }
inline Point3 VectorTransform(const Matrix3& m, const Point3& v) { return m.VectorTransform(v); }

// Right-handed rotations, angle in radians.
inline Matrix3 RotateXMatrix(float a) {
    const float c = std::cos(a), s = std::sin(a);
    return {{1, 0, 0}, {0, c, s}, {0, -s, c}, {0, 0, 0}};
}
inline Matrix3 RotateYMatrix(float a) {
    const float c = std::cos(a), s = std::sin(a);
    return {{c, 0, -s}, {0, 1, 0}, {s, 0, c}, {0, 0, 0}};
}
inline Matrix3 RotateZMatrix(float a) {
    const float c = std::cos(a), s = std::sin(a);
    return {{c, s, 0}, {-s, c, 0}, {0, 0, 1}, {0, 0, 0}};
}
inline Matrix3 TransMatrix(const Point3& p) {
    Matrix3 m;
    m.SetTrans(p);
    return m;
}

// A rotation by an angle (radians, right-handed) about an axis.
struct AngAxis {
    Point3 axis{0, 0, 1};
    float angle = 0.0f;
    constexpr AngAxis() = default;
    constexpr AngAxis(const Point3& axis_, float angle_) : axis(axis_), angle(angle_) {}
};

constexpr float PI = 3.1415927f;
constexpr float HALFPI = 1.5707964f;
