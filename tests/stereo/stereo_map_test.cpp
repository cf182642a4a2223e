// The lens shader's map class inside the host: its parameter block, references, copies, the
// interfaces it hands out, its rollout, and the translation of Left_Eye into a renderer shader.
#include <gtest/gtest.h>

#include "host/assert.h"
#include "host/material.h"
#include "host/mental_ray.h"
#include "korvostereo/korvo_stereo.h"
#include "korvostereo/korvo_stereo_desc.h"
#include "render/cube_run.h"
#include "resources/resource.h"
#include "standalone_host/core/host_objects.h"
#include "standalone_host/windows/user_actions.h"
#include "standalone_host/windows/window_manager.h"

namespace KorvoTest {
namespace {

using KorvoHost::DescribedParamBlock;

// A renderer-side shader whose block the test describes.
class TestShader final : public imrShader {
  public:
    explicit TestShader(IParamBlock2* block) : block_(block) {}
    const MCHAR* GetName() override { return L"test"; }
    IParamBlock2* GetParametersParamBlock() override { return block_; }

  private:
    IParamBlock2* block_;
};

class TestTranslation final : public imrTranslation {};

class RecordingCreation final : public imrShaderCreation {
  public:
    imrShader* CreateShader(const MCHAR* declaration, const MCHAR* instance) override {
        declarationName = declaration;
        instanceName = instance;
        return nullptr;
    }
    std::wstring declarationName, instanceName;
};

ParamDef BoolParam(ParamID id, const MCHAR* name) {
    ParamDef def;
    def.ID = id;
    def.int_name = name;
    def.type = TYPE_BOOL;
    return def;
}

class StereoMap : public CubeRun {
  protected:
    StereoMap() { KorvoHost::ClearRecordedAssertions(); }
    ~StereoMap() override {
        KorvoHost::SetAnimating(false);
        for (Korvo::KorvoStereo* map : maps_) map->DeleteThis();
    }

    Korvo::KorvoStereo* NewMap(BOOL loading = FALSE) {
        auto* target = static_cast<ReferenceTarget*>(Korvo::GetKorvoStereoDesc()->Create(loading));
        auto* map = static_cast<Korvo::KorvoStereo*>(static_cast<Texmap*>(target));
        maps_.push_back(map);
        return map;
    }
    // A renderer shader block with the given parameters.
    IParamBlock2* ShaderBlock(std::vector<ParamDef> params) {
        descs_.push_back(std::make_unique<ParamBlockDesc2>(0, L"shader", 0, nullptr, 0, 0, 0, 0,
                                                           std::move(params)));
        blocks_.push_back(std::make_unique<DescribedParamBlock>(*descs_.back()));
        return blocks_.back().get();
    }
    const KorvoHost::HostAssertion* LastAssertion() const {
        const auto& all = KorvoHost::RecordedAssertions();
        return all.empty() ? nullptr : &all.back();
    }

    std::vector<Korvo::KorvoStereo*> maps_;
    std::vector<std::unique_ptr<ParamBlockDesc2>> descs_;
    std::vector<std::unique_ptr<DescribedParamBlock>> blocks_;
    TestTranslation translation_;
};

TEST_F(StereoMap, NewMapHoldsOneBlockWithLeftEyeOn) {
    Korvo::KorvoStereo* map = NewMap();
    IParamBlock2* block = map->GetParamBlock(0);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(map->GetReference(0), block);
    EXPECT_EQ(map->SubAnim(0), block);
    EXPECT_EQ(map->GetParamBlockByID(0), block);
    EXPECT_EQ(map->GetParamBlockByID(1), nullptr);
    EXPECT_EQ(map->GetReference(1), nullptr);
    EXPECT_EQ(map->SubAnimName(0), L"Parameters");
    EXPECT_EQ(map->SubAnimName(1), L"");
    EXPECT_EQ(block->GetInt(Korvo::kLeftEyeParam), TRUE);
    const ParamDef* def = block->GetDesc()->GetParamDefByID(Korvo::kLeftEyeParam);
    ASSERT_NE(def, nullptr);
    EXPECT_STREQ(def->int_name, L"Left_Eye");
    EXPECT_TRUE(def->flags & P_ANIMATABLE);
    // A map being loaded gets its block from the file, not from the class.
    EXPECT_EQ(NewMap(TRUE)->GetParamBlock(0), nullptr);
    // To the host's own renderers it is black.
    ShadeContext context;
    EXPECT_EQ(map->EvalColor(context), AColor(0, 0, 0, 0));
    EXPECT_EQ(map->EvalNormalPerturb(context), Point3(0, 0, 0));
}

TEST_F(StereoMap, OnlyParameterBlocksCanBeReferenced) {
    Korvo::KorvoStereo* map = NewMap();
    IParamBlock2* block = map->GetParamBlock(0);
    Korvo::KorvoStereo* other = NewMap();
    map->SetReference(0, other);
    ASSERT_NE(LastAssertion(), nullptr);
    EXPECT_EQ(LastAssertion()->function, L"KorvoStereo::SetReference");
    EXPECT_EQ(LastAssertion()->expression,
              L"(rtarg == NULL) || (rtarg->SuperClassID() == PARAMETER_BLOCK2_CLASS_ID)");
    EXPECT_EQ(map->GetParamBlock(0), block);
    map->SetReference(0, nullptr);
    EXPECT_EQ(map->GetParamBlock(0), nullptr);
    EXPECT_EQ(KorvoHost::RecordedAssertions().size(), 1u);
}

TEST_F(StereoMap, CloneCopiesTheBlockAndTheName) {
    Korvo::KorvoStereo* map = NewMap();
    map->SetName(L"Lens");
    map->GetParamBlock(0)->SetValue(Korvo::kLeftEyeParam, 0, FALSE);
    KorvoHost::HostRemapDir remap;
    auto* copy = static_cast<Korvo::KorvoStereo*>(static_cast<Texmap*>(map->Clone(remap)));
    ASSERT_NE(copy, nullptr);
    maps_.push_back(copy);
    EXPECT_EQ(copy->ClassID(), Korvo::kKorvoStereoClassID);
    EXPECT_EQ(copy->GetName(), L"Lens");
    ASSERT_NE(copy->GetParamBlock(0), nullptr);
    EXPECT_NE(copy->GetParamBlock(0), map->GetParamBlock(0));
    EXPECT_EQ(copy->GetParamBlock(0)->GetInt(Korvo::kLeftEyeParam), FALSE);
    // The copies are independent.
    copy->GetParamBlock(0)->SetValue(Korvo::kLeftEyeParam, 0, TRUE);
    EXPECT_EQ(map->GetParamBlock(0)->GetInt(Korvo::kLeftEyeParam), FALSE);
    map->Reset();
    EXPECT_EQ(map->GetParamBlock(0)->GetInt(Korvo::kLeftEyeParam), TRUE);
}

TEST_F(StereoMap, InterfacesOfTheMapAndItsClass) {
    Korvo::KorvoStereo* map = NewMap();
    EXPECT_EQ(map->GetInterface(IMRSHADERTRANSLATION_INTERFACE_ID),
              static_cast<BaseInterface*>(static_cast<imrShaderTranslation*>(map)));
    EXPECT_EQ(map->GetInterface(Interface_ID(1, 2)), nullptr);
    EXPECT_FALSE(map->NeedsAutomaticParamBlock2Translation());

    ClassDesc2* desc = Korvo::GetKorvoStereoDesc();
    EXPECT_EQ(desc->NumInterfaces(), 2);
    auto* info = static_cast<imrShaderTranslation_ClassInfo*>(
        desc->GetInterface(IMRSHADERTRANSLATION_CLASSINFO_INTERFACE_ID));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->GetApplyTypes(), 1);
    auto* compatibility = static_cast<IMtlRender_Compatibility_MtlBase*>(
        desc->GetInterface(IMTLRENDER_COMPATIBILITY_MTLBASE_INTERFACEID));
    ASSERT_NE(compatibility, nullptr);
    struct RendererClass final : ClassDesc2 {
        explicit RendererClass(Class_ID id) : id_(id) {}
        int IsPublic() override { return 1; }
        void* Create(BOOL) override { return nullptr; }
        const MCHAR* ClassName() override { return L"renderer"; }
        SClass_ID SuperClassID() override { return RENDERER_CLASS_ID; }
        Class_ID ClassID() override { return id_; }
        const MCHAR* Category() override { return L""; }
        Class_ID id_;
    };
    RendererClass mentalRay({0x58F67D6C, 0x4FCF3BC3}), scanline({1, 0});
    EXPECT_TRUE(compatibility->IsCompatibleWithRenderer(mentalRay));
    EXPECT_FALSE(compatibility->IsCompatibleWithRenderer(scanline));

    RecordingCreation creation;
    map->SetName(L"Map #7");
    EXPECT_EQ(map->GetMRShader(creation), nullptr);
    EXPECT_EQ(creation.declarationName, L"KorvoStereo");
    EXPECT_EQ(creation.instanceName, L"Map #7 (Korvo Stereo)");
}

TEST_F(StereoMap, TranslationFindsLeftEyeWhateverItsCase) {
    Korvo::KorvoStereo* map = NewMap();
    map->GetParamBlock(0)->SetValue(Korvo::kLeftEyeParam, 0, FALSE);
    IParamBlock2* block = ShaderBlock({BoolParam(3, L"other"), BoolParam(7, L"left_eye")});
    block->SetValue(7, 0, TRUE);
    TestShader shader(block);
    Interval valid = FOREVER;
    map->TranslateParameters(translation_, &shader, 0, valid);
    EXPECT_EQ(block->GetInt(7), FALSE);
    EXPECT_EQ(block->GetInt(3), FALSE);
    EXPECT_EQ(valid, FOREVER);
    EXPECT_TRUE(KorvoHost::RecordedAssertions().empty());
}

TEST_F(StereoMap, TranslationFailuresAssertAndChangeNothing) {
    Korvo::KorvoStereo* map = NewMap();
    Interval valid = FOREVER;
    map->TranslateParameters(translation_, nullptr, 0, valid);
    ASSERT_NE(LastAssertion(), nullptr);
    EXPECT_EQ(LastAssertion()->function, L"KorvoStereo::TranslateParameters");
    EXPECT_EQ(LastAssertion()->expression, L"false");

    TestShader noBlock(nullptr);
    map->TranslateParameters(translation_, &noBlock, 0, valid);
    EXPECT_EQ(KorvoHost::RecordedAssertions().size(), 2u);

    IParamBlock2* block = ShaderBlock({BoolParam(0, L"Right_Eye")});
    TestShader wrong(block);
    map->TranslateParameters(translation_, &wrong, 0, valid);
    ASSERT_EQ(KorvoHost::RecordedAssertions().size(), 3u);
    EXPECT_EQ(LastAssertion()->function, L"`anonymous-namespace'::GetParamIDByName");
    EXPECT_EQ(block->GetInt(0), FALSE);

    // A map without its block cannot translate either.
    Korvo::KorvoStereo* empty = NewMap(TRUE);
    TestShader shader(ShaderBlock({BoolParam(0, L"Left_Eye")}));
    empty->TranslateParameters(translation_, &shader, 0, valid);
    EXPECT_EQ(KorvoHost::RecordedAssertions().size(), 4u);
}

TEST_F(StereoMap, AnimatedLeftEyeSendsTheValueAtRenderTime) {
    Korvo::KorvoStereo* map = NewMap();
    KorvoHost::SetAnimating(true);
    map->GetParamBlock(0)->SetValue(Korvo::kLeftEyeParam, 0, TRUE);
    map->GetParamBlock(0)->SetValue(Korvo::kLeftEyeParam, 100, FALSE);
    KorvoHost::SetAnimating(false);
    IParamBlock2* block = ShaderBlock({BoolParam(0, L"Left_Eye")});
    TestShader shader(block);

    Interval valid = FOREVER;
    map->TranslateParameters(translation_, &shader, 150, valid);
    EXPECT_EQ(block->GetInt(0), FALSE);
    EXPECT_EQ(valid, Interval(100, TIME_PosInfinity));
    valid = FOREVER;
    map->TranslateParameters(translation_, &shader, 50, valid);
    EXPECT_EQ(block->GetInt(0), TRUE);
    EXPECT_EQ(valid, Interval(0, 99));
    EXPECT_EQ(map->Validity(50), Interval(0, 99));
    EXPECT_EQ(NewMap()->Validity(50), FOREVER);
}

TEST_F(StereoMap, CheckBoxOfTheRolloutSwitchesTheEye) {
    Korvo::KorvoStereo* map = NewMap();
    ParamDlg* dialog =
        map->CreateParamDlg(KorvoHost::WindowManager::Instance().MainWindow(), nullptr);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->GetThing(), map);
    HWND rollout = nullptr;
    for (HWND window : KorvoHost::WindowManager::Instance().TopLevelWindows())
        if (KorvoHost::DialogId(window) == Korvo::IDD_STEREO_PARAMS) rollout = window;
    ASSERT_NE(rollout, nullptr);
    const KorvoHost::Window* box =
        KorvoHost::FromHandle(KorvoHost::FindControl(rollout, Korvo::IDC_LEFT_EYE));
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->checked);
    ASSERT_TRUE(KorvoHost::PressButton(rollout, Korvo::IDC_LEFT_EYE));
    EXPECT_EQ(map->GetParamBlock(0)->GetInt(Korvo::kLeftEyeParam), FALSE);
    dialog->DeleteThis();
}

}  // namespace
}  // namespace KorvoTest
