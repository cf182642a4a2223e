#pragma once

#include <cstdio>
#include <memory>

namespace Korvo {

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// An open C stream; the stream is closed when the handle goes.
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Empty handle when the file cannot be opened with the fopen mode.
FileHandle OpenFile(const char* path, const char* mode);

// Closes the stream now; false when the close (or the writes it flushes) failed.
bool CloseFile(FileHandle& file);

}  // namespace Korvo
