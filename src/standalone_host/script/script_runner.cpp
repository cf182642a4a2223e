#include "standalone_host/script/script_runner.h"

#include <cmath>
#include <cwctype>

#include "standalone_host/script/script_parser.h"

namespace KorvoHost {
namespace {

// Carries an error with its place out of the evaluation.
struct EvalFailure {
    ScriptError error;
};

[[noreturn]] void Fail(const std::wstring& message) { throw ScriptRuntimeError(message); }

bool TestOf(const Value& value, const wchar_t* what) {
    if (const bool* b = value.Boolean()) return *b;
    Fail(std::wstring(what) + L" needs true or false, not " + value.Describe());
}

double NumberOf(const Value& value, const std::wstring& op) {
    if (!value.IsNumber()) Fail(L"'" + op + L"' needs numbers, not " + value.Describe());
    return value.Number();
}

Value Arithmetic(const std::wstring& op, const Value& a, const Value& b) {
    if (op == L"+" && a.String() && b.String()) return Value(*a.String() + *b.String());
    const double x = NumberOf(a, op), y = NumberOf(b, op);
    if (op == L"^") return Value(std::pow(x, y));
    if (a.Integer() && b.Integer()) {
        const long long i = *a.Integer(), j = *b.Integer();
        if (op == L"+") return Value(i + j);
        if (op == L"-") return Value(i - j);
        if (op == L"*") return Value(i * j);
        if (j == 0) Fail(L"division by zero");
        return Value(i / j);
    }
    if (op == L"+") return Value(x + y);
    if (op == L"-") return Value(x - y);
    if (op == L"*") return Value(x * y);
    if (y == 0.0) Fail(L"division by zero");
    return Value(x / y);
}

Value Comparison(const std::wstring& op, const Value& a, const Value& b) {
    if (op == L"==") return Value(ScriptEquals(a, b));
    if (op == L"!=") return Value(!ScriptEquals(a, b));
    int order = 0;
    if (a.String() && b.String()) {
        order = a.String()->compare(*b.String());
    } else {
        const double x = NumberOf(a, op), y = NumberOf(b, op);
        order = x < y ? -1 : (x > y ? 1 : 0);
    }
    if (op == L"<") return Value(order < 0);
    if (op == L">") return Value(order > 0);
    if (op == L"<=") return Value(order <= 0);
    return Value(order >= 0);
}

}  // namespace

bool ScriptRunner::NameLess::operator()(const std::wstring& a, const std::wstring& b) const {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const wint_t x = std::towlower(a[i]), y = std::towlower(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

std::optional<Value> ScriptRunner::Global(std::wstring_view name) const {
    const auto it = globals_.find(std::wstring(name));
    if (it == globals_.end()) return std::nullopt;
    return it->second;
}

void ScriptRunner::SetGlobal(std::wstring_view name, Value value) {
    globals_[std::wstring(name)] = std::move(value);
}

ScriptResult ScriptRunner::Run(std::wstring_view text,
                               const std::function<void(const Value&)>& onStatement) {
    ScriptResult result;
    Program program;
    if (!ParseScript(text, program, result.error)) {
        result.ok = false;
        return result;
    }
    try {
        for (const ExprPtr& statement : program.statements) {
            result.value = Evaluate(*statement);
            if (onStatement) onStatement(result.value);
        }
    } catch (const EvalFailure& failure) {
        result.ok = false;
        result.error = failure.error;
        result.value = Value();
    }
    return result;
}

Value ScriptRunner::Evaluate(const Expr& expr) {
    try {
        switch (expr.kind) {
            case ExprKind::Undefined:
                return Value();
            case ExprKind::Boolean:
                return Value(expr.boolean);
            case ExprKind::Integer:
                return Value(expr.integer);
            case ExprKind::Float:
                return Value(expr.number);
            case ExprKind::String:
                return Value(expr.name);
            case ExprKind::NameLiteral:
                return Value(ScriptName{expr.name});
            case ExprKind::Global:
                return EvaluateGlobal(expr);
            case ExprKind::NodeRef:
                return environment_.Node(expr.name).value_or(Value());
            case ExprKind::Property:
                return EvaluateProperty(expr);
            case ExprKind::Index: {
                const Value target = Evaluate(*expr.operands[0]);
                Evaluate(*expr.operands[1]);
                Fail(target.Describe() + L" cannot be indexed");
            }
            case ExprKind::Call:
                return EvaluateCall(expr);
            case ExprKind::Assign:
                return EvaluateAssign(expr);
            case ExprKind::If:
                return EvaluateIf(expr);
            case ExprKind::Binary:
                return EvaluateBinary(expr);
            case ExprKind::Unary:
                return EvaluateUnary(expr);
            case ExprKind::Sequence: {
                Value last;
                for (const ExprPtr& statement : expr.operands) last = Evaluate(*statement);
                return last;
            }
        }
        return Value();
    } catch (const ScriptRuntimeError& error) {
        throw EvalFailure{{expr.pos, error.Message()}};
    }
}

Value ScriptRunner::EvaluateGlobal(const Expr& expr) {
    if (auto value = Global(expr.name)) return *value;
    return environment_.SystemGlobal(expr.name).value_or(Value());
}

Value ScriptRunner::EvaluateProperty(const Expr& expr) {
    const Value target = Evaluate(*expr.operands[0]);
    ScriptObject* object = target.Object();
    if (!object) Fail(L"cannot read property '" + expr.name + L"' of " + target.Describe());
    if (auto value = object->GetProperty(expr.name)) return *value;
    Fail(L"unknown property '" + expr.name + L"' of " + target.Describe());
}

Value ScriptRunner::EvaluateCall(const Expr& expr) {
    const Value callee = Evaluate(*expr.operands[0]);
    std::vector<Value> arguments;
    for (std::size_t i = 1; i < expr.operands.size(); ++i)
        arguments.push_back(Evaluate(*expr.operands[i]));
    std::vector<NamedValue> keywords;
    for (const KeywordArgument& keyword : expr.keywords)
        keywords.push_back({keyword.name, Evaluate(*keyword.value)});
    ScriptObject* object = callee.Object();
    if (!object || !object->IsCallable()) Fail(callee.Describe() + L" cannot be called");
    return object->Call(arguments, keywords);
}

Value ScriptRunner::EvaluateAssign(const Expr& expr) {
    const Expr& target = *expr.operands[0];
    Value value = Evaluate(*expr.operands[1]);
    if (expr.name != L"=") {
        const Value current = Evaluate(target);
        value = Arithmetic(expr.name.substr(0, 1), current, value);
    }
    if (target.kind == ExprKind::Global) {
        if (!Global(target.name) && environment_.SystemGlobal(target.name)) {
            Fail(L"cannot assign to the system global '" + target.name + L"'");
        }
        SetGlobal(target.name, value);
        return value;
    }
    if (target.kind == ExprKind::Index) {
        Fail(Evaluate(*target.operands[0]).Describe() + L" cannot be indexed");
    }
    const Value owner = Evaluate(*target.operands[0]);
    ScriptObject* object = owner.Object();
    if (!object) Fail(L"cannot set property '" + target.name + L"' of " + owner.Describe());
    if (!object->SetProperty(target.name, value)) {
        Fail(L"unknown property '" + target.name + L"' of " + owner.Describe());
    }
    return value;
}

Value ScriptRunner::EvaluateIf(const Expr& expr) {
    if (TestOf(Evaluate(*expr.operands[0]), L"the test of 'if'"))
        return Evaluate(*expr.operands[1]);
    if (expr.operands.size() > 2) return Evaluate(*expr.operands[2]);
    return Value();
}

Value ScriptRunner::EvaluateBinary(const Expr& expr) {
    const std::wstring& op = expr.name;
    if (op == L"and" || op == L"or") {
        const bool left = TestOf(Evaluate(*expr.operands[0]), op == L"and" ? L"'and'" : L"'or'");
        if (op == L"and" ? !left : left) return Value(left);
        return Value(TestOf(Evaluate(*expr.operands[1]), op == L"and" ? L"'and'" : L"'or'"));
    }
    const Value a = Evaluate(*expr.operands[0]);
    const Value b = Evaluate(*expr.operands[1]);
    if (op == L"==" || op == L"!=" || op == L"<" || op == L">" || op == L"<=" || op == L">=") {
        return Comparison(op, a, b);
    }
    return Arithmetic(op, a, b);
}

Value ScriptRunner::EvaluateUnary(const Expr& expr) {
    const Value operand = Evaluate(*expr.operands[0]);
    if (expr.name == L"not") return Value(!TestOf(operand, L"'not'"));
    if (const long long* i = operand.Integer()) return Value(-*i);
    return Value(-NumberOf(operand, L"-"));
}

}  // namespace KorvoHost
