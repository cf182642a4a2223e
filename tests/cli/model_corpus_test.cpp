// Every file of a corpus of model files nobody here wrote (Debian's assimp-testmodels, when it is
// installed), each placed in a scene: `korvo info` either shows the scene or refuses it with a
// message naming the file and the reason, within a time limit, and what imports renders.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/korvo_command.h"
#include "standalone_host/raytracer/ray_tracer.h"
#include "standalone_host/scene/scene_file.h"
#include "standalone_host/scene/tracer_input.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using KorvoTest::Quote;

const fs::path kCorpus = "/usr/share/assimp/models";

enum class Outcome { Imported, Refused, Failed };

struct FileResult {
    fs::path file;
    Outcome outcome = Outcome::Failed;
    std::string detail;  // the reason of a refusal, or what went wrong
    double seconds = 0;
};

std::string SceneText(const fs::path& model) {
    std::string path;
    for (char c : model.string())
        path += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    return R"({"nodes": [{"name": "Model", "mesh": {"type": "model", "file": ")" + path +
           R"("}}, {"name": "Cam", "transform": {"position": [0, -10, 0], "rotation": [90, 0, 0]},
            "camera": {"fov": 60}}]})";
}

// A 48 × 48 picture of the model's meshes from outside their bounds; false when it cannot be made.
bool RenderSmall(const fs::path& scene, std::string& problem) {
    KorvoHost::SceneLoadResult loaded = KorvoHost::LoadSceneFile(scene);
    if (!loaded.scene) {
        problem = "loads in korvo info but not here: " + loaded.error;
        return false;
    }
    const KorvoHost::TracerScene tracerScene = KorvoHost::MakeTracerScene(*loaded.scene);
    KorvoHost::Vec3 low{1e30f, 1e30f, 1e30f}, high{-1e30f, -1e30f, -1e30f};
    for (const auto& mesh : tracerScene.meshes)
        for (const auto& p : mesh.positions) {
            if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) continue;
            low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
            high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
        }
    std::string error;
    const auto tracer = KorvoHost::RayTracer::Create(tracerScene, error);
    if (!tracer) {
        problem = "the tracer refused the model: " + error;
        return false;
    }
    KorvoHost::PinholeCamera camera;
    const float size = std::max({high.x - low.x, high.y - low.y, high.z - low.z, 1e-3f});
    camera.cameraToWorld.position = {(low.x + high.x) / 2, low.y - 2 * size, (low.z + high.z) / 2};
    // Looking along +Y: local −Z is world +Y, local +Y is world +Z.
    camera.cameraToWorld.x = {1, 0, 0};
    camera.cameraToWorld.y = {0, 0, 1};
    camera.cameraToWorld.z = {0, -1, 0};
    std::vector<std::uint8_t> pixels(48 * 48 * 4);
    KorvoHost::TracerOptions options;
    options.threadCount = 1;
    if (!tracer->Render(camera, 48, 48, std::span<std::uint8_t>(pixels), options)) {
        problem = "the render was refused";
        return false;
    }
    return true;
}

// The command's output and exit code; -1 when a signal ended it.
KorvoTest::CommandResult Run(const std::string& command) {
    KorvoTest::CommandResult result;
    FILE* pipe = popen((command + " </dev/null 2>&1").c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

FileResult Try(const fs::path& model, const fs::path& folder, int index) {
    FileResult result;
    result.file = model;
    const fs::path scene = folder / ("scene_" + std::to_string(index) + ".json");
    std::ofstream(scene) << SceneText(model);
    const auto start = std::chrono::steady_clock::now();
    // The importer's own limit is 30 s; anything past 90 s is a hang.
    const KorvoTest::CommandResult r =
        Run("timeout -s KILL 90 " + Quote(KORVO_COMMAND) + " --temp-dir " +
            Quote((folder / "host").string()) + " info " + Quote(scene.string()));
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string refusal = "cannot import the model \"" + model.string() + "\"";
    if (r.exitCode == 0) {
        result.outcome = Outcome::Imported;
        std::string problem;
        if (!RenderSmall(scene, problem)) {
            result.outcome = Outcome::Failed;
            result.detail = problem;
        }
    } else if (r.exitCode == 1 && r.output.find(refusal) != std::string::npos) {
        result.outcome = Outcome::Refused;
        const std::size_t colon = r.output.find("): ", r.output.find(refusal));
        result.detail = colon == std::string::npos ? r.output : r.output.substr(colon + 3);
        while (!result.detail.empty() && result.detail.back() == '\n') result.detail.pop_back();
        if (result.detail.empty()) {
            result.outcome = Outcome::Failed;
            result.detail = "refused without a reason";
        }
    } else {
        result.detail = "exit code " + std::to_string(r.exitCode) + ": " + r.output;
    }
    fs::remove(scene);
    return result;
}

}  // namespace

TEST(ModelCorpusSlow, EveryFileImportsOrIsRefusedWithItsReason) {
    if (!fs::is_directory(kCorpus)) GTEST_SKIP() << kCorpus << " is not installed";
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(kCorpus))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());

    KorvoTest::TempDir temp;
    std::vector<FileResult> results(files.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next++) < files.size();)
            results[i] = Try(files[i], temp.path(), static_cast<int>(i));
    };
    std::vector<std::thread> workers;
    for (unsigned n = std::max(2u, std::thread::hardware_concurrency()); n > 0; --n)
        workers.emplace_back(work);
    for (auto& worker : workers) worker.join();

    std::map<std::string, int> reasons;
    int imported = 0, refused = 0, failed = 0;
    double slowest = 0;
    for (const FileResult& r : results) {
        slowest = std::max(slowest, r.seconds);
        std::cout << (r.outcome == Outcome::Imported  ? "imported "
                      : r.outcome == Outcome::Refused ? "refused  "
                                                      : "FAILED   ")
                  << r.file.lexically_relative(kCorpus).string() << " (" << r.seconds << " s)"
                  << (r.detail.empty() ? "" : ": " + r.detail) << "\n";
        imported += r.outcome == Outcome::Imported;
        refused += r.outcome == Outcome::Refused;
        failed += r.outcome == Outcome::Failed;
        EXPECT_NE(r.outcome, Outcome::Failed) << r.file << ": " << r.detail;
        EXPECT_LT(r.seconds, 60.0) << r.file;
    }
    std::cout << files.size() << " files: " << imported << " imported, " << refused << " refused, "
              << failed << " crashed or failed; slowest " << slowest << " s\n";
}
