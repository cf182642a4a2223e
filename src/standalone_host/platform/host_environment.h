// Where the standalone host keeps its machine-wide files: the registry file, the host's temporary
// directory (directory 29) and the analytics log. Each may be set before first use; all functions
// are thread-safe.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace KorvoHost {

// Default: <folder of the running program>/../etc/korvo/registry.json.
std::filesystem::path RegistryFilePath();
void SetRegistryFilePath(std::filesystem::path path);

// Directory 29. Default: ${TMPDIR:-/tmp}/korvo-<uid>. Created on demand with mode 0700; a default
// folder that is not a private directory of this user (a link, someone else's, open to others) is
// never used: a fresh private folder beside it takes its place. Empty when nothing can be created.
std::filesystem::path TempDirectory();
// An empty path goes back to the default.
void SetTempDirectory(std::filesystem::path path);

// Held by a process for as long as it runs the plug-in's work in directory 29 (the working
// folder, which every run of the plug-in clears, fills and deletes under the same name). A second
// process asking for it waits until the first lets go; `waiting` is called once, before that
// wait. The lock goes with the object or with the process, however it ends. Without a directory
// or a lock file the object holds nothing and the run goes ahead unguarded.
class TempDirectoryLock {
  public:
    explicit TempDirectoryLock(const std::function<void(const std::filesystem::path&)>& waiting);
    ~TempDirectoryLock();
    TempDirectoryLock(const TempDirectoryLock&) = delete;
    TempDirectoryLock& operator=(const TempDirectoryLock&) = delete;

    bool Held() const { return file_ >= 0; }

  private:
    int file_ = -1;
};

// The file the analytics module appends its hits to: $KORVO_ANALYTICS_LOG when set, otherwise
// <directory 29>/analytics.jsonl.
std::filesystem::path AnalyticsLogPath();
// Hands AnalyticsLogPath() to the analytics module through KORVO_ANALYTICS_LOG (kept when already
// set). The host calls it before it loads any plug-in.
void PublishAnalyticsLogPath();

// The full path of the running program.
std::filesystem::path ProgramPath();

// Opens `library`, one of the host's own libraries loaded only when wanted, from the folder of the
// host library itself, and answers the function it exports as `entry`. Null, with the reason in
// `error`, when either cannot be found. The library stays open; callers keep what it answers.
void* HostLibraryEntry(const char* library, const char* entry, std::string& error);

// Buffers of up to 32 MB come from the heap and stay there when freed, to be taken again by the
// next one of their size; by default each would be mapped anew and fault in page by page.
void KeepLargeBuffersOnTheHeap();

}  // namespace KorvoHost
