// Whole-file reads and writes for tests that check what landed on disk.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace KorvoTest {

// The file's bytes; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

}  // namespace KorvoTest
