// Between the host and its model importer, a library of its own (libkorvo_model_import.so
// beside libkorvo_host.so): Assimp and the libraries it links take a few milliseconds to load
// and bind, which only a scene that names a model file needs to spend.
#pragma once

#include <string>

#include "standalone_host/scene/scene_objects.h"

namespace KorvoHost {

// Reads the triangles of the model file into `model`, every node transform of the file applied.
// False with the problem in `error`, or with `outOfMemory` set when memory ran out. Throws
// nothing.
using ModelImporter = bool (*)(const char* file, ImportedModel& model, std::string& error,
                               bool& outOfMemory) noexcept;

constexpr const char* kModelImportLibrary = "libkorvo_model_import.so";
constexpr const char* kModelImportEntry = "KorvoImportModel";

}  // namespace KorvoHost
