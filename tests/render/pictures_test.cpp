// Panoramas checked as pictures: every strip cell shows the wall it should, mirrored as the strip
// wants it; neighbouring cube faces meet without a seam; a target camera sees what a free camera
// at the same place sees.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "cube_run.h"
#include "standalone_host/image_files/image_files.h"

namespace KorvoTest {
namespace {

const fs::path kSixWalls = fs::path(KORVO_TEST_DATA) / "render" / "six_walls.json";
constexpr int kFace = 1536;

struct Rgb8 {
    int r, g, b;
};

// The walls' colours (see six_walls.json).
enum Wall { Red, Green, Blue, Yellow, Magenta, Cyan };
constexpr std::array<Rgb8, 6> kWallColours{
    {{208, 32, 32}, {32, 176, 32}, {32, 64, 208}, {208, 208, 32}, {192, 32, 192}, {32, 192, 192}}};
const char* const kWallNames[] = {"red", "green", "blue", "yellow", "magenta", "cyan"};

// What each strip cell must show, for a camera facing +Y: the wall, and on which half of the cell
// (after the strip's mirroring) its white marker lies.
struct CellExpectation {
    Wall wall;
    bool markerOnRight;
};
constexpr std::array<CellExpectation, 6> kCells{{
    {Red, true},      // right face: looks +X, image right is −Y, marker at +Y
    {Green, false},   // left face: looks −X, image right is +Y
    {Magenta, true},  // top face: image right is −X, marker at +X
    {Cyan, true},     // bottom face: image right is −X
    {Yellow, true},   // back face: image right is −X
    {Blue, false},    // front face: image right is +X
}};

class Pictures : public CubeRun {
  protected:
    KorvoHost::ImageRgba8 Strip(const wchar_t* camera) {
        OpenScene(kSixWalls);
        Prepare({camera});
        EXPECT_TRUE(Run());
        KorvoHost::ImageRgba8 strip;
        const auto file = outputFolder_ / (L"room_" + std::wstring(camera) + L".jpg");
        EXPECT_TRUE(KorvoHost::ReadJpeg(file, strip)) << file;
        return strip;
    }
};

const std::uint8_t* Pixel(const KorvoHost::ImageRgba8& image, int x, int y) {
    return &image.pixels[(static_cast<size_t>(y) * image.width + x) * 4];
}

bool IsWhite(const std::uint8_t* p) { return p[0] > 225 && p[1] > 225 && p[2] > 225; }

Wall NearestWall(double r, double g, double b) {
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

TEST_F(Pictures, EveryStripCellShowsItsWallMirrored) {
    const KorvoHost::ImageRgba8 strip = Strip(L"Cam_Free");
    ASSERT_EQ(strip.width, 12 * kFace);
    for (int cell = 0; cell < 12; ++cell) {
        const CellExpectation& expected = kCells[cell % 6];
        double sum[3] = {0, 0, 0};
        long coloured = 0, whiteLeft = 0, whiteRight = 0;
        for (int y = 0; y < kFace; y += 4) {
            for (int x = 0; x < kFace; x += 4) {
                const std::uint8_t* p = Pixel(strip, cell * kFace + x, y);
                if (IsWhite(p)) {
                    (x < kFace / 2 ? whiteLeft : whiteRight)++;
                    continue;
                }
                for (int c = 0; c < 3; ++c) sum[c] += p[c];
                ++coloured;
            }
        }
        ASSERT_GT(coloured, 0) << "cell " << cell;
        const Wall wall = NearestWall(sum[0], sum[1], sum[2]);
        EXPECT_EQ(wall, expected.wall) << "cell " << cell << " shows the " << kWallNames[wall]
                                       << " wall, not the " << kWallNames[expected.wall] << " one";
        EXPECT_GT(expected.markerOnRight ? whiteRight : whiteLeft, 50)
            << "cell " << cell << ": the marker is not on the "
            << (expected.markerOnRight ? "right" : "left") << " half";
        EXPECT_EQ(expected.markerOnRight ? whiteLeft : whiteRight, 0)
            << "cell " << cell << ": white on the wrong half";
    }
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

// The faces of a camera facing +Y: view, image right and image up in world space.
struct FaceFrame {
    int cell;  // strip cell of the left eye
    double forward[3], right[3], up[3];
};
constexpr std::array<FaceFrame, 6> kFrames{{
    {2, {0, 0, 1}, {-1, 0, 0}, {0, 1, 0}},    // top
    {3, {0, 0, -1}, {-1, 0, 0}, {0, -1, 0}},  // bottom
    {1, {-1, 0, 0}, {0, 1, 0}, {0, 0, 1}},    // left
    {0, {1, 0, 0}, {0, -1, 0}, {0, 0, 1}},    // right
    {5, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}},     // front
    {4, {0, -1, 0}, {-1, 0, 0}, {0, 0, 1}},   // back
}};

double Dot(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// A pixel of a face as rendered, read from its mirrored strip cell.
const std::uint8_t* FacePixel(const KorvoHost::ImageRgba8& strip, const FaceFrame& face, int column,
                              int row) {
    return Pixel(strip, face.cell * kFace + (kFace - 1 - column), row);
}

// The pixel of face f at (u, v) on the face plane (−1 … 1, right and up), read from its strip cell.
const std::uint8_t* FacePixelAt(const KorvoHost::ImageRgba8& strip, const FaceFrame& f, double u,
                                double v) {
    const int column = std::clamp(static_cast<int>((u + 1) * kFace / 2), 0, kFace - 1);
    const int row = std::clamp(static_cast<int>((1 - v) * kFace / 2), 0, kFace - 1);
    return FacePixel(strip, f, column, row);
}

TEST_F(Pictures, NeighbouringFacesMeetWithoutSeams) {
    const KorvoHost::ImageRgba8 strip = Strip(L"Cam_Free");
    ASSERT_EQ(strip.width, 12 * kFace);
    // Walk along every edge of every face; at each point compare the pixel a few pixels inside this
    // face with the pixel as far inside the neighbouring face across the edge. (The decoder blends
    // colour across strip cell borders, so the outermost columns are left out.) Walls are smooth;
    // room corners and marker edges may cross a cube edge at a few points, hence the share.
    constexpr double kInset = 3.0 / (kFace / 2);
    for (const FaceFrame& a : kFrames) {
        long compared = 0, differing = 0;
        for (int k = 8; k < kFace - 8; k += 2) {
            const double t = (k + 0.5) / (kFace / 2) - 1;
            const double edges[4][2] = {{t, 1}, {t, -1}, {1, t}, {-1, t}};
            for (const auto& edge : edges) {
                double d[3];
                for (int c = 0; c < 3; ++c)
                    d[c] = a.forward[c] + edge[0] * a.right[c] + edge[1] * a.up[c];
                const FaceFrame* b = nullptr;
                double bestDot = -1;
                for (const FaceFrame& f : kFrames)
                    if (&f != &a && Dot(d, f.forward) > bestDot)
                        bestDot = Dot(d, f.forward), b = &f;
                // The same edge point on b, then inset towards b's centre along its crossed axis.
                double ub = Dot(d, b->right) / bestDot, vb = Dot(d, b->up) / bestDot;
                if (std::abs(ub) > std::abs(vb))
                    ub -= std::copysign(kInset, ub);
                else
                    vb -= std::copysign(kInset, vb);
                const double ua =
                    edge[0] - (std::abs(edge[0]) == 1 ? std::copysign(kInset, edge[0]) : 0);
                const double va =
                    edge[1] - (std::abs(edge[1]) == 1 ? std::copysign(kInset, edge[1]) : 0);
                const std::uint8_t* pa = FacePixelAt(strip, a, ua, va);
                const std::uint8_t* pb = FacePixelAt(strip, *b, ub, vb);
                ++compared;
                for (int c = 0; c < 3; ++c)
                    if (std::abs(pa[c] - pb[c]) > 12) {
                        ++differing;
                        break;
                    }
            }
        }
        EXPECT_LT(differing, compared / 50) << "face in cell " << a.cell << ": " << differing
                                            << " of " << compared << " edge pixels differ";
    }
}

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

}  // namespace
}  // namespace KorvoTest
