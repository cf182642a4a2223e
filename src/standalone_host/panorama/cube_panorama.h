// Both eyes' cube faces of a panorama, ready to be looked up by direction.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "standalone_host/image_files/image_files.h"
#include "standalone_host/panorama/panorama_layout.h"

namespace KorvoHost {

class CubePanorama {
  public:
    // Takes the twelve faces out of a panorama of that layout (the view's size must be the
    // layout's).
    CubePanorama(const ImageRgba8View& image, PanoramaLayout layout);

    // The colour seen along `direction` (camera frame, any length but zero) by one eye,
    // bilinear between the four nearest face pixels, across face edges too.
    std::array<std::uint8_t, 3> Sample(PanoramaEye eye,
                                       const std::array<double, 3>& direction) const;

  private:
    // Each face is stored with a border of one pixel on every side that holds what the
    // neighbouring faces show there, so a lookup near an edge blends with the next face
    // instead of repeating its own last pixel.
    static constexpr int kSide = kPanoramaFaceSize + 2;

    const std::uint8_t* Texel(int eye, int face, int column, int row) const;
    std::uint8_t* Texel(int eye, int face, int column, int row);
    // Bilinear at (x, y) in the bordered face's pixel coordinates, clamped into [lo, hi].
    std::array<std::uint8_t, 3> Bilinear(int eye, int face, double x, double y, double lo,
                                         double hi) const;
    void FillBorders(int eye, int face);

    std::vector<std::uint8_t> texels_;  // [eye][face][row][column] RGB
};

// The face a direction meets and where: u to the face image's right, v up, both -1 to 1.
struct FacePoint {
    int face;
    double u, v;
};
FacePoint FacePointOf(const std::array<double, 3>& direction);

}  // namespace KorvoHost
