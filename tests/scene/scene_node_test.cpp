// Transforms of nodes and cameras: look-at evaluation, roll, rotation about an axis, exact
// read-back of written transforms, and the hierarchy.
#include "standalone_host/scene/scene_node.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "standalone_host/scene/scene.h"

using namespace KorvoHost;

namespace {

enum Face { Top = 0, Bottom = 1, Left = 2, Right = 3, Front = 4, Back = 5 };
const char* const kFaceNames[] = {"Top", "Bottom", "Left", "Right", "Front", "Back"};

// The face rotations the cube-face code applies: new transform = FaceRotation(face) · transform.
Matrix3 FaceRotation(int face) {
    Matrix3 m;
    switch (face) {
        case Left:
            m = m * RotateYMatrix(HALFPI);
            break;
        case Right:
            m = m * RotateYMatrix(-HALFPI);
            break;
        case Back:
            m = m * RotateYMatrix(PI);
            break;
        case Top:
            m = RotateXMatrix(HALFPI) * (m * RotateYMatrix(PI));
            break;
        case Bottom:
            m = RotateXMatrix(-HALFPI) * (m * RotateYMatrix(PI));
            break;
        default:
            break;
    }
    return m;
}

// Turns a target camera to a face the way the cube-face code does: the target moves to the
// face's view direction at its old distance; for the top and bottom faces the camera is then
// rotated about the world vertical until its right axis has the heading of the old left axis.
void TurnTargetCamera(INode* camera, int face) {
    const Matrix3 a = camera->GetNodeTM(0);
    const Point3 n = -a.GetRow(0);
    INode* target = camera->GetTarget();
    Matrix3 g = target->GetNodeTM(0);
    const Matrix3 c = camera->GetNodeTM(0);
    const float k = (g.GetTrans() - c.GetTrans()).Length() / g.GetRow(2).Length();
    Matrix3 b = FaceRotation(face) * a;
    b.PreTranslate(Point3(0, 0, -k));
    g.SetTrans(b.GetTrans());
    target->SetNodeTM(0, g);
    if (static_cast<unsigned>(face) <= 1) {
        const Matrix3 e = camera->GetNodeTM(0);
        const float angle = std::atan2(n.y, n.x) - std::atan2(e.GetRow(0).y, e.GetRow(0).x);
        camera->Rotate(0, e, AngAxis(Point3(0, 0, face == Top ? -1.0f : 1.0f), angle), TRUE);
    }
}

void ExpectNear(const Point3& actual, const Point3& expected, float tolerance,
                const std::string& what) {
    EXPECT_NEAR(actual.x, expected.x, tolerance) << what;
    EXPECT_NEAR(actual.y, expected.y, tolerance) << what;
    EXPECT_NEAR(actual.z, expected.z, tolerance) << what;
}

void ExpectAxesNear(const Matrix3& actual, const Matrix3& expected, float tolerance,
                    const std::string& what) {
    ExpectNear(actual.GetRow(0), expected.GetRow(0), tolerance, what + ", right axis");
    ExpectNear(actual.GetRow(1), expected.GetRow(1), tolerance, what + ", up axis");
    ExpectNear(actual.GetRow(2), expected.GetRow(2), tolerance, what + ", back axis");
}

bool IsFiniteTM(const Matrix3& m) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j)
            if (!std::isfinite(m.GetRow(i)[j])) return false;
    return true;
}

struct TargetCamera {
    INode* camera;
    INode* target;
};

TargetCamera MakeTargetCamera(Scene& scene, const Point3& position, const Point3& targetPosition) {
    auto* object =
        static_cast<Object*>(scene.CreateInstance(CAMERA_CLASS_ID, kTargetCameraClassId));
    INode* camera = scene.CreateObjectNode(object, L"Cam");
    INode* target = scene.CreateObjectNode(nullptr, L"Cam.Target");
    target->SetNodeTM(0, TransMatrix(targetPosition));
    camera->SetNodeTM(0, TransMatrix(position));
    EXPECT_TRUE(scene.SetTarget(camera, target));
    return {camera, target};
}

// A levelled camera at `position` whose view has the given heading (radians from +Y towards −X).
Matrix3 LevelledCamera(float heading, const Point3& position) {
    const Point3 forward(-std::sin(heading), std::cos(heading), 0.0f);
    const Point3 right = CrossProd(forward, Point3(0, 0, 1));
    return {right, Point3(0, 0, 1), -forward, position};
}

}  // namespace

TEST(LookAtCamera, LooksAtItsTargetWithWorldUp) {
    Scene scene;
    auto [camera, target] = MakeTargetCamera(scene, {100, 200, 160}, {100, 500, 160});
    const Matrix3 tm = camera->GetNodeTM(0);
    ExpectAxesNear(tm, Matrix3({1, 0, 0}, {0, 0, 1}, {0, -1, 0}, {}), 1e-6f, "facing +Y");
    EXPECT_EQ(tm.GetTrans(), Point3(100, 200, 160));

    target->SetNodeTM(0, TransMatrix({400, 200, 460}));
    const Matrix3 tilted = camera->GetNodeTM(0);
    const float s = std::sqrt(0.5f);
    ExpectNear(-tilted.GetRow(2), Point3(s, 0, s), 1e-6f, "view towards the raised target");
    EXPECT_NEAR(tilted.GetRow(0).z, 0.0f, 1e-6f) << "right axis stays level";
    EXPECT_GT(tilted.GetRow(1).z, 0.0f) << "image up points up";
}

TEST(LookAtCamera, ViewsStraightDownAndUpUseWorldYAsReference) {
    Scene scene;
    auto [camera, target] = MakeTargetCamera(scene, {0, 0, 300}, {0, 0, 0});
    ExpectAxesNear(camera->GetNodeTM(0), Matrix3({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {}), 1e-6f,
                   "looking down");
    target->SetNodeTM(0, TransMatrix({0, 0, 900}));
    ExpectAxesNear(camera->GetNodeTM(0), Matrix3({-1, 0, 0}, {0, 1, 0}, {0, 0, -1}, {}), 1e-6f,
                   "looking up");

    // Roll turns the image about the view axis from that reference.
    auto* node = dynamic_cast<SceneNode*>(camera);
    node->SetRoll(HALFPI);
    ExpectAxesNear(camera->GetNodeTM(0), Matrix3({0, 1, 0}, {1, 0, 0}, {0, 0, -1}, {}), 1e-6f,
                   "looking up, rolled 90 degrees");
}

TEST(LookAtCamera, NeverProducesNaN) {
    Scene scene;
    auto [camera, target] = MakeTargetCamera(scene, {10, 20, 30}, {10, 80, 30});
    const Matrix3 before = camera->GetNodeTM(0);

    // A target on the camera gives no direction: the camera keeps its last view.
    target->SetNodeTM(0, TransMatrix({10, 20, 30}));
    const Matrix3 onCamera = camera->GetNodeTM(0);
    EXPECT_TRUE(IsFiniteTM(onCamera));
    ExpectAxesNear(onCamera, before, 1e-6f, "target on the camera");

    // A target with a zero-length Z row still has a position to look at.
    target->SetNodeTM(0, Matrix3({1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {10, -50, 30}));
    const Matrix3 flatTarget = camera->GetNodeTM(0);
    EXPECT_TRUE(IsFiniteTM(flatTarget));
    ExpectNear(-flatTarget.GetRow(2), Point3(0, -1, 0), 1e-6f, "view towards a flat target");

    // Writing a transform whose axes have no length keeps the roll finite.
    camera->SetNodeTM(0, Matrix3({0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {10, 20, 30}));
    target->SetNodeTM(0, TransMatrix({10, 90, 30}));
    EXPECT_TRUE(IsFiniteTM(camera->GetNodeTM(0)));
}

TEST(LookAtCamera, WrittenTransformReadsBackExactlyUntilTheTargetMoves) {
    Scene scene;
    auto [camera, target] = MakeTargetCamera(scene, {123.4f, -56.7f, 160}, {400, 300, 120});
    const Matrix3 targetTM = target->GetNodeTM(0);
    const Matrix3 original = camera->GetNodeTM(0);

    // A slightly different transform than the look-at would give, e.g. one saved earlier.
    Matrix3 written = original;
    written.SetRow(0, written.GetRow(0) * 1.0000001f);
    camera->SetNodeTM(0, written);
    EXPECT_EQ(camera->GetNodeTM(0), written);

    target->SetNodeTM(0, TransMatrix({-400, 300, 120}));
    EXPECT_NE(camera->GetNodeTM(0), written);

    // Writing back what was read before the turn restores it exactly, as undoing a face does.
    target->SetNodeTM(0, targetTM);
    camera->SetNodeTM(0, original);
    EXPECT_EQ(camera->GetNodeTM(0), original);
    EXPECT_EQ(target->GetNodeTM(0), targetTM);
}

TEST(LookAtCamera, WrittenRollSurvivesTargetMoves) {
    Scene scene;
    auto [camera, target] = MakeTargetCamera(scene, {0, 0, 0}, {0, 100, 0});
    // Facing +Y rolled by 30 degrees about the camera's own Z axis.
    const Matrix3 rolled = RotateZMatrix(0.5235988f) * camera->GetNodeTM(0);
    camera->SetNodeTM(0, rolled);
    target->SetNodeTM(0, TransMatrix({0, 200, 0}));
    ExpectAxesNear(camera->GetNodeTM(0), rolled, 1e-6f, "rolled camera after a target move");
}

TEST(LookAtCamera, RotationAboutTheViewAxisTurnsTheAxes) {
    Scene scene;
    auto [camera, target] = MakeTargetCamera(scene, {50, 60, 170}, {350, 460, 120});
    const Matrix3 before = camera->GetNodeTM(0);
    const float angle = 0.7f;
    // Axis given in the camera's own frame: its −Z is the view direction.
    camera->Rotate(0, before, AngAxis(Point3(0, 0, -1), angle), TRUE);
    const Matrix3 after = camera->GetNodeTM(0);

    const Point3 view = Normalize(-before.GetRow(2));
    Matrix3 expected = before;
    for (int i = 0; i < 3; ++i) {
        // Rodrigues about the view direction.
        const Point3 v = before.GetRow(i);
        const float c = std::cos(angle), s = std::sin(angle);
        expected.SetRow(i, v * c + CrossProd(view, v) * s + view * (DotProd(view, v) * (1 - c)));
    }
    ExpectAxesNear(after, expected, 1e-6f, "after rotating about the view");
    EXPECT_EQ(after.GetTrans(), before.GetTrans()) << "rotation centred on the camera";
    EXPECT_EQ(target->GetNodeTM(0).GetTrans(), Point3(350, 460, 120));
}

TEST(LookAtCamera, EndsOnEveryFaceWithTheAxesOfAFreeCamera) {
    for (const float heading : {0.0f, 0.6435f, HALFPI, 2.5f, -2.356f}) {
        for (int face = 0; face < 6; ++face) {
            const std::string what =
                std::string(kFaceNames[face]) + " face, heading " + std::to_string(heading);
            const Point3 position(250, 200, 160);
            const Matrix3 levelled = LevelledCamera(heading, position);

            Scene scene;
            INode* free = scene.CreateObjectNode(
                static_cast<Object*>(scene.CreateInstance(CAMERA_CLASS_ID, kFreeCameraClassId)),
                L"Free");
            free->SetNodeTM(0, levelled);
            free->SetNodeTM(0, FaceRotation(face) * free->GetNodeTM(0));

            const Point3 targetPosition = position - levelled.GetRow(2) * 320.0f;
            auto [camera, target] = MakeTargetCamera(scene, position, targetPosition);
            ExpectAxesNear(camera->GetNodeTM(0), levelled, 1e-6f, what + ", before the turn");
            TurnTargetCamera(camera, face);

            const Matrix3 turned = camera->GetNodeTM(0);
            ExpectAxesNear(turned, free->GetNodeTM(0), 1e-5f, what);
            EXPECT_EQ(turned.GetTrans(), position) << what;
            EXPECT_NEAR((target->GetNodeTM(0).GetTrans() - position).Length(), 320.0f, 1e-3f)
                << what << ": the target keeps its distance";
        }
    }
}

TEST(SceneNode, ChildrenFollowTheirParentAndWritesReadBackExactly) {
    Scene scene;
    INode* table = scene.CreateObjectNode(nullptr, L"Table");
    INode* vase = scene.CreateObjectNode(nullptr, L"Vase");
    ASSERT_TRUE(scene.SetParent(vase, table));
    table->SetNodeTM(0, TransMatrix({100, 0, 0}));
    const Matrix3 vaseWorld = RotateZMatrix(0.3f) * TransMatrix({110.1f, 5.3f, 75.7f});
    vase->SetNodeTM(0, vaseWorld);
    EXPECT_EQ(vase->GetNodeTM(0), vaseWorld);

    table->SetNodeTM(0, RotateZMatrix(HALFPI) * TransMatrix({100, 0, 0}));
    ExpectNear(vase->GetNodeTM(0).GetTrans(), Point3(94.7f, 10.1f, 75.7f), 1e-4f,
               "the vase turned with the table");

    // Rotating the parent without its children leaves them where they are.
    const Matrix3 kept = vase->GetNodeTM(0);
    table->Rotate(0, Matrix3(), AngAxis(Point3(0, 0, 1), 1.0f), FALSE, FALSE);
    EXPECT_EQ(vase->GetNodeTM(0), kept);
    EXPECT_FALSE(scene.SetParent(table, vase)) << "a node cannot go inside its own child";
}

TEST(SceneNode, DeletingKeepsChildrenAndFreesCamerasOfTheirTarget) {
    Scene scene;
    INode* group = scene.CreateObjectNode(nullptr, L"Group");
    INode* child = scene.CreateObjectNode(nullptr, L"Child");
    scene.SetParent(child, group);
    group->SetNodeTM(0, TransMatrix({10, 0, 0}));
    child->SetNodeTM(0, TransMatrix({15, 5, 0}));
    auto [camera, target] = MakeTargetCamera(scene, {0, 0, 0}, {0, 100, 50});
    const Matrix3 cameraTM = camera->GetNodeTM(0);

    scene.DeleteNode(group);
    EXPECT_EQ(child->GetParentNode(), scene.RootNode());
    EXPECT_EQ(child->GetNodeTM(0).GetTrans(), Point3(15, 5, 0));
    EXPECT_EQ(scene.FindNode(L"Group"), nullptr);

    scene.DeleteNode(target);
    EXPECT_EQ(camera->GetTarget(), nullptr);
    EXPECT_EQ(camera->GetNodeTM(0), cameraTM) << "a camera whose target went stays put";
    Matrix3 unused;
    EXPECT_FALSE(camera->GetTargetTM(0, unused));

    scene.DeleteNode(scene.RootNode());
    EXPECT_EQ(scene.Nodes().size(), 2u) << "the root cannot be deleted";
}

TEST(SceneNode, RotationAboutAPivotOrACentre) {
    Scene scene;
    INode* box = scene.CreateObjectNode(nullptr, L"Box");
    box->SetNodeTM(0, TransMatrix({10, 0, 0}));
    box->Rotate(0, Matrix3(), AngAxis(Point3(0, 0, 1), HALFPI));
    ExpectNear(box->GetNodeTM(0).GetTrans(), Point3(10, 0, 0), 1e-6f, "about its own pivot");
    ExpectNear(box->GetNodeTM(0).GetRow(0), Point3(0, 1, 0), 1e-6f, "X axis turned");

    box->Rotate(0, TransMatrix({0, 0, 0}), AngAxis(Point3(0, 0, 1), HALFPI), TRUE);
    ExpectNear(box->GetNodeTM(0).GetTrans(), Point3(0, 10, 0), 1e-5f, "about the origin");
}
