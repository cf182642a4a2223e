// Panoramas of the V-Ray and Arnold back ends checked as pictures against the cube loop's strip:
// every cell shows the wall the strip shows there, in the same orientation, for both eyes; V-Ray
// and Arnold draw the same panorama; the eyes differ by the disparity of their eye distance, each
// to its own side, and meet at the poles.
#include <gtest/gtest.h>

#include <cmath>

#include "cube_run.h"
#include "picture_checks.h"
#include "render/arnold_backend.h"
#include "render/vray_backend.h"

namespace KorvoTest {
namespace {

const fs::path kSixWalls = fs::path(KORVO_TEST_DATA) / "render" / "six_walls.json";

// Half the eye distance both stand-ins use: 6.4 cm.
constexpr double kHalfEye = 3.2;
constexpr int kFrontLeft = 5, kFrontRight = 11, kTopLeft = 2, kBottomLeft = 3;

class BackendPicturesSlow : public CubeRun {
  protected:
    // The panorama of Cam_Free with the renderer, through its back end.
    KorvoHost::ImageRgba8 Panorama(const std::string& renderer) {
        std::ifstream in(kSixWalls);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string from = "\"renderer\": \"scanline\"";
        text.replace(text.find(from), from.size(), "\"renderer\": \"" + renderer + "\"");
        fs::remove_all(outputFolder_);
        fs::create_directories(outputFolder_);
        Korvo::ClearCameras(plugin());
        OpenSceneText(text);
        Prepare({L"Cam_Free"});
        plugin().selectedCameras.SetCount(0);
        INode* camera = Node(L"Cam_Free");
        plugin().selectedCameras.Append(1, &camera);

        bool done = false;
        if (renderer == "vray")
            done = Korvo::RenderVRayPanoramas(plugin(), plugin().progress, nullptr);
        else if (renderer == "arnold")
            done = Korvo::RenderArnoldPanoramas(plugin());
        else
            done = Korvo::RenderCubeFaces(plugin(), plugin().progress);
        EXPECT_TRUE(done) << renderer << ": " << app_->Core().LastRenderError();

        KorvoHost::ImageRgba8 panorama;
        for (const auto& entry : fs::directory_iterator(outputFolder_))
            if (entry.path().extension() == ".jpg")
                EXPECT_TRUE(KorvoHost::ReadJpeg(entry.path(), panorama)) << entry.path();
        EXPECT_EQ(panorama.width, 12 * kFace) << renderer;
        EXPECT_EQ(panorama.height, kFace) << renderer;
        return panorama;
    }
};

void ExpectCellsShowTheRoom(const KorvoHost::ImageRgba8& strip, const char* renderer) {
    for (int cell = 0; cell < 12; ++cell) {
        const CellExpectation& expected = kStripCellViews[cell % 6];
        const CellLook look = LookAtCell(strip, cell);
        EXPECT_EQ(look.wall, expected.wall)
            << renderer << ", cell " << cell << " shows the " << kWallNames[look.wall] << " wall";
        EXPECT_GT(expected.markerOnRight ? look.whiteRight : look.whiteLeft, 50)
            << renderer << ", cell " << cell << ": the marker is not on the "
            << (expected.markerOnRight ? "right" : "left") << " half";
        EXPECT_EQ(expected.markerOnRight ? look.whiteLeft : look.whiteRight, 0)
            << renderer << ", cell " << cell << ": white on the wrong half";
    }
}

// The mean and the largest difference of two strips over a square around a cell's middle.
struct Difference {
    double mean = 0;
    int largest = 0;
};
Difference CompareMiddles(const KorvoHost::ImageRgba8& a, int cellA, const KorvoHost::ImageRgba8& b,
                          int cellB, int half) {
    Difference d;
    long count = 0;
    for (int y = kFace / 2 - half; y < kFace / 2 + half; y += 2)
        for (int x = kFace / 2 - half; x < kFace / 2 + half; x += 2)
            for (int c = 0; c < 3; ++c) {
                const int diff =
                    std::abs(Pixel(a, cellA * kFace + x, y)[c] - Pixel(b, cellB * kFace + x, y)[c]);
                d.mean += diff;
                d.largest = std::max(d.largest, diff);
                ++count;
            }
    d.mean /= count;
    return d;
}

TEST_F(BackendPicturesSlow, ScanlineVRayAndArnoldShowTheSameRoom) {
    const KorvoHost::ImageRgba8 scanline = Panorama("scanline");
    const KorvoHost::ImageRgba8 vray = Panorama("vray");
    const KorvoHost::ImageRgba8 arnold = Panorama("arnold");
    ASSERT_EQ(vray.width, 12 * kFace);
    ASSERT_EQ(arnold.width, 12 * kFace);
    ExpectCellsShowTheRoom(vray, "V-Ray");
    ExpectCellsShowTheRoom(arnold, "Arnold");

    // Straight up and down no eye is shifted: the stereo cells match the mono strip there.
    for (const int cell : {kTopLeft, kBottomLeft, kTopLeft + 6, kBottomLeft + 6}) {
        for (const auto* stereo : {&vray, &arnold}) {
            const Difference d = CompareMiddles(scanline, cell, *stereo, cell, 60);
            EXPECT_LT(d.mean, 2.0) << (stereo == &vray ? "V-Ray" : "Arnold") << ", cell " << cell;
            EXPECT_LE(d.largest, 16) << (stereo == &vray ? "V-Ray" : "Arnold") << ", cell " << cell;
        }
    }
    // Arnold's tiles, reordered, are V-Ray's strip: the same pixels but for the coding.
    for (int cell = 0; cell < 12; ++cell) {
        const Difference d = CompareMiddles(vray, cell, arnold, cell, kFace / 2 - 4);
        EXPECT_LT(d.mean, 1.5) << "cell " << cell;
    }
}

// The strip column of the front face's column (cells are mirrored).
int FrontColumn(int cell, int faceColumn) { return cell * kFace + kFace - 1 - faceColumn; }

// The raster u (−1 … 1) of the front-face ray of one eye that passes through point p, the eye
// kHalfEye to the side of the ray's heading (the whole distance, p being near the horizon).
double FrontRasterU(const double camera[3], const double p[3], double sign) {
    double u = (p[0] - camera[0]) / (p[1] - camera[1]);
    for (int i = 0; i < 50; ++i) {
        const double h = std::sqrt(u * u + 1.0);
        const double ox = camera[0] + sign * kHalfEye * (-1.0 / h);
        const double oy = camera[1] + sign * kHalfEye * (u / h);
        u = (p[0] - ox) / (p[1] - oy);
    }
    return u;
}

// The front face column, to a fraction of a pixel, where the front wall's white marker ends on
// the right along row y of the cell.
double MarkerRightEdge(const KorvoHost::ImageRgba8& strip, int cell, int y) {
    auto at = [&](int column) { return Pixel(strip, FrontColumn(cell, column), y); };
    auto red = [&](int column) { return double(at(column)[0]); };
    int last = -1;
    for (int column = kFace / 2; column < kFace; ++column)
        if (IsWhite(at(column))) last = column;
    if (last < 0) return -1.0;
    const double high = red(last - 4), low = red(last + 6), mid = (high + low) / 2;
    int c = last - 4;
    while (c < last + 6 && red(c + 1) > mid) ++c;
    return c + 0.5 + (red(c) - mid) / std::max(1.0, red(c) - red(c + 1));
}

TEST_F(BackendPicturesSlow, EyesDifferWithTheSignOfEachEye) {
    // Cam_Free stands at (30, −20, 10); the front wall's marker ends at x = 120 on the plane
    // y = 185. The row through z = 0.
    const double camera[3] = {30, -20, 10};
    const double edge[3] = {120, 185, 0};
    const int y = static_cast<int>((1.0 + 10.0 / 205.0) * kFace / 2);
    const double expectedLeft = (FrontRasterU(camera, edge, +1) + 1) * kFace / 2;
    const double expectedRight = (FrontRasterU(camera, edge, -1) + 1) * kFace / 2;
    // The left eye stands to the left, so it sees the marker further to the right.
    ASSERT_GT(expectedLeft - expectedRight, 20.0);

    for (const std::string renderer : {"vray", "arnold"}) {
        const KorvoHost::ImageRgba8 strip = Panorama(renderer);
        ASSERT_EQ(strip.width, 12 * kFace);
        EXPECT_NEAR(MarkerRightEdge(strip, kFrontLeft, y), expectedLeft, 1.0)
            << renderer << ", left eye";
        EXPECT_NEAR(MarkerRightEdge(strip, kFrontRight, y), expectedRight, 1.0)
            << renderer << ", right eye";
        // The eyes meet at the poles.
        for (const int cell : {kTopLeft, kBottomLeft})
            EXPECT_LE(CompareMiddles(strip, cell, strip, cell + 6, 150).largest, 3)
                << renderer << ", cell " << cell;
    }
}

}  // namespace
}  // namespace KorvoTest
