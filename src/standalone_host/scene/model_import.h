// Triangle meshes from model files (glTF, OBJ, FBX, 3DS and whatever else Assimp reads).
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "standalone_host/scene/scene_objects.h"

namespace KorvoHost {

// The file's triangles with every node transform of the file applied, in the file's own units
// and axes. Null with `error` set when the file cannot be read or holds no triangles.
std::shared_ptr<const ImportedModel> ImportModel(const std::filesystem::path& file,
                                                 std::string& error);

}  // namespace KorvoHost
