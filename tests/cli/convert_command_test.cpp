// korvo convert run as a person runs it, on panorama files the test writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli/korvo_command.h"
#include "panorama/synthetic_panorama.h"
#include "test_support/temp_dir.h"

namespace {

using namespace KorvoTest;
namespace fs = std::filesystem;

class ConvertCommand : public ::testing::Test {
  protected:
    std::string WritePanorama(Layout layout, const ColourFunction& colour, const char* name) {
        const fs::path path = dir_.path() / name;
        const KorvoHost::ImageRgba8 image = MakePanorama(layout, colour);
        EXPECT_TRUE(KorvoHost::WriteJpeg(path, image.View(), 95));
        return path.string();
    }
    std::string Out(const char* name) const { return (dir_.path() / name).string(); }

    TempDir dir_;
};

Wall WallAt(const KorvoHost::ImageRgba8& image, int x, int y) {
    const std::uint8_t* p = Pixel(image, x, y);
    return NearestWall(p[0], p[1], p[2]);
}

// The walls each eye's picture shows where they must: the horizon row ahead (front), a quarter
// turn either way, behind the camera at both ends of the row (the ±180° seam), the poles.
void ExpectWalls(const KorvoHost::ImageRgba8& picture, int x0, int y0, int width,
                 const std::string& where) {
    const int h = width / 2, horizon = y0 + h / 2;
    const struct {
        int x, y;
        Wall wall;
        const char* what;
    } checks[] = {
        {x0 + width / 2, horizon, Blue, "ahead"},
        {x0 + 3 * width / 4, horizon, Red, "a quarter turn right"},
        {x0 + width / 4, horizon, Green, "a quarter turn left"},
        {x0, horizon, Yellow, "behind, left end"},
        {x0 + width - 1, horizon, Yellow, "behind, right end"},
        {x0 + width / 8, y0, Magenta, "top row"},
        {x0 + width / 2, y0 + h - 1, Cyan, "bottom row"},
        {x0 + width / 2, y0 + h / 8, Magenta, "67° up"},
        {x0 + width / 2, y0 + h / 3, Blue, "30° up ahead"},
    };
    for (const auto& check : checks)
        EXPECT_EQ(WallAt(picture, check.x, check.y), check.wall)
            << where << ": " << check.what << " at (" << check.x << ", " << check.y << ") shows "
            << kWallNames[WallAt(picture, check.x, check.y)];
}

double Brightness(const KorvoHost::ImageRgba8& image, int x, int y) {
    const std::uint8_t* p = Pixel(image, x, y);
    return p[0] + p[1] + p[2];
}

TEST_F(ConvertCommand, TopBottomHasTheLeftEyeAboveAndEveryWallInPlace) {
    for (Layout layout : {Layout::Strip, Layout::Grid}) {
        const std::string name = layout == Layout::Strip ? "strip" : "grid";
        const std::string in = WritePanorama(layout, SixWallsRoom, (name + ".jpg").c_str());
        const std::string out = Out((name + "_360.jpg").c_str());
        const CommandResult run =
            Korvo("convert " + Quote(in) + " -o " + Quote(out) + " --width 1024");
        ASSERT_EQ(run.exitCode, 0) << run.output;
        EXPECT_NE(run.output.find(out), std::string::npos) << run.output;
        KorvoHost::ImageRgba8 picture;
        ASSERT_TRUE(KorvoHost::ReadJpeg(out, picture));
        ASSERT_EQ(picture.width, 1024);
        ASSERT_EQ(picture.height, 1024);
        ExpectWalls(picture, 0, 0, 1024, name + " top half");
        ExpectWalls(picture, 0, 512, 1024, name + " bottom half");
        // The left eye sees the room at full brightness.
        EXPECT_GT(Brightness(picture, 512, 256), 1.6 * Brightness(picture, 512, 768)) << name;
        // Across the seam behind the camera the picture runs on: both ends of a row alike.
        for (int y = 100; y < 400; y += 50) {
            EXPECT_NEAR(Brightness(picture, 0, y), Brightness(picture, 1023, y), 12) << y;
        }
    }
}

TEST_F(ConvertCommand, SideBySideAndSingleEyesByDefaultWidth) {
    const std::string in = WritePanorama(Layout::Strip, SixWallsRoom, "room.jpg");
    KorvoHost::ImageRgba8 picture;
    ASSERT_EQ(Korvo("convert " + Quote(in) + " -o " + Quote(Out("sbs.jpg")) +
                    " --stereo side-by-side --width 512")
                  .exitCode,
              0);
    ASSERT_TRUE(KorvoHost::ReadJpeg(Out("sbs.jpg"), picture));
    ASSERT_EQ(picture.width, 1024);
    ASSERT_EQ(picture.height, 256);
    ExpectWalls(picture, 0, 0, 512, "side by side, left half");
    ExpectWalls(picture, 512, 0, 512, "side by side, right half");
    EXPECT_GT(Brightness(picture, 256, 128), 1.6 * Brightness(picture, 768, 128));

    const CommandResult right = Korvo("convert " + Quote(in) + " -o " + Quote(Out("r.jpg")) +
                                      " --stereo right --to equirect");
    ASSERT_EQ(right.exitCode, 0) << right.output;
    ASSERT_TRUE(KorvoHost::ReadJpeg(Out("r.jpg"), picture));
    ASSERT_EQ(picture.width, 6144);
    ASSERT_EQ(picture.height, 3072);
    ExpectWalls(picture, 0, 0, 6144, "right eye");
    EXPECT_LT(Brightness(picture, 3072, 1536), 300);
}

TEST_F(ConvertCommand, RefusesFilesThatAreNoPanoramaNamingTheSizes) {
    KorvoHost::ImageRgba8 small{1000, 500, std::vector<std::uint8_t>(1000 * 500 * 4, 90)};
    ASSERT_TRUE(KorvoHost::WriteJpeg(Out("small.jpg"), small.View()));
    const CommandResult wrongSize =
        Korvo("convert " + Quote(Out("small.jpg")) + " -o " + Quote(Out("out.jpg")));
    EXPECT_EQ(wrongSize.exitCode, 1) << wrongSize.output;
    for (const char* part : {"small.jpg", "1000 x 500", "18432 x 1536", "9216 x 3072"})
        EXPECT_NE(wrongSize.output.find(part), std::string::npos) << wrongSize.output;

    std::ofstream(Out("text.jpg")) << "not a picture";
    const CommandResult notJpeg =
        Korvo("convert " + Quote(Out("text.jpg")) + " -o " + Quote(Out("out.jpg")));
    EXPECT_EQ(notJpeg.exitCode, 1) << notJpeg.output;
    EXPECT_NE(notJpeg.output.find("text.jpg"), std::string::npos) << notJpeg.output;

    const CommandResult missing =
        Korvo("convert " + Quote(Out("none.jpg")) + " -o " + Quote(Out("out.jpg")));
    EXPECT_EQ(missing.exitCode, 1) << missing.output;
    EXPECT_FALSE(fs::exists(Out("out.jpg")));
}

TEST_F(ConvertCommand, AWrongCommandLineIsAUsageError) {
    const std::string in = Quote(Out("in.jpg"));
    for (const std::string& arguments :
         {"convert " + in, "convert " + in + " -o x.jpg --width 1001",
          "convert " + in + " -o x.jpg --width 0", "convert " + in + " -o x.jpg --stereo up",
          "convert " + in + " -o x.jpg --to cube"}) {
        EXPECT_EQ(Korvo(arguments).exitCode, 2) << arguments;
    }
    const CommandResult help = Korvo("convert --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("LEFT EYE ON TOP"), std::string::npos) << help.output;
}

TEST_F(ConvertCommand, AnOutputThatCannotBeWrittenFailsAndLeavesNothing) {
    const std::string in = WritePanorama(Layout::Grid, SixWallsRoom, "grid.jpg");
    const std::string out = Out("no-such-folder/out.jpg");
    const CommandResult run = Korvo("convert " + Quote(in) + " -o " + Quote(out) + " --width 64");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("out.jpg"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(dir_.path() / "no-such-folder"));
}

}  // namespace
