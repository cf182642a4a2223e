#include "standalone_host/platform/host_environment.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>

namespace KorvoHost {
namespace {

constexpr const char* kAnalyticsVariable = "KORVO_ANALYTICS_LOG";

struct Environment {
    std::mutex mutex;
    std::optional<std::filesystem::path> registryFile;
    std::optional<std::filesystem::path> chosenTempDirectory;
    std::filesystem::path defaultTempDirectory;
};

Environment& Env() {
    static Environment env;
    return env;
}

// A folder under the shared temporary directory is only ours if we made it or it is a real
// directory that belongs to us and nobody else can write: otherwise another user could read our
// files or point our writes elsewhere.
bool IsPrivateDirectory(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 022) == 0;
}

std::filesystem::path SystemTempRoot() {
    const char* tmp = std::getenv("TMPDIR");
    return (tmp && *tmp) ? std::filesystem::path(tmp) : std::filesystem::path("/tmp");
}

std::filesystem::path MakeDefaultTempDirectory() {
    const std::filesystem::path root = SystemTempRoot();
    const std::string name = "korvo-" + std::to_string(::geteuid());
    const std::filesystem::path preferred = root / name;
    if (::mkdir(preferred.c_str(), 0700) == 0 || IsPrivateDirectory(preferred)) return preferred;

    std::string pattern = (root / (name + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data())) {
        std::fprintf(stderr, "korvo: %s is not a private folder of this user; using %s instead\n",
                     preferred.c_str(), pattern.c_str());
        return pattern;
    }
    std::fprintf(stderr, "korvo: cannot create a temporary folder under %s\n", root.c_str());
    return {};
}

void CreatePrivateDirectories(const std::filesystem::path& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) return;
    if (path.has_parent_path()) CreatePrivateDirectories(path.parent_path());
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "korvo: cannot create the temporary folder %s\n", path.c_str());
    }
}

}  // namespace

std::filesystem::path ProgramPath() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error);
}

void* HostLibraryEntry(const char* library, const char* entry, std::string& error) {
    std::filesystem::path file = library;
    Dl_info self{};
    if (::dladdr(reinterpret_cast<void*>(&HostLibraryEntry), &self) && self.dli_fname)
        file = std::filesystem::path(self.dli_fname).parent_path() / library;
    void* handle = ::dlopen(file.lexically_normal().c_str(), RTLD_NOW | RTLD_LOCAL);
    void* function = handle ? ::dlsym(handle, entry) : nullptr;
    if (!function) {
        const char* why = ::dlerror();
        error = why ? why : "cannot load " + file.string();
    }
    return function;
}

void KeepLargeBuffersOnTheHeap() {
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 512 << 20);
}

std::filesystem::path RegistryFilePath() {
    Environment& env = Env();
    std::lock_guard lock(env.mutex);
    if (env.registryFile) return *env.registryFile;
    return (ProgramPath().parent_path() / ".." / "etc" / "korvo" / "registry.json")
        .lexically_normal();
}

void SetRegistryFilePath(std::filesystem::path path) {
    Environment& env = Env();
    std::lock_guard lock(env.mutex);
    env.registryFile = std::move(path);
}

std::filesystem::path TempDirectory() {
    Environment& env = Env();
    std::lock_guard lock(env.mutex);
    // Checked on every call: a run's clean-up or the user may have removed the folder meanwhile.
    if (env.chosenTempDirectory) {
        CreatePrivateDirectories(*env.chosenTempDirectory);
        return *env.chosenTempDirectory;
    }
    if (env.defaultTempDirectory.empty() || !IsPrivateDirectory(env.defaultTempDirectory)) {
        env.defaultTempDirectory = MakeDefaultTempDirectory();
    }
    return env.defaultTempDirectory;
}

void SetTempDirectory(std::filesystem::path path) {
    Environment& env = Env();
    std::lock_guard lock(env.mutex);
    env.chosenTempDirectory.reset();
    env.defaultTempDirectory.clear();
    if (!path.empty()) env.chosenTempDirectory = std::move(path);
}

TempDirectoryLock::TempDirectoryLock(
    const std::function<void(const std::filesystem::path&)>& waiting) {
    const std::filesystem::path folder = TempDirectory();
    if (folder.empty()) return;
    const std::filesystem::path file = folder / "korvo.lock";
    file_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (file_ < 0) {
        std::fprintf(stderr, "korvo: cannot open %s (%s); going on without it\n", file.c_str(),
                     std::strerror(errno));
        return;
    }
    if (::flock(file_, LOCK_EX | LOCK_NB) == 0) return;
    if (errno == EWOULDBLOCK && waiting) waiting(folder);
    int result;
    do {
        result = ::flock(file_, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        std::fprintf(stderr, "korvo: cannot lock %s (%s); going on without it\n", file.c_str(),
                     std::strerror(errno));
        ::close(file_);
        file_ = -1;
    }
}

TempDirectoryLock::~TempDirectoryLock() {
    if (file_ >= 0) ::close(file_);
}

std::filesystem::path AnalyticsLogPath() {
    const char* configured = std::getenv(kAnalyticsVariable);
    if (configured && *configured) return configured;
    return TempDirectory() / "analytics.jsonl";
}

void PublishAnalyticsLogPath() {
    ::setenv(kAnalyticsVariable, AnalyticsLogPath().c_str(), /*overwrite=*/0);
}

}  // namespace KorvoHost
