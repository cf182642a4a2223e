#include "standalone_host/panorama/cube_panorama.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace KorvoHost {
namespace {

constexpr int kFace = kPanoramaFaceSize;

double Dot(const std::array<double, 3>& a, const std::array<double, 3>& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The face whose view direction is nearest, leaving out `skip`.
int NearestFace(const std::array<double, 3>& direction, int skip = -1) {
    int best = -1;
    double bestDot = -1e300;
    for (int f = 0; f < kCubeFaceCount; ++f) {
        if (f == skip) continue;
        const double d = Dot(direction, FrameOf(f).forward);
        if (d > bestDot) bestDot = d, best = f;
    }
    return best;
}

FacePoint PointOnFace(const std::array<double, 3>& direction, int face) {
    const FaceFrame& frame = FrameOf(face);
    const double along = Dot(direction, frame.forward);
    return {face, Dot(direction, frame.right) / along, Dot(direction, frame.up) / along};
}

// Pixel coordinates of a face point in the bordered face: pixel centres of the face proper
// lie at 1.0 … kFace.
double ColumnOf(double u) { return (u + 1) * 0.5 * kFace + 0.5; }
double RowOf(double v) { return (1 - v) * 0.5 * kFace + 0.5; }

}  // namespace

FacePoint FacePointOf(const std::array<double, 3>& direction) {
    return PointOnFace(direction, NearestFace(direction));
}

CubePanorama::CubePanorama(const ImageRgba8View& image, PanoramaLayout layout)
    : texels_(std::size_t(2) * kCubeFaceCount * kSide * kSide * 3) {
    for (int eye = 0; eye < 2; ++eye) {
        for (int face = 0; face < kCubeFaceCount; ++face) {
            const FaceCell cell = CellOf(layout, PanoramaEye(eye), face);
            for (int row = 0; row < kFace; ++row) {
                const std::uint8_t* source =
                    &image.pixels[(std::size_t(cell.y + row) * image.width + cell.x) * 4];
                for (int column = 0; column < kFace; ++column) {
                    const std::uint8_t* p =
                        source + 4 * (cell.mirrored ? kFace - 1 - column : column);
                    std::memcpy(Texel(eye, face, column + 1, row + 1), p, 3);
                }
            }
        }
        // Borders read the neighbours' own pixels only, so the order does not matter.
        for (int face = 0; face < kCubeFaceCount; ++face) FillBorders(eye, face);
    }
}

const std::uint8_t* CubePanorama::Texel(int eye, int face, int column, int row) const {
    return &texels_[((std::size_t(eye * kCubeFaceCount + face) * kSide + row) * kSide + column) *
                    3];
}

std::uint8_t* CubePanorama::Texel(int eye, int face, int column, int row) {
    return const_cast<std::uint8_t*>(std::as_const(*this).Texel(eye, face, column, row));
}

std::array<std::uint8_t, 3> CubePanorama::Bilinear(int eye, int face, double x, double y, double lo,
                                                   double hi) const {
    x = std::clamp(x, lo, hi);
    y = std::clamp(y, lo, hi);
    const int x0 = std::min(int(x), kSide - 2);
    const int y0 = std::min(int(y), kSide - 2);
    const double fx = x - x0, fy = y - y0;
    const std::uint8_t* a = Texel(eye, face, x0, y0);
    const std::uint8_t* b = Texel(eye, face, x0 + 1, y0);
    const std::uint8_t* c = Texel(eye, face, x0, y0 + 1);
    const std::uint8_t* d = Texel(eye, face, x0 + 1, y0 + 1);
    std::array<std::uint8_t, 3> rgb;
    for (int k = 0; k < 3; ++k) {
        const double top = a[k] + (b[k] - a[k]) * fx;
        const double bottom = c[k] + (d[k] - c[k]) * fx;
        rgb[k] = std::uint8_t(std::lround(top + (bottom - top) * fy));
    }
    return rgb;
}

void CubePanorama::FillBorders(int eye, int face) {
    const FaceFrame& frame = FrameOf(face);
    auto fill = [&](int column, int row) {
        // The border pixel's centre lies half a pixel beyond the edge, on the neighbour.
        const double u = (column - 0.5) * 2.0 / kFace - 1;
        const double v = 1 - (row - 0.5) * 2.0 / kFace;
        std::array<double, 3> direction;
        for (int k = 0; k < 3; ++k)
            direction[k] = frame.forward[k] + u * frame.right[k] + v * frame.up[k];
        const FacePoint there = PointOnFace(direction, NearestFace(direction, face));
        const auto rgb =
            Bilinear(eye, there.face, ColumnOf(there.u), RowOf(there.v), 1.0, double(kFace));
        std::memcpy(Texel(eye, face, column, row), rgb.data(), 3);
    };
    for (int i = 0; i < kSide; ++i) {
        fill(i, 0);
        fill(i, kSide - 1);
        fill(0, i);
        fill(kSide - 1, i);
    }
}

std::array<std::uint8_t, 3> CubePanorama::Sample(PanoramaEye eye,
                                                 const std::array<double, 3>& direction) const {
    const FacePoint point = FacePointOf(direction);
    // Rounding may put a point on an edge a hair outside its face: the border covers it.
    return Bilinear(int(eye), point.face, ColumnOf(point.u), RowOf(point.v), 0.0,
                    double(kSide - 1));
}

}  // namespace KorvoHost
