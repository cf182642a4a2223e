// The run's progress object: the progress window, its bar and Cancel button, and the progress
// callback the renderer calls while it renders a frame.
#pragma once

#include "host/interface.h"
#include "host/render.h"
#include "host/win32_platform.h"

class FPInterface;

namespace Korvo {

class RenderCallback : public RendProgressCallback {
  public:
    RenderCallback() = default;
    ~RenderCallback() override = default;

    // Renderer-facing: both let the host process pending window messages, so the progress
    // window stays alive and its Cancel button can be pressed during a render.
    void SetTitle(const MCHAR* title) override;
    // Answers RENDPROG_ABORT once the user has cancelled the run.
    int Progress(int done, int total) override;

    // Moves the bar to the value (cut to a whole number), then lets pending messages through.
    void SetPercent(double value);
    // Mode 1 makes the bar indeterminate (a running marquee), mode 0 a plain bar.
    void SetMarquee(int mode);

    // Before a run: clears the cancel flag, brings the progress window to the top and makes its
    // bar a plain one.
    void ProgressStart();
    // After a run: closes the progress window.
    void ProgressEnd();

    HWND dialog = nullptr;   // the progress window
    HWND bar = nullptr;      // its progress bar
    bool cancelled = false;  // the user pressed Cancel in this run
    int savedMode = -1;      // the host value ProgressStart saved
    FPInterface* modeInterface = nullptr;
};

// Processes the host's pending window messages.
void ProcessPendingMessages();

}  // namespace Korvo
