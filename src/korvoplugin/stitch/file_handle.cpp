#include "stitch/file_handle.h"

namespace Korvo {

FileHandle OpenFile(const char* path, const char* mode) {
    if (path == nullptr) return {};
    return FileHandle(std::fopen(path, mode));
}

bool CloseFile(FileHandle& file) {
    if (!file) return false;
    return std::fclose(file.release()) == 0;
}

}  // namespace Korvo
