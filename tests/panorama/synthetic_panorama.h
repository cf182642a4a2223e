// Panoramas made by tests, pixel by pixel, in either layout: each face pixel shows the colour a
// function gives for its direction, so a test knows what every direction must look like.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>

#include "render/picture_checks.h"
#include "standalone_host/image_files/image_files.h"

namespace KorvoTest {

enum class Layout { Strip, Grid };
enum class Eye { Left, Right };

// A direction in the camera's frame: +X right, +Y forward, +Z up.
using Direction = std::array<double, 3>;
using ColourFunction = std::function<Rgb8(Eye, const Direction&)>;

// Where the faces go, by face number (top, bottom, left, right, front, back): the strip holds
// right, left, top, bottom, back, front for the left eye, then the same for the right eye, each
// cell mirrored; the grid holds right, back, left, front, bottom, top, right eye's row on top.
constexpr std::array<int, 6> kStripColumns{2, 3, 1, 0, 5, 4};
constexpr std::array<int, 6> kGridColumnsByFace{5, 4, 2, 0, 3, 1};

inline KorvoHost::ImageRgba8 MakePanorama(Layout layout, const ColourFunction& colour) {
    KorvoHost::ImageRgba8 image;
    image.width = layout == Layout::Strip ? 12 * kFace : 6 * kFace;
    image.height = layout == Layout::Strip ? kFace : 2 * kFace;
    image.pixels.assign(std::size_t(image.width) * image.height * 4, 255);
    for (Eye eye : {Eye::Left, Eye::Right}) {
        for (int face = 0; face < 6; ++face) {
            const FaceFrame& f = kFrames[face];
            int x0, y0;
            if (layout == Layout::Strip) {
                x0 = ((eye == Eye::Right ? 6 : 0) + kStripColumns[face]) * kFace;
                y0 = 0;
            } else {
                x0 = kGridColumnsByFace[face] * kFace;
                y0 = eye == Eye::Right ? 0 : kFace;
            }
            for (int row = 0; row < kFace; ++row) {
                const double v = 1 - (row + 0.5) * 2 / kFace;
                for (int column = 0; column < kFace; ++column) {
                    const double u = (column + 0.5) * 2 / kFace - 1;
                    Direction d;
                    for (int k = 0; k < 3; ++k) d[k] = f.forward[k] + u * f.right[k] + v * f.up[k];
                    const Rgb8 c = colour(eye, d);
                    const int x = layout == Layout::Strip ? kFace - 1 - column : column;
                    std::uint8_t* p =
                        &image.pixels[(std::size_t(y0 + row) * image.width + x0 + x) * 4];
                    p[0] = std::uint8_t(c.r), p[1] = std::uint8_t(c.g), p[2] = std::uint8_t(c.b);
                }
            }
        }
    }
    return image;
}

inline Direction Normalised(const Direction& d) {
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    return {d[0] / length, d[1] / length, d[2] / length};
}

// A room whose colour changes smoothly with the direction, differently for each eye: every face
// turned or mirrored the wrong way, every seam and a swap of the eyes shows as a wrong colour.
inline Rgb8 GradientRoom(Eye eye, const Direction& direction) {
    const Direction d = Normalised(direction);
    const double s = eye == Eye::Left ? 100 : -100;
    return {int(std::lround(128 + s * d[0])), int(std::lround(128 + s * d[1])),
            int(std::lround(128 + 0.9 * s * d[2]))};
}

// The room of six walls the render tests use: right red, left green, front blue, back yellow,
// ceiling magenta, floor cyan; the right eye sees it at half brightness.
inline Wall WallOf(const Direction& d) {
    const double ax = std::abs(d[0]), ay = std::abs(d[1]), az = std::abs(d[2]);
    if (ax >= ay && ax >= az) return d[0] > 0 ? Red : Green;
    if (ay >= az) return d[1] > 0 ? Blue : Yellow;
    return d[2] > 0 ? Magenta : Cyan;
}
inline Rgb8 SixWallsRoom(Eye eye, const Direction& direction) {
    const Rgb8 c = kWallColours[WallOf(direction)];
    return eye == Eye::Left ? c : Rgb8{c.r / 2, c.g / 2, c.b / 2};
}

}  // namespace KorvoTest
