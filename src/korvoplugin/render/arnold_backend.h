// The Arnold back end: one render per picked camera through Arnold's VR camera, whose frame holds
// the whole stereo cube; the twelve tiles are then turned into the strip layout of the viewer.
#pragma once

#include <string>

#include "shell/run_state.h"

namespace cv {
class Mat;
}

namespace Korvo {

// The workflow's entry for kind Arnold. True when every picked camera was rendered; false after
// the first failure.
bool RenderArnoldPanoramas(RunState& state);

// Cuts the image into twelve tiles of equal width, turns tiles 2, 3, 8 and 9 upside down and
// mirrors the others left to right, joins them in order and writes the result to path (the image
// library's multibyte path; the format follows its extension). False when the image is empty or
// narrower than twelve pixels, or the file could not be written.
bool ReorderArnoldStrip(const cv::Mat& image, const std::string& path);

}  // namespace Korvo
