// The host's shell-open service: what a document, folder or web address handed to ShellExecuteW
// names, and how the desktop is asked to open it.
#pragma once

#include <string>
#include <string_view>

namespace KorvoHost {

// The local path a "file:" link names, or the target unchanged when it is no file link. Links
// often carry the path as it stands, unescaped ("file://C:/My #1 100%"), and sometimes escaped
// ("file:///tmp/a%20b"): a path that exists as written wins, then the unescaped reading of the
// link, then the text as written.
std::wstring ShellTarget(std::wstring_view target);

// A "file://" address for an absolute local path, every byte outside the unreserved characters
// and "/" escaped, so that "#", "%", "?" and spaces stay part of the path.
std::string FileUri(std::wstring_view path);

// Asks the desktop to open the target (a local path or a web address) with xdg-open, without a
// shell and without waiting for it; false when it could not be started.
bool LaunchDesktopOpener(std::wstring_view target);

}  // namespace KorvoHost
