#include "standalone_host/viewer/viewer_server.h"

#include <httplib.h>

#include <array>
#include <atomic>
#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "standalone_host/platform/host_environment.h"

namespace KorvoHost {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHost = "127.0.0.1";

// Everything the page loads, three.js included.
constexpr std::array<const char*, 5> kPageFiles{"index.html", "viewer.js", "layouts.js",
                                                "three.module.js", "three.core.js"};

const char* ContentType(std::string_view name) {
    if (name.ends_with(".html")) return "text/html; charset=utf-8";
    if (name.ends_with(".js")) return "text/javascript; charset=utf-8";
    return "application/octet-stream";
}

bool ReadWholeFile(const fs::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return false;
    bytes = std::move(content).str();
    return true;
}

}  // namespace

ViewerRequestTarget ResolveViewerRequest(std::string_view path) {
    using Kind = ViewerRequestTarget::Kind;
    if (path.empty() || path[0] != '/' || path.starts_with("//") ||
        path.find("..") != std::string_view::npos || path.find('\\') != std::string_view::npos ||
        path.find('\0') != std::string_view::npos)
        return {Kind::Refused, {}};
    const std::string_view name = path.substr(1);
    if (name.empty()) return {Kind::PageFile, "index.html"};
    if (name == "panorama.jpg") return {Kind::Panorama, {}};
    if (name == "panorama.json") return {Kind::PanoramaInfo, {}};
    for (const char* file : kPageFiles)
        if (name == file) return {Kind::PageFile, file};
    return {Kind::NotFound, {}};
}

fs::path InstalledViewerPage() {
    return (ProgramPath().parent_path() / ".." / "share" / "korvo" / "viewer").lexically_normal();
}

std::string CheckViewerPage(const fs::path& pageFolder) {
    std::string missing;
    for (const char* file : kPageFiles) {
        std::error_code error;
        // three.core.js exists only in the three.js releases that split the module in two.
        if (std::string_view(file) == "three.core.js") continue;
        if (!fs::is_regular_file(pageFolder / file, error))
            missing += (missing.empty() ? "" : ", ") + std::string(file);
    }
    if (missing.empty()) return {};
    return "the viewer's page is not installed in " + pageFolder.string() + " (missing " + missing +
           "); tools/setup.sh installs three.js with npm ci and builds it in";
}

struct ViewerServer::State {
    fs::path pageFolder;
    fs::path panorama;
    httplib::Server server;
    int port = -1;
    // httplib's stop() does nothing until the server runs, so a Stop that comes first is kept
    // here and Serve gives up before it starts; one that comes while Serve is starting waits
    // until the server runs.
    enum class Phase { Idle, Serving, Done };
    std::atomic<Phase> phase{Phase::Idle};
    std::atomic<bool> stopRequested{false};
};

ViewerServer::ViewerServer(fs::path pageFolder, fs::path panorama) : state_(new State) {
    state_->pageFolder = std::move(pageFolder);
    state_->panorama = std::move(panorama);
    State& state = *state_;
    // httplib's default also sets SO_REUSEPORT, with which a second server on the same port
    // would share it silently (and could take this one's requests): address reuse only.
    state.server.set_socket_options([](socket_t socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    state.server.Get(".*", [&state](const httplib::Request& request, httplib::Response& response) {
        using Kind = ViewerRequestTarget::Kind;
        const ViewerRequestTarget target = ResolveViewerRequest(request.path);
        response.set_header("Cache-Control", "no-store");
        std::string body;
        switch (target.kind) {
            case Kind::Refused:
                response.status = 403;
                response.set_content("refused\n", "text/plain");
                return;
            case Kind::NotFound:
                response.status = 404;
                response.set_content("not found\n", "text/plain");
                return;
            case Kind::PanoramaInfo:
                response.set_content(
                    nlohmann::json{{"name", state.panorama.filename().string()}}.dump(),
                    "application/json");
                return;
            case Kind::Panorama:
                if (!ReadWholeFile(state.panorama, body)) break;
                response.set_content(std::move(body), "image/jpeg");
                return;
            case Kind::PageFile:
                if (!ReadWholeFile(state.pageFolder / target.pageFile, body)) {
                    response.status = 404;
                    response.set_content("not found\n", "text/plain");
                    return;
                }
                response.set_content(std::move(body), ContentType(target.pageFile));
                return;
        }
        response.status = 500;
        response.set_content("cannot read the file\n", "text/plain");
    });
}

ViewerServer::~ViewerServer() = default;

bool ViewerServer::Bind(int port, std::string* error) {
    if (port == 0) {
        state_->port = state_->server.bind_to_any_port(kHost);
    } else if (state_->server.bind_to_port(kHost, port)) {
        state_->port = port;
    }
    if (state_->port > 0) return true;
    *error = port == 0 ? std::string("no free port on ") + kHost
                       : std::string("cannot listen on ") + kHost + ":" + std::to_string(port) +
                             " (is the port taken?)";
    return false;
}

int ViewerServer::Port() const { return state_->port; }

std::string ViewerServer::Address() const {
    return std::string("http://") + kHost + ":" + std::to_string(state_->port) + "/";
}

void ViewerServer::Serve() {
    state_->phase = State::Phase::Serving;
    if (!state_->stopRequested) state_->server.listen_after_bind();
    state_->phase = State::Phase::Done;
}

void ViewerServer::Stop() {
    state_->stopRequested = true;
    while (state_->phase == State::Phase::Serving && !state_->server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    state_->server.stop();
}

}  // namespace KorvoHost
