#pragma once

// Fresh memory is mapped page by page as it is first touched, and on some virtual machines each
// such fault costs tens of microseconds. The stitch's large buffers are filled right away, so
// their pages are mapped in one call instead.

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace Korvo {

// Maps the whole pages within [data, data + bytes) now where the system offers it; otherwise,
// or when it fails, leaves them to be mapped on first touch.
void MapPagesNow(void* data, size_t bytes);

// vector::resize(count, value), with the pages of the new elements mapped before they are
// written.
template <typename T>
void ResizeMapped(std::vector<T>& v, size_t count, const T& value = T()) {
    if (count > v.size()) {
        v.reserve(count);
        MapPagesNow(v.data() + v.size(), (count - v.size()) * sizeof(T));
    }
    v.resize(count, value);
}

// Room for `count` values, left uninitialised, with its pages mapped: for buffers that are
// written in full before they are read.
template <typename T>
std::unique_ptr<T[]> MakeMappedBuffer(size_t count) {
    auto buffer = std::make_unique_for_overwrite<T[]>(count);
    MapPagesNow(buffer.get(), count * sizeof(T));
    return buffer;
}

}  // namespace Korvo
