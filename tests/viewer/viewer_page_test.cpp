// The viewer page in a real browser: headless Chromium driven by viewer_page_test.mjs through
// puppeteer-core, on panoramas this test writes and serves. Skipped where Chromium, node or the
// npm packages are not installed.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "cli/korvo_command.h"
#include "panorama/synthetic_panorama.h"
#include "standalone_host/viewer/viewer_server.h"
#include "test_support/temp_dir.h"

namespace {

using namespace KorvoTest;
namespace fs = std::filesystem;

constexpr const char* kChromium = "/usr/bin/chromium";

// One server per panorama, on a port of its own, for the test's life.
class ServedPanorama {
  public:
    explicit ServedPanorama(const fs::path& file) : server_(KORVO_VIEWER_PAGE, file) {
        std::string error;
        bound_ = server_.Bind(0, &error);
        EXPECT_TRUE(bound_) << error;
        if (bound_) serving_ = std::thread([this] { server_.Serve(); });
    }
    ~ServedPanorama() {
        server_.Stop();
        if (serving_.joinable()) serving_.join();
    }
    std::string Address() const { return server_.Address(); }

  private:
    KorvoHost::ViewerServer server_;
    bool bound_ = false;
    std::thread serving_;
};

Rgb8 MonoGradient(Eye, const Direction& d) { return GradientRoom(Eye::Left, d); }

TEST(ViewerPageSlow, ShowsEachWallBothEyesAndTheMessageInChromium) {
    if (!fs::exists(kChromium)) GTEST_SKIP() << "no Chromium at " << kChromium;
    if (std::system("node --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no node";
    if (!fs::exists(KORVO_NODE_MODULES "/puppeteer-core"))
        GTEST_SKIP() << "puppeteer-core is not installed (npm ci)";
    const std::string missing = KorvoHost::CheckViewerPage(KORVO_VIEWER_PAGE);
    if (!missing.empty()) GTEST_SKIP() << missing;

    TempDir dir;
    const auto write = [&](const char* name, Layout layout, const ColourFunction& colour) {
        const fs::path path = dir.path() / name;
        EXPECT_TRUE(KorvoHost::WriteJpeg(path, MakePanorama(layout, colour).View(), 95));
        return path;
    };
    const ServedPanorama walls(write("walls.jpg", Layout::Grid, SixWallsRoom));
    const ServedPanorama gradient(write("gradient.jpg", Layout::Strip, MonoGradient));
    KorvoHost::ImageRgba8 smallImage{1000, 500, std::vector<std::uint8_t>(1000 * 500 * 4, 128)};
    ASSERT_TRUE(KorvoHost::WriteJpeg(dir.path() / "small.jpg", smallImage.View()));
    const ServedPanorama small(dir.path() / "small.jpg");
    std::ofstream(dir.path() / "text.jpg") << "no picture";
    const ServedPanorama text(dir.path() / "text.jpg");

    // The README's picture goes beside the build; KORVO_UPDATE_SCREENSHOT=1 writes docs/viewer.png.
    const char* update = std::getenv("KORVO_UPDATE_SCREENSHOT");
    const std::string screenshot = update && std::string(update) == "1"
                                       ? KORVO_SOURCE_DIR "/docs/viewer.png"
                                       : KORVO_BINARY_DIR "/viewer.png";
    const std::string command = "node " + Quote(KORVO_PAGE_TEST) + " " + Quote(kChromium) + " " +
                                Quote(screenshot) + " walls=" + walls.Address() +
                                " gradient=" + gradient.Address() + " small=" + small.Address() +
                                " text=" + text.Address() + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    std::string output;
    std::array<char, 4096> buffer;
    for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
        output.append(buffer.data(), n);
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    EXPECT_EQ(output.find("FAIL"), std::string::npos) << output;
    EXPECT_TRUE(fs::exists(screenshot));
    std::printf("%s", output.c_str());
}

}  // namespace
