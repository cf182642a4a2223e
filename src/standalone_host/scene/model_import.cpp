#include "standalone_host/scene/model_import.h"

#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <assimp/Importer.hpp>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

// Sanitizer runtimes reserve terabytes of address space, so there the child's memory is watched
// through its resident size alone.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KORVO_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define KORVO_SANITIZED 1
#endif
#endif

namespace KorvoHost {
namespace {

std::optional<Color> MaterialColor(const aiMaterial* material) {
    if (!material) return std::nullopt;
    aiColor4D color;
    // glTF keeps its colour as the base colour; the older formats as the diffuse colour.
    if (material->Get(AI_MATKEY_BASE_COLOR, color) != AI_SUCCESS &&
        material->Get(AI_MATKEY_COLOR_DIFFUSE, color) != AI_SUCCESS)
        return std::nullopt;
    auto unit = [](float v) { return v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v; };
    return Color{unit(color.r), unit(color.g), unit(color.b)};
}

// The import itself, in whichever process runs it.
std::shared_ptr<ImportedModel> ImportHere(const std::filesystem::path& file, std::string& error) {
    Assimp::Importer importer;
    importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE,
                                aiPrimitiveType_POINT | aiPrimitiveType_LINE);
    const aiScene* scene = importer.ReadFile(
        file.string(), aiProcess_Triangulate | aiProcess_JoinIdenticalVertices |
                           aiProcess_PreTransformVertices | aiProcess_SortByPType |
                           aiProcess_ValidateDataStructure);
    if (!scene || (scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE)) {
        error = importer.GetErrorString();
        if (error.empty()) error = "the file could not be read as a model";
        return nullptr;
    }

    auto model = std::make_shared<ImportedModel>();
    bool allHaveNormals = true;
    bool anyColor = false;
    std::vector<std::optional<Color>> meshColors;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[m];
        const aiMaterial* material = mesh->mMaterialIndex < scene->mNumMaterials
                                         ? scene->mMaterials[mesh->mMaterialIndex]
                                         : nullptr;
        meshColors.push_back(MaterialColor(material));
        anyColor = anyColor || meshColors.back().has_value();
        allHaveNormals = allHaveNormals && mesh->HasNormals();
    }

    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[m];
        if (!(mesh->mPrimitiveTypes & aiPrimitiveType_TRIANGLE)) continue;
        const std::size_t first = model->positions.size();
        if (first + mesh->mNumVertices > std::numeric_limits<std::uint32_t>::max()) {
            error = "the model has too many vertices";
            return nullptr;
        }
        for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
            const aiVector3D& p = mesh->mVertices[v];
            model->positions.push_back({p.x, p.y, p.z});
            if (allHaveNormals) {
                const aiVector3D& n = mesh->mNormals[v];
                model->normals.push_back({n.x, n.y, n.z});
            }
        }
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
            const aiFace& face = mesh->mFaces[f];
            if (face.mNumIndices != 3) continue;
            bool inRange = true;
            for (unsigned k = 0; k < 3; ++k)
                inRange = inRange && face.mIndices[k] < mesh->mNumVertices;
            if (!inRange) continue;
            for (unsigned k = 0; k < 3; ++k)
                model->indices.push_back(static_cast<std::uint32_t>(first + face.mIndices[k]));
            if (anyColor)
                model->triangleColors.push_back(meshColors[m].value_or(Color{0.8f, 0.8f, 0.8f}));
        }
    }
    if (model->indices.empty()) {
        error = "the file holds no triangles";
        return nullptr;
    }
    return model;
}

// ---- the child process ------------------------------------------------------------------------
// The child answers with one message on a pipe: 'M' and the model's four arrays (each a 64-bit
// count and its elements), or 'E' and the importer's message.

static_assert(std::is_trivially_copyable_v<Point3> && std::is_trivially_copyable_v<Color>);

constexpr int kOutOfMemoryExit = 3;
int answerFd = -1;

template <typename T>
void PutArray(std::string& out, const std::vector<T>& items) {
    const std::uint64_t n = items.size();
    out.append(reinterpret_cast<const char*>(&n), sizeof n);
    if (n) out.append(reinterpret_cast<const char*>(items.data()), n * sizeof(T));
}

template <typename T>
bool TakeArray(std::string_view& in, std::vector<T>& items) {
    std::uint64_t n;
    if (in.size() < sizeof n) return false;
    std::memcpy(&n, in.data(), sizeof n);
    in.remove_prefix(sizeof n);
    if (n > in.size() / sizeof(T)) return false;
    items.resize(n);
    if (n) std::memcpy(items.data(), in.data(), n * sizeof(T));
    in.remove_prefix(n * sizeof(T));
    return true;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n, size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Memory ran out under the child's limit: say so without allocating and stop.
void OutOfMemory() { ::_exit(kOutOfMemoryExit); }

std::size_t AddressSpaceNow() {
    unsigned long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

std::size_t ResidentSize(pid_t pid) {
    unsigned long pages = 0, resident = 0;
    const std::string path = "/proc/" + std::to_string(pid) + "/statm";
    if (FILE* statm = std::fopen(path.c_str(), "r")) {
        if (std::fscanf(statm, "%lu %lu", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

[[noreturn]] void RunChild(const std::filesystem::path& file, const ModelImportLimits& limits,
                           int fd) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    answerFd = fd;
#ifndef KORVO_SANITIZED
    const rlimit space{AddressSpaceNow() + limits.memoryBytes,
                       AddressSpaceNow() + limits.memoryBytes};
    ::setrlimit(RLIMIT_AS, &space);
#endif
    const auto seconds = static_cast<rlim_t>(limits.time.count() / 1000 + 2);
    const rlimit cpu{seconds, seconds};
    ::setrlimit(RLIMIT_CPU, &cpu);
    std::set_new_handler(OutOfMemory);

    std::string answer;
    try {
        std::string error;
        const std::shared_ptr<ImportedModel> model = ImportHere(file, error);
        if (model) {
            answer = "M";
            PutArray(answer, model->positions);
            PutArray(answer, model->indices);
            PutArray(answer, model->normals);
            PutArray(answer, model->triangleColors);
        } else {
            answer = "E" + error;
        }
    } catch (const std::bad_alloc&) {
        ::_exit(kOutOfMemoryExit);
    } catch (const std::exception& e) {
        answer = std::string("E") + e.what();
    } catch (...) {
        answer = "Ethe importer failed";
    }
    ::_exit(WriteAll(answerFd, answer.data(), answer.size()) ? 0 : 1);
}

std::string Megabytes(std::size_t bytes) {
    if (bytes >= (std::size_t{1} << 30) && bytes % (std::size_t{1} << 30) == 0)
        return std::to_string(bytes >> 30) + " GB";
    return std::to_string(bytes >> 20) + " MB";
}

std::string Seconds(std::chrono::milliseconds time) {
    if (time.count() % 1000 == 0) return std::to_string(time.count() / 1000) + " s";
    return std::to_string(time.count()) + " ms";
}

}  // namespace

std::shared_ptr<const ImportedModel> ImportModel(const std::filesystem::path& file,
                                                 std::string& error,
                                                 const ModelImportLimits& limits) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        error = "no such file";
        return nullptr;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("cannot start the importer: ") + std::strerror(errno);
        return nullptr;
    }
    std::fflush(nullptr);  // nothing buffered is written twice by the child
    // The child starts out sharing what this process holds; only its growth counts.
    const std::size_t shared = ResidentSize(::getpid());
    const pid_t child = ::fork();
    if (child < 0) {
        error = std::string("cannot start the importer: ") + std::strerror(errno);
        ::close(fds[0]), ::close(fds[1]);
        return nullptr;
    }
    if (child == 0) {
        ::close(fds[0]);
        RunChild(file, limits, fds[1]);
    }
    ::close(fds[1]);

    // Read the answer while watching the child's time and memory.
    enum class Stop { None, Time, Memory } stop = Stop::None;
    const auto start = std::chrono::steady_clock::now();
    std::string answer;
    char buffer[65536];
    for (;;) {
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        if (spent >= limits.time) {
            stop = Stop::Time;
            break;
        }
        if (ResidentSize(child) > shared + limits.memoryBytes) {
            stop = Stop::Memory;
            break;
        }
        pollfd wait{fds[0], POLLIN, 0};
        const int timeout =
            static_cast<int>(std::min<long long>(50, (limits.time - spent).count()));
        const int ready = ::poll(&wait, 1, timeout);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    if (stop != Stop::None) ::kill(child, SIGKILL);
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }

    const std::string limit = " and was stopped";
    if (stop == Stop::Time) {
        error = "the import took longer than " + Seconds(limits.time) + limit;
        return nullptr;
    }
    if (stop == Stop::Memory || (WIFEXITED(status) && WEXITSTATUS(status) == kOutOfMemoryExit)) {
        error =
            "the import needed more than " + Megabytes(limits.memoryBytes) + " of memory" + limit;
        return nullptr;
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        error = (signal == SIGXCPU ? "the import took longer than " + Seconds(limits.time) + limit
                                   : "the importer crashed (signal " + std::to_string(signal) +
                                         ", " + strsignal(signal) + ")");
        return nullptr;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || answer.empty()) {
        error = "the importer stopped without an answer (exit code " +
                std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
        return nullptr;
    }
    if (answer[0] == 'E') {
        error = answer.substr(1);
        return nullptr;
    }
    auto model = std::make_shared<ImportedModel>();
    std::string_view in(answer);
    in.remove_prefix(1);
    if (answer[0] != 'M' || !TakeArray(in, model->positions) || !TakeArray(in, model->indices) ||
        !TakeArray(in, model->normals) || !TakeArray(in, model->triangleColors) || !in.empty()) {
        error = "the importer's answer was cut short";
        return nullptr;
    }
    return model;
}

}  // namespace KorvoHost
