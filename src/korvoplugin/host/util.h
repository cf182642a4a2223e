// Host utilities: path checks, file name splitting and the text-file writer.
#pragma once

#include <cstddef>
#include <memory>

#include "host/max_types.h"

// Splits a path into its folder (without the last separator), its base name and its extension
// (with the dot). Any of the outputs may be null.
void SplitFilename(const MSTR& name, MSTR* path, MSTR* filename, MSTR* ext);

namespace MaxSDK::Util {

class Path {
  public:
    explicit Path(const MCHAR* path) : path_(path ? path : L"") {}
    explicit Path(const MSTR& path) : path_(path) {}
    // A path the file system can hold: not empty and free of characters it refuses.
    bool IsLegal() const;
    const MSTR& GetString() const { return path_; }

  private:
    MSTR path_;
};

namespace TextFile {

class BaseTextWriter {
  public:
    virtual ~BaseTextWriter() = default;
    // Writes length characters of text (all of it when length is npos).
    virtual bool Write(const MCHAR* text, std::size_t length = static_cast<std::size_t>(-1)) = 0;
    virtual bool Flush() = 0;
    virtual void Close() = 0;
    virtual bool IsFileOpen() const = 0;
};

// Writes wide text to a file as UTF-8. Line ends are written exactly as given. Each Write reaches
// the file whole and at once, so writers of several processes appending to one file never
// interleave within one Write.
class Writer : public BaseTextWriter {
  public:
    Writer();
    ~Writer() override;
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Opens fileName, appending to an existing file when append is set. The encoding 0 and the
    // line-end mode are the host's defaults.
    bool Open(const MCHAR* fileName, bool append = false, unsigned int encoding = 0,
              int lineEndMode = 1);
    bool Write(const MCHAR* text, std::size_t length = static_cast<std::size_t>(-1)) override;
    bool Flush() override;
    void Close() override;
    bool IsFileOpen() const override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace TextFile
}  // namespace MaxSDK::Util
