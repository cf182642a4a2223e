// The system's one printf-style formatter for wide texts: "%s" takes a text, "%d" a signed and
// "%u" an unsigned 32-bit integer, "%%" writes a percent sign. Argument kinds are checked: a
// conversion given a value of the wrong kind, or none, shows a visible marker in the result
// ("<bad %s>", "<missing %d>") instead of reading garbage. Values beyond those the format names
// are ignored; anything else after a "%" is copied as it stands.
#pragma once

#include <concepts>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

#include "host/max_types.h"

namespace Korvo {

template <class T>
concept FormatInteger = std::integral<T> && sizeof(T) <= 4 && !std::same_as<T, bool> &&
                        !std::same_as<T, char> && !std::same_as<T, wchar_t> &&
                        !std::same_as<T, char8_t> && !std::same_as<T, char16_t> &&
                        !std::same_as<T, char32_t>;

// One value for a conversion. Texts are viewed, not copied: a FormatArg lives no longer than the
// call that formats with it.
class FormatArg {
  public:
    enum class Kind { Text, Signed, Unsigned };

    FormatArg(std::wstring_view text) : kind_(Kind::Text), text_(text) {}
    FormatArg(const MCHAR* text) : kind_(Kind::Text), text_(text ? text : L"(null)") {}
    // Wider integers do not convert silently: a caller casts them and decides what is lost.
    template <FormatInteger T>
    FormatArg(T value)
        : kind_(std::is_signed_v<T> ? Kind::Signed : Kind::Unsigned),
          bits_(static_cast<std::uint32_t>(value)) {}

    Kind kind() const { return kind_; }
    std::wstring_view text() const { return text_; }
    std::int32_t AsSigned() const { return static_cast<std::int32_t>(bits_); }
    std::uint32_t AsUnsigned() const { return bits_; }

  private:
    Kind kind_;
    std::wstring_view text_;
    std::uint32_t bits_ = 0;
};

MSTR FormatText(std::wstring_view format, std::span<const FormatArg> args);

// The format is copied at the call, so a text from a shared lookup buffer stays intact even when
// another argument looks up a text too. Text arguments are read when formatting: one from such a
// buffer must be the last lookup of the call, or be copied into an MSTR first.
template <class... Args>
MSTR Format(const MSTR& format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return FormatText(format, {});
    } else {
        const FormatArg list[] = {FormatArg(args)...};
        return FormatText(format, list);
    }
}

}  // namespace Korvo
