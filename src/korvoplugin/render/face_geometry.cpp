#include "render/face_geometry.h"

#include <cmath>

namespace Korvo {
namespace {

// Below this a horizontal direction has no usable heading.
constexpr float kDegenerate = 1e-6f;

bool IsFinite(const Point3& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

}  // namespace

Matrix3 FaceRotation(int face) {
    Matrix3 m;
    switch (static_cast<CubeFace>(face)) {
        case CubeFace::Left:
            m *= RotateYMatrix(HALFPI);
            break;
        case CubeFace::Right:
            m *= RotateYMatrix(-HALFPI);
            break;
        case CubeFace::Back:
            m *= RotateYMatrix(PI);
            break;
        case CubeFace::Front:
            break;
        case CubeFace::Top:
            m *= RotateYMatrix(PI);
            m = RotateXMatrix(HALFPI) * m;
            break;
        case CubeFace::Bottom:
            m *= RotateYMatrix(PI);
            m = RotateXMatrix(-HALFPI) * m;
            break;
    }
    return m;
}

void NotifyTransformChanged(INode* node) {
    node->NotifyDependents(FOREVER, PART_TM, REFMSG_CHANGE, NOTIFY_ALL, TRUE, nullptr,
                           REFNOTIFY_ALLOW_OPT_OUT);
}

void ProjectCamera(INode* camera) {
    if (!camera) return;
    if (INode* target = camera->GetTarget()) {
        Matrix3 targetTM = target->GetNodeTM(0);
        const Matrix3 cameraTM = camera->GetNodeTM(0);
        const Point3 at = targetTM.GetTrans();
        targetTM.SetTrans({at.x, at.y, cameraTM.GetTrans().z});
        target->SetNodeTM(0, targetTM);
        NotifyTransformChanged(target);
        return;
    }

    const Matrix3 tm = camera->GetNodeTM(0);
    // The heading is the horizontal part of the local Z axis (backwards). A camera looking
    // straight up or down has none; its image-up axis then points forwards (looking down) or
    // backwards (looking up), which gives the heading instead.
    Point3 back{tm.GetRow(2).x, tm.GetRow(2).y, 0.0f};
    if (back.Length() <= kDegenerate * tm.GetRow(2).Length()) {
        const float towards = tm.GetRow(2).z > 0.0f ? -1.0f : 1.0f;
        back = Point3{tm.GetRow(1).x, tm.GetRow(1).y, 0.0f} * towards;
    }
    // No heading at all (a collapsed transform): leave the camera as it is.
    if (back.Length() <= kDegenerate * tm.GetRow(1).Length() || back.Length() == 0.0f ||
        !IsFinite(back))
        return;

    const Point3 d = Normalize(back);
    const Point3 up{0.0f, 0.0f, 1.0f};
    const Point3 x = CrossProd(up, d);
    const Point3 y = CrossProd(d, x);
    Matrix3 level;
    level.SetRow(0, x);
    level.SetRow(1, y);
    level.SetRow(2, d);
    level.SetTrans(camera->GetNodeTM(0).GetTrans());
    camera->SetNodeTM(0, level);
    NotifyTransformChanged(camera);
}

void PrepareCubeCamera(INode* camera) {
    if (!camera) return;
    const ObjectState& state = camera->EvalWorldState(0, TRUE);
    if (!state.obj || state.obj->SuperClassID() != CAMERA_CLASS_ID) return;
    auto* lens = static_cast<CameraObject*>(state.obj);
    lens->SetOrtho(FALSE);
    lens->SetFOV(0, HALFPI);
}

void TransformCameraToFace(INode* camera, int face, Matrix3& oldCamera, Matrix3& oldTarget) {
    if (!camera) return;
    const Matrix3 a = camera->GetNodeTM(0);
    oldCamera = a;
    const Point3 n = -a.GetRow(0);

    INode* target = camera->GetTarget();
    if (!target) {
        camera->SetNodeTM(0, FaceRotation(face) * a);
        NotifyTransformChanged(camera);
        return;
    }

    oldTarget = target->GetNodeTM(0);
    Matrix3 g = target->GetNodeTM(0);
    const Matrix3 c = camera->GetNodeTM(0);
    // The target goes to the same distance along the face's view direction. A target whose Z axis
    // has no length is taken as unscaled, and one that sits on the camera goes one unit out, so
    // the placement never divides by zero.
    const float distance = (g.GetTrans() - c.GetTrans()).Length();
    const float axisLength = g.GetRow(2).Length();
    float k = axisLength > 0.0f ? distance / axisLength : distance;
    if (!(k > 0.0f) || !std::isfinite(k)) k = 1.0f;
    Matrix3 b = FaceRotation(face) * a;
    b.PreTranslate({0.0f, 0.0f, -k});
    g.SetTrans(b.GetTrans());
    target->SetNodeTM(0, g);

    // Looking up or down, the look-at leaves the camera's roll to its own convention: turn it
    // about the view axis until its right axis has the heading of the free camera's.
    if (static_cast<unsigned>(face) <= 1u) {
        const Matrix3 e = camera->GetNodeTM(0);
        const float angle = std::atan2(n.y, n.x) - std::atan2(e.GetRow(0).y, e.GetRow(0).x);
        const Point3 axis =
            face == static_cast<int>(CubeFace::Top) ? Point3{0, 0, -1} : Point3{0, 0, 1};
        camera->Rotate(0, e, AngAxis(axis, angle), TRUE, TRUE, PIV_NONE, FALSE);
        NotifyTransformChanged(camera);
    }
    NotifyTransformChanged(target);
}

CameraTransformBackup TransformCameraToFace(INode* camera, int face) {
    CameraTransformBackup backup;
    TransformCameraToFace(camera, face, backup.camera, backup.target);
    return backup;
}

void UndoCameraTransform(INode* camera, const Matrix3& cameraTM, const Matrix3& targetTM) {
    if (!camera) return;
    if (INode* target = camera->GetTarget()) {
        target->SetNodeTM(0, targetTM);
        camera->SetNodeTM(0, cameraTM);
        NotifyTransformChanged(target);
        NotifyTransformChanged(camera);
        return;
    }
    camera->SetNodeTM(0, cameraTM);
    NotifyTransformChanged(camera);
}

}  // namespace Korvo
