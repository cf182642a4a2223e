// Runs scripts: parses the text, then evaluates it against the script globals it keeps from one
// script to the next and against the host's system globals and scene.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "standalone_host/script/script_ast.h"
#include "standalone_host/script/script_value.h"

namespace KorvoHost {

// What the host offers scripts beyond their own globals.
class ScriptEnvironment {
  public:
    virtual ~ScriptEnvironment() = default;
    // A system global (renderers, a class name, a core interface …), or nothing.
    virtual std::optional<Value> SystemGlobal(std::wstring_view name) = 0;
    // The scene node named by $path, or nothing when no node has that name.
    virtual std::optional<Value> Node(std::wstring_view path) = 0;
};

struct ScriptResult {
    bool ok = true;
    Value value;        // of the last statement
    ScriptError error;  // when not ok
};

class ScriptRunner {
  public:
    explicit ScriptRunner(ScriptEnvironment& environment) : environment_(environment) {}

    // Runs the script's statements in order; each statement's value goes to onStatement, as a
    // script console shows it.
    ScriptResult Run(std::wstring_view text,
                     const std::function<void(const Value&)>& onStatement = {});

    // Script globals, by name ignoring case.
    std::optional<Value> Global(std::wstring_view name) const;
    void SetGlobal(std::wstring_view name, Value value);
    void ClearGlobals() { globals_.clear(); }

  private:
    struct NameLess {
        bool operator()(const std::wstring& a, const std::wstring& b) const;
    };

    Value Evaluate(const Expr& expr);
    Value EvaluateGlobal(const Expr& expr);
    Value EvaluateProperty(const Expr& expr);
    Value EvaluateCall(const Expr& expr);
    Value EvaluateAssign(const Expr& expr);
    Value EvaluateIf(const Expr& expr);
    Value EvaluateBinary(const Expr& expr);
    Value EvaluateUnary(const Expr& expr);

    ScriptEnvironment& environment_;
    std::map<std::wstring, Value, NameLess> globals_;
};

}  // namespace KorvoHost
