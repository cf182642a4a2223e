#include "standalone_host/scene/model_import.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <type_traits>

#include "standalone_host/platform/host_environment.h"
#include "standalone_host/scene/model_importer.h"

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

// The importer's library, loaded on the first import and kept: children started later inherit
// it loaded. Null with the problem in `error`.
ModelImporter LoadImporter(std::string& error) {
    static std::once_flag once;
    static ModelImporter importer = nullptr;
    static std::string problem;
    std::call_once(once, [] {
        importer = reinterpret_cast<ModelImporter>(
            HostLibraryEntry(kModelImportLibrary, kModelImportEntry, problem));
    });
    error = problem;
    return importer;
}

// Assimp reads text formats through a buffer of 16 MiB that it fills before it parses; in the
// fresh child each page of it would fault on its own, some 4,000 faults and half the time of a
// small import. Heap memory advised for huge pages (where the system allows them) and given
// back at once is where that buffer then lands, and it faults in a few large pages instead.
void PrepareHeapForTheReadBuffer() {
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    constexpr std::size_t kBytes = std::size_t(24) << 20;
    // Whatever the parent chose.
    KeepLargeBuffersOnTheHeap();
    void* block = std::malloc(kBytes);
    if (!block) return;
    const std::uintptr_t start =
        (reinterpret_cast<std::uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
    ::madvise(reinterpret_cast<void*>(start), kBytes - kHugePage, MADV_HUGEPAGE);
    std::free(block);
}

[[noreturn]] void RunChild(const std::filesystem::path& file, const ModelImportLimits& limits,
                           ModelImporter importer, int fd) {
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
    PrepareHeapForTheReadBuffer();

    std::string answer;
    try {
        std::string error;
        ImportedModel model;
        bool outOfMemory = false;
        if (importer(file.c_str(), model, error, outOfMemory)) {
            answer = "M";
            PutArray(answer, model.positions);
            PutArray(answer, model.indices);
            PutArray(answer, model.normals);
            PutArray(answer, model.triangleColors);
        } else if (outOfMemory) {
            ::_exit(kOutOfMemoryExit);
        } else {
            answer = "E" + error;
        }
    } catch (const std::bad_alloc&) {
        ::_exit(kOutOfMemoryExit);
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
    std::string loadError;
    const ModelImporter importer = LoadImporter(loadError);
    if (!importer) {
        error = "cannot load the model importer: " + loadError;
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
        RunChild(file, limits, importer, fds[1]);
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
