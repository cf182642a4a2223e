#include "standalone_host/viewer/viewer_server.h"

#include <array>
#include <mutex>

#include "standalone_host/platform/host_environment.h"
#include "standalone_host/viewer/viewer_http.h"

namespace KorvoHost {
namespace {

namespace fs = std::filesystem;

// Everything the page loads, three.js included.
constexpr std::array<const char*, 5> kPageFiles{"index.html", "viewer.js", "layouts.js",
                                                "three.module.js", "three.core.js"};

// The server library, loaded once and kept: the TLS library it links cannot be unloaded.
// Null with the problem in `error` when it cannot be loaded.
const ViewerHttpFunctions* LoadViewerHttp(std::string& error) {
    static std::once_flag once;
    static const ViewerHttpFunctions* functions = nullptr;
    static std::string problem;
    std::call_once(once, [] {
        const auto entry = reinterpret_cast<ViewerHttpEntry>(
            HostLibraryEntry(kViewerHttpLibrary, kViewerHttpEntry, problem));
        functions = entry ? entry() : nullptr;
        if (entry && !functions) problem = std::string(kViewerHttpLibrary) + " offers no server";
    });
    error = problem;
    return functions;
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
    const ViewerHttpFunctions* http = nullptr;
    void* server = nullptr;
    std::string problem;  // why there is no server
    int port = -1;
};

ViewerServer::ViewerServer(fs::path pageFolder, fs::path panorama) : state_(new State) {
    state_->http = LoadViewerHttp(state_->problem);
    if (!state_->http) return;
    state_->server = state_->http->create(pageFolder.c_str(), panorama.c_str());
    if (!state_->server) state_->problem = "out of memory";
}

ViewerServer::~ViewerServer() {
    if (state_->server) state_->http->destroy(state_->server);
}

bool ViewerServer::Bind(int port, std::string* error) {
    if (!state_->server) {
        *error = "cannot start the viewer's server: " + state_->problem;
        return false;
    }
    state_->port = state_->http->bind(state_->server, port);
    if (state_->port > 0) return true;
    *error = port == 0 ? std::string("no free port on ") + kViewerHost
                       : std::string("cannot listen on ") + kViewerHost + ":" +
                             std::to_string(port) + " (is the port taken?)";
    return false;
}

int ViewerServer::Port() const { return state_->port; }

std::string ViewerServer::Address() const {
    return std::string("http://") + kViewerHost + ":" + std::to_string(state_->port) + "/";
}

void ViewerServer::Serve() {
    if (state_->server) state_->http->serve(state_->server);
}

void ViewerServer::Stop() {
    if (state_->server) state_->http->stop(state_->server);
}

}  // namespace KorvoHost
