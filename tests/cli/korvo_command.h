// Runs the korvo command as a person would, and collects what it writes and its exit code.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace KorvoTest {

struct CommandResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error together
};

inline std::string Quote(const std::string& s) {
    std::string quoted = "'";
    for (char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline CommandResult Korvo(const std::string& arguments) {
    CommandResult result;
    // Never a terminal on stdin: a missing answer must not wait for a person.
    const std::string command = Quote(KORVO_COMMAND) + " " + arguments + " </dev/null 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace KorvoTest
