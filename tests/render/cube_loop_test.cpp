// The cube render loop end to end in this process: renders through the standalone host's ray
// tracer, face files, stitching, the move into the output folder, the log and the progress bar.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <utility>
#include <variant>

#include "cube_run.h"
#include "render/face_geometry.h"
#include "resources/resource.h"
#include "shell/error_status.h"
#include "standalone_host/core/bitmaps.h"
#include "standalone_host/core/scripting.h"
#include "standalone_host/image_files/image_files.h"
#include "standalone_host/scene/scene_objects.h"
#include "standalone_host/windows/front_end.h"
#include "standalone_host/windows/window_manager.h"

namespace KorvoTest {
namespace {

const fs::path kSixWalls = fs::path(KORVO_TEST_DATA) / "render" / "six_walls.json";

// The six-walls scene with one piece of its text replaced.
std::string SixWallsWith(const std::string& from, const std::string& to) {
    std::ifstream in(kSixWalls);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text.replace(text.find(from), from.size(), to);
    return text;
}

// Watches the progress bar; can press the run's Cancel once the bar reaches a value.
class ProgressWatcher final : public KorvoHost::FrontEnd {
  public:
    ProgressWatcher(HWND bar, Korvo::RenderCallback& progress) : bar_(bar), progress_(progress) {}
    Answer AnswerModal(HWND) override { return Answer::NoAnswer; }
    void WindowChanged(HWND window) override {
        if (window != bar_) return;
        const int position = static_cast<int>(SendMessageW(bar_, PBM_GETPOS, 0, 0));
        positions.push_back(position);
        if (cancelAt >= 0 && position >= cancelAt) progress_.cancelled = true;
        if (onReachAt >= 0 && position >= onReachAt && onReach) std::exchange(onReach, nullptr)();
    }
    std::vector<int> positions;
    int cancelAt = -1;
    // Called once, when the bar first reaches onReachAt.
    int onReachAt = -1;
    std::function<void()> onReach;

  private:
    HWND bar_;
    Korvo::RenderCallback& progress_;
};

class CubeLoop : public CubeRun {
  protected:
    CubeLoop() {
        // A progress window of the plug-in's own template, as the run shows it.
        dialog_ = CreateDialogParamW(
            GetModuleHandleW(nullptr), MAKEINTRESOURCEW(107), nullptr,
            [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
        plugin().progress.dialog = dialog_;
        plugin().progress.bar = GetDlgItem(dialog_, Korvo::IDC_PROGRESS_BAR);
        plugin().progress.cancelled = false;
        watcher_ = std::make_unique<ProgressWatcher>(plugin().progress.bar, plugin().progress);
        KorvoHost::SetFrontEnd(watcher_.get());
    }
    ~CubeLoop() override {
        KorvoHost::SetFrontEnd(nullptr);
        plugin().progress.bar = nullptr;
        plugin().progress.dialog = nullptr;
        DestroyWindow(dialog_);
    }

    HWND dialog_ = nullptr;
    std::unique_ptr<ProgressWatcher> watcher_;
};

TEST_F(CubeLoop, OneCameraLogsEveryStepAndMovesTheStrip) {
    OpenScene(kSixWalls);
    Prepare({L"Cam_Free"});
    ASSERT_TRUE(Run());
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{
                  "Number of cameras to render: 1", "Rendering camera: Cam_Free",
                  "Rendering cube side: 0", "Rendering cube side: 1", "Rendering cube side: 2",
                  "Rendering cube side: 3", "Rendering cube side: 4", "Rendering cube side: 5",
                  "Done rendering", "Stitching image", "Starting stitching of camera: Cam_Free",
                  "Ended stitching of camera: Cam_Free", "Done stitching"}));
    EXPECT_EQ(watcher_->positions, (std::vector<int>{0, 15, 30, 45, 60, 75, 90, 100}));
    EXPECT_EQ(OutputFiles(), std::vector<fs::path>{"room_Cam_Free.jpg"});
    // The bare faces are gone; the prefixed ones wait for the end-of-run cleanup.
    EXPECT_FALSE(fs::exists(workFolder_ / "top_image_left.png"));
    EXPECT_EQ(KorvoHost::LiveBitmapCount(), 0);

    KorvoHost::ImageRgba8 strip;
    ASSERT_TRUE(KorvoHost::ReadJpeg(outputFolder_ / "room_Cam_Free.jpg", strip));
    EXPECT_EQ(strip.width, 18432);
    EXPECT_EQ(strip.height, 1536);
}

TEST_F(CubeLoop, TwoCamerasShareTheProgressBar) {
    OpenScene(kSixWalls);
    Prepare({L"Cam_Free", L"Cam_Target"});
    ASSERT_TRUE(Run());
    EXPECT_EQ(watcher_->positions,
              (std::vector<int>{0, 7, 15, 22, 30, 37, 45, 52, 60, 67, 75, 82, 90, 100}));
    EXPECT_EQ(OutputFiles(), (std::vector<fs::path>{"room_Cam_Free.jpg", "room_Cam_Target.jpg"}));
}

TEST_F(CubeLoop, UnpickedCameraIsNamedButNotRendered) {
    OpenScene(kSixWalls);
    Prepare({L"Cam_Target"});
    ASSERT_TRUE(Run());
    EXPECT_EQ(OutputFiles(), std::vector<fs::path>{"room_Cam_Target.jpg"});
    for (Korvo::CameraData* camera : plugin().cameras)
        EXPECT_EQ(camera->fileName, std::wstring(L"room_") + camera->node->GetName() + L".jpg");
    EXPECT_FALSE(fs::exists(workFolder_ / "Cam_Free_top_image_left.png"));
}

TEST_F(CubeLoop, NoPickedCameraCleansUpAndSucceeds) {
    OpenScene(kSixWalls);
    Prepare({});
    ASSERT_TRUE(Run());
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"Number of cameras to render: 0",
                                                    "No cameras were selected to be rendered"}));
    EXPECT_FALSE(fs::exists(workFolder_)) << "the working folder goes with the cleanup";
    EXPECT_EQ(plugin().cameras.Count(), 0);
}

TEST_F(CubeLoop, CancelDuringTheThirdFaceRestoresTheCamera) {
    OpenScene(kSixWalls);
    Prepare({L"Cam_Target"});
    INode* camera = Node(L"Cam_Target");
    watcher_->cancelAt = 30;  // the bar reaches 30 just before the third face renders
    // The loop levels the camera first; after that, nothing may move it for good.
    Korvo::ProjectCamera(camera);
    const Matrix3 before = camera->GetNodeTM(0);
    const Matrix3 targetBefore = camera->GetTarget()->GetNodeTM(0);

    EXPECT_FALSE(Run());
    EXPECT_EQ(camera->GetNodeTM(0), before);
    EXPECT_EQ(camera->GetTarget()->GetNodeTM(0), targetBefore);
    EXPECT_EQ(KorvoHost::LiveBitmapCount(), 0);
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorFaceRender);
    EXPECT_TRUE(Korvo::CurrentError().useContactDialog);
    const auto lines = LogLines();
    EXPECT_EQ(lines.back(), "Failed to render side 2");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Done rendering"), 0);
    EXPECT_TRUE(OutputFiles().empty()) << "nothing is stitched after a failed face";
    EXPECT_EQ(watcher_->positions.back(), 30) << "the bar stops where the run failed";
}

TEST_F(CubeLoop, FloatFrameBufferRenderersGetFloatBitmaps) {
    OpenSceneText(SixWallsWith("\"renderer\": \"scanline\"",
                               "\"renderer\": \"scanline\", \"floatFrameBuffer\": true"));
    Prepare({L"Cam_Free"});
    const size_t before = KorvoHost::CreatedBitmapTypes().size();
    ASSERT_TRUE(Run());
    const auto types = KorvoHost::CreatedBitmapTypes();
    ASSERT_EQ(types.size() - before, 6u);
    for (size_t i = before; i < types.size(); ++i) EXPECT_EQ(types[i], BMM_FLOAT_RGBA_32);
    const auto lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Renderer requires a 32-bit FPB"), 1);
    EXPECT_EQ(lines[1], "Renderer requires a 32-bit FPB");
}

TEST_F(CubeLoop, StereoRendererRendersEachEyeIntoAGrid) {
    OpenSceneText(SixWallsWith("\"renderer\": \"scanline\"", "\"renderer\": \"mental_ray\""));
    Prepare({L"Cam_Free"});
    KorvoHost::ClearExecutedScripts();
    ASSERT_TRUE(Run());

    const auto& scripts = KorvoHost::ExecutedScripts();
    ASSERT_EQ(scripts.size(), 13u);
    EXPECT_EQ(scripts[0],
              L"if korvo_stereo_shader == null then\n  korvo_stereo_shader = KorvoStereo()\n"
              L"renderers.current.Camera_Lens_Shader = korvo_stereo_shader\n"
              L"renderers.current.Enable_Camera_Lens_Shader = true");
    for (size_t i = 1; i < scripts.size(); ++i) {
        EXPECT_EQ(scripts[i], i % 2 ? L"renderers.current.Camera_Lens_Shader.Left_Eye = true"
                                    : L"renderers.current.Camera_Lens_Shader.Left_Eye = false");
    }
    const auto lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Rendering cube side: 11"), 1);
    // Each progress value shows once per eye.
    EXPECT_EQ(watcher_->positions,
              (std::vector<int>{0, 0, 15, 15, 30, 30, 45, 45, 60, 60, 75, 75, 90, 100}));

    KorvoHost::ImageRgba8 grid;
    ASSERT_TRUE(KorvoHost::ReadJpeg(outputFolder_ / "room_Cam_Free.jpg", grid));
    EXPECT_EQ(grid.width, 9216);
    EXPECT_EQ(grid.height, 3072);
    // The grid's faces stay in the working folder until the cleanup.
    EXPECT_TRUE(fs::exists(workFolder_ / "top_image_left.png"));

    // The run leaves the lens shader in place, set to the right eye it drew last; a second run
    // uses the same shader.
    auto* renderer =
        dynamic_cast<KorvoHost::SceneRenderer*>(app_->CurrentScene()->CurrentRenderer());
    ASSERT_NE(renderer, nullptr);
    const KorvoHost::RendererProperty* lens = renderer->Property(L"Camera_Lens_Shader");
    ASSERT_NE(lens, nullptr);
    ReferenceTarget* shader = std::get<ReferenceTarget*>(*lens);
    ASSERT_NE(shader, nullptr);
    EXPECT_EQ(shader->GetParamBlock(0)->GetInt(0), FALSE);
    Korvo::ClearCameras(plugin());
    Prepare({L"Cam_Free"}, L"again");
    ASSERT_TRUE(Run());
    EXPECT_EQ(std::get<ReferenceTarget*>(*renderer->Property(L"Camera_Lens_Shader")), shader);
}

TEST_F(CubeLoop, FailedStereoFaceLogsItsFaceNumber) {
    OpenSceneText(SixWallsWith("\"renderer\": \"scanline\"", "\"renderer\": \"mental_ray\""));
    Prepare({L"Cam_Free"});
    // The bar reaches 45 before the left eye of face 3, the seventh render.
    watcher_->onReachAt = 45;
    watcher_->onReach = [this] { app_->Core().SetRendererBroken(true); };
    EXPECT_FALSE(Run());
    const auto lines = LogLines();
    EXPECT_EQ(lines.back(), "Failed to render side 3");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Rendering cube side: 6"), 1);
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorFaceRender);
}

TEST_F(CubeLoop, ExistingPanoramasKeepTheirNames) {
    OpenScene(kSixWalls);
    std::ofstream(outputFolder_ / "room_Cam_Free.jpg") << "an earlier panorama";
    Prepare({L"Cam_Free"});
    ASSERT_TRUE(Run());
    Prepare({L"Cam_Free"});
    ASSERT_TRUE(Run());
    EXPECT_EQ(OutputFiles(), (std::vector<fs::path>{"room_Cam_Free (1).jpg",
                                                    "room_Cam_Free (2).jpg", "room_Cam_Free.jpg"}));
    std::ifstream earlier(outputFolder_ / "room_Cam_Free.jpg");
    std::string content;
    std::getline(earlier, content);
    EXPECT_EQ(content, "an earlier panorama");
}

TEST_F(CubeLoop, RenamedCameraCarriesItsNewName) {
    OpenSceneText(SixWallsWith("\"Cam_Free\"", "\"Cam|Free\""));
    Prepare({L"Cam|Free"});
    ASSERT_TRUE(Run());
    const auto lines = LogLines();
    EXPECT_EQ(lines[0], "Invalid camera name: changing Cam|Free to Korvo_Camera");
    EXPECT_EQ(lines[2], "Rendering camera: Korvo_Camera");
    EXPECT_EQ(OutputFiles(), std::vector<fs::path>{"room_Korvo_Camera.jpg"});
}

TEST_F(CubeLoop, RenamingACameraTellsItsDependents) {
    OpenSceneText(SixWallsWith("\"Cam_Free\"", "\"Cam|Free\""));
    KorvoHost::Scene& scene = *app_->CurrentScene();
    scene.ClearRecords();
    Prepare({L"Cam|Free", L"Cam_Target"});
    INode* renamed = Node(L"Korvo_Camera");
    ASSERT_NE(renamed, nullptr);
    ASSERT_EQ(scene.Records().size(), 1u) << "one notice, for the renamed camera only";
    const auto& notice = std::get<KorvoHost::Notification>(scene.Records()[0]);
    EXPECT_EQ(notice.target, renamed);
    EXPECT_EQ(notice.message, REFMSG_NODE_NAMECHANGE);
    EXPECT_EQ(notice.interval, FOREVER);
    EXPECT_EQ(notice.part, 0);
    EXPECT_EQ(notice.superClassFilter, NOTIFY_ALL);
    EXPECT_TRUE(notice.propagate);
}

// The run ends with the face that did not reach its file, before the next render.
TEST_F(CubeLoop, FaceThatCannotBeWrittenFailsTheRunAtOnce) {
    OpenScene(kSixWalls);
    Prepare({L"Cam_Free"});
    // A folder in the way of the fourth face file.
    fs::create_directories(workFolder_ / "Cam_Free_bottom_image_right.png" / "x");
    EXPECT_FALSE(Run());
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorFaceRender);
    EXPECT_TRUE(Korvo::CurrentError().useContactDialog);
    EXPECT_EQ(LogLines().back(), "Failed to write side 1 to " +
                                     (workFolder_ / "Cam_Free_bottom_image_right.png").string());
    EXPECT_FALSE(fs::exists(workFolder_ / "Cam_Free_left_image_left.png"));
    EXPECT_TRUE(OutputFiles().empty());
}

TEST_F(CubeLoop, FaceThatCannotBeRenamedStopsTheStitch) {
    OpenScene(kSixWalls);
    Prepare({L"Cam_Free"});
    // A folder that cannot be replaced where the stitcher expects a face.
    fs::create_directories(workFolder_ / "left_image_left.png" / "x");
    EXPECT_FALSE(Run());
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorFaceRename);
    const std::string source = (workFolder_ / "Cam_Free_left_image_left.png").string();
    const std::string destination = (workFolder_ / "left_image_left.png").string();
    EXPECT_EQ(
        LogLines().back().rfind("Attempted to rename file from " + source + " to " + destination +
                                    " for stitcher but failed. Return code was -1 with error code ",
                                0),
        0u)
        << LogLines().back();
}

TEST_F(CubeLoop, StripThatCannotBeMovedFailsTheRun) {
    OpenScene(kSixWalls);
    Prepare({L"Cam_Free"});
    plugin().outputFolder = KorvoHost::FromPath(temp_.path() / "gone");
    EXPECT_FALSE(Run());
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorResultMove);
    EXPECT_TRUE(Korvo::CurrentError().useContactDialog);
    EXPECT_NE(LogLines().back().find("Attempted to move file from " +
                                     (workFolder_ / "room_Cam_Free.jpg").string()),
              std::string::npos);
}

TEST_F(CubeLoop, StripPathTooLongForTheStitcherIsRefused) {
    OpenScene(kSixWalls);
    Prepare({L"Cam_Free"}, std::wstring(300, L's'));
    EXPECT_FALSE(Run());
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorResultMove);
    EXPECT_EQ(LogLines().back().rfind("Path is too long for the stitcher: ", 0), 0u);
    EXPECT_TRUE(OutputFiles().empty());
}

TEST_F(CubeLoop, RendererThatCannotBeOpenedFailsTheFirstFace) {
    OpenScene(kSixWalls);
    Prepare({L"Cam_Free"});
    INode* camera = Node(L"Cam_Free");
    Korvo::ProjectCamera(camera);
    const Matrix3 before = camera->GetNodeTM(0);
    app_->Core().SetRendererBroken(true);
    EXPECT_FALSE(Run());
    EXPECT_EQ(camera->GetNodeTM(0), before);
    EXPECT_EQ(KorvoHost::LiveBitmapCount(), 0);
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorFaceRender);
    EXPECT_EQ(LogLines().back(), "Failed to render side 0");
}

TEST_F(CubeLoop, StitchThatCannotWriteFailsTheRun) {
    OpenScene(kSixWalls);
    Prepare({L"Cam_Free"});
    fs::create_directories(workFolder_ / "room_Cam_Free.jpg" / "x");  // where the strip goes
    EXPECT_FALSE(Run());
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorResultMove);
    EXPECT_EQ(LogLines().back(), "Failed to write the stitched image " +
                                     (workFolder_ / "room_Cam_Free.jpg").string() +
                                     ". Stitcher result was 1.");
    EXPECT_TRUE(OutputFiles().empty());
}

TEST_F(CubeLoop, NamesThatNameFoldersAreReplaced) {
    OpenSceneText(SixWallsWith("\"Cam_Free\"", "\"../Cam\""));
    Prepare({L"../Cam"});
    ASSERT_TRUE(Run());
    EXPECT_EQ(LogLines()[0], "Invalid camera name: changing ../Cam to Korvo_Camera");
    EXPECT_EQ(OutputFiles(), std::vector<fs::path>{"room_Korvo_Camera.jpg"});
    EXPECT_FALSE(fs::exists(workFolder_.parent_path() / "Cam_top_image_left.png"));
}

TEST_F(CubeLoop, PickedCamerasOfTheSameNameKeepTheirOwnFaces) {
    OpenSceneText(SixWallsWith("\"Cam_Target\"", "\"cam_free\""));
    Prepare({L"Cam_Free", L"cam_free"});
    ASSERT_TRUE(Run());
    EXPECT_EQ(LogLines()[0], "Invalid camera name: changing cam_free to Korvo_Camera");
    EXPECT_EQ(OutputFiles(), (std::vector<fs::path>{"room_Cam_Free.jpg", "room_Korvo_Camera.jpg"}));
}

TEST_F(CubeLoop, CameraListEmptiedDuringTheRunDoesNotDisturbIt) {
    CameraListClearer clearer;
    OpenScene(kSixWalls);
    Prepare({L"Cam_Free"});
    KorvoHost::SetFrontEnd(&clearer);
    EXPECT_TRUE(Run());
    KorvoHost::SetFrontEnd(watcher_.get());
    EXPECT_EQ(OutputFiles(), std::vector<fs::path>{"room_Cam_Free.jpg"});
}

}  // namespace
}  // namespace KorvoTest
