// Between korvo view and its HTTP server, which lives in a library of its own that the first
// ViewerServer loads: <program folder>/../lib/libkorvo_viewer_http.so.
#pragma once

namespace KorvoHost {

// The server's only address.
constexpr const char* kViewerHost = "127.0.0.1";

// A server made by `create` (null when it cannot be made) answers requests for the page
// folder's files and one panorama, as ViewerServer describes; `destroy` frees it. `bind`
// answers the port bound on kViewerHost (`port`, or a free one for 0), or -1. `stop` may be
// called from any thread, also before `serve`. Paths are the file system's bytes; nothing
// throws.
struct ViewerHttpFunctions {
    void* (*create)(const char* pageFolder, const char* panorama);
    void (*destroy)(void* server);
    int (*bind)(void* server, int port);
    void (*serve)(void* server);
    void (*stop)(void* server);
};

constexpr const char* kViewerHttpLibrary = "libkorvo_viewer_http.so";
constexpr const char* kViewerHttpEntry = "KorvoViewerHttpFunctions";
using ViewerHttpEntry = const ViewerHttpFunctions* (*)();

}  // namespace KorvoHost
