#include "standalone_host/platform/placed_files.h"

#include <algorithm>
#include <mutex>

namespace KorvoHost {
namespace {

struct Record {
    std::mutex mutex;
    std::vector<std::filesystem::path> files;
};

Record& Placed() {
    static Record record;
    return record;
}

}  // namespace

void NotePlacedFile(const std::filesystem::path& file) {
    const std::filesystem::path normal = file.lexically_normal();
    Record& record = Placed();
    std::lock_guard lock(record.mutex);
    if (std::find(record.files.begin(), record.files.end(), normal) == record.files.end())
        record.files.push_back(normal);
}

std::vector<std::filesystem::path> PlacedFiles() {
    Record& record = Placed();
    std::lock_guard lock(record.mutex);
    return record.files;
}

}  // namespace KorvoHost
