#pragma once

// Rendered-looking cube faces for the stitch benchmarks: interiors with smooth lighting, hard
// edges, fine texture and render grain, written by libpng at zlib level 6.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace Korvo::bench {

// Face `index` (0 to 11) as RGB rows, `size` × `size`.
std::vector<uint8_t> InteriorFace(int index, int size);

// A folder holding the twelve faces under the stitcher's names, made on first use and kept
// between runs (regenerated when a file is missing).
std::filesystem::path InteriorFaceFolder();

}  // namespace Korvo::bench
