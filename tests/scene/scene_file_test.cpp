// Scene files: what loads, the message for each kind of mistake, saving and loading again, and
// models imported through Assimp.
#include "standalone_host/scene/scene_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host/maxscript.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/scene/scene_node.h"
#include "standalone_host/scene/scene_objects.h"
#include "test_support/temp_dir.h"

using namespace KorvoHost;
namespace fs = std::filesystem;

namespace {

const fs::path kData = fs::path(KORVO_TEST_DATA) / "scene";

using TempFolder = KorvoTest::TempDir;

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

std::string ErrorOf(const std::string& text) {
    const SceneLoadResult result = ParseSceneText(text, "scene.json");
    EXPECT_EQ(result.scene, nullptr) << "loaded although it should not have:\n" << text;
    return result.error;
}

template <class T>
T* ObjectOf(Scene& scene, const wchar_t* name) {
    INode* node = scene.FindNode(name);
    EXPECT_NE(node, nullptr) << "no node " << ToUtf8(name);
    return node ? dynamic_cast<T*>(node->EvalWorldState(0).obj) : nullptr;
}

}  // namespace

TEST(SceneFile, ReadsEveryKindOfNode) {
    const SceneLoadResult result = ParseSceneText(R"({
        // Comments are allowed.
        "unit": "meters",
        "renderer": "mental_ray",
        "floatFrameBuffer": true,
        "background": "#336699",
        "ambient": [0.2, 0.2, 0.25],
        "nodes": [
            {"name": "Room"},
            {"name": "Table", "parent": "Room",
             "transform": {"position": [1, 2, 0], "rotation": [0, 0, 90], "scale": 2},
             "mesh": {"type": "box", "size": [1.2, 0.8, 0.75], "color": [0.5, 0.3, 0.1]}},
            {"name": "Floor", "mesh": {"type": "plane", "size": [5, 4]}},
            {"name": "Ball", "mesh": {"type": "sphere", "radius": 0.2}, "derived": true},
            {"name": "Sun", "light": {"type": "directional", "intensity": 0.8, "shadows": false}},
            {"name": "Bulb", "light": {"color": "#FFEECC", "falloff": 3}},
            {"name": "Stereo", "helper": {"classId": ["0x778103A1", "0x3B985164"],
                                          "paramBlocks": {"0": {"2": 6.4, "0": 1}}}},
            {"name": "Free", "transform": {"position": [0, 0, 1.6], "rotation": [90, 0, 0]},
             "camera": {"fov": 60}},
            {"name": "Look", "transform": {"position": [1, 1, 1.6]},
             "camera": {"target": [1, 5, 1.6], "roll": 10}},
            {"name": "Follow", "camera": {"target": "Ball", "ortho": true}}
        ]
    })",
                                                  "scene.json");
    ASSERT_NE(result.scene, nullptr) << result.error;
    Scene& scene = *result.scene;
    EXPECT_EQ(scene.Unit(), SystemUnit::Meters);
    EXPECT_EQ(scene.CurrentRenderer(false)->ClassID(), kMentalRayRendererClassId);
    EXPECT_TRUE(scene.FloatFrameBuffer());
    EXPECT_EQ(scene.background, (Color{0x33 / 255.0f, 0x66 / 255.0f, 0x99 / 255.0f}));
    EXPECT_EQ(scene.Nodes().size(), 11u) << "ten nodes and the target made for Look";

    INode* table = scene.FindNode(L"Table");
    EXPECT_STREQ(table->GetParentNode()->GetName(), L"Room");
    const Matrix3 tableTM = table->GetNodeTM(0);
    EXPECT_EQ(tableTM.GetRow(0), Point3(0, 2, 0)) << "rotated 90 degrees and scaled 2";
    EXPECT_EQ(tableTM.GetTrans(), Point3(1, 2, 0));
    auto* box = ObjectOf<SceneMesh>(scene, L"Table");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(std::get<BoxShape>(box->shape).size, Point3(1.2f, 0.8f, 0.75f));

    INode* ball = scene.FindNode(L"Ball");
    EXPECT_EQ(ball->GetObjectRef()->SuperClassID(), GEN_DERIVOB_CLASS_ID);
    EXPECT_EQ(ball->EvalWorldState(0).obj->SuperClassID(), GEOMOBJECT_CLASS_ID);

    auto* sun = ObjectOf<SceneLight>(scene, L"Sun");
    ASSERT_NE(sun, nullptr);
    EXPECT_EQ(sun->settings.type, LightType::Directional);
    EXPECT_FALSE(sun->settings.castShadows);
    EXPECT_FLOAT_EQ(ObjectOf<SceneLight>(scene, L"Bulb")->settings.falloff, 3.0f);

    IParamBlock2* stereo = scene.FindNode(L"Stereo")->GetObjectRef()->GetParamBlock(0);
    EXPECT_EQ(stereo->GetInt(0), 1);
    EXPECT_FLOAT_EQ(stereo->GetFloat(2), 6.4f);
    EXPECT_TRUE(scene.Records().empty()) << "loading is not a write";

    auto* free = ObjectOf<CameraObject>(scene, L"Free");
    EXPECT_FLOAT_EQ(free->GetFOV(0), 1.0471976f);
    EXPECT_EQ(free->ClassID(), kFreeCameraClassId);
    EXPECT_EQ(scene.FindNode(L"Free")->GetNodeTM(0).GetRow(2), Point3(0, -1, 0))
        << "turned up 90 degrees from looking down, it faces +Y";

    INode* look = scene.FindNode(L"Look");
    ASSERT_NE(look->GetTarget(), nullptr);
    EXPECT_STREQ(look->GetTarget()->GetName(), L"Look.Target");
    EXPECT_EQ(ObjectOf<CameraObject>(scene, L"Look")->ClassID(), kTargetCameraClassId);
    EXPECT_NEAR(-look->GetNodeTM(0).GetRow(2).y, 1.0f, 1e-6f);
    EXPECT_NEAR(dynamic_cast<SceneNode*>(look)->Roll(), 0.17453292f, 1e-7f);
    EXPECT_EQ(scene.FindNode(L"Follow")->GetTarget(), ball);
    EXPECT_TRUE(ObjectOf<CameraObject>(scene, L"Follow")->IsOrtho());
}

TEST(SceneFile, NamesTheFilePlaceAndProblem) {
    const struct {
        const char* what;
        const char* text;
        const char* message;
    } cases[] = {
        {"bad JSON", "{\n  \"unit\": \"meters\",\n  \"nodes\": [,]\n}",
         "scene.json:3:13: not valid JSON: syntax error while parsing value - unexpected ','; "
         "expected '[', '{', or a literal"},
        {"unknown field", R"({"nodes": [{"name": "Box", "mesh": {"type": "box",
            "size": [1, 2, 3], "colour": [1, 0, 0]}}]})",
         "scene.json: nodes[0].mesh: unknown field \"colour\"; did you mean \"color\"? "
         "(fields here: type, size, color)"},
        {"wrong type", R"({"nodes": [{"name": "Cam", "camera": {"fov": "wide"}}]})",
         "scene.json: nodes[0].camera.fov: expected a number, found a string (\"wide\")"},
        {"unknown renderer", R"({"renderer": "vrey"})",
         "scene.json: renderer: unknown renderer \"vrey\"; did you mean \"vray\"? (expected one "
         "of: scanline, vray, vray_rt, mental_ray, arnold)"},
        {"unknown unit", R"({"unit": "parsecs"})",
         "scene.json: unit: unknown unit \"parsecs\" (expected one of: inches, feet, miles, "
         "millimeters, centimeters, meters, kilometers, millimetres, centimetres, metres, "
         "kilometres)"},
        {"duplicate key", R"({"nodes": [{"name": "A", "name": "B"}]})",
         "scene.json: nodes[0]: the field \"name\" is given twice"},
        {"not an object", "[1, 2]",
         "scene.json: a scene file holds one JSON object, found an array"},
        {"missing name", R"({"nodes": [{"mesh": {"type": "sphere", "radius": 1}}]})",
         "scene.json: nodes[0]: missing field \"name\""},
        {"two objects", R"({"nodes": [{"name": "X", "camera": {}, "light": {}}]})",
         "scene.json: nodes[0]: a node holds one object; found both \"camera\" and \"light\""},
        {"unknown parent", R"({"nodes": [{"name": "Table"}, {"name": "Cup", "parent": "Tabel"}]})",
         "scene.json: nodes[1].parent: no node is named \"Tabel\"; did you mean \"Table\"?"},
        {"ambiguous parent",
         R"({"nodes": [{"name": "Box"}, {"name": "Box"}, {"name": "Cup", "parent": "Box"}]})",
         "scene.json: nodes[2].parent: more than one node is named \"Box\"; refer to it by its "
         "index in \"nodes\" instead"},
        {"parent loop",
         R"({"nodes": [{"name": "A", "parent": "B"}, {"name": "B", "parent": "A"}]})",
         "scene.json: nodes[1].parent: that parent is this node or moves with it"},
        {"target inside the camera",
         R"({"nodes": [{"name": "Cam", "camera": {"target": "Dot"}}, {"name": "Dot", "parent": "Cam"}]})",
         "scene.json: nodes[0].camera.target: that target is this camera or moves with it"},
        {"field of view", R"({"nodes": [{"name": "Cam", "camera": {"fov": 180}}]})",
         "scene.json: nodes[0].camera.fov: the field of view goes from 0 to 180 degrees (both "
         "excluded), found 180"},
        {"rotation of a target camera",
         R"({"nodes": [{"name": "Cam", "transform": {"rotation": [0, 0, 5]},
             "camera": {"target": [0, 1, 0]}}]})",
         "scene.json: nodes[0].transform.rotation: a camera with a target turns towards it; use "
         "camera.roll to turn it about its view"},
        {"colour range", R"({"background": [0.5, 1.5, 0]})",
         "scene.json: background[1]: colour components go from 0 to 1, found 1.5"},
        {"size", R"({"nodes": [{"name": "B", "mesh": {"type": "box", "size": [1, -2, 3]}}]})",
         "scene.json: nodes[0].mesh.size[1]: must be greater than 0, found -2"},
        {"class id", R"({"nodes": [{"name": "H", "helper": {"classId": ["0x778103A1"]}}]})",
         "scene.json: nodes[0].helper.classId: expected a class id of two words such as "
         "[\"0x778103A1\", \"0x3B985164\"], found an array"},
        {"parameter id", R"({"nodes": [{"name": "H", "helper": {"classId": [1, 2],
            "paramBlocks": {"0": {"x": 1}}}}]})",
         "scene.json: nodes[0].helper.paramBlocks.0: expected a parameter id (a whole number "
         "from -32768 to 32767) as the key, found \"x\""},
        {"scale", R"({"nodes": [{"name": "B", "transform": {"scale": [1, 0, 1]}}]})",
         "scene.json: nodes[0].transform.scale: a scale of 0 flattens the node away"},
    };
    for (const auto& c : cases) EXPECT_EQ(ErrorOf(c.text), c.message) << c.what;
}

TEST(SceneFile, HostileNestingIsRefusedWithoutCrashing) {
    std::string chain = R"({"nodes": [{"name": "N0"})";
    for (int i = 1; i <= 3000; ++i)
        chain += ", {\"name\": \"N" + std::to_string(i) + "\", \"parent\": \"N" +
                 std::to_string(i - 1) + "\"}";
    chain += "]}";
    EXPECT_EQ(ErrorOf(chain),
              "scene.json: nodes[1000]: parents and targets are nested more than 1000 levels deep");

    const std::string deep =
        R"({"unit": )" + std::string(100000, '[') + std::string(100000, ']') + "}";
    EXPECT_EQ(ErrorOf(deep), "scene.json: unit: expected a string, found an array");
}

TEST(SceneFile, MissingFilesAreReported) {
    const std::string model = ErrorOf(
        R"({"nodes": [{"name": "Chair", "mesh": {"type": "model", "file": "models/chair.obj"}}]})");
    EXPECT_EQ(model.rfind("scene.json: nodes[0].mesh.file: cannot import the model "
                          "\"models/chair.obj\" (",
                          0),
              0u)
        << model;
    EXPECT_NE(model.find("models/chair.obj): no such file"), std::string::npos) << model;

    const std::string lines =
        ErrorOf(R"({"nodes": [{"name": "L", "mesh": {"type": "model", "file": ")" +
                (kData / "lines_only.obj").string() + "\"}}]}");
    EXPECT_EQ(lines.rfind("scene.json: nodes[0].mesh.file: cannot import the model", 0), 0u)
        << lines;

    const SceneLoadResult absent = LoadSceneFile("/nonexistent/korvo/scene.json");
    EXPECT_EQ(absent.scene, nullptr);
    EXPECT_EQ(absent.error.rfind("/nonexistent/korvo/scene.json: cannot read the scene file: ", 0),
              0u)
        << absent.error;
}

TEST(SceneFile, ImportsObjModelsWithTheirMaterialColours) {
    TempFolder folder;
    fs::create_directories(folder.path() / "models");
    fs::copy_file(kData / "pyramid.obj", folder.path() / "models/pyramid.obj");
    fs::copy_file(kData / "pyramid.mtl", folder.path() / "models/pyramid.mtl");
    WriteText(folder.path() / "scene.json", R"({"nodes": [
        {"name": "A", "mesh": {"type": "model", "file": "models/pyramid.obj"}},
        {"name": "B", "mesh": {"type": "model", "file": "models/pyramid.obj", "color": "#00FF00"}}
    ]})");
    const SceneLoadResult result = LoadSceneFile(folder.path() / "scene.json");
    ASSERT_NE(result.scene, nullptr) << result.error;

    auto* a = ObjectOf<SceneMesh>(*result.scene, L"A");
    ASSERT_NE(a, nullptr);
    const ModelShape& shape = std::get<ModelShape>(a->shape);
    const ImportedModel& model = *shape.model;
    ASSERT_EQ(model.indices.size(), 18u) << "six triangles: the base quad split in two";
    EXPECT_EQ(model.positions.size(), 9u) << "corners shared within each material";
    ASSERT_EQ(model.triangleColors.size(), 6u);
    int red = 0, blue = 0;
    for (const Color& c : model.triangleColors) {
        red += c == Color{1, 0, 0};
        blue += c == Color{0, 0, 1};
    }
    EXPECT_EQ(red, 2);
    EXPECT_EQ(blue, 4);
    float top = 0;
    for (const Point3& p : model.positions) top = std::max(top, p.z);
    EXPECT_FLOAT_EQ(top, 1.5f);
    EXPECT_FALSE(a->color.has_value());

    auto* b = ObjectOf<SceneMesh>(*result.scene, L"B");
    EXPECT_EQ(std::get<ModelShape>(b->shape).model, shape.model) << "one import per file";
    EXPECT_EQ(b->color, (Color{0, 1, 0}));
}

TEST(SceneFile, SavedSceneLoadsBackTheSame) {
    TempFolder folder;
    const std::string original = R"({
        "unit": "centimeters",
        "ambient": [0.1, 0.12, 0.15],
        "nodes": [
            {"name": "Room", "transform": {"position": [10, 20, 0], "rotation": [0, 0, 33]}},
            {"name": "Table", "parent": "Room",
             "transform": {"position": [100, 50, 0], "rotation": [0, 0, 12.5]},
             "mesh": {"type": "box", "size": [120, 80, 75], "color": [0.6, 0.4, 0.2]}},
            {"name": "Cup", "parent": "Table", "transform": {"position": [10, 5, 75]},
             "mesh": {"type": "sphere", "radius": 4.5}, "derived": true},
            {"name": "Vase", "mesh": {"type": "model", "file": ")" +
                                 (kData / "pyramid.obj").string() + R"("}},
            {"name": "Lamp", "transform": {"position": [250, 200, 250]},
             "light": {"color": [1, 0.9, 0.8], "intensity": 1.5, "falloff": 400}},
            {"name": "Eye", "transform": {"position": [200, 150, 160]},
             "camera": {"fov": 70, "target": "Table", "roll": 5}},
            {"name": "Free", "parent": "Room",
             "transform": {"position": [300, 100, 160], "rotation": [80, 0, 200]},
             "camera": {"fov": 55}}
        ]
    })";
    SceneLoadResult first = ParseSceneText(original, folder.path() / "original.json");
    ASSERT_NE(first.scene, nullptr) << first.error;
    Scene& scene = *first.scene;

    // What a run leaves behind: a helper with written parameters, renderer settings, a camera at
    // 90 degrees and a look-at camera whose transform was written back.
    auto* helper = static_cast<Object*>(
        scene.CreateInstance(HELPER_CLASS_ID, Class_ID(0x778103A1, 0x3B985164)));
    INode* helperNode = scene.CreateObjectNode(helper);
    helper->GetParamBlock(0)->SetValue(0, 0, 1);
    helper->GetParamBlock(0)->SetValue(2, 0, 6.4f);
    helper->GetParamBlock(0)->SetValue(5, 0, 2.0f, 1);
    scene.SetCurrentRenderer(kVRayRendererClassId);
    scene.CurrentRenderer()->GetParamBlockByID(10)->SetValue(83, 0, 10);
    ObjectOf<CameraObject>(scene, L"Free")->SetFOV(0, HALFPI);
    INode* eye = scene.FindNode(L"Eye");
    Matrix3 written = eye->GetNodeTM(0);
    written.SetRow(1, written.GetRow(1) * 0.9999999f);
    eye->SetNodeTM(0, written);
    scene.CreateObjectNode(nullptr, L"Free");  // a second "Free", referred to by index if needed
    scene.SetParent(scene.FindNode(L"Lamp"), helperNode);

    std::string error;
    const fs::path saved = folder.path() / "sub" / "saved.json";
    fs::create_directories(saved.parent_path());
    ASSERT_TRUE(scene.SaveAs(saved, error)) << error;
    EXPECT_EQ(scene.CurFileName(), L"saved.json");
    EXPECT_EQ(scene.CurFilePath(), FromPath(saved));

    SceneLoadResult second = LoadSceneFile(saved);
    ASSERT_NE(second.scene, nullptr) << second.error << "\n" << ReadText(saved);
    Scene& loaded = *second.scene;
    const std::vector<INode*> before = scene.Nodes(), after = loaded.Nodes();
    ASSERT_EQ(before.size(), after.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        const std::string name = ToUtf8(before[i]->GetName());
        EXPECT_STREQ(before[i]->GetName(), after[i]->GetName());
        EXPECT_EQ(before[i]->GetNodeTM(0), after[i]->GetNodeTM(0)) << name;
        EXPECT_STREQ(before[i]->GetParentNode()->GetName(), after[i]->GetParentNode()->GetName())
            << name;
        EXPECT_EQ(before[i]->GetTarget() == nullptr, after[i]->GetTarget() == nullptr) << name;
        Object* a = before[i]->GetObjectRef();
        Object* b = after[i]->GetObjectRef();
        ASSERT_EQ(a == nullptr, b == nullptr) << name;
        if (!a) continue;
        EXPECT_EQ(a->SuperClassID(), b->SuperClassID()) << name;
        EXPECT_EQ(a->ClassID(), b->ClassID()) << name;
        if (auto* camera = dynamic_cast<CameraObject*>(UnwrapDerived(a))) {
            EXPECT_EQ(camera->GetFOV(0), dynamic_cast<CameraObject*>(UnwrapDerived(b))->GetFOV(0))
                << name;
        }
    }
    EXPECT_EQ(loaded.FindNode(L"Eye")->GetNodeTM(0), written);
    IParamBlock2* block = loaded.FindNode(helperNode->GetName())->GetObjectRef()->GetParamBlock(0);
    EXPECT_EQ(block->GetInt(0), 1);
    EXPECT_EQ(block->GetFloat(2), 6.4f);
    float tabbed = 0;
    Interval valid;
    EXPECT_TRUE(block->GetValue(5, 0, tabbed, valid, 1));
    EXPECT_EQ(tabbed, 2.0f);
    EXPECT_EQ(loaded.CurrentRenderer(false)->ClassID(), kVRayRendererClassId);
    EXPECT_EQ(loaded.CurrentRenderer()->GetParamBlockByID(10)->GetInt(83), 10);
    EXPECT_EQ(loaded.ambient, scene.ambient);
    auto* vase = ObjectOf<SceneMesh>(loaded, L"Vase");
    ASSERT_NE(vase, nullptr);
    EXPECT_EQ(std::get<ModelShape>(vase->shape).file, fs::weakly_canonical(kData / "pyramid.obj"));

    // Saving what was loaded writes the same text again.
    ASSERT_TRUE(loaded.Save(error)) << error;
    const std::string text = ReadText(saved);
    ASSERT_TRUE(scene.SaveAs(folder.path() / "sub" / "again.json", error)) << error;
    EXPECT_EQ(ReadText(folder.path() / "sub" / "again.json"), text);
}

TEST(SceneFile, FailedSaveKeepsTheOldFile) {
    TempFolder folder;
    const fs::path file = folder.path() / "scene.json";
    WriteText(file, R"({"nodes": [{"name": "Box"}]})");
    SceneLoadResult result = LoadSceneFile(file);
    ASSERT_NE(result.scene, nullptr) << result.error;
    // A folder where the temporary file would go makes the write fail.
    fs::create_directories(folder.path() / "scene.json.saving" / "x");
    std::string error;
    EXPECT_FALSE(result.scene->Save(error));
    EXPECT_NE(error.find("scene.json: cannot write the scene file"), std::string::npos) << error;
    EXPECT_EQ(ReadText(file), R"({"nodes": [{"name": "Box"}]})");
}

TEST(SceneFile, ExampleScenesLoadWithAFreeAndATargetCamera) {
    for (const char* name : {"room.json", "courtyard.json"}) {
        const SceneLoadResult result = LoadSceneFile(fs::path(KORVO_EXAMPLES) / name);
        ASSERT_NE(result.scene, nullptr) << result.error;
        Scene& scene = *result.scene;
        EXPECT_EQ(scene.CurFileName(), FromUtf8(name));
        INode* free = scene.FindNode(L"Cam_Free");
        INode* target = scene.FindNode(L"Cam_Target");
        ASSERT_TRUE(free && target) << name;
        EXPECT_EQ(free->GetTarget(), nullptr) << name;
        EXPECT_NE(target->GetTarget(), nullptr) << name;
        // Eye height: 1.6 m or so in the scene's unit.
        const double unitsPerMetre = 1.0 / scene.MasterScale(UNITS_METERS);
        EXPECT_NEAR(free->GetNodeTM(0).GetTrans().z / unitsPerMetre, 1.65, 0.1) << name;
    }
}
