// Model import under its limits: a file that would take the host's memory or time is refused with
// the reason, and a model that imports comes back whole from the importer's process.
#include "standalone_host/scene/model_import.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

using namespace KorvoHost;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const fs::path kData = fs::path(KORVO_TEST_DATA) / "scene";

class ModelImport : public ::testing::Test {
  protected:
    ModelImport() {
        folder_ = fs::temp_directory_path() / ("korvo_import_" + std::to_string(::getpid()));
        fs::create_directories(folder_);
    }
    ~ModelImport() override { fs::remove_all(folder_); }
    fs::path Write(const std::string& name, const std::string& text) {
        const fs::path file = folder_ / name;
        std::ofstream(file) << text;
        return file;
    }
    fs::path folder_;
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST_F(ModelImport, DeclaredCountsBeyondTheMemoryLimitAreRefusedQuickly) {
    // An OFF header declaring 353,535,235,358 vertices for a cube's eight.
    std::string text = "OFF\n353535235358 6 0\n";
    for (int i = 0; i < 8; ++i)
        text += std::to_string(i & 1) + " " + std::to_string(i >> 1 & 1) + " " +
                std::to_string(i >> 2) + "\n";
    text += "4 0 1 3 2\n4 2 3 7 6\n";
    const fs::path file = Write("huge.off", text);

    const auto start = std::chrono::steady_clock::now();
    std::string error;
    EXPECT_EQ(ImportModel(file, error, {std::size_t{256} << 20, 20s}), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
    EXPECT_EQ(error, "the import needed more than 256 MB of memory and was stopped");
}

TEST_F(ModelImport, AnImportPastTheTimeLimitIsStopped) {
    std::string text;
    for (int i = 0; i < 200000; ++i)
        text += "v " + std::to_string(i) + " 0 " + std::to_string(i % 7) + "\n";
    for (int i = 1; i + 2 <= 200000; i += 3)
        text += "f " + std::to_string(i) + " " + std::to_string(i + 1) + " " +
                std::to_string(i + 2) + "\n";
    const fs::path file = Write("big.obj", text);
    std::string error;
    EXPECT_EQ(ImportModel(file, error, {std::size_t{2} << 30, 1ms}), nullptr);
    EXPECT_EQ(error, "the import took longer than 1 ms and was stopped");

    // Within the default limits the same file imports, every triangle intact.
    const auto model = ImportModel(file, error);
    ASSERT_NE(model, nullptr) << error;
    EXPECT_EQ(model->indices.size(), 3u * 66666);
    EXPECT_EQ(model->positions.size(), 199998u);
}

TEST_F(ModelImport, TheImportersOwnMessageIsPassedOn) {
    std::string error;
    EXPECT_EQ(ImportModel(Write("empty.obj", ""), error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(Contains(error, "stopped")) << error;
    EXPECT_FALSE(Contains(error, "crashed")) << error;

    // Lines and points are dropped; with nothing left the file is refused.
    EXPECT_EQ(ImportModel(kData / "lines_only.obj", error), nullptr);
    EXPECT_EQ(error, "No meshes remaining");
}
