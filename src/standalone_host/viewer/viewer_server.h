// The local web server behind korvo view: the viewer's page files and one panorama, on
// 127.0.0.1 only. Nothing else of the file system is reachable through it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace KorvoHost {

// What a request path (as decoded by the server) names. Only exact names are served: a path
// with "..", a backslash, a doubled or missing leading slash is refused outright.
struct ViewerRequestTarget {
    enum class Kind { PageFile, Panorama, PanoramaInfo, Refused, NotFound };
    Kind kind = Kind::NotFound;
    std::string pageFile;  // for PageFile: the file's name in the page folder
};
ViewerRequestTarget ResolveViewerRequest(std::string_view path);

// The page files a build installs, looked for beside the running program:
// <program folder>/../share/korvo/viewer.
std::filesystem::path InstalledViewerPage();
// Empty when the folder holds every page file, else what is missing in words.
std::string CheckViewerPage(const std::filesystem::path& pageFolder);

// The HTTP server itself is loaded with the first ViewerServer (viewer_http.h); when it cannot
// be, Bind says so.
class ViewerServer {
  public:
    ViewerServer(std::filesystem::path pageFolder, std::filesystem::path panorama);
    ~ViewerServer();
    ViewerServer(const ViewerServer&) = delete;
    ViewerServer& operator=(const ViewerServer&) = delete;

    // Binds to 127.0.0.1 at `port`, or at a free port for 0. False with the problem in words.
    bool Bind(int port, std::string* error);
    int Port() const;
    std::string Address() const;  // "http://127.0.0.1:PORT/"

    // Answers requests until Stop, which any thread may call (also before Serve).
    void Serve();
    void Stop();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace KorvoHost
