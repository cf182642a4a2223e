// A private temporary folder that disappears with the test: every test that writes files makes
// them in one of these.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>

namespace KorvoTest {

class TempDir {
  public:
    // A new folder under the system's temporary folder.
    TempDir() : TempDir(std::filesystem::temp_directory_path()) {}
    // A new folder under `base`, which must exist and be writable.
    explicit TempDir(const std::filesystem::path& base) {
        static std::atomic<int> counter{0};
        for (;;) {
            path_ = base /
                    ("korvo-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
            std::error_code ec;
            if (std::filesystem::create_directory(path_, ec)) break;
            // A name taken already gives no error: try the next one. Anything else will not pass.
            if (ec) throw std::filesystem::filesystem_error("no temporary folder", path_, ec);
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace KorvoTest
