// Scripts run by the host against a scene and the loaded plug-in: the lens shader's set-up and
// eye scripts, renderer properties of any name, and what a failed script tells the caller.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/function_publishing.h"
#include "host/maxscript.h"
#include "standalone_host/core/host_app.h"
#include "standalone_host/core/scripting.h"
#include "standalone_host/scene/scene.h"
#include "standalone_host/scene/scene_objects.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using KorvoHost::RendererProperty;

constexpr Class_ID kStereoClass{0x26B1639B, 0x662A38C8};
const wchar_t* const kSetUp =
    L"if korvo_stereo_shader == null then\n"
    L"  korvo_stereo_shader = KorvoStereo()\n"
    L"renderers.current.Camera_Lens_Shader = korvo_stereo_shader\n"
    L"renderers.current.Enable_Camera_Lens_Shader = true";

class HostScripts : public ::testing::Test {
  protected:
    HostScripts() {
        KorvoHost::HostOptions options;
        options.pluginFile = KORVO_PLUGIN_FILE;
        options.registryFile = temp_.path() / "registry.json";
        options.tempDirectory = temp_.path() / "host";
        app_ = std::make_unique<KorvoHost::HostApp>(options);
        std::string error;
        EXPECT_TRUE(app_->LoadPlugin(&error)) << error;
        const fs::path scene = temp_.path() / "scene.json";
        std::ofstream(scene) << R"({"unit": "centimeters", "renderer": "mental_ray", "nodes": []})";
        EXPECT_TRUE(app_->OpenScene(scene, &error)) << error;
    }

    KorvoHost::SceneRenderer& Renderer() {
        return *dynamic_cast<KorvoHost::SceneRenderer*>(app_->CurrentScene()->CurrentRenderer());
    }
    ReferenceTarget* LensShader() {
        const RendererProperty* property = Renderer().Property(L"camera_lens_shader");
        return property && std::holds_alternative<ReferenceTarget*>(*property)
                   ? std::get<ReferenceTarget*>(*property)
                   : nullptr;
    }
    bool Run(const wchar_t* script) {
        return ExecuteMAXScriptScript(script, TRUE, nullptr) != FALSE;
    }

    KorvoTest::TempDir temp_;
    std::unique_ptr<KorvoHost::HostApp> app_;
};

TEST_F(HostScripts, SetUpScriptInstallsOneLensShaderForTheSession) {
    ASSERT_TRUE(Run(kSetUp)) << std::string(app_->Core().Scripting().LastError().begin(),
                                            app_->Core().Scripting().LastError().end());
    ReferenceTarget* shader = LensShader();
    ASSERT_NE(shader, nullptr);
    EXPECT_EQ(shader->ClassID(), kStereoClass);
    EXPECT_EQ(shader->SuperClassID(), TEXMAP_CLASS_ID);
    const RendererProperty* enabled = Renderer().Property(L"Enable_Camera_Lens_Shader");
    ASSERT_NE(enabled, nullptr);
    EXPECT_EQ(*enabled, RendererProperty(true));
    // A new map draws the left eye.
    EXPECT_EQ(shader->GetParamBlock(0)->GetInt(0), TRUE);

    ASSERT_TRUE(Run(kSetUp));
    EXPECT_EQ(LensShader(), shader);
}

TEST_F(HostScripts, EyeScriptsSwitchTheInstalledShader) {
    ASSERT_TRUE(Run(kSetUp));
    IParamBlock2* block = LensShader()->GetParamBlock(0);
    ASSERT_TRUE(Run(L"renderers.current.Camera_Lens_Shader.Left_Eye = false"));
    EXPECT_EQ(block->GetInt(0), FALSE);
    ASSERT_TRUE(Run(L"renderers.current.Camera_Lens_Shader.left_eye = true"));
    EXPECT_EQ(block->GetInt(0), TRUE);

    FPValue value;
    ASSERT_TRUE(
        ExecuteMAXScriptScript(L"renderers.current.Camera_Lens_Shader.Left_Eye", TRUE, &value));
    EXPECT_EQ(value.type, TYPE_BOOL);
    EXPECT_EQ(value.i, TRUE);

    // Wrong values and names are refused and change nothing.
    EXPECT_FALSE(Run(L"renderers.current.Camera_Lens_Shader.Left_Eye = 1"));
    EXPECT_EQ(app_->Core().Scripting().LastError(),
              L"line 1, column 1: Left_Eye of Map #1:Korvo Stereo takes true or false, not 1");
    EXPECT_FALSE(Run(L"renderers.current.Camera_Lens_Shader.Right_Eye = true"));
    EXPECT_EQ(block->GetInt(0), TRUE);
}

TEST_F(HostScripts, RendererKeepsPropertiesOfAnyName) {
    ASSERT_TRUE(Run(L"renderers.current.filter=3\nrenderers.current.filter_width=1.0"));
    EXPECT_EQ(*Renderer().Property(L"filter"), RendererProperty(3LL));
    EXPECT_EQ(*Renderer().Property(L"FILTER_WIDTH"), RendererProperty(1.0));
    FPValue value;
    ASSERT_TRUE(ExecuteMAXScriptScript(
        L"renderers.current.Filter == 3 and renderers.current.nothing == undefined", TRUE, &value));
    EXPECT_EQ(value.i, TRUE);
    // A renderer cannot keep the renderers global itself.
    EXPECT_FALSE(Run(L"renderers.current.self = renderers"));
}

TEST_F(HostScripts, EveryTextIsRecordedInOrderAndFailuresAnswerFalse) {
    KorvoHost::ClearExecutedScripts();
    EXPECT_TRUE(Run(L"a = 1"));
    EXPECT_FALSE(Run(L"while true do a"));
    EXPECT_EQ(app_->Core().Scripting().LastError(),
              L"line 1, column 1: 'while' is not supported by this host's script runner");
    EXPECT_FALSE(Run(L"NoSuchClass()"));
    ASSERT_EQ(KorvoHost::ExecutedScripts().size(), 3u);
    EXPECT_EQ(KorvoHost::ExecutedScripts()[1], L"while true do a");
}

}  // namespace
