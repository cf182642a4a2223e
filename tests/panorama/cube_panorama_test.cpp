// Cube panoramas looked up by direction and turned into equirectangular pictures, on panoramas
// the test paints itself.
#include "standalone_host/panorama/cube_panorama.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "panorama/synthetic_panorama.h"
#include "standalone_host/panorama/equirect.h"

namespace {

using namespace KorvoTest;
using KorvoHost::PanoramaEye;
using KorvoHost::PanoramaLayout;
using KorvoHost::StereoPacking;

constexpr PanoramaLayout kLayouts[] = {PanoramaLayout::Strip, PanoramaLayout::Grid};

Layout TestLayout(PanoramaLayout layout) {
    return layout == PanoramaLayout::Strip ? Layout::Strip : Layout::Grid;
}
const char* NameOf(PanoramaLayout layout) {
    return layout == PanoramaLayout::Strip ? "strip" : "grid";
}

// The direction of an eye picture's pixel: longitude from -180° at the left edge, turning right,
// latitude from +90° in the top row.
Direction EquirectPixelDirection(int width, int x, int y) {
    const double longitude = ((x + 0.5) / width - 0.5) * 2 * std::numbers::pi;
    const double latitude = (0.5 - (y + 0.5) / (width / 2)) * std::numbers::pi;
    return {std::cos(latitude) * std::sin(longitude), std::cos(latitude) * std::cos(longitude),
            std::sin(latitude)};
}

int LargestDifference(const std::array<std::uint8_t, 3>& got, const Rgb8& want) {
    return std::max(
        {std::abs(got[0] - want.r), std::abs(got[1] - want.g), std::abs(got[2] - want.b)});
}

TEST(PanoramaLayout, KnowsTheTwoSizesAndNamesThemForAnyOther) {
    EXPECT_EQ(KorvoHost::LayoutOfSize(18432, 1536), PanoramaLayout::Strip);
    EXPECT_EQ(KorvoHost::LayoutOfSize(9216, 3072), PanoramaLayout::Grid);
    for (auto [w, h] : {std::pair{1536, 18432}, {9216, 1536}, {18432, 3072}, {0, 0}, {9215, 3072}})
        EXPECT_FALSE(KorvoHost::LayoutOfSize(w, h)) << w << " x " << h;
    const std::string message = KorvoHost::UnknownLayoutMessage(4000, 2000);
    for (const char* part : {"4000 x 2000", "18432 x 1536", "9216 x 3072", "right eye above"})
        EXPECT_NE(message.find(part), std::string::npos) << message;
}

class CubePanoramaTest : public ::testing::TestWithParam<PanoramaLayout> {};

// Directions all over the sphere, many on the cube's edges and corners, where a lookup blends
// two or three faces.
std::vector<Direction> DirectionsToCheck() {
    std::vector<Direction> directions;
    for (int i = -8; i <= 8; ++i)
        for (int j = -8; j <= 8; ++j) {
            const double a = i / 8.0, b = j / 8.0;
            for (double s : {1.0, -1.0}) {
                directions.push_back({s, a, b});
                directions.push_back({a, s, b});
                directions.push_back({a, b, s});
            }
        }
    for (double t = 0; t < 2 * std::numbers::pi; t += 0.01)
        directions.push_back({std::cos(t), std::sin(t), 0.3 * std::sin(3 * t)});
    return directions;
}

TEST_P(CubePanoramaTest, EveryDirectionShowsItsOwnColourAcrossFaceEdges) {
    const KorvoHost::ImageRgba8 image = MakePanorama(TestLayout(GetParam()), GradientRoom);
    const KorvoHost::CubePanorama panorama(image.View(), GetParam());
    for (const Direction& d : DirectionsToCheck()) {
        for (Eye eye : {Eye::Left, Eye::Right}) {
            const auto got = panorama.Sample(PanoramaEye(int(eye)), d);
            // Bilinear over a smooth field: within a level of the field plus rounding.
            EXPECT_LE(LargestDifference(got, GradientRoom(eye, d)), 2)
                << NameOf(GetParam()) << (eye == Eye::Left ? " left" : " right") << " eye at ("
                << d[0] << ", " << d[1] << ", " << d[2] << ")";
        }
    }
}

// Beside a face edge the next pixel belongs to the neighbouring face: a lookup between the two
// must blend them, not repeat the edge pixel. Faces of one flat colour each make that visible.
TEST_P(CubePanoramaTest, LookupsAtAFaceEdgeBlendWithTheNeighbour) {
    const KorvoHost::ImageRgba8 image = MakePanorama(TestLayout(GetParam()), SixWallsRoom);
    const KorvoHost::CubePanorama panorama(image.View(), GetParam());
    // Exactly on the edge between front (blue) and right (red), halfway up.
    const auto onEdge = panorama.Sample(PanoramaEye::Left, {1, 1, 0});
    const Rgb8 red = kWallColours[Red], blue = kWallColours[Blue];
    EXPECT_NEAR(onEdge[0], (red.r + blue.r) / 2.0, 2);
    EXPECT_NEAR(onEdge[2], (red.b + blue.b) / 2.0, 2);
    // A pixel inside, each wall is itself.
    const auto inside = panorama.Sample(PanoramaEye::Left, {1, 1.01, 0});
    EXPECT_EQ(LargestDifference(inside, blue), 0);
}

TEST_P(CubePanoramaTest, EquirectPixelsShowTheirDirectionsInBothEyesInOrder) {
    const KorvoHost::ImageRgba8 image = MakePanorama(TestLayout(GetParam()), GradientRoom);
    const KorvoHost::CubePanorama panorama(image.View(), GetParam());
    constexpr int kWidth = 512;
    const KorvoHost::RgbImage picture =
        KorvoHost::RenderEquirect(panorama, StereoPacking::TopBottom, kWidth);
    ASSERT_EQ(picture.width, kWidth);
    ASSERT_EQ(picture.height, kWidth);
    int worst = 0, worstX = 0, worstY = 0;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const Eye eye = y < kWidth / 2 ? Eye::Left : Eye::Right;
            const Rgb8 want =
                GradientRoom(eye, EquirectPixelDirection(kWidth, x, y % (kWidth / 2)));
            const std::uint8_t* p = &picture.pixels[(std::size_t(y) * picture.width + x) * 3];
            const int d = LargestDifference({p[0], p[1], p[2]}, want);
            if (d > worst) worst = d, worstX = x, worstY = y;
        }
    EXPECT_LE(worst, 2) << NameOf(GetParam()) << ": pixel (" << worstX << ", " << worstY << ")";
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, CubePanoramaTest, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(NameOf(info.param)); });

TEST(RenderEquirect, PacksTheEyesAsAsked) {
    const KorvoHost::ImageRgba8 image = MakePanorama(Layout::Strip, GradientRoom);
    const KorvoHost::CubePanorama panorama(image.View(), PanoramaLayout::Strip);
    constexpr int kWidth = 64;
    const auto topBottom = KorvoHost::RenderEquirect(panorama, StereoPacking::TopBottom, kWidth);
    const auto sideBySide = KorvoHost::RenderEquirect(panorama, StereoPacking::SideBySide, kWidth);
    const auto left = KorvoHost::RenderEquirect(panorama, StereoPacking::LeftEye, kWidth);
    const auto right = KorvoHost::RenderEquirect(panorama, StereoPacking::RightEye, kWidth);
    ASSERT_EQ(sideBySide.width, 2 * kWidth);
    ASSERT_EQ(sideBySide.height, kWidth / 2);
    ASSERT_EQ(left.width, kWidth);
    ASSERT_EQ(left.height, kWidth / 2);
    ASSERT_EQ(right.height, kWidth / 2);
    const std::size_t row = kWidth * 3;
    for (int y = 0; y < kWidth / 2; ++y) {
        const auto* l = &left.pixels[y * row];
        const auto* r = &right.pixels[y * row];
        EXPECT_TRUE(std::equal(l, l + row, &topBottom.pixels[y * row])) << "row " << y;
        EXPECT_TRUE(std::equal(r, r + row, &topBottom.pixels[(y + kWidth / 2) * row])) << y;
        EXPECT_TRUE(std::equal(l, l + row, &sideBySide.pixels[y * 2 * row])) << "row " << y;
        EXPECT_TRUE(std::equal(r, r + row, &sideBySide.pixels[y * 2 * row + row])) << y;
    }
    EXPECT_NE(left.pixels, right.pixels);
}

}  // namespace
