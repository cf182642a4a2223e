// Cube panoramas turned into equirectangular pictures, the format VR players take.
//
// An eye's picture is W x W/2 pixels: longitude runs from -180° at the left edge (behind the
// camera) through 0° at the centre (the front face) to +180° at the right edge, turning right;
// latitude from +90° (straight up) in the top row to -90° in the bottom row.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "standalone_host/panorama/cube_panorama.h"

namespace KorvoHost {

enum class StereoPacking {
    TopBottom,   // left eye above, right eye below: W x W
    SideBySide,  // left eye on the left: 2W x W/2
    LeftEye,     // W x W/2
    RightEye,
};

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // rows top to bottom, 3 values per pixel
};

constexpr int kDefaultEquirectWidth = 4 * kPanoramaFaceSize;
constexpr int kMaxEquirectWidth = 16384;  // keeps a top-bottom picture within JPEG's 65535 rows

// The direction of an eye picture's pixel centre (column, row) in a picture `width` wide.
std::array<double, 3> EquirectDirection(int width, double column, double row);

// `eyeWidth` even, 2 to kMaxEquirectWidth. Runs on all cores.
RgbImage RenderEquirect(const CubePanorama& panorama, StereoPacking packing, int eyeWidth);

struct ConvertRequest {
    std::string input;
    std::string output;
    StereoPacking packing = StereoPacking::TopBottom;
    int eyeWidth = kDefaultEquirectWidth;
};

// Reads the panorama (JPEG), converts it and writes the JPEG; the output appears only once it is
// complete. False with the problem in words (naming the file) otherwise.
bool ConvertPanorama(const ConvertRequest& request, std::string* error);

}  // namespace KorvoHost
