// The user's road from the Generate button to the panoramas.
#pragma once

#include "korvo_plugin.h"

namespace Korvo {

// The Generate button (and the script function of that name).
void generate(KorvoPlugin& plugin);

// Empties the camera list, deletes the working folder and closes the log.
void EndOfRunCleanup(KorvoPlugin& plugin);

// Rebuilds the camera list from the scene.
void get_cams(KorvoPlugin& plugin);
// Frees every camera record and empties the list (its storage stays).
void ClearCameras(KorvoPlugin& plugin);

}  // namespace Korvo
