// The cube render loop: six faces per picked camera (twelve when the renderer renders each eye),
// the face files in the working folder, and the stitch step that turns each camera's faces into
// its panorama in the output folder.
#pragma once

#include "host/bitmap.h"
#include "korvo_plugin.h"

namespace Korvo {

// The face file name of a face and eye ("top_image_left.png" …), or null for a face number that
// names no face. Any eye other than 0 is the right eye.
const MCHAR* FaceFileName(int face, int eye);

// Scene name, "_", the node's current name, ".jpg".
MSTR StripFileName(const KorvoPlugin& plugin, INode* node);

// Renames the node to a unique "Korvo_Camera…" name when its name cannot be part of a file path.
void fix_cam(KorvoPlugin& plugin, INode* node);

// Renders every picked camera and stitches its panorama into the output folder. False after the
// first failure, with the error status set.
bool RenderCubeFaces(KorvoPlugin& plugin, RenderCallback& progress);

// Writes one face under its camera-prefixed name in the working folder.
void SaveFaceFile(BitmapInfo& info, Bitmap* bitmap, const MSTR& workFolder,
                  const CameraData& camera, int face, int eye);

// Stitches the faces of every picked camera and moves each panorama into the output folder.
bool StitchCameras(KorvoPlugin& plugin, int layout);

}  // namespace Korvo
