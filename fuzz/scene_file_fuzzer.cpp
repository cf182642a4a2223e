// Fuzz target for the scene-file reader: any text must load as a scene or be refused with one
// message that names the file, never fault. Model paths start in KORVO_FUZZ_SCENE_FOLDER, which
// holds small models of the tests, so some of them import.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "standalone_host/scene/scene_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path file =
        std::filesystem::path(KORVO_FUZZ_SCENE_FOLDER) / "fuzzed.json";
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const KorvoHost::SceneLoadResult result = KorvoHost::ParseSceneText(text, file);
    if (!result.scene == result.error.empty()) __builtin_trap();
    if (!result.scene && result.error.rfind(file.string(), 0) != 0) __builtin_trap();
    return 0;
}
