// The scene's host services: tree walks, names, object creation, renderers, units and the record
// of what callers wrote.
#include "standalone_host/scene/scene.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/maxscript.h"

using namespace KorvoHost;

namespace {

class NameCollector : public ITreeEnumProc {
  public:
    explicit NameCollector(std::wstring skipChildrenOf = L"", std::wstring stopAt = L"")
        : skip_(std::move(skipChildrenOf)), stop_(std::move(stopAt)) {}
    int callback(INode* node) override {
        names.push_back(node->GetName());
        if (node->GetName() == stop_) return TREE_ABORT;
        return node->GetName() == skip_ ? TREE_IGNORECHILDREN : TREE_CONTINUE;
    }
    std::vector<std::wstring> names;

  private:
    std::wstring skip_, stop_;
};

// Room ─ Table ─ Vase
//      └ Lamp
// Camera
INode* Add(Scene& scene, const wchar_t* name, INode* parent = nullptr) {
    INode* node = scene.CreateObjectNode(nullptr, name);
    if (parent) {
        EXPECT_TRUE(scene.SetParent(node, parent));
    }
    return node;
}

}  // namespace

TEST(SceneTree, VisitsEveryNodeOnceParentsFirst) {
    Scene scene;
    INode* room = Add(scene, L"Room");
    INode* camera = Add(scene, L"Camera");
    INode* table = Add(scene, L"Table", room);
    Add(scene, L"Lamp", room);
    Add(scene, L"Vase", table);

    NameCollector all;
    EXPECT_EQ(scene.EnumTree(&all, FALSE, TRUE), TREE_CONTINUE);
    EXPECT_EQ(all.names,
              (std::vector<std::wstring>{L"Room", L"Table", L"Vase", L"Lamp", L"Camera"}));

    NameCollector skipping(L"Table");
    scene.EnumTree(&skipping);
    EXPECT_EQ(skipping.names, (std::vector<std::wstring>{L"Room", L"Table", L"Lamp", L"Camera"}));

    NameCollector stopping(L"", L"Vase");
    EXPECT_EQ(scene.EnumTree(&stopping), TREE_ABORT);
    EXPECT_EQ(stopping.names, (std::vector<std::wstring>{L"Room", L"Table", L"Vase"}));

    // A callback that deletes a node not yet visited: the walk skips it and goes on.
    class Deleter : public ITreeEnumProc {
      public:
        Deleter(Scene& scene, INode* victim) : scene_(scene), victim_(victim) {}
        int callback(INode* node) override {
            ++visits;
            if (node->GetName() == std::wstring(L"Room")) scene_.DeleteNode(victim_);
            return TREE_CONTINUE;
        }
        int visits = 0;

      private:
        Scene& scene_;
        INode* victim_;
    } deleter(scene, camera);
    scene.EnumTree(&deleter);
    EXPECT_EQ(deleter.visits, 4);
    EXPECT_EQ(scene.EnumTree(nullptr), TREE_CONTINUE);
}

TEST(SceneNames, MakeNameUniqueAppendsTheFirstFreeNumber) {
    Scene scene;
    MSTR fresh = L"Korvo_Camera";
    scene.MakeNameUnique(fresh);
    EXPECT_EQ(fresh, L"Korvo_Camera") << "a free name stays";

    Add(scene, L"Korvo_Camera");
    MSTR taken = L"Korvo_Camera";
    scene.MakeNameUnique(taken);
    EXPECT_EQ(taken, L"Korvo_Camera001");

    Add(scene, L"Korvo_Camera001");
    INode* second = Add(scene, L"Korvo_Camera002");
    MSTR numbered = L"Korvo_Camera001";
    scene.MakeNameUnique(numbered);
    EXPECT_EQ(numbered, L"Korvo_Camera003") << "trailing digits are replaced";

    scene.DeleteNode(second);
    numbered = L"Korvo_Camera001";
    scene.MakeNameUnique(numbered);
    EXPECT_EQ(numbered, L"Korvo_Camera002") << "a deleted node's name is free again";

    auto* camera = static_cast<Object*>(scene.CreateInstance(CAMERA_CLASS_ID, kFreeCameraClassId));
    EXPECT_STREQ(scene.CreateObjectNode(camera)->GetName(), L"Camera001");
    EXPECT_STREQ(scene.CreateObjectNode(camera)->GetName(), L"Camera002");
    EXPECT_EQ(scene.FindNode(L"Camera002")->GetObjectRef(), camera);
}

TEST(SceneObjects, CreateInstanceKnowsCamerasHelpersAndPrimitives) {
    Scene scene;
    // The VR camera class of another maker comes out as a generic camera with block 0.
    const Class_ID vrCamera(0x0007DC4F, 0x000400FD);
    auto* object = static_cast<Object*>(scene.CreateInstance(CAMERA_CLASS_ID, vrCamera));
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->SuperClassID(), CAMERA_CLASS_ID);
    EXPECT_EQ(object->ClassID(), vrCamera);
    ASSERT_NE(object->GetParamBlock(0), nullptr);
    auto* camera = dynamic_cast<CameraObject*>(object);
    ASSERT_NE(camera, nullptr);
    camera->SetFOV(0, HALFPI);
    EXPECT_EQ(camera->GetFOV(0), HALFPI);
    camera->SetOrtho(TRUE);
    EXPECT_TRUE(camera->IsOrtho());

    const Class_ID stereoHelper(0x778103A1, 0x3B985164);
    auto* helper = static_cast<Object*>(scene.CreateInstance(HELPER_CLASS_ID, stereoHelper));
    ASSERT_NE(helper, nullptr);
    EXPECT_EQ(helper->SuperClassID(), HELPER_CLASS_ID);
    EXPECT_EQ(helper->ClassID(), stereoHelper);
    EXPECT_EQ(helper->GetParamBlock(0)->NumParams(), 0);
    EXPECT_EQ(helper->GetParamBlock(1), nullptr);

    EXPECT_NE(scene.CreateInstance(GEOMOBJECT_CLASS_ID, kBoxClassId), nullptr);
    EXPECT_NE(scene.CreateInstance(LIGHT_CLASS_ID, kOmniLightClassId), nullptr);
    EXPECT_EQ(scene.CreateInstance(GEOMOBJECT_CLASS_ID, Class_ID(0x1234, 0x5678)), nullptr);
    EXPECT_EQ(scene.CreateInstance(TEXMAP_CLASS_ID, Class_ID(0x26B1639B, 0x662A38C8)), nullptr);

    INode* node = scene.CreateObjectNode(helper, L"VRayStereoscopic");
    EXPECT_EQ(node->EvalWorldState(0).obj, helper);
    EXPECT_EQ(scene.FindNode(L"VRayStereoscopic"), node);
}

TEST(SceneRecords, ParameterWritesAndNotificationsAreKeptInOrder) {
    Scene scene;
    auto* helper = static_cast<Object*>(
        scene.CreateInstance(HELPER_CLASS_ID, Class_ID(0x778103A1, 0x3B985164)));
    IParamBlock2* block = helper->GetParamBlock(0);
    block->SetValue(0, 0, 1);
    block->SetValue(1, 0, 0);
    block->SetValue(3, 0, 0);
    block->SetValue(4, 0, 1);
    block->SetValue(2, 0, 6.4f);

    INode* node = scene.CreateObjectNode(helper);
    node->NotifyDependents(FOREVER, PART_TM, REFMSG_CHANGE);

    const auto& records = scene.Records();
    ASSERT_EQ(records.size(), 6u);
    const ParamID order[] = {0, 1, 3, 4, 2};
    for (int i = 0; i < 5; ++i) {
        const auto& write = std::get<ParamWrite>(records[i]);
        EXPECT_EQ(write.owner, helper) << "write " << i;
        EXPECT_EQ(write.block, 0) << "write " << i;
        EXPECT_EQ(write.param, order[i]) << "write " << i;
    }
    EXPECT_EQ(std::get<ParamWrite>(records[4]).value, (std::variant<int, float>(6.4f)));
    const auto& notice = std::get<Notification>(records[5]);
    EXPECT_EQ(notice.target, node);
    EXPECT_EQ(notice.interval, FOREVER);
    EXPECT_EQ(notice.part, PART_TM);
    EXPECT_EQ(notice.message, REFMSG_CHANGE);
    EXPECT_EQ(notice.superClassFilter, NOTIFY_ALL);
    EXPECT_TRUE(notice.propagate);

    EXPECT_EQ(block->GetInt(4), 1);
    EXPECT_FLOAT_EQ(block->GetFloat(2), 6.4f);
    EXPECT_FLOAT_EQ(block->GetFloat(0), 1.0f) << "an int reads as a float";
    int unused = 0;
    Interval valid;
    EXPECT_FALSE(block->GetValue(2, 0, unused, valid)) << "a float does not read as an int";
    EXPECT_FALSE(block->GetValue(99, 0, unused, valid));
    EXPECT_EQ(block->NumParams(), 5);
    EXPECT_EQ(block->IndextoID(2), 2);
    EXPECT_EQ(block->IndextoID(5), -1);

    scene.ClearRecords();
    EXPECT_TRUE(scene.Records().empty());
}

TEST(SceneRenderer, KindsClassNamesRequirementsAndBlocks) {
    Scene scene;
    EXPECT_EQ(scene.CurrentRenderer(false), nullptr);
    Renderer* scanline = scene.CurrentRenderer(true);
    ASSERT_NE(scanline, nullptr);
    EXPECT_EQ(scanline->SuperClassID(), RENDERER_CLASS_ID);
    MSTR name;
    scanline->GetClassName(name);
    EXPECT_EQ(name, L"Default Scanline");
    EXPECT_FALSE(scanline->HasRequirement(Renderer::kRequirement_Wants32bitFPOutput));
    scene.SetFloatFrameBuffer(true);
    EXPECT_TRUE(scanline->HasRequirement(Renderer::kRequirement_Wants32bitFPOutput));
    EXPECT_FALSE(scanline->HasRequirement(Renderer::kRequirement_NoVFB));

    const struct {
        RendererType type;
        Class_ID id;
        const wchar_t* name;
    } kinds[] = {{RendererType::VRay, {0x73BAB286, 0x77F8FD0C}, L"V-Ray"},
                 {RendererType::VRayRT, {0x698A4B98, 0x4EDD05F5}, L"V-Ray RT"},
                 {RendererType::MentalRay, {0x58F67D6C, 0x4FCF3BC3}, L"mental ray"},
                 {RendererType::Arnold, {0xB1A438DE, 0xA045667A}, L"Arnold"}};
    for (const auto& kind : kinds) {
        scene.SetCurrentRenderer(kind.id);
        Renderer* renderer = scene.CurrentRenderer();
        EXPECT_EQ(renderer->ClassID(), kind.id);
        renderer->GetClassName(name);
        EXPECT_EQ(name, kind.name);
        EXPECT_EQ(RendererTypeOf(kind.id), kind.type);
    }
    // The first word alone is not V-Ray.
    EXPECT_EQ(RendererTypeOf(Class_ID(0x73BAB286, 0)), RendererType::Scanline);

    scene.SetCurrentRenderer(kVRayRendererClassId);
    Renderer* vray = scene.CurrentRenderer();
    const BlockID blocks[] = {10, 2, 15};
    const ParamID params[] = {83, 6, 170};
    const int values[] = {10, 0, 0};
    for (int i = 0; i < 3; ++i)
        vray->GetParamBlockByID(blocks[i])->SetValue(params[i], 0, values[i]);
    ASSERT_EQ(scene.Records().size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const auto& write = std::get<ParamWrite>(scene.Records()[i]);
        EXPECT_EQ(write.owner, vray);
        EXPECT_EQ(write.block, blocks[i]);
        EXPECT_EQ(write.param, params[i]);
        EXPECT_EQ(write.value, (std::variant<int, float>(values[i])));
    }
    scene.SetCurrentRenderer(kScanlineRendererClassId);
    scene.SetCurrentRenderer(kVRayRendererClassId);
    EXPECT_EQ(scene.CurrentRenderer(), vray) << "one renderer object per class id";
    EXPECT_EQ(vray->GetParamBlockByID(10)->GetInt(83), 10);
}

TEST(SceneUnits, MasterScaleConvertsTheSystemUnit) {
    Scene scene;
    EXPECT_DOUBLE_EQ(scene.MasterScale(UNITS_CENTIMETERS), 1.0);
    EXPECT_DOUBLE_EQ(scene.MasterScale(UNITS_METERS), 0.01);
    scene.SetUnit(SystemUnit::Meters);
    EXPECT_DOUBLE_EQ(scene.MasterScale(UNITS_CENTIMETERS), 100.0);
    scene.SetUnit(SystemUnit::Inches);
    EXPECT_DOUBLE_EQ(scene.MasterScale(UNITS_CENTIMETERS), 2.54);
    EXPECT_DOUBLE_EQ(scene.MasterScale(42), 1.0);
    EXPECT_TRUE(scene.CurFileName().empty());
    EXPECT_TRUE(scene.CurFilePath().empty());
    std::string error;
    EXPECT_FALSE(scene.Save(error));
    EXPECT_FALSE(error.empty());
}
