#include "shell/workflow.h"

#include "support/file_utils.h"
#include "support/log.h"

namespace Korvo {

void generate(KorvoPlugin& plugin) {
    // The full Generate road (checks, prompts, renders) is built on the cube loop and the
    // dialogs; until they are in place the button rescans the scene's cameras.
    get_cams(plugin);
}

void EndOfRunCleanup(KorvoPlugin& plugin) {
    ClearCameras(plugin);
    const DWORD attributes = GetFileAttributesW(plugin.workFolder.c_str());
    // When the folder is already gone the log stays open.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFolderTree(plugin.workFolder);
        CloseLog();
    }
}

void get_cams(KorvoPlugin& plugin) {
    ClearCameras(plugin);
    Interface* ip = GetCOREInterface();
    if (IScene* scene = ip ? ip->GetScene() : nullptr) scene->EnumTree(&plugin, FALSE, TRUE);
}

void ClearCameras(KorvoPlugin& plugin) {
    for (CameraData*& camera : plugin.cameras) {
        delete camera;
        camera = nullptr;
    }
    plugin.cameras.SetCount(0);
}

}  // namespace Korvo
