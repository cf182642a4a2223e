// The layouts of the panoramas the plug-in writes, and where each eye's cube faces sit in them.
//
// Faces are numbered as the plug-in numbers them: top 0, bottom 1, left 2, right 3, front 4,
// back 5. Directions are given in the frame of the panorama's camera: +X right, +Y forward
// (the front face), +Z up.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace KorvoHost {

constexpr int kPanoramaFaceSize = 1536;  // pixels, each side of a face cell
constexpr int kCubeFaceCount = 6;

enum class PanoramaLayout {
    Strip,  // 18432 x 1536: one row of twelve cells, left eye's six first, every cell mirrored
    Grid,   // 9216 x 3072: two rows of six cells, right eye's row above, none mirrored
};

enum class PanoramaEye { Left = 0, Right = 1 };

// The layout of a panorama of that pixel size, if any.
std::optional<PanoramaLayout> LayoutOfSize(int width, int height);

// What a user is told about a file whose size has no layout: the size found and the sizes known.
std::string UnknownLayoutMessage(int width, int height);

// A face's cell: its top-left pixel, and whether the cell holds the face mirrored left-right.
struct FaceCell {
    int x = 0;
    int y = 0;
    bool mirrored = false;
};
FaceCell CellOf(PanoramaLayout layout, PanoramaEye eye, int face);

// How a face looks at the scene: its view direction and its image's right and up.
struct FaceFrame {
    std::array<double, 3> forward, right, up;
};
const FaceFrame& FrameOf(int face);

}  // namespace KorvoHost
