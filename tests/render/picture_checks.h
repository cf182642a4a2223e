// Looking at panoramas of the six-walls room: wall colours, pixels, the cube faces of a camera
// facing +Y, and the seam check across neighbouring faces.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>

#include "standalone_host/image_files/image_files.h"

namespace KorvoTest {

constexpr int kFace = 1536;

struct Rgb8 {
    int r, g, b;
};

// The walls' colours (see six_walls.json).
enum Wall { Red, Green, Blue, Yellow, Magenta, Cyan };
constexpr std::array<Rgb8, 6> kWallColours{
    {{208, 32, 32}, {32, 176, 32}, {32, 64, 208}, {208, 208, 32}, {192, 32, 192}, {32, 192, 192}}};
inline const char* const kWallNames[] = {"red", "green", "blue", "yellow", "magenta", "cyan"};

inline const std::uint8_t* Pixel(const KorvoHost::ImageRgba8& image, int x, int y) {
    return &image.pixels[(static_cast<size_t>(y) * image.width + x) * 4];
}

inline bool IsWhite(const std::uint8_t* p) { return p[0] > 225 && p[1] > 225 && p[2] > 225; }

inline Wall NearestWall(double r, double g, double b) {
    // Compare hues: normalise away the lighting.
    const double sum = r + g + b + 1e-9;
    int best = 0;
    double bestDistance = 1e9;
    for (int w = 0; w < 6; ++w) {
        const Rgb8& c = kWallColours[w];
        const double cs = c.r + c.g + c.b;
        const double d = std::pow(r / sum - c.r / cs, 2) + std::pow(g / sum - c.g / cs, 2) +
                         std::pow(b / sum - c.b / cs, 2);
        if (d < bestDistance) bestDistance = d, best = w;
    }
    return static_cast<Wall>(best);
}

// The wall most of a cell's non-white pixels show.
inline Wall CellWall(const KorvoHost::ImageRgba8& image, int x0, int y0) {
    double sum[3] = {0, 0, 0};
    for (int y = 0; y < kFace; y += 4)
        for (int x = 0; x < kFace; x += 4) {
            const std::uint8_t* p = Pixel(image, x0 + x, y0 + y);
            if (IsWhite(p)) continue;
            for (int c = 0; c < 3; ++c) sum[c] += p[c];
        }
    return NearestWall(sum[0], sum[1], sum[2]);
}

// What each strip cell must show, for a camera facing +Y: the wall, and on which half of the cell
// (after the strip's mirroring) its white marker lies. Cells 6 to 11 repeat cells 0 to 5.
struct CellExpectation {
    Wall wall;
    bool markerOnRight;
};
constexpr std::array<CellExpectation, 6> kStripCellViews{{
    {Red, true},      // right face: looks +X, image right is −Y, marker at +Y
    {Green, false},   // left face: looks −X, image right is +Y
    {Magenta, true},  // top face: image right is −X, marker at +X
    {Cyan, true},     // bottom face: image right is −X
    {Yellow, true},   // back face: image right is −X
    {Blue, false},    // front face: image right is +X
}};

// What a strip cell shows: the wall of most of its coloured pixels, and its white pixels on each
// half (sampled every fourth pixel).
struct CellLook {
    Wall wall = Red;
    long coloured = 0, whiteLeft = 0, whiteRight = 0;
};
inline CellLook LookAtCell(const KorvoHost::ImageRgba8& strip, int cell) {
    CellLook look;
    double sum[3] = {0, 0, 0};
    for (int y = 0; y < kFace; y += 4) {
        for (int x = 0; x < kFace; x += 4) {
            const std::uint8_t* p = Pixel(strip, cell * kFace + x, y);
            if (IsWhite(p)) {
                (x < kFace / 2 ? look.whiteLeft : look.whiteRight)++;
                continue;
            }
            for (int c = 0; c < 3; ++c) sum[c] += p[c];
            ++look.coloured;
        }
    }
    look.wall = NearestWall(sum[0], sum[1], sum[2]);
    return look;
}

// The faces of a camera facing +Y, by face number: view, image right and image up in world space.
struct FaceFrame {
    double forward[3], right[3], up[3];
};
constexpr std::array<FaceFrame, 6> kFrames{{
    {{0, 0, 1}, {-1, 0, 0}, {0, 1, 0}},    // top
    {{0, 0, -1}, {-1, 0, 0}, {0, -1, 0}},  // bottom
    {{-1, 0, 0}, {0, 1, 0}, {0, 0, 1}},    // left
    {{1, 0, 0}, {0, -1, 0}, {0, 0, 1}},    // right
    {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}},     // front
    {{0, -1, 0}, {-1, 0, 0}, {0, 0, 1}},   // back
}};

inline double Dot(const double* a, const double* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// A pixel of face f at column, row of the face as rendered.
using FacePixelFunction = std::function<const std::uint8_t*(int face, int column, int row)>;

// The share of points along the cube's edges where a face and its neighbour differ: at each
// point, the pixel a few pixels inside one face against the one as far inside the other. One
// value per face, in face order.
inline std::array<double, 6> SeamShares(const FacePixelFunction& facePixel) {
    auto at = [&](int face, double u, double v) {
        const int column = std::clamp(static_cast<int>((u + 1) * kFace / 2), 0, kFace - 1);
        const int row = std::clamp(static_cast<int>((1 - v) * kFace / 2), 0, kFace - 1);
        return facePixel(face, column, row);
    };
    // The decoder blends colour across cell borders, so the outermost columns are left out.
    constexpr double kInset = 3.0 / (kFace / 2);
    std::array<double, 6> shares{};
    for (int a = 0; a < 6; ++a) {
        const FaceFrame& fa = kFrames[a];
        long compared = 0, differing = 0;
        for (int k = 8; k < kFace - 8; k += 2) {
            const double t = (k + 0.5) / (kFace / 2) - 1;
            const double edges[4][2] = {{t, 1}, {t, -1}, {1, t}, {-1, t}};
            for (const auto& edge : edges) {
                double d[3];
                for (int c = 0; c < 3; ++c)
                    d[c] = fa.forward[c] + edge[0] * fa.right[c] + edge[1] * fa.up[c];
                int b = -1;
                double bestDot = -1;
                for (int f = 0; f < 6; ++f)
                    if (f != a && Dot(d, kFrames[f].forward) > bestDot)
                        bestDot = Dot(d, kFrames[f].forward), b = f;
                // The same edge point on b, then inset towards b's centre along its crossed axis.
                double ub = Dot(d, kFrames[b].right) / bestDot,
                       vb = Dot(d, kFrames[b].up) / bestDot;
                if (std::abs(ub) > std::abs(vb))
                    ub -= std::copysign(kInset, ub);
                else
                    vb -= std::copysign(kInset, vb);
                const double ua =
                    edge[0] - (std::abs(edge[0]) == 1 ? std::copysign(kInset, edge[0]) : 0);
                const double va =
                    edge[1] - (std::abs(edge[1]) == 1 ? std::copysign(kInset, edge[1]) : 0);
                const std::uint8_t* pa = at(a, ua, va);
                const std::uint8_t* pb = at(b, ub, vb);
                ++compared;
                for (int c = 0; c < 3; ++c)
                    if (std::abs(pa[c] - pb[c]) > 12) {
                        ++differing;
                        break;
                    }
            }
        }
        shares[a] = double(differing) / double(compared);
    }
    return shares;
}

// The share of pixels (every other one of every other row) where two pictures of one size differ
// by more than `levels` in some colour channel.
inline double ShareDiffering(const KorvoHost::ImageRgba8& a, const KorvoHost::ImageRgba8& b,
                             int levels) {
    long compared = 0, differing = 0;
    for (int y = 0; y < a.height; y += 2)
        for (int x = 0; x < a.width; x += 2) {
            const std::uint8_t* p = Pixel(a, x, y);
            const std::uint8_t* q = Pixel(b, x, y);
            ++compared;
            for (int c = 0; c < 3; ++c)
                if (std::abs(p[c] - q[c]) > levels) {
                    ++differing;
                    break;
                }
        }
    return compared ? double(differing) / double(compared) : 1.0;
}

}  // namespace KorvoTest
