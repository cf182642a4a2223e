// Fuzz target for the script runner: any text, read as UTF-8, must be run or refused with a place
// inside the text, never fault. Scripts run against an environment that offers nothing, so every
// name they use is one of their own globals or undefined.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "standalone_host/platform/utf8.h"
#include "standalone_host/script/script_parser.h"
#include "standalone_host/script/script_runner.h"

namespace {

class NoEnvironment : public KorvoHost::ScriptEnvironment {
  public:
    std::optional<KorvoHost::Value> SystemGlobal(std::wstring_view) override { return {}; }
    std::optional<KorvoHost::Value> Node(std::wstring_view) override { return {}; }
};

// Every line and column lies within the text; the text ends on the last line.
void CheckPlace(const KorvoHost::ScriptError& error, const std::wstring& text) {
    int lines = 1;
    for (wchar_t c : text) lines += c == L'\n';
    if (error.pos.line < 1 || error.pos.line > lines || error.pos.column < 1 ||
        static_cast<size_t>(error.pos.column) > text.size() + 1 || error.message.empty()) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring text =
        KorvoHost::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));

    KorvoHost::Program program;
    KorvoHost::ScriptError error;
    const bool parsed = KorvoHost::ParseScript(text, program, error);
    if (!parsed) CheckPlace(error, text);

    NoEnvironment environment;
    KorvoHost::ScriptRunner runner(environment);
    const KorvoHost::ScriptResult result = runner.Run(text);
    if (!result.ok) CheckPlace(result.error, text);
    // What parses must also run far enough to be judged by the runner, and the other way round.
    if (!parsed && result.ok) __builtin_trap();
    return 0;
}
