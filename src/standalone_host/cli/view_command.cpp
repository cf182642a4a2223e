#include "standalone_host/cli/view_command.h"

#include <signal.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "standalone_host/cli/commands.h"
#include "standalone_host/image_files/image_files.h"
#include "standalone_host/panorama/panorama_layout.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/viewer/viewer_server.h"
#include "standalone_host/windows/shell_open.h"

namespace KorvoCli {
namespace {

namespace fs = std::filesystem;

int Fail(const std::string& message) {
    std::fprintf(stderr, "korvo: %s\n", message.c_str());
    return kExitFailure;
}

// Why the page will show no panorama for this file, or empty when it is one.
std::string ProblemWith(const std::string& file) {
    int width = 0, height = 0;
    if (const KorvoHost::ImageFileStatus status = KorvoHost::ReadJpegSize(file, width, height);
        !status)
        return status.message;
    if (KorvoHost::LayoutOfSize(width, height)) return {};
    return file + ": " + KorvoHost::UnknownLayoutMessage(width, height);
}

volatile std::sig_atomic_t gStopRequested = 0;

void RequestStop(int) { gStopRequested = 1; }

// Installs RequestStop for SIGINT, SIGTERM and SIGHUP for the object's life.
class StopSignals {
  public:
    StopSignals() {
        gStopRequested = 0;
        struct sigaction action {};
        action.sa_handler = RequestStop;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &action, &saved_[i]);
    }
    ~StopSignals() {
        for (size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &saved_[i], nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

  private:
    static constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
    std::array<struct sigaction, 3> saved_{};
};

}  // namespace

int ViewPanorama(const ViewOptions& options) {
    std::error_code error;
    if (!fs::is_regular_file(options.panorama, error))
        return Fail(options.panorama + ": no such file");
    const fs::path page = KorvoHost::InstalledViewerPage();
    if (const std::string missing = KorvoHost::CheckViewerPage(page); !missing.empty())
        return Fail(missing);
    // The page shows the problem too; the server still runs so that it can.
    const std::string problem = ProblemWith(options.panorama);
    if (!problem.empty()) std::fprintf(stderr, "korvo: %s\n", problem.c_str());

    // Ctrl-C, termination and a closed terminal stop the server. The handler only raises a
    // flag; a thread of ours looks at it, since whichever thread takes the signal (a run of
    // korvo generate leaves threads of its own) may not call into the server.
    const StopSignals signals;
    KorvoHost::ViewerServer server(page, options.panorama);
    std::string bindError;
    if (!server.Bind(options.port, &bindError)) return Fail(bindError);
    const std::string address = server.Address();
    std::printf("Viewer of %s at %s\nPress Ctrl-C to stop it.\n", options.panorama.c_str(),
                address.c_str());
    std::fflush(stdout);
    if (!options.noBrowser && !KorvoHost::LaunchDesktopOpener(KorvoHost::FromUtf8(address)))
        std::fprintf(stderr, "korvo: no browser could be started; open %s\n", address.c_str());

    std::atomic<bool> served{false};
    std::thread stopper([&] {
        while (!served && !gStopRequested)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        server.Stop();
    });
    server.Serve();
    served = true;
    stopper.join();
    return problem.empty() ? kExitSuccess : kExitFailure;
}

SubcommandRunner AddViewCommand(CLI::App& cli) {
    auto options = std::make_shared<ViewOptions>();
    CLI::App* view = cli.add_subcommand(
        "view",
        "Look around in a panorama in the browser: a viewer page served on 127.0.0.1 (drag or "
        "arrow keys to look, wheel to zoom; left eye, right eye, red-cyan anaglyph, side by "
        "side; Enter VR with a headset). Stops on Ctrl-C.");
    AddFileArgument(*view, "PANORAMA", options->panorama, "Panorama written by korvo (.jpg)");
    view->add_option("--port", options->port, "Port on 127.0.0.1 (default: any free one)")
        ->check(CLI::Range(0, 65535))
        ->option_text("N");
    view->add_flag("--no-browser", options->noBrowser,
                   "Only print the address; do not open the desktop's browser");
    return [view, options](const KorvoHost::HostOptions&) -> std::optional<int> {
        if (!view->parsed()) return std::nullopt;
        return ViewPanorama(*options);
    };
}

}  // namespace KorvoCli
