#include "standalone_host/panorama/panorama_layout.h"

namespace KorvoHost {
namespace {

constexpr int kStripWidth = 12 * kPanoramaFaceSize;
constexpr int kGridWidth = 6 * kPanoramaFaceSize;

// Cell index within an eye's run of six, by face number.
constexpr std::array<int, kCubeFaceCount> kStripCells{2, 3, 1,
                                                      0, 5, 4};  // right left top bottom back front
constexpr std::array<int, kCubeFaceCount> kGridCells{5, 4, 2,
                                                     0, 3, 1};  // right back left front bottom top

// The faces of a camera that looks along +Y with +Z up, as the cube loop turns it.
constexpr std::array<FaceFrame, kCubeFaceCount> kFrames{{
    {{0, 0, 1}, {-1, 0, 0}, {0, 1, 0}},    // top: image up is forward
    {{0, 0, -1}, {-1, 0, 0}, {0, -1, 0}},  // bottom: image up is backward
    {{-1, 0, 0}, {0, 1, 0}, {0, 0, 1}},    // left
    {{1, 0, 0}, {0, -1, 0}, {0, 0, 1}},    // right
    {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}},     // front
    {{0, -1, 0}, {-1, 0, 0}, {0, 0, 1}},   // back
}};

}  // namespace

std::optional<PanoramaLayout> LayoutOfSize(int width, int height) {
    if (width == kStripWidth && height == kPanoramaFaceSize) return PanoramaLayout::Strip;
    if (width == kGridWidth && height == 2 * kPanoramaFaceSize) return PanoramaLayout::Grid;
    return std::nullopt;
}

std::string UnknownLayoutMessage(int width, int height) {
    return "the image is " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, which is no known panorama layout; expected 18432 x 1536 (twelve cube "
           "faces in a row, left eye first) or 9216 x 3072 (two rows of six, right eye above)";
}

FaceCell CellOf(PanoramaLayout layout, PanoramaEye eye, int face) {
    const int e = static_cast<int>(eye);
    if (layout == PanoramaLayout::Strip) {
        return {(e * kCubeFaceCount + kStripCells[face]) * kPanoramaFaceSize, 0, true};
    }
    const int row = eye == PanoramaEye::Right ? 0 : 1;
    return {kGridCells[face] * kPanoramaFaceSize, row * kPanoramaFaceSize, false};
}

const FaceFrame& FrameOf(int face) { return kFrames[face]; }

}  // namespace KorvoHost
