// A private temporary folder that disappears with the test.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>

namespace KorvoTest {

class TempDir {
  public:
    TempDir() {
        static std::atomic<int> counter{0};
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            path_ = base /
                    ("korvo-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
            std::error_code ec;
            if (std::filesystem::create_directory(path_, ec)) break;
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
