// Stereo panoramas under mental ray, checked as pictures: every grid cell shows its wall, the two
// eye rows differ by the disparity the lens shader's eye offset gives, each eye to its own side,
// and agree towards the poles; faces of one eye meet without seams; rays traced in packets draw
// what rays traced one by one draw, but for a rounding at a silhouette.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "cube_run.h"
#include "picture_checks.h"

namespace KorvoTest {
namespace {

const fs::path kSixWalls = fs::path(KORVO_TEST_DATA) / "render" / "six_walls.json";

// Grid columns by face number (top, bottom, left, right, front, back); the right eye's row is on
// top.
constexpr std::array<int, 6> kGridColumns{5, 4, 2, 0, 3, 1};
constexpr int kRightEyeRow = 0, kLeftEyeRow = 1;

class StereoPicturesSlow : public CubeRun {
  protected:
    KorvoHost::ImageRgba8 Grid(const wchar_t* camera = L"Cam_Free") {
        std::ifstream in(kSixWalls);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string from = "\"renderer\": \"scanline\"";
        text.replace(text.find(from), from.size(), "\"renderer\": \"mental_ray\"");
        OpenSceneText(text);
        Prepare({camera});
        EXPECT_TRUE(Run());
        KorvoHost::ImageRgba8 grid;
        const auto file = outputFolder_ / (L"room_" + std::wstring(camera) + L".jpg");
        EXPECT_TRUE(KorvoHost::ReadJpeg(file, grid)) << file;
        // Gone, so that the next run of the test lands under the same name.
        fs::remove(file);
        return grid;
    }

    static const std::uint8_t* FacePixel(const KorvoHost::ImageRgba8& grid, int row, int face,
                                         int column, int y) {
        return Pixel(grid, kGridColumns[face] * kFace + column, row * kFace + y);
    }
};

// The raster u (−1 … 1) of the front-face ray of one eye that passes through point p, as the
// lens shader aims its rays: direction (u, 1, v) from the camera moved 3.25 to the side of the
// ray's heading (the whole distance, p being near the horizon).
double FrontRasterU(const double camera[3], const double p[3], double sign) {
    double u = (p[0] - camera[0]) / (p[1] - camera[1]);
    for (int i = 0; i < 50; ++i) {
        const double h = std::sqrt(u * u + 1.0);
        const double ox = camera[0] + sign * 3.25 * (-1.0 / h);
        const double oy = camera[1] + sign * 3.25 * (u / h);
        u = (p[0] - ox) / (p[1] - oy);
    }
    return u;
}

TEST_F(StereoPicturesSlow, EveryGridCellShowsItsWall) {
    const KorvoHost::ImageRgba8 grid = Grid();
    ASSERT_EQ(grid.width, 6 * kFace);
    ASSERT_EQ(grid.height, 2 * kFace);
    constexpr std::array<Wall, 6> kWalls{Magenta, Cyan, Green, Red, Blue, Yellow};
    for (int row = 0; row < 2; ++row)
        for (int face = 0; face < 6; ++face) {
            const Wall wall = CellWall(grid, kGridColumns[face] * kFace, row * kFace);
            EXPECT_EQ(wall, kWalls[face])
                << (row == kRightEyeRow ? "right" : "left") << " eye, face " << face
                << " shows the " << kWallNames[wall] << " wall";
        }
}

// The two eye rows differ by the disparity the shader's eye offset gives, each eye to its own
// side, and meet straight up and down.
void ExpectTheShadersDisparity(const KorvoHost::ImageRgba8& grid) {
    ASSERT_EQ(grid.height, 2 * kFace);
    // Cam_Free stands at (30, −20, 10); the front wall's marker ends at x = 120 on the plane
    // y = 185. Along the row through z = 0, the marker's right edge in each eye lies where that
    // eye's rays cross it: found to a fraction of a pixel where the red channel falls from the
    // white marker to the blue wall.
    const double camera[3] = {30, -20, 10};
    const double edge[3] = {120, 185, 0};
    const int y = static_cast<int>((1.0 + 10.0 / 205.0) * kFace / 2);
    auto at = [&](int row, int face, int column, int yy) {
        return Pixel(grid, kGridColumns[face] * kFace + column, row * kFace + yy);
    };
    auto edgeOf = [&](int row) {
        auto red = [&](int column) { return double(at(row, 4, column, y)[0]); };
        int last = -1;
        for (int column = kFace / 2; column < kFace; ++column)
            if (IsWhite(at(row, 4, column, y))) last = column;
        if (last < 0) return -1.0;
        const double high = red(last - 4), low = red(last + 6), mid = (high + low) / 2;
        int c = last - 4;
        while (c < last + 6 && red(c + 1) > mid) ++c;
        return c + 0.5 + (red(c) - mid) / std::max(1.0, red(c) - red(c + 1));
    };
    const double left = edgeOf(kLeftEyeRow), right = edgeOf(kRightEyeRow);
    const double expectedLeft = (FrontRasterU(camera, edge, +1) + 1) * kFace / 2;
    const double expectedRight = (FrontRasterU(camera, edge, -1) + 1) * kFace / 2;
    // The left eye stands to the left, so it sees the marker further to the right.
    ASSERT_GT(expectedLeft - expectedRight, 20.0);
    EXPECT_NEAR(left, expectedLeft, 1.0) << "left eye";
    EXPECT_NEAR(right, expectedRight, 1.0) << "right eye";

    // Straight up and down the eyes meet: the middles of the top and bottom faces agree.
    for (const int face : {0, 1}) {
        int worst = 0;
        for (int yy = kFace / 2 - 150; yy < kFace / 2 + 150; yy += 3)
            for (int x = kFace / 2 - 150; x < kFace / 2 + 150; x += 3)
                for (int c = 0; c < 3; ++c)
                    worst = std::max(worst, std::abs(at(kLeftEyeRow, face, x, yy)[c] -
                                                     at(kRightEyeRow, face, x, yy)[c]));
        EXPECT_LE(worst, 3) << "face " << face;
    }
}

TEST_F(StereoPicturesSlow, EyesDifferByTheShadersDisparity) { ExpectTheShadersDisparity(Grid()); }

TEST_F(StereoPicturesSlow, FacesOfOneEyeMeetWithoutSeams) {
    const KorvoHost::ImageRgba8 grid = Grid();
    ASSERT_EQ(grid.height, 2 * kFace);
    for (const int row : {kRightEyeRow, kLeftEyeRow}) {
        const auto shares = SeamShares(
            [&](int face, int column, int y) { return FacePixel(grid, row, face, column, y); });
        for (int face = 0; face < 6; ++face)
            EXPECT_LT(shares[face], 0.02)
                << (row == kRightEyeRow ? "right" : "left") << " eye, face " << face << ": "
                << shares[face] * 100 << "% of its edge pixels differ";
    }
}

TEST_F(StereoPicturesSlow, PacketsDrawWhatRaysOneByOneDraw) {
    const KorvoHost::ImageRgba8 packets = Grid();
    Korvo::ClearCameras(plugin());
    app_->Core().SetLensRaysInPackets(false);
    const KorvoHost::ImageRgba8 single = Grid();
    ASSERT_EQ(packets.pixels.size(), single.pixels.size());
    // Packets and single rays may round a silhouette pixel differently, and the JPEG spreads
    // such a pixel over its block.
    const double share = ShareDiffering(packets, single, 3);
    EXPECT_LT(share, 0.0005) << share * 100 << "% of the pixels differ";
}

// At 2 × 2 samples, flat pixels keep their centre sample: the grid keeps its disparity and its
// seams, and its pixels are the full grid's within a level or two.
TEST_F(StereoPicturesSlow, AdaptiveSamplesKeepDisparityAndSeams) {
    app_->Core().SetRenderSamples(2);
    app_->Core().SetAdaptiveSamples(false);
    const KorvoHost::ImageRgba8 full = Grid();
    Korvo::ClearCameras(plugin());
    app_->Core().SetAdaptiveSamples(true);
    const KorvoHost::ImageRgba8 adaptive = Grid();
    ASSERT_EQ(full.pixels.size(), adaptive.pixels.size());

    ExpectTheShadersDisparity(adaptive);
    for (const int row : {kRightEyeRow, kLeftEyeRow}) {
        const auto shares = SeamShares(
            [&](int face, int column, int y) { return FacePixel(adaptive, row, face, column, y); });
        for (int face = 0; face < 6; ++face) EXPECT_LT(shares[face], 0.02) << "face " << face;
    }
    EXPECT_LT(ShareDiffering(full, adaptive, 3), 0.001);
}

}  // namespace
}  // namespace KorvoTest
