// The plug-in's shell and render pieces on their own, linked into this program.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/maxscript.h"
#include "korvo_plugin.h"
#include "render/renderer_events.h"
#include "render/renderer_kind.h"
#include "resources/resource_text.h"
#include "shell/error_status.h"
#include "shell/workflow.h"
#include "standalone_host/core/host_app.h"
#include "standalone_host/core/scripting.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/scene/scene.h"
#include "support/log.h"
#include "support/module_handle.h"
#include "test_support/temp_dir.h"
#include "test_support/test_host.h"

namespace {

namespace fs = std::filesystem;

class FakeRenderer final : public Renderer {
  public:
    explicit FakeRenderer(Class_ID id) : id_(id) {}
    Class_ID ClassID() override { return id_; }
    bool HasRequirement(Requirement) override { return false; }

  private:
    Class_ID id_;
};

TEST(RendererKind, ClassIdsNameTheKinds) {
    using Korvo::RendererKind;
    struct Case {
        Class_ID id;
        RendererKind kind;
    };
    const Case cases[] = {
        {{0x73BAB286, 0x77F8FD0C}, RendererKind::VRay},
        {{0x698A4B98, 0x4EDD05F5}, RendererKind::VRayRT},
        {{0x58F67D6C, 0x4FCF3BC3}, RendererKind::MentalRay},
        {{0xB1A438DE, 0xA045667A}, RendererKind::Arnold},
        {{0x73BAB286, 0x00000000}, RendererKind::Other},  // the first word alone is not enough
        {{0x00000001, 0x00000000}, RendererKind::Other},
    };
    for (const Case& c : cases) {
        FakeRenderer renderer(c.id);
        EXPECT_EQ(Korvo::ClassifyRenderer(&renderer), c.kind) << std::hex << c.id.PartA();
        EXPECT_EQ(Korvo::IsRendererSupported(&renderer), c.kind != RendererKind::VRayRT);
    }
    EXPECT_EQ(Korvo::ClassifyRenderer(nullptr), RendererKind::None);
}

TEST(RendererEvents, OnlyMentalRayRendersEachEye) {
    FakeRenderer mentalRay({0x58F67D6C, 0x4FCF3BC3});
    const auto stereo = Korvo::MakeRendererEvents(&mentalRay);
    EXPECT_TRUE(stereo->IsStereo());
    EXPECT_EQ(stereo->GetStitchLayout(), 3);

    KorvoHost::ClearExecutedScripts();
    for (Class_ID id : {Class_ID{1, 0}, Class_ID{0x698A4B98, 0x4EDD05F5}}) {
        FakeRenderer other(id);
        const auto mono = Korvo::MakeRendererEvents(&other);
        EXPECT_FALSE(mono->IsStereo());
        EXPECT_EQ(mono->GetStitchLayout(), 1);
        mono->OnRunStart();
        for (int face = 0; face < 6; ++face) mono->OnBeforeFace(face, 0, false);
        mono->OnRunEnd();
    }
    EXPECT_TRUE(Korvo::MakeRendererEvents(nullptr) != nullptr);
    EXPECT_TRUE(KorvoHost::ExecutedScripts().empty()) << "a mono run runs no script";
    stereo->OnBeforeFace(0, 0, false);
    EXPECT_TRUE(KorvoHost::ExecutedScripts().empty()) << "no eye script unless the run is stereo";
}

class WithResources : public ::testing::Test {
  protected:
    WithResources() { Korvo::SetPluginInstance(GetModuleHandleW(nullptr)); }
    ~WithResources() override { Korvo::SetPluginInstance(nullptr); }
};

TEST(ResourceText, NothingBeforeTheModuleHandleIsSet) {
    Korvo::SetPluginInstance(nullptr);
    EXPECT_EQ(Korvo::LoadResourceText(1), nullptr);
    EXPECT_EQ(Korvo::ResourceString(1), L"");
}

TEST_F(WithResources, TextsAndMissingIds) {
    EXPECT_STREQ(Korvo::LoadResourceText(1), L"Korvo for 3DS Max BETA");
    EXPECT_EQ(Korvo::LoadResourceText(9999), nullptr);
    const MCHAR* lasting = Korvo::LastingResourceText(2);
    Korvo::LoadResourceText(39);
    EXPECT_STREQ(lasting, L"Korvo") << "a lasting text survives later lookups";
}

TEST_F(WithResources, ErrorMessagesByCode) {
    const std::wstring contact =
        L"Oops. Looks like something went wrong. Hit the contact button below to tell us what "
        L"happened and we'll do our best to fix it.  (";
    for (int code : {6, 7, 9, 10, 11, 12})
        EXPECT_EQ(Korvo::ErrorMessage(code), contact + std::to_wstring(code) + L")");
    EXPECT_EQ(Korvo::ErrorMessage(2).substr(0, 37), L"This drawing doesn't have any cameras");
    EXPECT_EQ(Korvo::ErrorMessage(3).substr(0, 25), L"VRay RT is not supported.");
    EXPECT_EQ(Korvo::ErrorMessage(4).substr(0, 42), L"There are multiple VRaySterescopic helpers");
    EXPECT_EQ(Korvo::ErrorMessage(5).substr(0, 38), L"The folder name entered does not exist");
    EXPECT_EQ(Korvo::ErrorMessage(8), L"An error occurred with Vray. (8)");
    for (int code : {-1, 0, 13, 99})
        EXPECT_EQ(
            Korvo::ErrorMessage(code),
            L"Oops. Looks like something went wrong. Please contact support@korvo.app to report "
            L"this problem.");
}

TEST(RenderCallback, ProgressObeysTheCancelFlag) {
    Korvo::RenderCallback progress;
    for (int done : {0, 1, 50, 1000}) EXPECT_EQ(progress.Progress(done, 100), RENDPROG_CONTINUE);
    EXPECT_EQ(progress.Progress(-5, 0), RENDPROG_CONTINUE);
    progress.cancelled = true;
    EXPECT_EQ(progress.Progress(1, 100), RENDPROG_ABORT);
    EXPECT_EQ(progress.Progress(100, 100), RENDPROG_ABORT);
}

class Cameras : public WithResources {
  protected:
    Cameras() {
        app_ = std::make_unique<KorvoHost::HostApp>(KorvoTest::PrivateHostOptions(temp_.path()));
    }
    ~Cameras() override { Korvo::ClearCameras(Korvo::GetKorvoPlugin()); }
    KorvoTest::TempDir temp_;
    std::unique_ptr<KorvoHost::HostApp> app_;
};

TEST_F(Cameras, CollectsCamerasBehindDerivedObjectsAndNothingElse) {
    const fs::path file = temp_.path() / "scene.json";
    std::ofstream(file) << R"({"nodes": [
        {"name": "A", "camera": {}},
        {"name": "Box", "mesh": {"type": "box", "size": [1, 1, 1]}},
        {"name": "B", "derived": true, "camera": {"target": [0, 5, 0]}},
        {"name": "H", "helper": {"classId": [1, 2]}}]})";
    std::string error;
    ASSERT_TRUE(app_->OpenScene(file, &error)) << error;
    Korvo::KorvoPlugin& plugin = Korvo::GetKorvoPlugin();
    Korvo::get_cams(plugin);
    ASSERT_EQ(plugin.cameras.Count(), 2);
    EXPECT_STREQ(plugin.cameras[0]->node->GetName(), L"A");
    EXPECT_STREQ(plugin.cameras[1]->node->GetName(), L"B");
    EXPECT_FALSE(plugin.cameras[0]->selected);
    Korvo::get_cams(plugin);
    EXPECT_EQ(plugin.cameras.Count(), 2) << "a rescan starts from an empty list";
}

TEST_F(Cameras, NoSceneGivesNoCameras) {
    Korvo::KorvoPlugin& plugin = Korvo::GetKorvoPlugin();
    Korvo::get_cams(plugin);
    EXPECT_EQ(plugin.cameras.Count(), 0);
}

TEST_F(Cameras, CleanupClosesTheLogOnlyWithTheWorkingFolder) {
    Korvo::KorvoPlugin& plugin = Korvo::GetKorvoPlugin();
    const fs::path out = temp_.path() / "out", work = temp_.path() / "work";
    fs::create_directories(out);
    fs::create_directories(work / "inner");
    plugin.workFolder = KorvoHost::FromPath(work);
    Korvo::OpenLog(KorvoHost::FromPath(out));
    Korvo::EndOfRunCleanup(plugin);
    EXPECT_FALSE(fs::exists(work));
    Korvo::LogMessage(L"after the cleanup");

    Korvo::OpenLog(KorvoHost::FromPath(out));
    Korvo::EndOfRunCleanup(plugin);  // the folder is gone now: the log stays open
    Korvo::LogMessage(L"still open");
    std::ifstream log(out / "korvo_log.txt");
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find("after the cleanup"), std::string::npos);
    EXPECT_NE(text.find("still open"), std::string::npos);
    Korvo::CloseLog();
}

TEST_F(Cameras, ValidationChecksTheListAsItStandsAndMaySpareTheErrorStatus) {
    const fs::path file = temp_.path() / "scene.json";
    std::ofstream(file) << R"({"renderer": "vray_rt", "nodes": [{"name": "A", "camera": {}}]})";
    std::string error;
    ASSERT_TRUE(app_->OpenScene(file, &error)) << error;
    Korvo::KorvoPlugin& plugin = Korvo::GetKorvoPlugin();
    Korvo::SetError(0, false);
    // No scan: the list is empty until get_cams runs.
    EXPECT_FALSE(Korvo::validate_worfklow(plugin, true));
    EXPECT_EQ(Korvo::CurrentError().code, 0);
    EXPECT_FALSE(Korvo::validate_worfklow(plugin, false));
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorNoCameras);
    Korvo::get_cams(plugin);
    EXPECT_FALSE(Korvo::validate_worfklow(plugin, false));
    EXPECT_EQ(Korvo::CurrentError().code, Korvo::kErrorVRayRT);
    EXPECT_EQ(plugin.cameras.Count(), 1) << "a refused renderer keeps the list";
    app_->CurrentScene()->SetCurrentRenderer(KorvoHost::kScanlineRendererClassId);
    EXPECT_TRUE(Korvo::validate_worfklow(plugin, false));
}

}  // namespace
