// OpenCV's image codecs, loaded when first used. On this platform the codec library brings in
// well over a hundred others (a geospatial stack among them) that take about a third of a second
// to load, and every run of the plug-in would pay for what only the Arnold back end uses.
#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace Korvo {

// cv::imread(path, cv::IMREAD_COLOR); empty when the file cannot be read, OpenCV fails, or its
// codec library cannot be loaded.
cv::Mat ReadColorImage(const std::string& path);

// cv::imwrite(path, image); false when the file cannot be written, OpenCV fails, or its codec
// library cannot be loaded.
bool WriteImage(const std::string& path, const cv::Mat& image);

}  // namespace Korvo
