// korvo view's HTTP server, in a library of its own that the command loads when a panorama is
// viewed: cpp-httplib and the TLS and compression libraries it brings cost every other run of
// korvo their loading and binding.
#include "standalone_host/viewer/viewer_http.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "standalone_host/viewer/viewer_server.h"

namespace KorvoHost {
namespace {

namespace fs = std::filesystem;

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

struct Server {
    Server(fs::path pageFolder, fs::path panorama);

    fs::path pageFolder;
    fs::path panorama;
    httplib::Server server;
    // httplib's stop() does nothing until the server runs, so a Stop that comes first is kept
    // here and Serve gives up before it starts; one that comes while Serve is starting waits
    // until the server runs.
    enum class Phase { Idle, Serving, Done };
    std::atomic<Phase> phase{Phase::Idle};
    std::atomic<bool> stopRequested{false};
};

Server::Server(fs::path pageFolderIn, fs::path panoramaIn)
    : pageFolder(std::move(pageFolderIn)), panorama(std::move(panoramaIn)) {
    Server& state = *this;
    // httplib's default also sets SO_REUSEPORT, with which a second server on the same port
    // would share it silently (and could take this one's requests): address reuse only.
    server.set_socket_options([](socket_t socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.Get(".*", [&state](const httplib::Request& request, httplib::Response& response) {
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

void* Create(const char* pageFolder, const char* panorama) {
    try {
        return new Server(pageFolder, panorama);  // freed by Destroy
    } catch (const std::exception&) {
        return nullptr;
    }
}

void Destroy(void* server) { delete static_cast<Server*>(server); }

int Bind(void* opaque, int port) {
    auto& server = static_cast<Server*>(opaque)->server;
    try {
        if (port == 0) return server.bind_to_any_port(kViewerHost);
        return server.bind_to_port(kViewerHost, port) ? port : -1;
    } catch (const std::exception&) {
        return -1;
    }
}

void Serve(void* opaque) {
    Server& state = *static_cast<Server*>(opaque);
    state.phase = Server::Phase::Serving;
    try {
        if (!state.stopRequested) state.server.listen_after_bind();
    } catch (const std::exception&) {
    }
    state.phase = Server::Phase::Done;
}

void Stop(void* opaque) {
    Server& state = *static_cast<Server*>(opaque);
    state.stopRequested = true;
    while (state.phase == Server::Phase::Serving && !state.server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    state.server.stop();
}

constexpr ViewerHttpFunctions kFunctions{Create, Destroy, Bind, Serve, Stop};

}  // namespace
}  // namespace KorvoHost

extern "C" __attribute__((visibility("default"))) const KorvoHost::ViewerHttpFunctions*
KorvoViewerHttpFunctions() {
    return &KorvoHost::kFunctions;
}
