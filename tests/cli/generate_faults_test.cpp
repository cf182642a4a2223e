// korvo generate when things go wrong during a run: a name already taken in the output folder, a
// full disk, an output folder that goes away, a process killed part-way, faces spoilt before the
// stitch, two runs at once. Whatever happens, the output folder holds whole panoramas only and
// the working folder goes at the end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/korvo_process.h"
#include "standalone_host/image_files/image_files.h"
#include "test_support/file_contents.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using KorvoTest::KorvoProcess;

// Two cameras in an otherwise empty world: the first stands far from the one ball and sees
// nothing, so its faces and its panorama are small; the second stands beside the ball, which
// fills its front face. Cameras are stitched in this order.
constexpr const char* kScene = R"({
  "unit": "centimeters",
  "background": [0.0, 0.0, 0.0],
  "ambient": [0.3, 0.3, 0.3],
  "nodes": [
    {"name": "Ball", "mesh": {"type": "sphere", "radius": 50.0, "color": "#C08040"}},
    {"name": "Lamp", "transform": {"position": [100.0, -150.0, 150.0]}, "light": {"type": "omni"}},
    {"name": "Cam_Far", "transform": {"position": [0.0, -1000000.0, 0.0]}, "camera": {"fov": 90.0}},
    {"name": "Cam_Near", "transform": {"position": [0.0, -75.0, 0.0]}, "camera": {"fov": 90.0}}
  ]
})";

// File-size limits, from the sizes of these files: a black face takes 45 kB, the near camera's
// front face 495 kB, the far camera's panorama 443 kB and the near camera's 827 kB.
constexpr rlim_t kFaceLimit = 200'000;   // the near camera's front face does not fit
constexpr rlim_t kStripLimit = 650'000;  // every face fits, and the far camera's panorama

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Panoramas and anything else but the log.
std::vector<std::string> NotLog(const fs::path& folder) {
    std::vector<std::string> names = Listing(folder);
    std::erase(names, "korvo_log.txt");
    return names;
}

class GenerateFaults : public ::testing::Test {
  protected:
    GenerateFaults() { std::ofstream(scene_) << kScene; }

    // The arguments of a run of the picked cameras into `out`.
    std::vector<std::string> Run(const std::vector<std::string>& cameras, const fs::path& out) {
        std::vector<std::string> args{"--temp-dir", host_.string(), "generate",  scene_.string(),
                                      "--no-save",  "-o",           out.string()};
        for (const std::string& camera : cameras) args.insert(args.end(), {"--camera", camera});
        return args;
    }
    // The log of the runs into `out`, from the byte `from` on.
    static std::string Log(const fs::path& out, size_t from = 0) {
        const std::string log = KorvoTest::ReadFile(out / "korvo_log.txt");
        return from < log.size() ? log.substr(from) : std::string();
    }
    bool WorkFolderGone() const { return !fs::exists(host_ / "korvo_scratch"); }
    fs::path Output(const char* name) const { return temp_.path() / name; }

    static void ExpectPanorama(const fs::path& file) {
        KorvoHost::ImageRgba8 strip;
        ASSERT_TRUE(KorvoHost::ReadJpeg(file, strip)) << file;
        EXPECT_EQ(strip.width, 12 * 1536) << file;
        EXPECT_EQ(strip.height, 1536) << file;
    }

    void KillAndRunAgain(const std::vector<std::string>& cameras,
                         const std::vector<std::string>& killPoints);
    void SpoilAFace(void (*spoil)(const fs::path& face), const char* code, const char* logged);

    KorvoTest::TempDir temp_;
    const fs::path scene_ = temp_.path() / "ball.json";
    const fs::path host_ = temp_.path() / "host";
    int runs_ = 0;
};

// The cases with several runs or two cameras, and the variants of a fast case.
class GenerateFaultsSlow : public GenerateFaults {};

TEST_F(GenerateFaults, ATakenNameKeepsItsFileAndTheNewPanoramaIsNumbered) {
    const fs::path out = temp_.path() / "out";
    fs::create_directories(out);
    KorvoTest::WriteFile(out / "ball_Cam_Far.jpg", "someone else's picture");

    KorvoProcess run(Run({"Cam_Far"}, out), Output("run.txt"));
    ASSERT_EQ(run.Wait(), 0) << run.Output();
    EXPECT_EQ(KorvoTest::ReadFile(out / "ball_Cam_Far.jpg"), "someone else's picture");
    EXPECT_TRUE(Contains(run.Output(), (out / "ball_Cam_Far (1).jpg").string())) << run.Output();
    ExpectPanorama(out / "ball_Cam_Far (1).jpg");
    EXPECT_TRUE(WorkFolderGone());
}

// The disk fills up as the near camera's front face is written: the run ends there.
TEST_F(GenerateFaults, AFullDiskWhileFacesAreWrittenFailsTheRunWithNothingInTheOutputFolder) {
    const fs::path out = temp_.path() / "out";
    KorvoProcess run(Run({"Cam_Near"}, out), Output("run.txt"), kFaceLimit);
    EXPECT_EQ(run.Wait(), 1) << run.Output();
    EXPECT_TRUE(Contains(run.Output(), "(9)")) << run.Output();
    EXPECT_TRUE(Contains(Log(out), "Failed to write side 4 to ")) << Log(out);
    EXPECT_FALSE(Contains(Log(out), "Stitching")) << Log(out);
    EXPECT_TRUE(NotLog(out).empty()) << NotLog(out).front();
    EXPECT_TRUE(WorkFolderGone());
}

// The same limit, but above every face: the near camera's panorama is the first file too large
// for it. The far camera's panorama, stitched before, stays in the output folder.
TEST_F(GenerateFaultsSlow, AFullDiskWhileAPanoramaIsWrittenKeepsTheEarlierOnes) {
    const fs::path out = temp_.path() / "out";
    KorvoProcess run(Run({"Cam_Far", "Cam_Near"}, out), Output("run.txt"), kStripLimit);
    EXPECT_EQ(run.Wait(), 1) << run.Output();
    EXPECT_TRUE(Contains(run.Output(), "(12)")) << run.Output();
    EXPECT_TRUE(Contains(Log(out), "Failed to write the stitched image")) << Log(out);
    EXPECT_EQ(NotLog(out), std::vector<std::string>{"ball_Cam_Far.jpg"});
    ExpectPanorama(out / "ball_Cam_Far.jpg");
    EXPECT_TRUE(WorkFolderGone());
}

// While the faces are rendered, the output folder is moved away and a file takes its name.
TEST_F(GenerateFaults, AnOutputFolderGoneBeforeTheMoveFailsTheRunAndLeavesNoPanorama) {
    const fs::path out = temp_.path() / "out", moved = temp_.path() / "moved";
    KorvoProcess run(Run({"Cam_Far"}, out), Output("run.txt"));
    ASSERT_TRUE(run.WaitUntil([&] { return Contains(Log(out), "Rendering cube side: 0"); }))
        << run.Output();
    fs::rename(out, moved);
    KorvoTest::WriteFile(out, "not a folder");
    EXPECT_EQ(run.Wait(), 1) << run.Output();
    EXPECT_TRUE(Contains(run.Output(), "(12)")) << run.Output();
    EXPECT_TRUE(Contains(Log(moved), "Attempted to move file")) << Log(moved);
    EXPECT_EQ(KorvoTest::ReadFile(out), "not a folder");
    EXPECT_TRUE(NotLog(moved).empty()) << NotLog(moved).front();
    EXPECT_TRUE(WorkFolderGone());
}

// Killed part-way, as each camera renders and as it stitches: whatever reached the output
// folder is a whole panorama, and the next run into the same folders makes its panoramas and
// clears the working folder the killed runs left.
void GenerateFaults::KillAndRunAgain(const std::vector<std::string>& cameras,
                                     const std::vector<std::string>& killPoints) {
    const fs::path out = temp_.path() / "out";
    for (const std::string& line : killPoints) {
        SCOPED_TRACE(line);
        const size_t logged = Log(out).size();
        KorvoProcess run(Run(cameras, out), Output("run.txt"));
        ASSERT_TRUE(run.WaitUntil([&] { return Contains(Log(out, logged), line); }))
            << run.Output();
        run.Kill();
        EXPECT_FALSE(WorkFolderGone()) << "nothing cleans up after a kill";
        for (const std::string& name : NotLog(out)) ExpectPanorama(out / name);
    }
    const size_t before = NotLog(out).size();
    KorvoProcess next(Run(cameras, out), Output("next.txt"));
    ASSERT_EQ(next.Wait(), 0) << next.Output();
    EXPECT_EQ(NotLog(out).size(), before + cameras.size());
    for (const std::string& name : NotLog(out)) ExpectPanorama(out / name);
    EXPECT_TRUE(WorkFolderGone());
}

TEST_F(GenerateFaults, AKilledRunLeavesNoPartialFileAndTheNextRunSucceeds) {
    KillAndRunAgain({"Cam_Far"}, {"Rendering cube side: 3"});
}

TEST_F(GenerateFaultsSlow, RunsKilledAtEachStageLeaveNoPartialFile) {
    KillAndRunAgain({"Cam_Far", "Cam_Near"},
                    {"Rendering camera: Cam_Near", "Starting stitching of camera: Cam_Far",
                     "Starting stitching of camera: Cam_Near"});
}

// While the second camera renders, the first camera's faces lie finished in the working folder:
// one of them is removed or spoilt there.
void GenerateFaults::SpoilAFace(void (*spoil)(const fs::path& face), const char* code,
                                const char* logged) {
    const fs::path out = temp_.path() / ("out" + std::to_string(++runs_));
    const fs::path face = host_ / "korvo_scratch" / "Cam_Far_front_image_right.png";
    KorvoProcess run(Run({"Cam_Far", "Cam_Near"}, out), Output("run.txt"));
    ASSERT_TRUE(run.WaitUntil([&] { return Contains(Log(out), "Rendering camera: Cam_Near"); }))
        << run.Output();
    ASSERT_TRUE(fs::exists(face));
    spoil(face);
    EXPECT_EQ(run.Wait(), 1) << run.Output();
    EXPECT_TRUE(Contains(run.Output(), code)) << run.Output();
    EXPECT_TRUE(Contains(Log(out), logged)) << Log(out);
    EXPECT_TRUE(NotLog(out).empty()) << NotLog(out).front();
    EXPECT_TRUE(WorkFolderGone());
}

TEST_F(GenerateFaults, AFaceRemovedBeforeTheStitchFailsTheRunWithItsPath) {
    SpoilAFace([](const fs::path& face) { fs::remove(face); }, "(11)",
               "Failed to find side for stitching: ");
}

TEST_F(GenerateFaultsSlow, AFaceCutShortOrOverwrittenBeforeTheStitchFailsTheRun) {
    SpoilAFace([](const fs::path& face) { fs::resize_file(face, fs::file_size(face) / 2); }, "(11)",
               "A side of camera Cam_Far could not be read");
    SpoilAFace(
        [](const fs::path& face) {
            std::fstream file(face, std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(static_cast<std::streamoff>(fs::file_size(face) / 3));
            file << std::string(4096, '\xA5');
        },
        "(11)", "A side of camera Cam_Far could not be read");
}

// Runs with the same host folder share one working folder: run together they would clear and
// delete each other's faces. The second waits for the first and both succeed.
TEST_F(GenerateFaults, TwoRunsWithOneHostFolderTakeTurnsAndBothSucceed) {
    const fs::path first = temp_.path() / "first", second = temp_.path() / "second";
    KorvoProcess a(Run({"Cam_Far", "Cam_Near"}, first), Output("first.txt"));
    KorvoProcess b(Run({"Cam_Far", "Cam_Near"}, second), Output("second.txt"));
    EXPECT_EQ(a.Wait(), 0) << a.Output();
    EXPECT_EQ(b.Wait(), 0) << b.Output();
    for (const fs::path& out : {first, second}) {
        EXPECT_EQ(NotLog(out), (std::vector<std::string>{"ball_Cam_Far.jpg", "ball_Cam_Near.jpg"}));
        for (const std::string& name : NotLog(out)) ExpectPanorama(out / name);
    }
    EXPECT_TRUE(WorkFolderGone());
}

TEST_F(GenerateFaults, ARunWaitsWhileAnotherHoldsTheHostFolderAndSaysSo) {
    fs::create_directories(host_);
    const int held = ::open((host_ / "korvo.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const fs::path out = temp_.path() / "out";
    KorvoProcess run(Run({"Cam_Far"}, out), Output("run.txt"));
    ASSERT_TRUE(run.WaitUntil([&] { return Contains(run.Output(), "waiting for it to finish"); }))
        << run.Output();
    EXPECT_TRUE(Contains(run.Output(), "another korvo run is working in " + host_.string()))
        << run.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(Contains(Log(out), "Rendering")) << Log(out);
    ::close(held);
    EXPECT_EQ(run.Wait(), 0) << run.Output();
    ExpectPanorama(out / "ball_Cam_Far.jpg");
}

}  // namespace
