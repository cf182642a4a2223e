// Panoramas checked as pictures: every strip cell shows the wall it should, mirrored as the strip
// wants it; neighbouring cube faces meet without a seam; a target camera sees what a free camera
// at the same place sees.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "cube_run.h"
#include "picture_checks.h"

namespace KorvoTest {
namespace {

const fs::path kSixWalls = fs::path(KORVO_TEST_DATA) / "render" / "six_walls.json";

class Pictures : public CubeRun {
  protected:
    KorvoHost::ImageRgba8 Strip(const wchar_t* camera) {
        OpenScene(kSixWalls);
        Prepare({camera});
        EXPECT_TRUE(Run());
        KorvoHost::ImageRgba8 strip;
        const auto file = outputFolder_ / (L"room_" + std::wstring(camera) + L".jpg");
        EXPECT_TRUE(KorvoHost::ReadJpeg(file, strip)) << file;
        // Gone, so that the next run of the test lands under the same name.
        fs::remove(file);
        return strip;
    }

    void ExpectEveryCellShowsItsWallMirrored(const KorvoHost::ImageRgba8& strip) {
        ASSERT_EQ(strip.width, 12 * kFace);
        for (int cell = 0; cell < 12; ++cell) {
            const CellExpectation& expected = kStripCellViews[cell % 6];
            const CellLook look = LookAtCell(strip, cell);
            ASSERT_GT(look.coloured, 0) << "cell " << cell;
            const Wall wall = look.wall;
            EXPECT_EQ(wall, expected.wall)
                << "cell " << cell << " shows the " << kWallNames[wall] << " wall, not the "
                << kWallNames[expected.wall] << " one";
            EXPECT_GT(expected.markerOnRight ? look.whiteRight : look.whiteLeft, 50)
                << "cell " << cell << ": the marker is not on the "
                << (expected.markerOnRight ? "right" : "left") << " half";
            EXPECT_EQ(expected.markerOnRight ? look.whiteLeft : look.whiteRight, 0)
                << "cell " << cell << ": white on the wrong half";
        }
    }

    void ExpectNoSeams(const KorvoHost::ImageRgba8& strip);
};

TEST_F(Pictures, EveryStripCellShowsItsWallMirrored) {
    ExpectEveryCellShowsItsWallMirrored(Strip(L"Cam_Free"));
}

TEST_F(Pictures, MonoRunGivesBothEyesTheSameCells) {
    const KorvoHost::ImageRgba8 strip = Strip(L"Cam_Free");
    ASSERT_EQ(strip.width, 12 * kFace);
    // The decoder blends colour across cell borders, so the columns next to them depend on the
    // neighbouring cell; everything else of a cell must match its twin exactly.
    int worst = 0;
    for (int y = 0; y < kFace; y += 3)
        for (int x = 0; x < 6 * kFace; x += 3) {
            if (x % kFace < 2 || x % kFace >= kFace - 2) continue;
            for (int c = 0; c < 3; ++c)
                worst = std::max(
                    worst, std::abs(Pixel(strip, x, y)[c] - Pixel(strip, x + 6 * kFace, y)[c]));
        }
    EXPECT_LE(worst, 1);
}

// Strip cells of the left eye, by face number.
constexpr std::array<int, 6> kStripCells{2, 3, 1, 0, 5, 4};

void Pictures::ExpectNoSeams(const KorvoHost::ImageRgba8& strip) {
    ASSERT_EQ(strip.width, 12 * kFace);
    // Cells are mirrored. Walls are smooth; room corners and marker edges may cross a cube edge
    // at a few points, hence the share.
    const auto shares = SeamShares([&](int face, int column, int row) {
        return Pixel(strip, kStripCells[face] * kFace + (kFace - 1 - column), row);
    });
    for (int face = 0; face < 6; ++face)
        EXPECT_LT(shares[face], 0.02)
            << "face " << face << ": " << shares[face] * 100 << "% of its edge pixels differ";
}

TEST_F(Pictures, NeighbouringFacesMeetWithoutSeams) { ExpectNoSeams(Strip(L"Cam_Free")); }

TEST_F(Pictures, TargetCameraSeesWhatTheFreeCameraSees) {
    const KorvoHost::ImageRgba8 free = Strip(L"Cam_Free");
    Korvo::ClearCameras(plugin());
    const KorvoHost::ImageRgba8 target = Strip(L"Cam_Target");
    ASSERT_EQ(free.width, target.width);
    long differing = 0, compared = 0;
    for (int y = 0; y < kFace; y += 3) {
        for (int x = 0; x < 12 * kFace; x += 3) {
            ++compared;
            for (int c = 0; c < 3; ++c)
                if (std::abs(Pixel(free, x, y)[c] - Pixel(target, x, y)[c]) > 10) {
                    ++differing;
                    break;
                }
        }
    }
    EXPECT_LT(differing, compared / 1000) << differing << " of " << compared << " pixels differ";
}

// At 2 × 2 samples, flat pixels keep their centre sample: the strip shows the same cells and
// meets at its seams as when every pixel takes the whole grid, and its pixels are that strip's
// within a level or two.
using PicturesSlow = Pictures;
TEST_F(PicturesSlow, AdaptiveSamplesKeepCellsAndSeams) {
    app_->Core().SetRenderSamples(2);
    app_->Core().SetAdaptiveSamples(false);
    const KorvoHost::ImageRgba8 full = Strip(L"Cam_Free");
    Korvo::ClearCameras(plugin());
    app_->Core().SetAdaptiveSamples(true);
    const KorvoHost::ImageRgba8 adaptive = Strip(L"Cam_Free");
    ASSERT_EQ(full.pixels.size(), adaptive.pixels.size());
    ExpectEveryCellShowsItsWallMirrored(adaptive);
    ExpectNoSeams(adaptive);
    EXPECT_LT(ShareDiffering(full, adaptive, 3), 0.001);
}

}  // namespace
}  // namespace KorvoTest
