// Words and conversions the scene file's reader and writer share.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "standalone_host/scene/scene.h"

namespace KorvoHost::SceneFileTerms {

// In the order of SystemUnit; the British spellings follow and are read too.
inline const std::vector<std::string> kUnits = {
    "inches",     "feet",        "miles",       "millimeters", "centimeters", "meters",
    "kilometers", "millimetres", "centimetres", "metres",      "kilometres"};
inline SystemUnit UnitAt(std::size_t index) {
    static const SystemUnit british[] = {SystemUnit::Millimeters, SystemUnit::Centimeters,
                                         SystemUnit::Meters, SystemUnit::Kilometers};
    return index < 7 ? static_cast<SystemUnit>(index) : british[index - 7];
}

// In the order of RendererType.
inline const std::vector<std::string> kRenderers = {"scanline", "vray", "vray_rt", "mental_ray",
                                                    "arnold"};
inline const std::vector<std::string> kMeshTypes = {"box", "plane", "sphere", "model"};
inline const std::vector<std::string> kLightTypes = {"omni", "directional"};

// Degrees are read as floats and turned into radians in double precision, so that the writer
// can find degrees that read back as exactly the radians it has.
inline float Radians(float degrees) {
    return static_cast<float>(static_cast<double>(degrees) * (3.14159265358979323846 / 180.0));
}
inline float Degrees(float radians) {
    const float guess =
        static_cast<float>(static_cast<double>(radians) * (180.0 / 3.14159265358979323846));
    float candidate = guess;
    for (int step = 0; step < 4 && Radians(candidate) != radians; ++step)
        candidate = std::nextafter(candidate, Radians(candidate) < radians ? INFINITY : -INFINITY);
    return Radians(candidate) == radians ? candidate : guess;
}

}  // namespace KorvoHost::SceneFileTerms
