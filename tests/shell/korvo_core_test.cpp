// The core interface linked into this program: registered while the program loaded, its
// validation against the error status, and its text trimming.
#include "support/korvo_core.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "korvo_plugin.h"
#include "shell/error_status.h"
#include "shell/workflow.h"
#include "standalone_host/core/host_app.h"
#include "test_support/temp_dir.h"
#include "test_support/test_host.h"

namespace {

namespace fs = std::filesystem;

class KorvoCore : public ::testing::Test {
  protected:
    KorvoCore() {
        app_ = std::make_unique<KorvoHost::HostApp>(KorvoTest::PrivateHostOptions(temp_.path()));
    }
    ~KorvoCore() override { Korvo::ClearCameras(Korvo::GetKorvoPlugin()); }

    void Open(const std::string& renderer, int helpers, bool camera = true) {
        std::string nodes = camera ? R"({"name": "Cam01", "camera": {}})" : "";
        for (int i = 0; i < helpers; ++i) {
            nodes += std::string(nodes.empty() ? "" : ", ") + R"({"name": "Stereo)" +
                     std::to_string(i) +
                     R"(", "helper": {"classId": ["0x778103A1", "0x3B985164"]}})";
        }
        const fs::path file = temp_.path() / ("scene" + std::to_string(scenes_++) + ".json");
        std::ofstream(file) << R"({"renderer": ")" << renderer << R"(", "nodes": [)" << nodes
                            << "]}";
        std::string error;
        ASSERT_TRUE(app_->OpenScene(file, &error)) << error;
    }

    Korvo::IKorvoCore& core_ = Korvo::GetKorvoCore();
    KorvoTest::TempDir temp_;
    std::unique_ptr<KorvoHost::HostApp> app_;
    int scenes_ = 0;
};

TEST_F(KorvoCore, RegisteredAsACoreInterfaceWhileTheProgramLoaded) {
    EXPECT_EQ(GetCOREInterface(Korvo::kKorvoCoreInterfaceID), &core_);
}

TEST_F(KorvoCore, ValidateRecordsItsVerdictUnlessSuppressed) {
    struct Case {
        const char* renderer;
        int helpers;
        bool camera;
        bool verdict;
        int code;  // recorded when not suppressed
    };
    const Case cases[] = {
        {"scanline", 0, false, false, Korvo::kErrorNoCameras},
        {"scanline", 3, true, true, 0},
        {"vray", 0, true, true, 0},
        {"vray", 1, true, true, 0},
        {"vray", 2, true, false, Korvo::kErrorManyHelpers},
        {"vray_rt", 0, true, false, Korvo::kErrorVRayRT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.renderer) + " with " + std::to_string(c.helpers) + " helpers");
        ASSERT_NO_FATAL_FAILURE(Open(c.renderer, c.helpers, c.camera));
        for (bool suppress : {true, false}) {
            Korvo::SetError(Korvo::kErrorFaceRender, true);
            core_.get_cams();
            EXPECT_EQ(core_.validate_worfklow(suppress), c.verdict);
            const int expected = suppress || c.verdict ? Korvo::kErrorFaceRender : c.code;
            EXPECT_EQ(Korvo::CurrentError().code, expected) << "suppress " << suppress;
        }
    }
}

TEST_F(KorvoCore, AfterTheCameraListWasEmptiedValidateWaitsForARescan) {
    ASSERT_NO_FATAL_FAILURE(Open("scanline", 0));
    core_.get_cams();
    ASSERT_TRUE(core_.validate_worfklow(true));
    // A finished run ends with the cleanup, which empties the list.
    Korvo::EndOfRunCleanup(Korvo::GetKorvoPlugin());
    EXPECT_FALSE(core_.validate_worfklow(true));
    EXPECT_FALSE(core_.validate_worfklow(true));
    core_.get_cams();
    EXPECT_TRUE(core_.validate_worfklow(true));
}

TEST(KorvoCoreTrim, OnlyTheEndsGo) {
    Korvo::IKorvoCore& core = Korvo::GetKorvoCore();
    EXPECT_EQ(core.TrimWhitespace(L""), L"");
    EXPECT_EQ(core.TrimWhitespace(L" \t\r\n\v\f"), L"");
    EXPECT_EQ(core.TrimWhitespace(L"x"), L"x");
    EXPECT_EQ(core.TrimWhitespace(L" x "), L"x");
    EXPECT_EQ(core.TrimWhitespace(L"\tCam 01\t\t"), L"Cam 01");
    EXPECT_EQ(core.TrimWhitespace(L"a \t b"), L"a \t b");
    // Not white space: the text stays as it is.
    EXPECT_EQ(core.TrimWhitespace(L"_-_"), L"_-_");
    EXPECT_EQ(core.TrimWhitespace(std::wstring(L"\0a", 2)), std::wstring(L"\0a", 2));
}

}  // namespace
