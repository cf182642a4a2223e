// Conversions between the host's wide texts and UTF-8, the encoding of file names and files here.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace KorvoHost {

// Invalid input never fails: unpaired or out-of-range code points become U+FFFD, invalid bytes too.
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

inline std::filesystem::path ToPath(std::wstring_view text) {
    return std::filesystem::path(ToUtf8(text));
}
inline std::wstring FromPath(const std::filesystem::path& path) { return FromUtf8(path.string()); }

}  // namespace KorvoHost
