// Cube-face camera geometry: levelling a camera, giving it a 90° lens, turning it to each face of
// a cube around its position and back. Transforms are the host's Matrix3 (rows X, Y, Z, position;
// row vectors); cameras look along local −Z with +Y up; world up is +Z. Everything happens at
// time 0 on the scene's nodes.
#pragma once

#include "host/geom.h"
#include "host/scene.h"

namespace Korvo {

enum class CubeFace : int { Top = 0, Bottom = 1, Left = 2, Right = 3, Front = 4, Back = 5 };
enum class Eye : int { LeftEye = 0, RightEye = 1 };

// The camera's and (for a camera with a target) the target's transform before a face turn.
struct CameraTransformBackup {
    Matrix3 camera;
    Matrix3 target;
};

// The rotation that, applied before the camera's transform, turns its view to the face. Any
// number that names no face gives the identity.
Matrix3 FaceRotation(int face);

// Levels the camera: same position and heading, horizontal view, image up along world +Z. A camera
// with a target keeps its own transform; its target is moved to the camera's height instead.
void ProjectCamera(INode* camera);

// Switches the camera object to a perspective lens with a 90° field of view.
void PrepareCubeCamera(INode* camera);

// Turns the camera to the face. oldCamera receives the camera's transform before the turn and,
// for a camera with a target, oldTarget the target's; without a target oldTarget is left as given.
void TransformCameraToFace(INode* camera, int face, Matrix3& oldCamera, Matrix3& oldTarget);
CameraTransformBackup TransformCameraToFace(INode* camera, int face);

// Writes the saved transforms back (the target's only when the camera has one).
void UndoCameraTransform(INode* camera, const Matrix3& cameraTM, const Matrix3& targetTM);

// Tells the node's dependents that its transform changed.
void NotifyTransformChanged(INode* node);

}  // namespace Korvo
