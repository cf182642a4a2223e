// Cube-face geometry on the standalone host's scene: levelling, the six face turns of free and
// target cameras, and turning back.
#include "render/face_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <variant>
#include <vector>

#include "cube_run.h"

namespace KorvoTest {
namespace {

using Korvo::FaceRotation;
using Korvo::ProjectCamera;
using Korvo::TransformCameraToFace;
using Korvo::UndoCameraTransform;

void ExpectNear(const Point3& actual, const Point3& expected, const char* what,
                float tolerance = 1e-5f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance) << what;
    EXPECT_NEAR(actual.y, expected.y, tolerance) << what;
    EXPECT_NEAR(actual.z, expected.z, tolerance) << what;
}

bool Finite(const Matrix3& m) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c)
            if (!std::isfinite(m.GetRow(r)[c])) return false;
    return true;
}

// A free camera and a target camera at the same place, both facing +Y once levelled.
constexpr const char* kCameras = R"({
  "unit": "centimeters",
  "nodes": [
    {"name": "Free", "transform": {"position": [100, 50, 160], "rotation": [60, 10, 0]}, "camera": {"fov": 50}},
    {"name": "Level", "transform": {"position": [100, 50, 160], "rotation": [90, 0, 0]}, "camera": {"fov": 50}},
    {"name": "Target", "transform": {"position": [100, 50, 160]}, "camera": {"fov": 50, "target": [100, 350, 360]}},
    {"name": "Up", "transform": {"position": [0, 0, 100], "rotation": [180, 0, 30]}, "camera": {}},
    {"name": "Down", "transform": {"position": [0, 0, 100], "rotation": [0, 0, 30]}, "camera": {}},
    {"name": "OnCamera", "transform": {"position": [5, 5, 5]}, "camera": {"target": "OnCameraTarget"}},
    {"name": "OnCameraTarget", "transform": {"position": [5, 5, 5]}},
    {"name": "Ortho", "camera": {"ortho": true, "fov": 30}}
  ]
})";

class FaceGeometry : public CubeRun {
  protected:
    void SetUp() override { OpenSceneText(kCameras); }

    // The nodes whose dependents heard of a transform change since the last call, in order. Each
    // notice must be the whole one: all time, the transform part, passed on to every class.
    std::vector<ReferenceTarget*> TransformNotices() {
        KorvoHost::Scene& scene = *app_->CurrentScene();
        std::vector<ReferenceTarget*> targets;
        for (const KorvoHost::SceneRecord& record : scene.Records()) {
            const auto* notice = std::get_if<KorvoHost::Notification>(&record);
            if (!notice) {
                ADD_FAILURE() << "a parameter write among the transform notices";
                continue;
            }
            EXPECT_EQ(notice->interval, FOREVER);
            EXPECT_EQ(notice->part, PART_TM);
            EXPECT_EQ(notice->message, REFMSG_CHANGE);
            EXPECT_EQ(notice->superClassFilter, NOTIFY_ALL);
            EXPECT_TRUE(notice->propagate);
            targets.push_back(notice->target);
        }
        scene.ClearRecords();
        return targets;
    }
};

TEST_F(FaceGeometry, TiltedRolledFreeCameraIsLevelled) {
    INode* camera = Node(L"Free");
    const Matrix3 before = camera->GetNodeTM(0);
    ProjectCamera(camera);
    const Matrix3 after = camera->GetNodeTM(0);
    ExpectNear(after.GetTrans(), before.GetTrans(), "position");
    // Same heading: the horizontal part of the view keeps its direction.
    const Point3 viewBefore = Normalize(Point3{-before.GetRow(2).x, -before.GetRow(2).y, 0});
    ExpectNear(-after.GetRow(2), viewBefore, "view is horizontal, same heading");
    ExpectNear(after.GetRow(1), {0, 0, 1}, "image up is world up");
    for (int r = 0; r < 3; ++r) EXPECT_NEAR(after.GetRow(r).Length(), 1.0f, 1e-6f) << "axis " << r;
}

TEST_F(FaceGeometry, TargetComesDownToCameraHeight) {
    INode* camera = Node(L"Target");
    INode* target = camera->GetTarget();
    ASSERT_NE(target, nullptr);
    const Matrix3 cameraBefore = camera->GetNodeTM(0);
    ProjectCamera(camera);
    ExpectNear(target->GetNodeTM(0).GetTrans(), {100, 350, 160}, "target at camera height");
    ExpectNear(camera->GetNodeTM(0).GetTrans(), cameraBefore.GetTrans(), "camera stays");
    ExpectNear(-camera->GetNodeTM(0).GetRow(2), {0, 1, 0}, "camera now looks level");
}

TEST_F(FaceGeometry, FacesOfALevelCameraFacingPlusY) {
    INode* camera = Node(L"Level");
    struct Expected {
        Point3 view, right, up;
    };
    const Expected faces[6] = {
        {{0, 0, 1}, {-1, 0, 0}, {0, 1, 0}},    // top
        {{0, 0, -1}, {-1, 0, 0}, {0, -1, 0}},  // bottom
        {{-1, 0, 0}, {0, 1, 0}, {0, 0, 1}},    // left
        {{1, 0, 0}, {0, -1, 0}, {0, 0, 1}},    // right
        {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}},     // front
        {{0, -1, 0}, {-1, 0, 0}, {0, 0, 1}},   // back
    };
    for (int face = 0; face < 6; ++face) {
        SCOPED_TRACE("face " + std::to_string(face));
        const Korvo::CameraTransformBackup backup = TransformCameraToFace(camera, face);
        const Matrix3 turned = camera->GetNodeTM(0);
        ExpectNear(-turned.GetRow(2), faces[face].view, "view");
        ExpectNear(turned.GetRow(0), faces[face].right, "image right");
        ExpectNear(turned.GetRow(1), faces[face].up, "image up");
        UndoCameraTransform(camera, backup.camera, backup.target);
    }
}

TEST_F(FaceGeometry, TargetCameraTurnsLikeTheFreeCamera) {
    INode* free = Node(L"Level");
    INode* target = Node(L"Target");
    ProjectCamera(target);
    const float distance =
        (target->GetTarget()->GetNodeTM(0).GetTrans() - target->GetNodeTM(0).GetTrans()).Length();
    for (int face = 0; face < 6; ++face) {
        SCOPED_TRACE("face " + std::to_string(face));
        const auto freeBackup = TransformCameraToFace(free, face);
        const auto targetBackup = TransformCameraToFace(target, face);
        const Matrix3 a = free->GetNodeTM(0), b = target->GetNodeTM(0);
        for (int r = 0; r < 3; ++r) ExpectNear(b.GetRow(r), a.GetRow(r), "axis");
        ExpectNear(b.GetTrans(), a.GetTrans(), "position");
        const float turnedDistance =
            (target->GetTarget()->GetNodeTM(0).GetTrans() - b.GetTrans()).Length();
        EXPECT_NEAR(turnedDistance, distance, 1e-3f) << "the target keeps its distance";

        UndoCameraTransform(target, targetBackup.camera, targetBackup.target);
        UndoCameraTransform(free, freeBackup.camera, freeBackup.target);
        EXPECT_EQ(target->GetNodeTM(0), targetBackup.camera) << "undo restores exactly";
        EXPECT_EQ(target->GetTarget()->GetNodeTM(0), targetBackup.target);
        EXPECT_EQ(free->GetNodeTM(0), freeBackup.camera);
    }
}

TEST_F(FaceGeometry, EveryTransformWriteTellsTheNodesDependents) {
    using Targets = std::vector<ReferenceTarget*>;
    INode* free = Node(L"Free");
    INode* camera = Node(L"Target");
    INode* target = camera->GetTarget();
    TransformNotices();

    ProjectCamera(free);
    EXPECT_EQ(TransformNotices(), Targets{free}) << "levelling a free camera";
    ProjectCamera(camera);
    EXPECT_EQ(TransformNotices(), Targets{target}) << "levelling moves only the target";
    for (int face = 0; face < 6; ++face) {
        SCOPED_TRACE("face " + std::to_string(face));
        const auto freeBackup = TransformCameraToFace(free, face);
        EXPECT_EQ(TransformNotices(), Targets{free});
        UndoCameraTransform(free, freeBackup.camera, freeBackup.target);
        EXPECT_EQ(TransformNotices(), Targets{free});

        // Looking up or down the camera is also turned about its view axis.
        const auto backup = TransformCameraToFace(camera, face);
        EXPECT_EQ(TransformNotices(), (face <= 1 ? Targets{camera, target} : Targets{target}));
        UndoCameraTransform(camera, backup.camera, backup.target);
        EXPECT_EQ(TransformNotices(), (Targets{target, camera}));
    }
}

TEST_F(FaceGeometry, NumbersThatNameNoFaceChangeNothing) {
    EXPECT_EQ(FaceRotation(6), Matrix3());
    EXPECT_EQ(FaceRotation(-1), Matrix3());
    INode* free = Node(L"Level");
    INode* target = Node(L"Target");
    ProjectCamera(target);
    for (int face : {6, -1}) {
        const Matrix3 freeBefore = free->GetNodeTM(0);
        TransformCameraToFace(free, face);
        EXPECT_EQ(free->GetNodeTM(0), freeBefore);
        const Matrix3 targetBefore = target->GetNodeTM(0);
        const auto backup = TransformCameraToFace(target, face);
        for (int r = 0; r < 3; ++r)
            ExpectNear(target->GetNodeTM(0).GetRow(r), targetBefore.GetRow(r), "no roll");
        UndoCameraTransform(target, backup.camera, backup.target);
    }
}

TEST_F(FaceGeometry, CameraLookingStraightUpOrDownKeepsAHeading) {
    for (const wchar_t* name : {L"Up", L"Down"}) {
        SCOPED_TRACE(std::string(name == std::wstring(L"Up") ? "up" : "down"));
        INode* camera = Node(name);
        const Matrix3 before = camera->GetNodeTM(0);
        ProjectCamera(camera);
        const Matrix3 after = camera->GetNodeTM(0);
        ASSERT_TRUE(Finite(after));
        EXPECT_NEAR(after.GetRow(2).z, 0.0f, 1e-6f) << "view is horizontal";
        for (int r = 0; r < 3; ++r) EXPECT_NEAR(after.GetRow(r).Length(), 1.0f, 1e-5f);
        // The top of the picture pointed where the camera now looks (down) or away from it (up).
        const Point3 upBefore = Normalize(Point3{before.GetRow(1).x, before.GetRow(1).y, 0});
        ExpectNear(-after.GetRow(2), name == std::wstring(L"Down") ? upBefore : -upBefore,
                   "heading");
        ExpectNear(after.GetTrans(), before.GetTrans(), "position");
    }
}

TEST_F(FaceGeometry, TargetOnTheCameraNeverGivesNaN) {
    INode* camera = Node(L"OnCamera");
    ASSERT_NE(camera->GetTarget(), nullptr);
    for (int face = 0; face < 6; ++face) {
        const auto backup = TransformCameraToFace(camera, face);
        EXPECT_TRUE(Finite(camera->GetNodeTM(0))) << "face " << face;
        EXPECT_TRUE(Finite(camera->GetTarget()->GetNodeTM(0))) << "face " << face;
        UndoCameraTransform(camera, backup.camera, backup.target);
    }
}

TEST_F(FaceGeometry, PrepareGivesAPerspectiveNinetyDegreeLens) {
    INode* camera = Node(L"Ortho");
    ASSERT_TRUE(static_cast<CameraObject*>(camera->EvalWorldState(0, TRUE).obj)->IsOrtho());
    Korvo::PrepareCubeCamera(camera);
    auto* lens = static_cast<CameraObject*>(camera->EvalWorldState(0, TRUE).obj);
    EXPECT_EQ(lens->GetFOV(0), HALFPI);
    EXPECT_FALSE(lens->IsOrtho());
}

}  // namespace
}  // namespace KorvoTest
