// Triangle meshes from model files (glTF, OBJ, FBX, 3DS and whatever else Assimp reads).
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "standalone_host/scene/scene_objects.h"

namespace KorvoHost {

// What one import may spend. The importer runs in a child process held to these, so a file that
// declares billions of vertices, loops or crashes the importer is refused with a reason instead
// of taking the host down with it.
struct ModelImportLimits {
    std::size_t memoryBytes = std::size_t{2} << 30;
    std::chrono::milliseconds time{30'000};
};

// The file's triangles with every node transform of the file applied, in the file's own units
// and axes. Null with `error` set when the file cannot be read, holds no triangles, or its import
// went past the limits.
std::shared_ptr<const ImportedModel> ImportModel(const std::filesystem::path& file,
                                                 std::string& error,
                                                 const ModelImportLimits& limits = {});

}  // namespace KorvoHost
