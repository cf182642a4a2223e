#include "standalone_host/windows/terminal_progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace KorvoHost {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kMinBar = 10, kMaxBar = 30;

// Characters as a terminal shows them: UTF-8 continuation bytes take no column.
size_t Columns(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The longest prefix of text that fits into columns, cut between characters.
std::string Fit(const std::string& text, size_t columns) {
    size_t used = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (used == columns) return text.substr(0, i);
        ++used;
    }
    return text;
}

std::string Bar(const ProgressLine& line, int width) {
    std::string bar(static_cast<size_t>(width), '.');
    if (line.marquee) {
        // A block that moves to and fro, four steps a second.
        constexpr int kBlock = 3;
        const int travel = std::max(1, width - kBlock);
        const int step = static_cast<int>(line.elapsedSeconds * 4) % (2 * travel);
        const int at = step < travel ? step : 2 * travel - step;
        std::fill_n(bar.begin() + at, std::min(kBlock, width), '#');
    } else {
        const int filled = std::clamp(line.percent, 0, 100) * width / 100;
        std::fill_n(bar.begin(), filled, '#');
    }
    return "[" + bar + "]";
}

}  // namespace

std::string FormatDuration(double seconds) {
    const long total = std::lround(std::max(0.0, seconds));
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

std::string FormatProgressLine(const ProgressLine& line, int columns) {
    std::string head = line.label.empty() ? "" : line.label + " ";
    std::string tail;
    if (!line.marquee) {
        char percent[8];
        std::snprintf(percent, sizeof percent, " %3d%%", std::clamp(line.percent, 0, 100));
        tail += percent;
    }
    // Said early, so that a narrow terminal still shows it.
    if (line.cancelling) tail += "  cancelling (Ctrl-C again to quit)";
    if (!line.camera.empty()) {
        tail += "  camera ";
        if (line.cameraNumber > 0) {
            tail += std::to_string(line.cameraNumber);
            if (line.cameraCount >= line.cameraNumber)
                tail += "/" + std::to_string(line.cameraCount);
            tail += " ";
        }
        tail += line.camera;
        if (line.face > 0)
            tail += "  face " + std::to_string(line.face) + "/" + std::to_string(line.faceCount);
    }
    tail += "  " + FormatDuration(line.elapsedSeconds) + " elapsed";
    if (line.remainingSeconds >= 0) tail += ", " + FormatDuration(line.remainingSeconds) + " left";

    const size_t room = static_cast<size_t>(std::max(1, columns - 1));
    // On a narrow terminal the label goes first: the figures matter more.
    if (Columns(head) + Columns(tail) + 2 + kMinBar > room) head.clear();
    const size_t others = Columns(head) + Columns(tail) + 2;
    const int bar = std::clamp(static_cast<int>(room) - static_cast<int>(others), kMinBar, kMaxBar);
    return Fit(head + Bar(line, bar) + tail, room);
}

ProgressDisplay::ProgressDisplay(TerminalIo& io, SteadyClock clock)
    : io_(io), clock_(std::move(clock)) {}

void ProgressDisplay::Start(std::string label) {
    const int cameraCount = line_.cameraCount;
    line_ = ProgressLine{};
    line_.label = std::move(label);
    line_.cameraCount = cameraCount;
    start_ = lastDraw_ = clock_();
    active_ = true;
    drawn_ = false;
    lastFacePosition_ = -1;
    drawnCamera_ = drawnFace_ = -1;
    drawnCancelling_ = false;
    Draw(true);
}

void ProgressDisplay::SetPosition(int percent, bool marquee) {
    if (!active_) return;
    line_.percent = percent;
    line_.marquee = marquee;
    Tick();
}

void ProgressDisplay::RenderStarted(const std::string& camera) {
    if (!active_) return;
    // Faces of one camera come in a row, each at its own bar position; a seventh face means a
    // second camera of the same name.
    const bool sameCamera = line_.cameraNumber > 0 && camera == line_.camera;
    if (sameCamera && line_.percent == lastFacePosition_) return;
    if (!sameCamera || line_.face >= line_.faceCount) {
        ++line_.cameraNumber;
        line_.camera = camera;
        line_.face = 0;
    }
    ++line_.face;
    lastFacePosition_ = line_.percent;
    Tick();
}

void ProgressDisplay::Cancelling() {
    if (!active_) return;
    line_.cancelling = true;
    Draw(true);
}

void ProgressDisplay::Tick() {
    if (active_) Draw(false);
}

void ProgressDisplay::Finish() {
    if (!active_) return;
    Draw(true);
    if (io_.IsTerminal()) io_.Write("\n");
    active_ = false;
}

void ProgressDisplay::Draw(bool force) {
    const auto now = clock_();
    const bool faceChanged = line_.cameraNumber != drawnCamera_ || line_.face != drawnFace_ ||
                             line_.cancelling != drawnCancelling_;
    if (io_.IsTerminal()) {
        if (!force && !faceChanged && drawn_ && now - lastDraw_ < kRedrawInterval) return;
    } else if (!force && !faceChanged) {
        return;
    }
    line_.elapsedSeconds = std::chrono::duration<double>(now - start_).count();
    line_.remainingSeconds = !line_.marquee && line_.percent > 0 && line_.percent < 100
                                 ? line_.elapsedSeconds * (100 - line_.percent) / line_.percent
                                 : (line_.percent >= 100 ? 0 : -1);
    // Lines for a pipe or a log are not cut to any width.
    constexpr int kUncut = 4096;
    const std::string text = FormatProgressLine(line_, io_.IsTerminal() ? io_.Columns() : kUncut);
    // In place on a TTY: back to the start of the line, draw, clear what is left of the old one.
    io_.Write(io_.IsTerminal() ? "\r" + text + "\x1b[K" : text + "\n");
    lastDraw_ = now;
    drawn_ = true;
    drawnCamera_ = line_.cameraNumber;
    drawnFace_ = line_.face;
    drawnCancelling_ = line_.cancelling;
}

}  // namespace KorvoHost
