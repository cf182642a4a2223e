// Host options that keep a test's host to itself: its temporary folders under the test's own
// folder and no registry file, so the installation's settings never leak in.
#pragma once

#include <filesystem>

#include "standalone_host/core/host_app.h"

namespace KorvoTest {

inline KorvoHost::HostOptions PrivateHostOptions(const std::filesystem::path& folder) {
    KorvoHost::HostOptions options;
    options.tempDirectory = folder / "host";
    options.registryFile = folder / "no-registry.json";
    return options;
}

}  // namespace KorvoTest
