// The user's road from the Generate button to the panoramas.
#pragma once

#include "korvo_plugin.h"

namespace Korvo {

// The Generate button (and the script function of that name): checks the scene and the
// renderer, then opens the save prompt, whose buttons run the rest. Refused (and logged) while a
// run is in progress: a request handled during a render would delete the running loop's files.
void generate(KorvoPlugin& plugin);

// The Generate checks on the current camera list and renderer, without analytics or dialogs;
// with suppress the error status is left alone too.
bool validate_worfklow(KorvoPlugin& plugin, bool suppress);

// The folder browser (owned by the window), the log and the working folder, the strip names and
// the camera choice; then the run.
void PrepareAndRun(KorvoPlugin& plugin, HWND owner);

// The run of the picked cameras under the progress window, through the back end of the current
// renderer, and its outcome dialog.
void RunRenders(KorvoPlugin& plugin);

// Whether RunRenders is under way.
bool RunInProgress();

// Empties the camera list, deletes the working folder and closes the log.
void EndOfRunCleanup(KorvoPlugin& plugin);

// Rebuilds the camera list from the scene.
void get_cams(KorvoPlugin& plugin);
// Frees every camera record and empties the list (its storage stays).
void ClearCameras(KorvoPlugin& plugin);

}  // namespace Korvo
