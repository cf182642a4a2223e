// The progress window as one line on the terminal: a bar with the percent, the camera and face
// being rendered, the time gone and the time left. On a TTY the line is redrawn in place, at most
// ten times a second; elsewhere (a pipe, a log) a line is written each time a face starts.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "standalone_host/windows/terminal_io.h"

namespace KorvoHost {

using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

struct ProgressLine {
    std::string label;     // the window's own texts, e.g. "Render in Progress"
    int percent = 0;       // 0 to 100
    bool marquee = false;  // the bar runs a marquee: no percent to show
    std::string camera;    // the camera being rendered, empty before the first render
    int cameraNumber = 0, cameraCount = 0;  // 1-based; 0 when not known
    int face = 0, faceCount = 6;            // 1-based; 0 when not known
    double elapsedSeconds = 0;
    double remainingSeconds = -1;  // negative when not known yet
    bool cancelling = false;
};

// The line fitted into columns - 1 characters (the last column is left free so that a terminal
// never wraps it).
std::string FormatProgressLine(const ProgressLine& line, int columns);
// "m:ss", or "h:mm:ss" from an hour on.
std::string FormatDuration(double seconds);

class ProgressDisplay {
  public:
    ProgressDisplay(TerminalIo& io, SteadyClock clock);

    void Start(std::string label);
    void SetPosition(int percent, bool marquee);
    // The renderer starts a frame through the named camera: a new camera, or the next face of
    // the one being rendered (both eyes of a stereo face share the bar's position).
    void RenderStarted(const std::string& camera);
    void SetCameraCount(int count) { line_.cameraCount = count; }
    void Cancelling();
    // Redraws when the throttle allows (a TTY) or when the face changed (elsewhere).
    void Tick();
    // Draws the last state and ends the line.
    void Finish();
    bool Active() const { return active_; }
    const ProgressLine& Line() const { return line_; }

  private:
    void Draw(bool force);

    TerminalIo& io_;
    SteadyClock clock_;
    bool active_ = false;
    ProgressLine line_;
    std::chrono::steady_clock::time_point start_{}, lastDraw_{};
    bool drawn_ = false;
    int lastFacePosition_ = -1;
    int drawnCamera_ = -1, drawnFace_ = -1;
    bool drawnCancelling_ = false;
};

}  // namespace KorvoHost
