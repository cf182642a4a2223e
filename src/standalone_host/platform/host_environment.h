// Where the standalone host keeps its machine-wide files: the registry file, the host's temporary
// directory (directory 29) and the analytics log. Each may be set before first use; all functions
// are thread-safe.
#pragma once

#include <filesystem>

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

// The file the analytics module appends its hits to: $KORVO_ANALYTICS_LOG when set, otherwise
// <directory 29>/analytics.jsonl.
std::filesystem::path AnalyticsLogPath();
// Hands AnalyticsLogPath() to the analytics module through KORVO_ANALYTICS_LOG (kept when already
// set). The host calls it before it loads any plug-in.
void PublishAnalyticsLogPath();

// The full path of the running program.
std::filesystem::path ProgramPath();

}  // namespace KorvoHost
