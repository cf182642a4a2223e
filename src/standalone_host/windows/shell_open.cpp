#include "standalone_host/windows/shell_open.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cwctype>
#include <filesystem>
#include <optional>
#include <system_error>

#include "standalone_host/platform/utf8.h"

extern char** environ;

namespace KorvoHost {
namespace {

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::towlower(text[i]) != std::towlower(prefix[i])) return false;
    return true;
}

bool Exists(std::wstring_view path) {
    std::error_code error;
    return !path.empty() && std::filesystem::exists(ToPath(path), error);
}

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// The bytes of a URI path with "%XX" escapes undone, read as UTF-8; nothing when an escape is
// malformed.
std::optional<std::wstring> Unescape(std::wstring_view text) {
    std::string bytes;
    const std::string utf8 = ToUtf8(text);
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] != '%') {
            bytes += utf8[i];
            continue;
        }
        if (i + 2 >= utf8.size()) return std::nullopt;
        const int high = HexValue(static_cast<unsigned char>(utf8[i + 1]));
        const int low = HexValue(static_cast<unsigned char>(utf8[i + 2]));
        if (high < 0 || low < 0) return std::nullopt;
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return FromUtf8(bytes);
}

// "file://localhost/x" and "file:///x" name "/x"; "file://x" (a path glued to the scheme, as
// links made by pasting a folder are) names "x".
std::wstring PathOfLink(std::wstring_view rest) {
    if (StartsWithNoCase(rest, L"localhost/")) rest.remove_prefix(9);
    return std::wstring(rest);
}

}  // namespace

std::wstring ShellTarget(std::wstring_view target) {
    std::wstring_view rest;
    if (StartsWithNoCase(target, L"file://")) {
        rest = target.substr(7);
    } else if (StartsWithNoCase(target, L"file:")) {
        rest = target.substr(5);
    } else {
        return std::wstring(target);
    }
    const std::wstring literal = PathOfLink(rest);
    if (Exists(literal)) return literal;
    if (const std::optional<std::wstring> unescaped = Unescape(literal);
        unescaped && Exists(*unescaped))
        return *unescaped;
    return literal;
}

std::string FileUri(std::wstring_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char c : ToUtf8(path)) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                           byte == '_' || byte == '~' || byte == '/';
        if (plain) {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[byte >> 4];
            uri += kHex[byte & 0xF];
        }
    }
    return uri;
}

bool LaunchDesktopOpener(std::wstring_view target) {
    const bool web = StartsWithNoCase(target, L"http://") || StartsWithNoCase(target, L"https://");
    std::string argument = web ? ToUtf8(target) : FileUri(target);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The opener's chatter would mix with the command's own output.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = "xdg-open";
    char* argv[] = {program, argument.data(), nullptr};
    pid_t child = 0;
    const int started = posix_spawnp(&child, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return started == 0;
}

}  // namespace KorvoHost
