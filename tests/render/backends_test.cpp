// The V-Ray and Arnold back ends driven directly over loaded scenes: the stereoscopic helper and
// the settings written in order, the renders, the moves beside existing panoramas, every failure;
// the temporary VR camera, the numbered names, the reorder of the tiles.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <variant>

#include "cube_run.h"
#include "host/win32_window.h"
#include "render/arnold_backend.h"
#include "render/renderer_kind.h"
#include "render/vray_backend.h"
#include "resources/resource.h"
#include "shell/error_status.h"
#include "standalone_host/core/bitmaps.h"
#include "standalone_host/core/scripting.h"
#include "standalone_host/image_files/image_files.h"
#include "standalone_host/scene/scene_objects.h"

namespace KorvoTest {
namespace {

// Two cameras facing +Y in an empty world, so that renders cost little.
std::string TwoCameras(const std::string& renderer, const std::string& unit = "centimeters",
                       const std::string& extraNodes = "") {
    return R"({"unit": ")" + unit + R"(", "renderer": )" + renderer + R"(, "nodes": [)" +
           extraNodes +
           R"({"name": "Cam01", "transform": {"position": [0, 0, 0], "rotation": [90, 0, 0]}, "camera": {}},
              {"name": "Cam02", "transform": {"position": [10, 0, 0], "rotation": [90, 0, 20]}, "camera": {}}]})";
}

const std::string kHelper =
    R"({"name": "Stereo", "helper": {"classId": ["0x778103A1", "0x3B985164"], "paramBlocks": {"0": {"2": 0.5, "7": 5}}}},)";

struct Write {
    int block, param;
    std::variant<int, float> value;
    bool operator==(const Write&) const = default;
};

// Counts the frames the renderer starts; can press Cancel as one begins.
class CountingCallback final : public Korvo::RenderCallback {
  public:
    void SetTitle(const MCHAR* title) override {
        if (++frames == cancelAtFrame) cancelled = true;
        RenderCallback::SetTitle(title);
    }
    int frames = 0;
    int cancelAtFrame = -1;
};

class Backends : public CubeRun {
  protected:
    KorvoHost::Scene& CurrentScene() { return *app_->Core().CurrentScene(); }

    // The parameter writes made on objects of the class (or on the renderer) since the last clear.
    std::vector<Write> WritesTo(const Class_ID& owner) {
        std::vector<Write> writes;
        for (const KorvoHost::SceneRecord& record : CurrentScene().Records())
            if (const auto* write = std::get_if<KorvoHost::ParamWrite>(&record))
                if (write->owner->ClassID() == owner)
                    writes.push_back({write->block, write->param, write->value});
        return writes;
    }

    std::vector<INode*> NodesOfClass(const Class_ID& id) {
        std::vector<INode*> nodes;
        for (INode* node : CurrentScene().Nodes())
            if (node->GetObjectRef() && node->GetObjectRef()->ClassID() == id)
                nodes.push_back(node);
        return nodes;
    }

    bool RunVRay(Korvo::RenderCallback& progress, Korvo::CubeLoop loop = nullptr) {
        return Korvo::RenderVRayPanoramas(plugin(), progress, loop);
    }
    bool RunVRay() { return RunVRay(plugin().progress); }

    // Prepares the run and hands the picked nodes over as the workflow does.
    void PrepareArnold(const std::vector<std::wstring>& picked) {
        Prepare(picked);
        plugin().selectedCameras.SetCount(0);
        for (Korvo::CameraData* camera : plugin().cameras)
            if (camera->selected) plugin().selectedCameras.Append(1, &camera->node);
    }
    bool RunArnold() { return Korvo::RenderArnoldPanoramas(plugin()); }

    void OpenSceneAs(const std::string& json, const std::string& fileName) {
        const fs::path file = temp_.path() / fileName;
        std::ofstream(file) << json;
        OpenScene(file);
    }
};

const Class_ID kHelperClass = Korvo::kVRayStereoHelperClassID;
const Class_ID kVRayClass = Korvo::kVRayClassID;
const Class_ID kVRCameraClass{0x0007DC4F, 0x000400FD};

// ---- V-Ray ----------------------------------------------------------------------------------

TEST_F(Backends, VRayCreatesTheHelperOnceAndWritesEverySettingInOrder) {
    OpenSceneText(TwoCameras(R"("vray")"));
    Prepare({L"Cam01"});
    EXPECT_EQ(Korvo::CountStereoHelpers(), 0);
    CurrentScene().ClearRecords();
    ASSERT_TRUE(RunVRay()) << app_->Core().LastRenderError();
    EXPECT_EQ(Korvo::CountStereoHelpers(), 1);
    const std::vector<Write> helper{{0, 0, 1}, {0, 1, 0}, {0, 3, 0}, {0, 4, 1}, {0, 2, 6.4f}};
    EXPECT_EQ(WritesTo(kHelperClass), helper);
    const std::vector<Write> renderer{{10, 83, 10}, {2, 6, 0}, {15, 170, 0}};
    EXPECT_EQ(WritesTo(kVRayClass), renderer);
    EXPECT_EQ(OutputFiles(), std::vector<fs::path>{"room_Cam01.jpg"});
    KorvoHost::ImageRgba8 panorama;
    ASSERT_TRUE(KorvoHost::ReadJpeg(outputFolder_ / "room_Cam01.jpg", panorama));
    EXPECT_EQ(panorama.width, 18432);
    EXPECT_EQ(panorama.height, 1536);
    EXPECT_TRUE(fs::is_empty(workFolder_));
    EXPECT_EQ(KorvoHost::LiveBitmapCount(), 0);
    EXPECT_TRUE(LogLines().empty()) << "a run that works logs nothing of its own";

    // The second run finds the helper and writes the same settings to it again.
    CurrentScene().ClearRecords();
    ASSERT_TRUE(RunVRay());
    EXPECT_EQ(Korvo::CountStereoHelpers(), 1);
    EXPECT_EQ(WritesTo(kHelperClass), helper);
    EXPECT_EQ(OutputFiles(), (std::vector<fs::path>{"room_Cam01 (1).jpg", "room_Cam01.jpg"}));
}

TEST_F(Backends, VRayRunsTheProgressBarAsAMarquee) {
    OpenSceneText(TwoCameras(R"("vray")"));
    Prepare({});
    const HWND dialog = CreateDialogParamW(
        GetModuleHandleW(nullptr), MAKEINTRESOURCEW(107), nullptr,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    plugin().progress.bar = GetDlgItem(dialog, Korvo::IDC_PROGRESS_BAR);
    EXPECT_TRUE(RunVRay());
    EXPECT_TRUE(GetWindowLongPtrW(plugin().progress.bar, GWL_STYLE) & PBS_MARQUEE);
    plugin().progress.bar = nullptr;
    DestroyWindow(dialog);
}

TEST_F(Backends, ExistingHelperGetsItsEyeDistanceBackInSystemUnits) {
    OpenSceneText(TwoCameras(R"("vray")", "meters", kHelper));
    INode* helper = Korvo::FindOrCreateStereoHelper();
    ASSERT_EQ(helper, Node(L"Stereo"));
    IParamBlock2* block = helper->GetObjectRef()->GetParamBlock(0);
    EXPECT_FLOAT_EQ(block->GetFloat(2), 0.064f);
    EXPECT_EQ(block->GetInt(7), 5) << "a setting of the user's was overwritten";
    EXPECT_EQ(Korvo::CountStereoHelpers(), 1);
}

TEST_F(Backends, SecondHelperIsCounted) {
    const std::string second =
        R"({"name": "Stereo2", "helper": {"classId": ["0x778103A1", "0x3B985164"]}},)";
    OpenSceneText(TwoCameras(R"("vray")", "centimeters", kHelper + second));
    EXPECT_EQ(Korvo::CountStereoHelpers(), 2);
}

TEST_F(Backends, ClassIdMatchingVRayInItsFirstWordOnlyIsOther) {
    OpenSceneText(TwoCameras(R"({"classId": ["0x73BAB286", "0x00000001"]})"));
    EXPECT_EQ(Korvo::ClassifyRenderer(Korvo::CurrentRenderer()), Korvo::RendererKind::Other);
    Prepare({L"Cam01"});
    EXPECT_FALSE(RunVRay());
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorRendererChanged);
    EXPECT_EQ(Korvo::CountStereoHelpers(), 0) << "nothing may change for a renderer not V-Ray";
    EXPECT_TRUE(OutputFiles().empty());
}

TEST_F(Backends, VRayRTFallsBackOnTheCubeLoop) {
    OpenSceneText(TwoCameras(R"("vray_rt")"));
    Prepare({L"Cam01"});
    static int loops = 0;
    loops = 0;
    const Korvo::CubeLoop loop = [](Korvo::RunState&, Korvo::RenderCallback&) {
        ++loops;
        return true;
    };
    EXPECT_TRUE(RunVRay(plugin().progress, loop));
    EXPECT_EQ(loops, 1);
    EXPECT_EQ(Korvo::CountStereoHelpers(), 0);
}

TEST_F(Backends, CancelledSecondCameraLeavesTheFirstPanoramaAndRendersNoMore) {
    OpenSceneText(TwoCameras(R"("vray")"));
    Prepare({L"Cam01", L"Cam02"});
    CountingCallback progress;
    progress.cancelAtFrame = 2;
    EXPECT_FALSE(RunVRay(progress));
    EXPECT_EQ(progress.frames, 2);
    EXPECT_EQ(OutputFiles(), std::vector<fs::path>{"room_Cam01.jpg"});
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Vray rendering has failed"});
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorVRayRender);
    EXPECT_FALSE(Korvo::CurrentError().useContactDialog);
    EXPECT_EQ(KorvoHost::LiveBitmapCount(), 0);
}

TEST_F(Backends, VRayCameraListEmptiedDuringTheRunDoesNotDisturbIt) {
    CameraListClearer clearer;
    OpenSceneText(TwoCameras(R"("vray")"));
    Prepare({L"Cam01", L"Cam02"});
    KorvoHost::SetFrontEnd(&clearer);
    EXPECT_TRUE(RunVRay());
    KorvoHost::SetFrontEnd(nullptr);
    EXPECT_EQ(plugin().cameras.Count(), 0);
    EXPECT_EQ(OutputFiles(), (std::vector<fs::path>{"room_Cam01.jpg", "room_Cam02.jpg"}));
}

TEST_F(Backends, VRayThatCannotBeOpenedFailsBeforeAnyFile) {
    OpenSceneText(TwoCameras(R"("vray")"));
    Prepare({L"Cam01", L"Cam02"});
    app_->Core().SetRendererBroken(true);
    EXPECT_FALSE(RunVRay());
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Vray rendering has failed"});
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorVRayRender);
    EXPECT_TRUE(OutputFiles().empty());
    EXPECT_EQ(KorvoHost::LiveBitmapCount(), 0);
}

TEST_F(Backends, VRayPanoramaThatCannotBeMovedFailsWithTheMoveMessage) {
    OpenSceneText(TwoCameras(R"("vray")"));
    Prepare({L"Cam01", L"Cam02"});
    fs::remove_all(outputFolder_);
    Korvo::OpenLog(KorvoHost::FromPath(temp_.path()));
    EXPECT_FALSE(RunVRay());
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorResultMove);
    EXPECT_TRUE(Korvo::CurrentError().useContactDialog);
    std::ifstream in(temp_.path() / "korvo_log.txt");
    std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(log.find("Attempted to move file from " + (workFolder_ / "room_Cam01.jpg").string() +
                       " to " + (outputFolder_ / "room_Cam01.jpg").string() + " but failed."),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("Cam02"), std::string::npos) << "the second camera was rendered";
}

// ---- Arnold ---------------------------------------------------------------------------------

TEST_F(Backends, ArnoldNamesAfterTheSceneThenNumbers) {
    OpenSceneAs(TwoCameras(R"("arnold")"), "room.json");
    PrepareArnold({L"Cam01"});
    for (int run = 0; run < 3; ++run) ASSERT_TRUE(RunArnold()) << app_->Core().LastRenderError();
    EXPECT_EQ(OutputFiles(), (std::vector<fs::path>{"room_Cam01 (1).jpg", "room_Cam01 (2).jpg",
                                                    "room_Cam01.jpg"}));
    cv::Mat image = cv::imread((outputFolder_ / "room_Cam01 (2).jpg").string());
    EXPECT_EQ(image.cols, 18432);
    EXPECT_EQ(image.rows, 1536);
}

TEST_F(Backends, ArnoldRendersThroughATemporaryVRCameraAtThePickedOne) {
    OpenSceneAs(TwoCameras(R"("arnold")"), "room.json");
    PrepareArnold({L"Cam02"});
    const Matrix3 before = Node(L"Cam02")->GetNodeTM(0);
    const size_t nodes = CurrentScene().Nodes().size();
    KorvoHost::ClearExecutedScripts();
    CurrentScene().ClearRecords();
    ASSERT_TRUE(RunArnold());
    EXPECT_EQ(KorvoHost::ExecutedScripts(),
              (std::vector<std::wstring>{L"renderers.current.filter=3",
                                         L"renderers.current.filter_width=1.0"}));
    EXPECT_EQ(WritesTo(kVRCameraClass), (std::vector<Write>{{0, 2, 2}, {0, 1, 1}}));
    EXPECT_EQ(CurrentScene().Nodes().size(), nodes) << "the temporary camera stayed";
    EXPECT_TRUE(NodesOfClass(kVRCameraClass).empty());
    EXPECT_EQ(Node(L"Cam02")->GetNodeTM(0), before);
    EXPECT_EQ(app_->Core().RenderCamera(), nullptr);
    EXPECT_EQ(OutputFiles(), std::vector<fs::path>{"room_Cam02.jpg"});
    EXPECT_EQ(KorvoHost::LiveBitmapCount(), 0);
    // No file but the panorama is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(outputFolder_), fs::directory_iterator()), 2)
        << "the panorama and the log";
}

TEST_F(Backends, ArnoldWithoutPickedCamerasStillSetsTheFilter) {
    OpenSceneAs(TwoCameras(R"("arnold")"), "room.json");
    PrepareArnold({});
    KorvoHost::ClearExecutedScripts();
    EXPECT_TRUE(RunArnold());
    EXPECT_EQ(KorvoHost::ExecutedScripts().size(), 2u);
    auto* renderer = dynamic_cast<KorvoHost::SceneRenderer*>(Korvo::CurrentRenderer());
    ASSERT_NE(renderer, nullptr);
    ASSERT_NE(renderer->Property(L"filter"), nullptr);
    EXPECT_EQ(std::get<long long>(*renderer->Property(L"filter")), 3);
    EXPECT_EQ(std::get<double>(*renderer->Property(L"filter_width")), 1.0);
    EXPECT_TRUE(OutputFiles().empty());
}

TEST_F(Backends, UnsavedSceneNamesItsArnoldPanoramasUntitled) {
    OpenSceneAs(TwoCameras(R"("arnold")"), "room.json");
    CurrentScene().SetFilePath({});
    PrepareArnold({L"Cam01"});
    ASSERT_TRUE(RunArnold());
    EXPECT_EQ(OutputFiles(), std::vector<fs::path>{"Untitled_Cam01.jpg"});
}

TEST_F(Backends, ArnoldFailureLogsAndCleansUpWithoutAnErrorCode) {
    OpenSceneAs(TwoCameras(R"("arnold")"), "room.json");
    PrepareArnold({L"Cam01", L"Cam02"});
    Korvo::SetError(Korvo::kErrorFaceMissing, false);
    app_->Core().SetRendererBroken(true);
    EXPECT_FALSE(RunArnold());
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Cancel/fail Arnold renderer"});
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorFaceMissing);
    EXPECT_TRUE(NodesOfClass(kVRCameraClass).empty());
    EXPECT_EQ(app_->Core().RenderCamera(), nullptr);
    EXPECT_TRUE(OutputFiles().empty());
    EXPECT_EQ(KorvoHost::LiveBitmapCount(), 0);
}

TEST_F(Backends, ArnoldPanoramaThatCannotBeReadBackFailsTheRun) {
    OpenSceneAs(TwoCameras(R"("arnold")"), "room.json");
    PrepareArnold({L"Cam01", L"Cam02"});
    // An output "folder" that is a file: the host cannot write the render into it.
    const fs::path notAFolder = temp_.path() / "not_a_folder";
    std::ofstream(notAFolder) << "x";
    plugin().outputFolder = KorvoHost::FromPath(notAFolder);
    EXPECT_FALSE(RunArnold());
    const std::string expected =
        "Failed to read back the rendered panorama " + (notAFolder / "room_Cam01.jpg").string();
    EXPECT_EQ(LogLines(), std::vector<std::string>{expected});
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorResultMove);
    EXPECT_EQ(app_->Core().RenderCamera(), nullptr);
}

TEST_F(Backends, ArnoldPanoramaLandsInAFolderOfNonLatinName) {
    OpenSceneAs(TwoCameras(R"("arnold")"), "room.json");
    PrepareArnold({L"Cam01"});
    const fs::path folder = outputFolder_ / u8"Ωμέγα 東京";
    fs::create_directories(folder);
    plugin().outputFolder = KorvoHost::FromPath(folder);
    ASSERT_TRUE(RunArnold());
    cv::Mat image = cv::imread((folder / "room_Cam01.jpg").string());
    EXPECT_EQ(image.cols, 18432);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

// The host keeps the tracer it built for the next render of the same scene: a moved box must be
// drawn where it now stands, a box or lamp changed in place as it now is, and the scene put
// back must give the first picture again.
TEST_F(Backends, RendersAfterASceneChangeDrawTheChangedScene) {
    const std::string box =
        R"({"name": "Box", "transform": {"position": [0, 100, -20]}, "mesh": {"type": "box", "size": [40, 40, 40], "color": "#D02020"}},
           {"name": "Lamp", "transform": {"position": [0, 0, 50]}, "light": {"type": "omni"}},)";
    OpenSceneAs(TwoCameras(R"("scanline")", "centimeters", box), "room.json");
    Interface17* ip = GetCOREInterface17();
    auto render = [&] {
        BitmapInfo info;
        info.SetWidth(48);
        info.SetHeight(48);
        Bitmap* bitmap = TheManager->Create(&info);
        ip->SetRenderCamera(Node(L"Cam01"));
        EXPECT_EQ(ip->RenderFrame(0, bitmap, nullptr), 1) << app_->Core().LastRenderError();
        ip->SetRenderCamera(nullptr);
        const auto pixels = static_cast<KorvoHost::HostBitmap*>(bitmap)->Rgba8();
        std::vector<std::uint8_t> copy(pixels.begin(), pixels.end());
        bitmap->DeleteThis();
        return copy;
    };
    INode* node = Node(L"Box");
    const Matrix3 placed = node->GetNodeTM(0);
    const auto first = render();
    EXPECT_EQ(render(), first);

    Matrix3 moved = placed;
    moved.SetTrans(placed.GetTrans() + Point3(60, 0, 0));
    node->SetNodeTM(0, moved);
    EXPECT_NE(render(), first) << "the box was drawn where it stood before";

    node->SetNodeTM(0, placed);
    EXPECT_EQ(render(), first);

    auto* mesh = dynamic_cast<KorvoHost::SceneMesh*>(node->GetObjectRef());
    ASSERT_NE(mesh, nullptr);
    const std::optional<KorvoHost::Color> colour = mesh->color;
    mesh->color = KorvoHost::Color{0.1f, 0.8f, 0.1f};
    EXPECT_NE(render(), first) << "the box was drawn in its old colour";
    mesh->color = colour;
    mesh->shape = KorvoHost::BoxShape{{40, 40, 80}};
    EXPECT_NE(render(), first) << "the box was drawn in its old size";
    mesh->shape = KorvoHost::BoxShape{{40, 40, 40}};
    EXPECT_EQ(render(), first);
    auto* lamp = dynamic_cast<KorvoHost::SceneLight*>(Node(L"Lamp")->GetObjectRef());
    ASSERT_NE(lamp, nullptr);
    lamp->settings.intensity = 3.0f;
    EXPECT_NE(render(), first) << "the lamp shone as brightly as before";
}

TEST_F(Backends, ArnoldRendersOnlyThroughItsVRCamera) {
    OpenSceneAs(TwoCameras(R"("arnold")"), "room.json");
    Interface17* ip = GetCOREInterface17();
    BitmapInfo info;
    info.SetWidth(18432);
    info.SetHeight(1536);
    Bitmap* bitmap = TheManager->Create(&info);
    ip->SetRenderCamera(Node(L"Cam01"));
    EXPECT_EQ(ip->RenderFrame(0, bitmap, nullptr), 0);
    EXPECT_EQ(app_->Core().LastRenderError(), "Arnold renders only through its VR camera");
    ip->SetRenderCamera(nullptr);
    bitmap->DeleteThis();
}

// ---- The reorder ----------------------------------------------------------------------------

TEST(ReorderArnoldStrip, FlipsTheTopAndBottomTilesAndMirrorsTheOthers) {
    TempDir temp;
    // Twelve tiles of 4 × 3 pixels; every pixel holds its tile, column and row.
    constexpr int kW = 4, kH = 3;
    cv::Mat image(kH, 12 * kW, CV_8UC3);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < 12 * kW; ++x)
            image.at<cv::Vec3b>(y, x) = cv::Vec3b(x / kW * 20, x % kW * 60, y * 100);
    const std::string path = (temp.path() / "strip.png").string();
    ASSERT_TRUE(Korvo::ReorderArnoldStrip(image, path));
    const cv::Mat out = cv::imread(path);
    ASSERT_EQ(out.size(), image.size());
    for (int tile = 0; tile < 12; ++tile) {
        const bool upsideDown = tile == 2 || tile == 3 || tile == 8 || tile == 9;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const int fromX = upsideDown ? x : kW - 1 - x;
                const int fromY = upsideDown ? kH - 1 - y : y;
                EXPECT_EQ(out.at<cv::Vec3b>(y, tile * kW + x),
                          image.at<cv::Vec3b>(fromY, tile * kW + fromX))
                    << "tile " << tile << ", pixel " << x << ", " << y;
            }
    }
}

TEST(ReorderArnoldStrip, RefusesAnEmptyImageAndWritesNothing) {
    TempDir temp;
    const fs::path path = temp.path() / "strip.jpg";
    EXPECT_FALSE(Korvo::ReorderArnoldStrip(cv::Mat(), path.string()));
    EXPECT_FALSE(Korvo::ReorderArnoldStrip(cv::Mat(4, 11, CV_8UC3), path.string()));
    EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace KorvoTest
