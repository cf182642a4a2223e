// The korvo command as a person runs it: its output, its messages and its exit codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/korvo_command.h"
#include "standalone_host/image_files/image_files.h"
#include "test_support/file_contents.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using KorvoTest::Korvo;
using KorvoTest::Quote;
using Result = KorvoTest::CommandResult;

class Cli : public ::testing::Test {
  protected:
    std::string Scene(const std::string& name, const std::string& text) {
        const fs::path file = temp_.path() / name;
        std::ofstream(file) << text;
        return Quote(file.string());
    }
    std::string Options() { return "--temp-dir " + Quote((temp_.path() / "host").string()); }

    KorvoTest::TempDir temp_;
};

TEST_F(Cli, InfoShowsCamerasRendererAndVersion) {
    const Result r =
        Korvo(Options() + " info " + Quote(std::string(KORVO_EXAMPLES) + "/room.json"));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Cam_Free"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Cam_Target"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("target camera looking at Cam_Target.Target"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("Default Scanline (Other)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Version: " KORVO_VERSION), std::string::npos) << r.output;
}

TEST_F(Cli, BadScenesAreNamedWithTheirProblem) {
    struct Case {
        const char* file;
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"broken.json", "{\"nodes\": [}", "broken.json:1:12: not valid JSON"},
        {"nomodel.json",
         R"({"nodes": [{"name": "M", "mesh": {"type": "model", "file": "gone.obj"}}]})",
         "gone.obj"},
        {"unknown.json", R"({"renderer": "raytracer9000"})", "unknown.json: renderer:"},
        {"field.json", R"({"nodes": [{"name": "C", "camera": {"fov": "wide"}}]})",
         "field.json: nodes[0].camera.fov: expected a number"},
    };
    for (const Case& c : cases) {
        const Result r = Korvo(Options() + " info " + Scene(c.file, c.text));
        EXPECT_EQ(r.exitCode, 1) << c.file << ": " << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.file << ": " << r.output;
        EXPECT_EQ(r.output.rfind("korvo: ", 0), 0u) << r.output;
    }
}

TEST_F(Cli, MissingSceneFileIsReported) {
    const Result r = Korvo(Options() + " info " + Quote((temp_.path() / "none.json").string()));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("none.json"), std::string::npos) << r.output;
}

TEST_F(Cli, MissingPluginIsReported) {
    const Result r = Korvo(Options() + " --plugin /nonexistent/KorvoPlugin.so info " +
                           Quote(std::string(KORVO_EXAMPLES) + "/room.json"));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("/nonexistent/KorvoPlugin.so: no such plug-in file"), std::string::npos)
        << r.output;
}

TEST_F(Cli, HelpAndUsage) {
    Result r = Korvo("--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.output.find("info"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Examples:"), std::string::npos) << r.output;
    r = Korvo("info --help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.output.find("SCENE"), std::string::npos) << r.output;
    r = Korvo("");
    EXPECT_EQ(r.exitCode, 2) << r.output;
    r = Korvo("info");
    EXPECT_EQ(r.exitCode, 2) << r.output;
    r = Korvo("frobnicate");
    EXPECT_EQ(r.exitCode, 2) << r.output;
}

// ---- korvo generate ----------------------------------------------------------------------

std::string Example(const char* name) { return Quote(std::string(KORVO_EXAMPLES) + "/" + name); }

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(Cli, GenerateWithoutAnswersStopsBeforeAnythingIsWritten) {
    struct Case {
        std::string options;
        const char* names;
    };
    const std::string out = Quote((temp_.path() / "out").string());
    const Case cases[] = {
        {"-o " + out + " --all-cameras", "--save or --no-save"},
        {"--no-save --all-cameras", "-o DIR"},
        {"--save -o " + out, "--camera NAME"},
    };
    for (const Case& c : cases) {
        const Result r = Korvo(Options() + " generate " + Example("room.json") + " " + c.options);
        EXPECT_EQ(r.exitCode, 2) << c.options << ": " << r.output;
        EXPECT_TRUE(Contains(r.output, c.names)) << c.options << ": " << r.output;
        EXPECT_FALSE(fs::exists(temp_.path() / "out")) << c.options;
        EXPECT_FALSE(fs::exists(temp_.path() / "host" / "korvo_scratch")) << c.options;
    }
}

TEST_F(Cli, GenerateNamesTheScenesCamerasForAnUnknownOne) {
    const Result r = Korvo(Options() + " generate " + Example("room.json") +
                           " --no-save -o out --camera Cam_Free --camera Cam_Nope");
    EXPECT_EQ(r.exitCode, 2) << r.output;
    EXPECT_TRUE(Contains(r.output, "no camera Cam_Nope; its cameras: Cam_Free, Cam_Target"))
        << r.output;
}

TEST_F(Cli, GenerateRefusalsExitOneWithTheMessageAndItsCode) {
    Result r = Korvo(Options() + " generate " + Scene("empty.json", R"({"nodes": []})") +
                     " --no-save -o " + Quote((temp_.path() / "out").string()));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_TRUE(Contains(r.output,
                         "korvo: This drawing doesn't have any cameras. You need at least one "
                         "camera to start rendering. (2)"))
        << r.output;
    r = Korvo(Options() + " generate " + Example("room.json") +
              " --renderer vray_rt --no-save --all-cameras -o " +
              Quote((temp_.path() / "out").string()));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_TRUE(Contains(r.output, "VRay RT is not supported.")) << r.output;
    EXPECT_TRUE(Contains(r.output, "(3)")) << r.output;
    r = Korvo(Options() + " generate " + Example("room.json") + " --renderer povray");
    EXPECT_EQ(r.exitCode, 2) << r.output;
}

// Whole panoramas of the example scenes, decoded.
class CliSlow : public Cli {
  public:
    struct Mean {
        double r = 0, g = 0, b = 0;
    };

  protected:
    // The mean colour of a 1536 × 1536 cell of the strip, or of the grid's row and column.
    static Mean CellMean(const KorvoHost::ImageRgba8& image, int cell, int row = 0) {
        Mean m;
        long n = 0;
        for (int y = row * 1536; y < (row + 1) * 1536; y += 8)
            for (int x = cell * 1536; x < (cell + 1) * 1536; x += 8) {
                const std::uint8_t* p =
                    &image.pixels[(static_cast<size_t>(y) * image.width + x) * 4];
                m.r += p[0], m.g += p[1], m.b += p[2], ++n;
            }
        m.r /= n, m.g /= n, m.b /= n;
        return m;
    }
    static void ExpectMonoEyes(const KorvoHost::ImageRgba8& strip) {
        for (int cell = 0; cell < 6; ++cell) {
            const Mean left = CellMean(strip, cell), right = CellMean(strip, cell + 6);
            EXPECT_NEAR(left.r, right.r, 1.0) << "cell " << cell << " differs between the eyes";
            EXPECT_NEAR(left.b, right.b, 1.0) << "cell " << cell << " differs between the eyes";
        }
    }
};

// The strip's cells, mirrored faces in this order.
constexpr int kRightCell = 0, kLeftCell = 1, kTopCell = 2, kBottomCell = 3;
// The stereo grid's columns for the same faces; the right eye's row is on top.
constexpr int kGridLeft = 2, kGridTop = 5, kGridBottom = 4;

// The ceiling above is pale and grey, the wooden floor below brown, the west wall on the left
// terracotta.
void ExpectRoomWalls(const CliSlow::Mean& top, const CliSlow::Mean& bottom,
                     const CliSlow::Mean& left) {
    EXPECT_GT(top.r + top.g + top.b, bottom.r + bottom.g + bottom.b + 150);
    EXPECT_LT(top.r - top.b, 40);
    EXPECT_GT(bottom.r, bottom.g);
    EXPECT_GT(bottom.g, bottom.b);
    EXPECT_GT(left.r - left.b, 40);
}

TEST_F(CliSlow, GenerateRoomShowsItsWallsAndNumbersASecondRun) {
    const fs::path out = temp_.path() / "renders";
    const std::string command = Options() + " generate " + Example("room.json") +
                                " --no-save --camera Cam_Free -o " + Quote(out.string());
    const Result r = Korvo(command);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const fs::path panorama = out / "room_Cam_Free.jpg";
    EXPECT_TRUE(Contains(r.output, panorama.string() + "\n")) << r.output;
    EXPECT_TRUE(Contains(r.output, "Log: " + (out / "korvo_log.txt").string())) << r.output;

    KorvoHost::ImageRgba8 strip;
    ASSERT_TRUE(KorvoHost::ReadJpeg(panorama, strip));
    ASSERT_EQ(strip.width, 12 * 1536);
    ASSERT_EQ(strip.height, 1536);
    ExpectMonoEyes(strip);
    ExpectRoomWalls(CellMean(strip, kTopCell), CellMean(strip, kBottomCell),
                    CellMean(strip, kLeftCell));

    // A second run into the same folder keeps the first panorama as it was.
    const std::string first = KorvoTest::ReadFile(panorama);
    const Result again = Korvo(command);
    ASSERT_EQ(again.exitCode, 0) << again.output;
    const fs::path numbered = out / "room_Cam_Free (1).jpg";
    EXPECT_TRUE(Contains(again.output, numbered.string())) << again.output;
    EXPECT_FALSE(Contains(again.output, panorama.string() + "\n")) << again.output;
    EXPECT_TRUE(fs::exists(numbered));
    EXPECT_EQ(KorvoTest::ReadFile(panorama), first) << "the first panorama changed";
    EXPECT_FALSE(fs::exists(temp_.path() / "host" / "korvo_scratch"));
}

TEST_F(CliSlow, GenerateUnderEachRendererShowsTheRoomsWallsToBothEyes) {
    struct Case {
        const char* renderer;
        bool grid;  // the stereo grid of the lens shader, or the strip of a one-frame cube
    };
    for (const Case c : {Case{"mental_ray", true}, Case{"vray", false}, Case{"arnold", false}}) {
        SCOPED_TRACE(c.renderer);
        const fs::path out = temp_.path() / c.renderer;
        const Result r =
            Korvo(Options() + " generate " + Example("room.json") + " --renderer " + c.renderer +
                  " --no-save --camera Cam_Free -o " + Quote(out.string()));
        ASSERT_EQ(r.exitCode, 0) << r.output;
        KorvoHost::ImageRgba8 panorama;
        ASSERT_TRUE(KorvoHost::ReadJpeg(out / "room_Cam_Free.jpg", panorama));
        EXPECT_EQ(panorama.width, c.grid ? 6 * 1536 : 12 * 1536);
        EXPECT_EQ(panorama.height, c.grid ? 2 * 1536 : 1536);
        for (int eye = 0; eye < 2; ++eye) {
            if (c.grid)
                ExpectRoomWalls(CellMean(panorama, kGridTop, eye),
                                CellMean(panorama, kGridBottom, eye),
                                CellMean(panorama, kGridLeft, eye));
            else
                ExpectRoomWalls(CellMean(panorama, kTopCell + 6 * eye),
                                CellMean(panorama, kBottomCell + 6 * eye),
                                CellMean(panorama, kLeftCell + 6 * eye));
        }
    }
}

TEST_F(CliSlow, GenerateCourtyardShowsSkyAboveAndGroundBelow) {
    const fs::path out = temp_.path() / "renders";
    const Result r = Korvo(Options() + " generate " + Example("courtyard.json") +
                           " --no-save --camera Cam_Target -o " + Quote(out.string()));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    KorvoHost::ImageRgba8 strip;
    ASSERT_TRUE(KorvoHost::ReadJpeg(out / "courtyard_Cam_Target.jpg", strip));
    ASSERT_EQ(strip.width, 12 * 1536);
    ExpectMonoEyes(strip);
    const Mean top = CellMean(strip, kTopCell), bottom = CellMean(strip, kBottomCell);
    EXPECT_GT(top.b, top.r + 40) << "the sky is blue";
    EXPECT_LT(bottom.b, bottom.r + 10) << "the ground is not";
    (void)kRightCell;
}

}  // namespace
