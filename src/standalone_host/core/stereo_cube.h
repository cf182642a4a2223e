// The stereo cube that the V-Ray and Arnold stand-ins draw in one frame: twelve square cells side
// by side, the six cube faces of the left eye, then those of the right eye.
//
// The cube is that of the camera levelled as the cube loop levels it (its heading, world +Z up).
// Each eye's rays start beside the camera by half the eye distance, across the ray's horizontal
// direction (the left eye to the left of it), as a stereo 360 camera does. Towards the poles the
// shift fades: full up to 30° above or below the horizon, then falling smoothly (a smoothstep in
// the elevation) to nothing straight up and straight down, so that the eyes meet at the poles.
#pragma once

#include "standalone_host/raytracer/ray_tracer.h"

namespace KorvoHost {

// How the cells lie in the frame. Both use the cell order right, left, top, bottom, back, front.
enum class StereoCubeLayout {
    // The cube loop's strip: every face mirrored left to right (the V-Ray stand-in).
    Strip,
    // Arnold's VR camera: the side faces as seen, the top and bottom ones turned half a turn, so
    // that mirroring the sides and flipping the top and bottom upside down gives the strip.
    ArnoldTiles,
};

struct StereoCube {
    Transform camera;          // the camera's world transform (looking along −Z)
    float eyeDistance = 0.0f;  // world units between the eyes; 0 draws both eyes alike
    StereoCubeLayout layout = StereoCubeLayout::Strip;
};

// The frame is width × height with width = 12 · height: false otherwise.
bool FitsStereoCube(int width, int height);

// The eye rays of the frame (raster positions as the tracer hands them). Null when the camera
// has no usable heading.
RayFunction StereoCubeRays(const StereoCube& cube, int width, int height);

// The share of half the eye distance a ray at this elevation (degrees, 0 at the horizon, 90 at
// either pole) is shifted by.
float StereoShiftAt(float elevationDegrees);

}  // namespace KorvoHost
