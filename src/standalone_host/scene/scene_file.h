// The JSON scene file (docs/scene-format.md): loading and saving a Scene.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "standalone_host/scene/scene.h"

namespace KorvoHost {

struct SceneLoadResult {
    std::unique_ptr<Scene> scene;  // null when loading failed
    // One line naming the file, the place in it and the problem, e.g.
    // "room.json: nodes[3].camera.fov: expected a number, found a string ("wide")".
    std::string error;
};

// Loads a scene file; the scene's file path is set to it. Never throws.
SceneLoadResult LoadSceneFile(const std::filesystem::path& file);

// Loads scene text as though it were read from `file`, which names it in messages and is where
// relative model paths start. The scene's file path is left empty. Never throws.
SceneLoadResult ParseSceneText(std::string_view text, const std::filesystem::path& file);

// Writes the scene as JSON. The file is replaced only once the new one is complete. Never throws.
bool WriteSceneFile(Scene& scene, const std::filesystem::path& file, std::string& error);

}  // namespace KorvoHost
