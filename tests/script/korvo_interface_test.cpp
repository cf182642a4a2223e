// The plug-in's core interface "korvo" as the host sees it once the library is loaded: its
// description, its dispatch called directly, and every function called from scripts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "host/function_publishing.h"
#include "standalone_host/core/host_app.h"
#include "standalone_host/core/scripting.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/scene/scene.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr Interface_ID kKorvoCore{0x0AC25508, 0x38DB0C63};

// Free and target cameras, a tilted free camera, a camera whose name cannot be part of a file
// name, and a box to look at.
const char* const kCameraScene = R"({"renderer": "scanline", "nodes": [
    {"name": "Box", "mesh": {"type": "box", "size": [50, 50, 50]}},
    {"name": "Cam_Free", "transform": {"position": [120, 70, 160], "rotation": [90, 0, -40]},
     "camera": {"fov": 75}},
    {"name": "Cam_Target", "transform": {"position": [400, 300, 160]},
     "camera": {"fov": 60, "target": [250, 200, 80]}},
    {"name": "Cam_Tilted", "transform": {"position": [0, 0, 100], "rotation": [60, 10, 30]},
     "camera": {}},
    {"name": "Cam:Bad?", "transform": {"position": [0, 50, 100], "rotation": [90, 0, 0]},
     "camera": {}}
]})";

std::string VRayScene(int helpers) {
    std::string nodes =
        R"({"name": "Cam01", "transform": {"position": [0, 0, 100], "rotation": [90, 0, 0]},
            "camera": {}})";
    for (int i = 0; i < helpers; ++i) {
        nodes += R"(, {"name": "Stereo)" + std::to_string(i) +
                 R"(", "helper": {"classId": ["0x778103A1", "0x3B985164"]}})";
    }
    return R"({"renderer": "vray", "nodes": [)" + nodes + "]}";
}

// Every test loads its own copy of the library, so that the workflow object and the settings
// inside it are as at start-up.
class KorvoInterface : public ::testing::Test {
  protected:
    void Start(const std::string& scene = kCameraScene) {
        const fs::path copy = temp_.path() / "plugins" / "KorvoPlugin.so";
        fs::create_directories(copy.parent_path());
        fs::copy_file(KORVO_PLUGIN_FILE, copy);
        const fs::path registry = temp_.path() / "registry.json";
        std::ofstream(registry)
            << R"({"HKEY_LOCAL_MACHINE": {"Software\\Korvo\\3dsMax": {"version": "4.5.6",)"
            << R"( "cid": "abc"}}})";
        KorvoHost::HostOptions options;
        options.pluginFile = copy;
        options.registryFile = registry;
        options.tempDirectory = temp_.path() / "host";
        app_ = std::make_unique<KorvoHost::HostApp>(options);
        std::string error;
        ASSERT_TRUE(app_->LoadPlugin(&error)) << error;
        Open(scene);
        core_ = GetCOREInterface(kKorvoCore);
        ASSERT_NE(core_, nullptr);
        app_->Core().Scripting().SetOutput([this](std::wstring_view text) { output_ += text; });
    }

    void Open(const std::string& scene) {
        const fs::path file = temp_.path() / ("scene" + std::to_string(scenes_++) + ".json");
        std::ofstream(file) << scene;
        std::string error;
        ASSERT_TRUE(app_->OpenScene(file, &error)) << error;
    }

    // Runs the script; its last value as the console shows it, or "error: …".
    std::string Run(const std::wstring& script) {
        const KorvoHost::ScriptResult result = app_->Core().Scripting().Run(script, true);
        if (!result.ok) return "error: " + KorvoHost::ToUtf8(result.error.Describe());
        return KorvoHost::ToUtf8(result.value.Describe());
    }

    INode* Node(const wchar_t* name) { return app_->Core().GetINodeByName(name); }

    KorvoTest::TempDir temp_;
    std::unique_ptr<KorvoHost::HostApp> app_;
    FPInterface* core_ = nullptr;
    std::wstring output_;
    int scenes_ = 0;
};

TEST_F(KorvoInterface, DescriptionAsTheHostRegisteredIt) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const FPInterfaceDesc* desc = core_->GetDesc();
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ(desc->ID, kKorvoCore);
    EXPECT_EQ(desc->internal_name, L"korvo");
    EXPECT_EQ(desc->description, 57);
    EXPECT_EQ(desc->cd, nullptr);
    EXPECT_EQ(desc->flags, FP_CORE);

    struct Expected {
        const wchar_t* name;
        ParamType2 result;
        std::vector<std::pair<const wchar_t*, ParamType2>> params;
    };
    const std::vector<Expected> expected = {
        {L"get_cams", 46, {}},
        {L"fix_cam", 46, {{L"cam", 17}}},
        {L"validate_worfklow", 4, {{L"suppress_messages", 4}}},
        {L"tranform_cam",
         46,
         {{L"cam", 17}, {L"side", 1}, {L"old_mat", 20}, {L"old_targ_mat", 20}}},
        {L"undo_trans", 46, {{L"cam", 17}, {L"mat", 20}, {L"target_mat", 20}}},
        {L"project_cam", 46, {{L"cam", 17}}},
        {L"generate", 46, {}},
        {L"num_helpers", 1, {}},
        {L"create_helper", 54, {}},
        {L"version", 0x2039, {}},
    };
    ASSERT_EQ(desc->functions.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const FPFunctionDef& def = desc->functions[i];
        SCOPED_TRACE(KorvoHost::ToUtf8(expected[i].name));
        EXPECT_EQ(def.id, static_cast<FunctionID>(i));
        EXPECT_EQ(def.internalName, expected[i].name);
        EXPECT_EQ(def.descriptionId, 57);
        EXPECT_EQ(def.resultType, expected[i].result);
        EXPECT_EQ(def.flags, 0u);
        ASSERT_EQ(def.params.size(), expected[i].params.size());
        for (std::size_t p = 0; p < def.params.size(); ++p) {
            EXPECT_EQ(def.params[p].internalName, expected[i].params[p].first);
            EXPECT_EQ(def.params[p].descriptionId, 57);
            EXPECT_EQ(def.params[p].type, expected[i].params[p].second);
        }
    }
    // Scripts reach it as a global under its name.
    EXPECT_EQ(Run(L"korvo"), "<Interface:korvo>");
    EXPECT_EQ(Run(L"KORVO.Num_Helpers"), "korvo.num_helpers");
}

TEST_F(KorvoInterface, UnknownFunctionIdsAnswerNoSuchFunctionAndLeaveTheResult) {
    ASSERT_NO_FATAL_FAILURE(Start());
    for (FunctionID fid : {FunctionID(10), FunctionID(-1), FunctionID(1000)}) {
        FPValue result;
        result.LoadInt(TYPE_INT, 77);
        FPParams params;
        EXPECT_EQ(core_->Invoke(fid, 0, result, &params), FPS_NO_SUCH_FUNCTION) << fid;
        EXPECT_EQ(result.type, TYPE_INT);
        EXPECT_EQ(result.i, 77);
    }
}

TEST_F(KorvoInterface, TooFewArgumentsRaiseTheOutOfRangeErrorAndCallNothing) {
    ASSERT_NO_FATAL_FAILURE(Start());
    INode* camera = Node(L"Cam_Target");
    const Matrix3 before = camera->GetNodeTM(0);
    const Matrix3 targetBefore = camera->GetTarget()->GetNodeTM(0);
    Matrix3 saved({1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12});
    Matrix3 savedTarget = saved;

    // Everything but the last argument of each function that takes some.
    FPValue cam, side, mat, targetMat;
    cam.LoadNode(camera);
    side.LoadInt(TYPE_INT, 2);
    mat.LoadMatrix(&saved);
    targetMat.LoadMatrix(&savedTarget);
    const struct {
        FunctionID fid;
        std::vector<FPValue> args;
    } calls[] = {
        {3, {cam, side, mat}}, {3, {}}, {4, {cam, mat}}, {1, {}}, {2, {}}, {5, {}},
    };
    for (const auto& call : calls) {
        FPParams params;
        for (const FPValue& arg : call.args) params.params.Append(1, &arg);
        FPValue result;
        try {
            core_->Invoke(call.fid, 0, result, &params);
            ADD_FAILURE() << "function " << call.fid << " took " << call.args.size()
                          << " arguments";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(),
                         "Argument index out of bounds, passed into a MaxSDK::Array::operator[]");
        }
        EXPECT_EQ(result.type, TYPE_VOID) << call.fid;
    }
    // Nothing was turned, and nothing was written into the matrices.
    EXPECT_EQ(camera->GetNodeTM(0), before);
    EXPECT_EQ(camera->GetTarget()->GetNodeTM(0), targetBefore);
    EXPECT_EQ(saved, savedTarget);
    EXPECT_EQ(saved.GetRow(3), Point3(10, 11, 12));
}

TEST_F(KorvoInterface, MissingMatricesTurnNothing) {
    ASSERT_NO_FATAL_FAILURE(Start());
    INode* camera = Node(L"Cam_Free");
    const Matrix3 before = camera->GetNodeTM(0);
    Matrix3 saved;
    for (FunctionID fid : {FunctionID(3), FunctionID(4)}) {
        FPParams params;
        FPValue cam, side, mat, none;
        cam.LoadNode(camera);
        side.LoadInt(TYPE_INT, 0);
        mat.LoadMatrix(&saved);
        none.LoadMatrix(nullptr);
        params.params.Append(1, &cam);
        if (fid == 3) params.params.Append(1, &side);
        params.params.Append(1, &mat);
        params.params.Append(1, &none);
        FPValue result;
        EXPECT_EQ(core_->Invoke(fid, 0, result, &params), FPS_OK);
        EXPECT_EQ(camera->GetNodeTM(0), before) << fid;
    }
}

TEST_F(KorvoInterface, VersionReadsTheStoreWithoutCreatingTheWorkflowObject) {
    ASSERT_NO_FATAL_FAILURE(Start());
    // Nothing has read the settings yet.
    EXPECT_EQ(Run(L"korvo.version()"), "\"\"");
    EXPECT_EQ(Run(L"korvo.version()"), "\"\"");
    // The first workflow call creates the workflow object, which reads the registry.
    EXPECT_EQ(Run(L"korvo.get_cams()"), "OK");
    EXPECT_EQ(Run(L"korvo.version()"), "\"4.5.6\"");

    FPValue result;
    FPParams params;
    ASSERT_EQ(core_->Invoke(9, 0, result, &params), FPS_OK);
    EXPECT_EQ(result.type, TYPE_TSTR_BV);
    ASSERT_NE(result.tstr, nullptr);
    EXPECT_EQ(*result.tstr, L"4.5.6");
}

TEST_F(KorvoInterface, ResultsCarryTheirTypeCodes) {
    ASSERT_NO_FATAL_FAILURE(Start());
    FPParams none;
    FPValue count;
    ASSERT_EQ(core_->Invoke(7, 0, count, &none), FPS_OK);
    EXPECT_EQ(count.type, TYPE_INT);
    EXPECT_EQ(count.i, 0);

    FPParams flag;
    FPValue suppress;
    suppress.LoadInt(TYPE_BOOL, TRUE);
    flag.params.Append(1, &suppress);
    FPValue verdict;
    ASSERT_EQ(core_->Invoke(2, 0, verdict, &flag), FPS_OK);
    EXPECT_EQ(verdict.type, TYPE_BOOL);
    EXPECT_EQ(verdict.i, FALSE);

    FPValue nothing;
    ASSERT_EQ(core_->Invoke(0, 0, nothing, &none), FPS_OK);
    EXPECT_EQ(nothing.type, TYPE_VOID);
}

TEST_F(KorvoInterface, NumHelpersCountsStereoHelpers) {
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(Run(L"korvo.num_helpers()"), "0");
    Open(VRayScene(2));
    EXPECT_EQ(Run(L"korvo.num_helpers()"), "2");
    EXPECT_EQ(Run(L"korvo.num_helpers() + 1"), "3");
}

TEST_F(KorvoInterface, TurnToEveryFaceAndBackRestoresCameraAndTargetExactly) {
    ASSERT_NO_FATAL_FAILURE(Start());
    for (const wchar_t* name : {L"Cam_Free", L"Cam_Target"}) {
        INode* camera = Node(name);
        const bool target = camera->GetTarget() != nullptr;
        const Matrix3 before = camera->GetNodeTM(0);
        const Matrix3 targetBefore = target ? camera->GetTarget()->GetNodeTM(0) : Matrix3();
        const std::wstring cam = L"$" + std::wstring(name);
        const std::string saved = Run(L"m = " + cam + L".transform\nt = " +
                                      (target ? cam + L".target.transform" : L"matrix3 1"));
        ASSERT_EQ(saved.rfind("(matrix3 [", 0), 0u) << saved;
        for (int side = 0; side < 6; ++side) {
            SCOPED_TRACE(KorvoHost::ToUtf8(name) + " face " + std::to_string(side));
            EXPECT_EQ(Run(L"korvo.tranform_cam " + cam + L" " + std::to_wstring(side) + L" m t"),
                      "OK");
            // Front is the camera's own view; every other face turns it.
            if (side != 4) {
                EXPECT_EQ(Run(cam + L".transform == m"), "false");
            }
            EXPECT_EQ(Run(L"korvo.undo_trans " + cam + L" m t"), "OK");
            EXPECT_EQ(camera->GetNodeTM(0), before);
            if (target) {
                EXPECT_EQ(camera->GetTarget()->GetNodeTM(0), targetBefore);
            }
        }
    }
}

TEST_F(KorvoInterface, ProjectCamLevelsTheCamera) {
    ASSERT_NO_FATAL_FAILURE(Start());
    INode* camera = Node(L"Cam_Tilted");
    const Matrix3 before = camera->GetNodeTM(0);
    ASSERT_GT(std::abs(before.GetRow(2).z), 0.1f);
    EXPECT_EQ(Run(L"korvo.project_cam $Cam_Tilted"), "OK");
    const Matrix3 after = camera->GetNodeTM(0);
    EXPECT_NEAR(after.GetRow(2).z, 0.0f, 1e-6f);
    EXPECT_EQ(after.GetTrans(), before.GetTrans());
}

TEST_F(KorvoInterface, FixCamRenamesACameraWhoseNameCannotNameAFile) {
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(Run(L"korvo.fix_cam $Cam_Free"), "OK");
    EXPECT_EQ(Run(L"$Cam_Free.name"), "\"Cam_Free\"");
    EXPECT_EQ(Run(L"korvo.fix_cam $'Cam:Bad?'"), "OK");
    EXPECT_EQ(Run(L"$'Cam:Bad?'"), "undefined");
    EXPECT_EQ(Run(L"$Korvo_Camera.name"), "\"Korvo_Camera\"");
}

TEST_F(KorvoInterface, ValidateSeesTheCameraListThatGetCamsCollected) {
    ASSERT_NO_FATAL_FAILURE(Start());
    // No scan yet: the camera list is empty.
    EXPECT_EQ(Run(L"korvo.validate_worfklow true"), "false");
    EXPECT_EQ(Run(L"korvo.get_cams()\nkorvo.validate_worfklow true"), "true");
}

TEST_F(KorvoInterface, PrintAndFormatWriteToTheSessionOutput) {
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(Run(L"print (korvo.num_helpers())\nformat \"% has % helpers\\n\" \"scene\" 0"), "OK");
    EXPECT_EQ(Run(L"print \"text\""), "\"text\"");
    EXPECT_EQ(output_, L"0\nscene has 0 helpers\n\"text\"\n");
    EXPECT_EQ(Run(L"format \"% %\" 1"), "error: line 1, column 1: format has more % than values");
}

TEST_F(KorvoInterface, WrongCallsAreClearErrors) {
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(Run(L"korvo.get_cams()\nkorvo.fix_cams $Cam_Free"),
              "error: line 2, column 1: the interface korvo has no function 'fix_cams' (it has "
              "get_cams, fix_cam, validate_worfklow, tranform_cam, undo_trans, project_cam, "
              "generate, num_helpers, create_helper, version)");
    EXPECT_EQ(Run(L"korvo.fix_cam()"),
              "error: line 1, column 1: korvo.fix_cam takes 1 argument (cam), not 0");
    EXPECT_EQ(Run(L"korvo.tranform_cam $Cam_Free 2 (matrix3 1)"),
              "error: line 1, column 1: korvo.tranform_cam takes 4 arguments (cam, side, "
              "old_mat, old_targ_mat), not 3");
    EXPECT_EQ(Run(L"korvo.fix_cam $NoSuchCamera"),
              "error: line 1, column 1: korvo.fix_cam: argument 1 (cam) needs a scene node, not "
              "undefined");
    EXPECT_EQ(Run(L"korvo.tranform_cam $Cam_Free 1.5 (matrix3 1) (matrix3 1)"),
              "error: line 1, column 1: korvo.tranform_cam: argument 2 (side) needs a whole "
              "number, not 1.5");
    EXPECT_EQ(Run(L"korvo.validate_worfklow 1"),
              "error: line 1, column 1: korvo.validate_worfklow: argument 1 (suppress_messages) "
              "needs true or false, not 1");
    EXPECT_EQ(Run(L"korvo.num_helpers force:true"),
              "error: line 1, column 1: korvo.num_helpers takes no name:value arguments "
              "('force:')");
}

}  // namespace
